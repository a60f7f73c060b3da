// "search": the offline search over the directory cache, one URL per line.
#include "app/cli/CliCommand.h"
#include "app/cli/TerminalText.h"

#include "listing/DirectoryCache.h"

#include "listing/OfflineSearch.h"
#include "sites/TextUtil.h"

#include <atomic>

namespace {

int Usage(CliContext& context, const std::string& problem)
{
    std::fprintf(context.err, "tollvane-cli: %s\nTry 'tollvane-cli --help'.\n", problem.c_str());
    return kExitUsage;
}

// A --site given before the command names a stored site: its server and account give the
// cache folder.
std::string CacheFolderOfSite(const CliContext& context, const std::string& name)
{
    for (const auto& site : context.sites)
        if (sites::EqualsNoCase(site->name, name))
            return CacheSiteName(site->address, site->port,
                                 site->logintype == CSiteSetting::LOGIN_ANONYMOUS ? std::string() : site->username);
    return name;
}

int RunSearch(CliContext& context, const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    std::vector<std::string> sites;
    bool regularExpression = false;
    bool optionsEnded = false;
    for (size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--regex") {
            regularExpression = true;
        } else if (arg == "--site" || arg.rfind("--site=", 0) == 0) {
            std::string address;
            if (arg == "--site") {
                if (at + 1 >= args.size())
                    return Usage(context, "--site needs a site address");
                address = args[++at];
            } else {
                address = arg.substr(7);
            }
            if (address.empty())
                return Usage(context, "--site needs a site address");
            sites.push_back(address);
        } else {
            return Usage(context, "unknown option for search: " + arg);
        }
    }
    if (positional.size() != 1)
        return Usage(context, "search needs one PATTERN");
    if (!context.options.site.empty())
        sites.push_back(CacheFolderOfSite(context, context.options.site));

    CPatternSearch pattern;
    const PATTERN_ERROR error = CompileSearchPattern(pattern, positional[0], regularExpression);
    if (error.Failed()) {
        std::string message = error.message;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        std::fprintf(context.err, "tollvane-cli: %s at position %zu of the pattern\n", message.c_str(),
                     error.position);
        return kExitUsage;
    }

    const std::string& cacheHome = context.settings.CacheHomeDirectory;
    if (sites.empty())
        sites = CachedSites(cacheHome);
    COfflineSearchWalk walk(cacheHome, pattern);
    const std::atomic<bool> stop{false};
    COfflineSearchWalk::Callbacks callbacks;
    // Names come from servers: shown escaped, wherever the output goes.
    callbacks.onResult = [&context](const std::string& url) {
        std::fprintf(context.out, "%s\n", EscapeForTerminal(url).c_str());
    };
    walk.SearchSites(sites, callbacks, stop);
    return kExitDone;
}

} // namespace

extern const CliCommand kSearchCommand = {
    "search",
    "  search PATTERN [--regex] [--site ADDRESS]...\n"
    "                               search the directory cache of every cached site (or of\n"
    "                               the sites given) for names matching PATTERN as a whole;\n"
    "                               * and ? are wildcards, --regex takes PATTERN as a regular\n"
    "                               expression; prints one ftp:// URL per line. A pattern\n"
    "                               that does not compile exits 2\n",
    RunSearch,
};
