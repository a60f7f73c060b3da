// "sites": list, add and remove the stored sites, through the same Site Manager rules the
// dialog follows.
#include "app/cli/CliCommand.h"

#include "sites/FtpUrl.h"
#include "sites/SiteManagerModel.h"
#include "sites/Startup.h"

namespace {

// Messages go to standard error; any message means the command failed.
class CliPrompts : public SiteManagerPrompts {
public:
    explicit CliPrompts(std::FILE* err) : m_err(err) {}
    void ShowMessage(const std::string& text) override
    {
        std::fprintf(m_err, "tollvane-cli: %s\n", text.c_str());
        m_failed = true;
    }
    Answer AskYesNoCancel(const std::string&) override { return Answer::No; }
    bool Failed() const { return m_failed; }

private:
    std::FILE* m_err;
    bool m_failed = false;
};

int Usage(CliContext& context, const char* problem)
{
    std::fprintf(context.err, "tollvane-cli: %s\nTry 'tollvane-cli --help'.\n", problem);
    return kExitUsage;
}

int ListSites(CliContext& context)
{
    for (const auto& site : context.sites)
        std::fprintf(context.out, "%s\t%s:%d\n", site->name.c_str(), UrlHostPort(site->address, 0).c_str(), site->port);
    return kExitDone;
}

int AddSite(CliContext& context, const std::string& name, const std::string& url, int passive)
{
    CSiteSetting fromUrl;
    std::string error;
    if (!SiteFromUrl(url, context.settings.AnonymousPass, fromUrl, &error)) {
        std::fprintf(context.err, "tollvane-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    FtpUrl parts;
    SplitFtpUrl(WithFtpPrefix(url), parts);
    const bool namedUser = !parts.user.empty();

    CliPrompts prompts(context.err);
    CSiteManagerModel model(context.sites, SiteFilePath(context.dataFolder),
                            context.settings.AnonymousPass, prompts);
    model.BeginNewSite();
    SiteFields& fields = model.Fields();
    fields.name = name;
    fields.address = fromUrl.address;
    fields.port = std::to_string(fromUrl.port);
    fields.defremotedir = fromUrl.defremotedir;
    if (namedUser) {
        fields.username = fromUrl.username;
        fields.password = fromUrl.password;
        model.UserOrPasswordEdited();
    }
    if (passive >= 0)
        fields.passive = passive != 0;

    model.New(); // reads "Add" in new mode
    if (model.InNewMode())
        return kExitFailed; // the reason was shown
    model.Close();
    return prompts.Failed() ? kExitFailed : kExitDone;
}

int RemoveSite(CliContext& context, const std::string& name)
{
    CliPrompts prompts(context.err);
    CSiteManagerModel model(context.sites, SiteFilePath(context.dataFolder),
                            context.settings.AnonymousPass, prompts);
    const int index = model.FindExactNoCase(name);
    if (index < 0) {
        std::fprintf(context.err, "tollvane-cli: no site named \"%s\"\n", name.c_str());
        return kExitFailed;
    }
    if (!model.Select(index))
        return kExitFailed;
    model.Delete();
    model.Close();
    return prompts.Failed() ? kExitFailed : kExitDone;
}

int RunSites(CliContext& context, const std::vector<std::string>& args)
{
    if (args.empty() || (args.size() == 1 && args[0] == "list"))
        return ListSites(context);
    const std::string& verb = args[0];
    if (verb == "add") {
        std::vector<std::string> positional;
        int passive = -1; // the Site Manager's default
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--passive")
                passive = 1;
            else if (args[i] == "--active")
                passive = 0;
            else if (args[i].rfind("--", 0) == 0)
                return Usage(context, ("unknown option for sites add: " + args[i]).c_str());
            else
                positional.push_back(args[i]);
        }
        if (positional.size() != 2)
            return Usage(context, "sites add needs NAME and URL");
        return AddSite(context, positional[0], positional[1], passive);
    }
    if (verb == "rm") {
        if (args.size() != 2)
            return Usage(context, "sites rm needs NAME");
        return RemoveSite(context, args[1]);
    }
    return Usage(context, ("unknown sites command: " + verb).c_str());
}

} // namespace

extern const CliCommand kSitesCommand = {
    "sites",
    "  sites [list]                 list the stored sites: name, tab, address:port\n"
    "  sites add NAME URL [--passive|--active]\n"
    "                               store a site from an ftp URL\n"
    "                               ([ftp://][user[:password]@]host[:port][/dir]);\n"
    "                               without a user the site logs in anonymously;\n"
    "                               passive mode unless --active is given\n"
    "  sites rm NAME                remove the stored site NAME (letter case ignored)\n",
    RunSites,
};
