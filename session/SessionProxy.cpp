// The proxy settings as the session's control and data connections use them.
#include "session/FtpSession.h"

ProxyOptions CFtpSession::Proxy() const {
    ProxyOptions proxy;
    proxy.type = Settings().ProxyType;
    proxy.host = Settings().ProxyHost;
    proxy.port = Settings().ProxyPort > 0 ? static_cast<unsigned>(Settings().ProxyPort) : 0;
    // Credentials only when authentication is on: stored ones may wait for later use.
    if (Settings().ProxyUseAuth) {
        proxy.user = Settings().ProxyUser;
        proxy.password = Settings().ProxyPassword;
    }
    return proxy;
}
