#include "ftp/ProxyConnection.h"

#include <arpa/inet.h>

#include "ftp/FtpTypes.h"

std::string ProxyOptions::Description() const
{
    static const char* const kNames[] = {"no", "SOCKS4", "SOCKS4A", "SOCKS5", "HTTP"};
    const char* name = (type >= 0 && type <= PROXYTYPE_HTTP11) ? kNames[type] : "unknown";
    return std::string(name) + " proxy " + host + ":" + std::to_string(port);
}

bool InsertProxyLayer(CMySocket& socket, const ProxyOptions& proxy, std::string* error, bool withTls)
{
    socket.RemoveAllLayers();
    if (withTls)
        socket.AddLayer(&socket.SslLayer());
    if (!proxy.Enabled())
        return true;
    CProxySocketLayer& layer = socket.ProxyLayer();
    const bool accepted = proxy.user.empty()
                              ? layer.SetProxy(proxy.type, proxy.host, proxy.port)
                              : layer.SetProxy(proxy.type, proxy.host, proxy.port, proxy.user,
                                               proxy.password);
    if (!accepted) {
        if (error)
            *error = "Invalid proxy settings: " + proxy.Description();
        return false;
    }
    return socket.AddLayer(&layer);
}

bool ProxyReportLine(CMySocket& socket, CSocketLayer* layer, int type, intptr_t code,
                     intptr_t parameter, std::string& text, int& kind)
{
    if (layer != &socket.ProxyLayer() || type != CSocketLayer::LAYERCALLBACK_LAYERSPECIFIC)
        return false;
    kind = LOG_ERROR;
    switch (code) {
    case PROXYERROR_NOCONN:
        text = "Can't connect to the proxy server.";
        break;
    case PROXYERROR_REQUESTFAILED:
        text = "The proxy server refused the connection.";
        if (parameter != 0)
            text += std::string(" ") + reinterpret_cast<const char*>(parameter);
        break;
    case PROXYERROR_AUTHTYPEUNKNOWN:
        text = "The proxy server offers no authentication method we support.";
        break;
    case PROXYERROR_AUTHFAILED:
        text = "The proxy server rejected the user name or password.";
        break;
    case PROXYERROR_AUTHNOLOGON:
        text = "The proxy server requires a user name and password.";
        break;
    case PROXYERROR_CANTRESOLVEHOST:
        text = "The server's host name does not resolve here, and a SOCKS4 proxy needs an "
               "address; use SOCKS4A or SOCKS5.";
        break;
    case PROXYSTATUS_LISTENSOCKETCREATED: {
        kind = LOG_STATE;
        const auto* address = reinterpret_cast<const sockaddr_in*>(parameter);
        char dotted[INET_ADDRSTRLEN] = {};
        if (address)
            inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted);
        text = std::string("The proxy server listens for the data connection at ") + dotted +
               ":" + std::to_string(address ? ntohs(address->sin_port) : 0) + ".";
        break;
    }
    default:
        text = "Proxy error " + std::to_string(code) + ".";
        break;
    }
    return true;
}
