#include "app/cli/CliTarget.h"

#include <cctype>

#include "listing/PathRules.h"
#include "sites/FtpUrl.h"
#include "sites/TextUtil.h"

namespace {

bool StartsWithScheme(const std::string& text)
{
    return text.rfind("ftp://", 0) == 0 || text.rfind("ftps://", 0) == 0 || text.rfind("ftpes://", 0) == 0;
}

// The scheme of a URL ("http" of "http://h/"), empty when the text names none.
std::string SchemeOf(const std::string& text)
{
    const size_t end = text.find("://");
    if (end == std::string::npos || end == 0)
        return {};
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return {};
    }
    return text.substr(0, end);
}

// Whether the URL's authority names a port ("host:21").
bool ExplicitPortIn(const std::string& url)
{
    const size_t start = url.find("://");
    const size_t from = start == std::string::npos ? 0 : start + 3;
    const size_t slash = url.find('/', from);
    std::string authority = url.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    const size_t bracket = authority.rfind(']');
    const size_t colon = authority.rfind(':');
    return colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
}

const CSiteSetting* FindSite(const SiteList& sites, const std::string& name)
{
    for (const auto& site : sites) {
        if (sites::EqualsNoCase(site->name, name))
            return site.get();
    }
    return nullptr;
}

} // namespace

std::string MaskUrlPassword(const std::string& url)
{
    const size_t schemeEnd = url.find("://");
    const size_t start = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    const size_t slash = url.find('/', start);
    const size_t at = url.rfind('@', slash == std::string::npos ? std::string::npos : slash);
    if (at == std::string::npos || at < start)
        return url;
    const size_t colon = url.find(':', start);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "****" + url.substr(at);
}

bool ResolveCliTarget(const std::string& argument, const CliOptions& options, const SiteList& sites,
                      const char* environmentPassword, CliTarget& target, std::string* error)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    target = CliTarget{};
    // Another scheme is not an FTP host named "http": say so instead of trying to connect.
    const std::string scheme = SchemeOf(argument);
    const bool ftpScheme = sites::EqualsNoCase(scheme, "ftp") || sites::EqualsNoCase(scheme, "ftps") ||
                           sites::EqualsNoCase(scheme, "ftpes");
    if (!scheme.empty() && !ftpScheme)
        return fail("only ftp://, ftps:// and ftpes:// URLs can be used, not " + scheme + "://");
    std::string lowerScheme;
    for (char c : scheme)
        lowerScheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string argumentText = scheme.empty() ? argument : lowerScheme + argument.substr(scheme.size());
    CSessionSite& site = target.site;
    std::string urlPassword;
    std::string user;

    if (!options.site.empty()) {
        const CSiteSetting* stored = FindSite(sites, options.site);
        if (!stored)
            return fail("no site named \"" + options.site + "\"");
        site.address = stored->address;
        site.port = stored->port;
        site.username = stored->username;
        site.password = stored->password;
        site.logintype = stored->logintype;
        site.hosttype = stored->hosttype;
        site.passive = stored->passive;
        site.defremotedir = stored->defremotedir;
        site.encryption = stored->encryption;
        user = stored->logintype == CSiteSetting::LOGIN_ANONYMOUS ? std::string() : stored->username;
        std::string path = argumentText;
        if (StartsWithScheme(argumentText)) {
            FtpUrl url;
            if (!SplitFtpUrl(argumentText, url))
                return fail("Invalid URL:" + MaskUrlPassword(argumentText));
            path = url.path;
        }
        // A relative path (or none) starts in the site's default remote folder.
        if (path.empty())
            path = stored->defremotedir;
        else if (path[0] != '/' && !stored->defremotedir.empty())
            path = JoinPath(stored->defremotedir, path);
        target.path = path;
    } else {
        const std::string prefixed = WithFtpPrefix(argumentText);
        FtpUrl url;
        if (argumentText.empty() || !SplitFtpUrl(prefixed, url))
            return fail("Invalid URL:" + MaskUrlPassword(prefixed));
        site.address = url.host;
        site.port = url.port;
        site.passive = 1;
        site.encryption = url.encryption;
        user = url.user;
        urlPassword = url.password;
        target.path = url.path;
    }

    if (options.user)
        user = *options.user;
    if (options.port > 0)
        site.port = options.port;
    if (options.passive >= 0)
        site.passive = options.passive;
    if (options.tls >= 0) {
        // Implicit TLS on a URL without a port goes to the implicit port, not to 21.
        if (options.tls == CSiteSetting::ENCRYPTION_IMPLICIT && options.port <= 0 && options.site.empty() &&
            site.port == 21 && !ExplicitPortIn(argumentText))
            site.port = CSiteSetting::kImplicitTlsPort;
        site.encryption = options.tls;
    }

    if (user.empty()) {
        // No user named: an anonymous login, whose password is the "AnonymousPass" setting.
        site.username = "anonymous";
        site.logintype = LOGIN_ANONYMOUS;
        site.password.clear();
        return true;
    }
    site.username = user;
    site.logintype = LOGIN_NORMAL;
    if (options.password)
        site.password = *options.password;
    else if (!urlPassword.empty())
        site.password = urlPassword;
    else if (environmentPassword)
        site.password = environmentPassword;
    // else: the stored site's password, or none for a URL
    return true;
}
