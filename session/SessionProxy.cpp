// The proxy settings as the session's control and data connections use them.
#include "session/FtpSession.h"

ProxyOptions CFtpSession::Proxy() const {
    ProxyOptions proxy;
    proxy.type = settings_.ProxyType;
    proxy.host = settings_.ProxyHost;
    proxy.port = settings_.ProxyPort > 0 ? static_cast<unsigned>(settings_.ProxyPort) : 0;
    // Credentials only when authentication is on: stored ones may wait for later use.
    if (settings_.ProxyUseAuth) {
        proxy.user = settings_.ProxyUser;
        proxy.password = settings_.ProxyPassword;
    }
    return proxy;
}
