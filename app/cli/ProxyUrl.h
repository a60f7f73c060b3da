#pragma once
// "--proxy URL": the proxy of this run, as socks4://host:port, socks4a://host:port,
// socks5://[user:password@]host:port or http://[user:password@]host:port. %XX escapes are
// decoded in the user name and the password.

#include "sites/Settings.h"

#include <string>

struct ProxyUrl {
    int type = 0;  // the "ProxyType" setting's numbers
    std::string host;
    int port = 0;
    std::string user;  // empty: no authentication
    std::string password;
};

// False, with a message naming the fault in *error, for an unknown scheme, a missing or
// malformed host or port, credentials on a SOCKS4 proxy, or a bad escape.
bool ParseProxyUrl(const std::string& text, ProxyUrl& out, std::string* error);

// Puts the proxy into the settings of this run.
void ApplyProxyUrl(const ProxyUrl& proxy, CSettings& settings);
