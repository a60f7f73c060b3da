#include "sites/FtpUrl.h"

#include "platform/HexDigit.h"

#include <cctype>
#include <string_view>

namespace {

const char kPrefix[] = "ftp://";

struct Scheme {
    std::string_view prefix;
    int encryption;
};
constexpr Scheme kSchemes[] = {
    {"ftp://", CSiteSetting::ENCRYPTION_PLAIN},
    {"ftps://", CSiteSetting::ENCRYPTION_IMPLICIT},
    {"ftpes://", CSiteSetting::ENCRYPTION_REQUIRE},
};

const Scheme* SchemeOf(const std::string& url)
{
    for (const Scheme& scheme : kSchemes) {
        if (url.compare(0, scheme.prefix.size(), scheme.prefix) == 0)
            return &scheme;
    }
    return nullptr;
}

// Decodes %XX; a "%" not followed by two hex digits stays as it is. Refuses a decoded line
// break or zero byte: they would end or split an FTP command.
bool PercentDecode(const std::string& in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%' && i + 2 < in.size()) {
            const int hi = HexDigitValue(in[i + 1]);
            const int lo = HexDigitValue(in[i + 2]);
            if (hi >= 0 && lo >= 0) {
                c = static_cast<char>(hi * 16 + lo);
                i += 2;
            }
        }
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
        out += c;
    }
    return true;
}

bool IsHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80; // internationalised names pass through
}

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty())
        return true; // "host:" keeps the default port
    if (text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

std::string UrlHostPort(const std::string& host, int port)
{
    std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != 21 && port > 0)
        text += ":" + std::to_string(port);
    return text;
}

std::string WithFtpPrefix(const std::string& text)
{
    if (SchemeOf(text) != nullptr)
        return text;
    return kPrefix + text;
}

std::string InvalidUrlMessage(const std::string& prefixedText)
{
    return "Invalid URL:" + prefixedText;
}

bool SplitFtpUrl(const std::string& url, FtpUrl& out)
{
    out = FtpUrl{};
    const Scheme* scheme = SchemeOf(url);
    if (scheme == nullptr)
        return false;
    out.encryption = scheme->encryption;
    if (out.encryption == CSiteSetting::ENCRYPTION_IMPLICIT)
        out.port = CSiteSetting::kImplicitTlsPort;
    const std::string rest = url.substr(scheme->prefix.size());
    for (char c : rest)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false; // control characters belong nowhere in a URL

    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    const std::string rawPath = slash == std::string::npos ? std::string() : rest.substr(slash);

    std::string hostPort = authority;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const size_t colon = userInfo.find(':');
        if (!PercentDecode(userInfo.substr(0, colon), out.user))
            return false;
        if (colon != std::string::npos && !PercentDecode(userInfo.substr(colon + 1), out.password))
            return false;
    }

    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        // An IPv6 literal: [address] or [address]:port.
        const size_t close = hostPort.find(']');
        if (close == std::string::npos || close == 1)
            return false;
        out.host = hostPort.substr(1, close - 1);
        const std::string after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return false;
            portText = after.substr(1);
        }
        for (char c : out.host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return false;
    } else {
        const size_t colon = hostPort.rfind(':');
        out.host = hostPort.substr(0, colon);
        if (colon != std::string::npos)
            portText = hostPort.substr(colon + 1);
        for (char c : out.host)
            if (!IsHostChar(c))
                return false;
    }
    if (out.host.empty() || !ParsePort(portText, out.port))
        return false;
    return PercentDecode(rawPath, out.path);
}

CSiteSetting OpenSiteFromFields(const std::string& address, const std::string& path,
                                const std::string& user, const std::string& password, int port,
                                bool passive)
{
    CSiteSetting site;
    site.name.clear();
    site.address = address;
    site.port = port;
    site.username = user;
    site.password = password;
    site.logintype = CSiteSetting::LOGIN_NORMAL;
    site.hosttype = 0;
    site.deflocaldir.clear();
    site.defremotedir = path;
    site.passive = passive ? 1 : 0;
    return site;
}

bool SiteFromUrl(const std::string& text, const std::string& anonymousPass, CSiteSetting& site,
                 std::string* error)
{
    const std::string url = WithFtpPrefix(text);
    FtpUrl parts;
    if (!SplitFtpUrl(url, parts)) {
        if (error)
            *error = InvalidUrlMessage(url);
        return false;
    }
    std::string path = parts.path;
    if (!path.empty() && path[0] == '/')
        path.erase(0, 1);
    std::string user = parts.user;
    std::string password = parts.password;
    if (user.empty()) {
        user = "anonymous";
        password = anonymousPass;
    }
    site = OpenSiteFromFields(parts.host, path, user, password, parts.port, true);
    site.encryption = parts.encryption;
    return true;
}
