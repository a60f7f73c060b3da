#include "app/cli/ProxyUrl.h"

#include "platform/HexDigit.h"

#include <cctype>

namespace {

struct Scheme {
    const char* prefix;
    int type;
    bool takesCredentials;
};

const Scheme kSchemes[] = {
    {"socks4://", 1, false},
    {"socks4a://", 2, false},
    {"socks5://", 3, true},
    {"http://", 4, true},
};

// %XX decoding; false for a broken escape or one that decodes to a control character,
// which no proxy login holds and which would corrupt the request line of HTTP.
bool DecodeEscapes(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
        out += c;
    }
    return true;
}

bool ValidHostName(const std::string& host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            return false;
    }
    return true;
}

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

// The URL as an error message may show it: a password is replaced by "****", since
// messages end up on screens and in logs.
std::string MaskedProxyUrl(const std::string& text)
{
    const size_t scheme = text.find("://");
    const size_t at = text.rfind('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme)
        return text;
    const size_t colon = text.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at)
        return text;
    return text.substr(0, colon + 1) + "****" + text.substr(at);
}

}  // namespace

bool ParseProxyUrl(const std::string& text, ProxyUrl& out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "Invalid proxy \"" + MaskedProxyUrl(text) + "\": " + why;
        return false;
    };
    const Scheme* scheme = nullptr;
    for (const Scheme& candidate : kSchemes) {
        const std::string prefix = candidate.prefix;
        if (text.size() >= prefix.size()) {
            std::string head = text.substr(0, prefix.size());
            for (char& c : head)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (head == prefix) {
                scheme = &candidate;
                break;
            }
        }
    }
    if (scheme == nullptr)
        return fail("use socks4://, socks4a://, socks5:// or http://");

    std::string rest = text.substr(std::string(scheme->prefix).size());
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos)
        return fail("a proxy URL has no path");

    ProxyUrl parsed;
    parsed.type = scheme->type;
    // The last "@" ends the credentials: a password may hold one unescaped.
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        if (!scheme->takesCredentials)
            return fail("SOCKS4 proxies take no user name or password");
        const std::string credentials = rest.substr(0, at);
        const size_t colon = credentials.find(':');
        if (!DecodeEscapes(credentials.substr(0, colon), parsed.user) ||
            (colon != std::string::npos &&
             !DecodeEscapes(credentials.substr(colon + 1), parsed.password)))
            return fail("bad %-escape or control character in the user name or password");
        if (parsed.user.empty())
            return fail("the user name is empty");
        if (parsed.user.size() > 255 || parsed.password.size() > 255)
            return fail("user name and password may have at most 255 characters each");
        rest = rest.substr(at + 1);
    }

    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos)
        return fail("the port is missing (host:port)");
    parsed.host = rest.substr(0, colon);
    if (!ValidHostName(parsed.host))
        return fail("the host is missing or malformed");
    if (!ParsePort(rest.substr(colon + 1), parsed.port))
        return fail("the port must be a number from 1 to 65535");
    out = parsed;
    return true;
}

void ApplyProxyUrl(const ProxyUrl& proxy, CSettings& settings)
{
    settings.ProxyType = proxy.type;
    settings.ProxyHost = proxy.host;
    settings.ProxyPort = proxy.port;
    settings.ProxyUseAuth = proxy.user.empty() ? 0 : 1;
    settings.ProxyUser = proxy.user;
    settings.ProxyPassword = proxy.password;
}
