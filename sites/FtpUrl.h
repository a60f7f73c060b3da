#pragma once
// ftp:// URLs: our own splitter of the RFC 1738 parts, and the transient site record a URL
// or the quick-connect fields open.

#include "sites/SiteSetting.h"

#include <cstdint>
#include <string>

struct FtpUrl {
    std::string user;       // empty when the URL names none
    std::string password;
    std::string host;
    uint16_t port = 21;
    std::string path;       // with its leading "/", as it stood in the URL
    // ftps:// is implicit TLS (port 990 unless given), ftpes:// explicit TLS required.
    int encryption = CSiteSetting::ENCRYPTION_PLAIN;
};

// Splits ftp://[user[:password]@]host[:port][/path] (or ftps://, ftpes://). %XX escapes are decoded in the user,
// the password and the path. Fails on an empty or malformed host, a port that is not a
// number from 1 to 65535, and escapes that decode to a line break or a zero byte.
bool SplitFtpUrl(const std::string& url, FtpUrl& out);

// The host as a URL writes it: an IPv6 address in brackets ("[::1]"), with ":port" after
// it unless the port is 21 (or 0: none given).
std::string UrlHostPort(const std::string& host, int port);

// The text with "ftp://" in front unless it begins with exactly that, "ftps://" or
// "ftpes://" (case-sensitive).
std::string WithFtpPrefix(const std::string& text);

// "Invalid URL:" followed by the text as parsed.
std::string InvalidUrlMessage(const std::string& prefixedText);

// The record `OpenSiteFromFields` opens: not in the site list, Normal login, the path
// taken as it is given.
CSiteSetting OpenSiteFromFields(const std::string& address, const std::string& path,
                                const std::string& user, const std::string& password, int port,
                                bool passive);

// Parses `text` as OpenURL does: prefix, split, the path without its leading "/", and an
// anonymous login with `anonymousPass` when the URL names no user. On failure returns
// false and puts the "Invalid URL:" message into *error.
bool SiteFromUrl(const std::string& text, const std::string& anonymousPass, CSiteSetting& site,
                 std::string* error = nullptr);
