// tollvane-cli: the headless front end of the engine. Reads the settings and the site list
// at start as the program does, runs one command, and writes the settings back at exit;
// "--set" changes a setting for this run only.
#include "app/cli/CliCommand.h"
#include "app/cli/SettingsOverrides.h"
#include "app/lib/QtSettingsStore.h"

#include "sites/DataFolder.h"
#include "sites/HistoryFile.h"
#include "sites/Startup.h"

#include <cstring>
#include <filesystem>

namespace {

void PrintHelp(std::FILE* out)
{
    std::fprintf(out,
                 "usage: tollvane-cli [OPTIONS] COMMAND [ARGS]\n"
                 "       tollvane-cli --help\n"
                 "\n"
                 "Commands:\n");
    for (const CliCommand& command : CliCommands())
        std::fputs(command.help, out);
    std::fprintf(out,
                 "\n"
                 "URLs are ftp://[user[:password]@]host[:port]/path (\"ftp://\" may be left out).\n"
                 "Without a user the login is anonymous. A password in a URL is accepted, but\n"
                 "other users of this machine can see command lines: prefer --site NAME (a site\n"
                 "stored with \"sites add\") or the environment variable TOLLVANE_PASSWORD.\n"
                 "\n"
                 "Options (before or after the command; they apply to this run only and are\n"
                 "never saved):\n"
                 "  --site NAME                  connect as the stored site NAME (address, port,\n"
                 "                               login, passive mode, default remote folder); the\n"
                 "                               URL or path given then names only the remote path,\n"
                 "                               relative to the site's remote folder unless it\n"
                 "                               starts with /\n"
                 "  --user NAME                  log in as NAME\n"
                 "  --password TEXT              log in with TEXT; else the URL's password, else\n"
                 "                               $TOLLVANE_PASSWORD, else the stored site's\n"
                 "  --port N                     connect to port N\n"
                 "  --passive, --active          data connections in passive (default) or active mode\n"
                 "  --ascii, --binary, --auto    transfer type; --auto (default) chooses ASCII for\n"
                 "                               the extensions of the TextFileExtension setting\n"
                 "  --overwrite skip|resume|overwrite|auto\n"
                 "                               what to do when the target file exists (default:\n"
                 "                               the DefaultOverwriteAction setting)\n"
                 "  --timeout S                  seconds a reply or a stalled transfer may take\n"
                 "  --retry-delay S              seconds between retries (0: retry at once)\n"
                 "  --file-retry N               retries of a failed file transfer, deletion or\n"
                 "                               folder listing, and passes over a queue's failed\n"
                 "                               files (0: none)\n"
                 "  --error-retry N              retries of a failed connection or login, of a\n"
                 "                               connection lost before any file was done, and\n"
                 "                               passes over a queue's failed files (0: none; a\n"
                 "                               login the server refuses is never retried)\n"
                 "  --always-retry               retry connecting until stopped\n"
                 "  -v, --verbose                print every log line with its kind on stderr\n"
                 "  -q, --quiet                  print no log lines, messages or progress\n"
                 "  --set NAME=VALUE             use VALUE for the setting NAME (for example\n"
                 "                               Timeout=30) in this run only\n"
                 "  --proxy URL                  connect through a proxy: socks4://HOST:PORT,\n"
                 "                               socks4a://HOST:PORT, socks5://[USER:PASS@]HOST:PORT\n"
                 "                               or http://[USER:PASS@]HOST:PORT (HTTP CONNECT;\n"
                 "                               passive mode only); %%XX escapes in USER and PASS\n"
                 "  --tls off|try|require|implicit\n"
                 "                               encryption: none, TLS when the server offers it\n"
                 "                               (else plain), TLS required (AUTH TLS), or TLS from\n"
                 "                               the first byte (port 990); ftpes:// URLs require\n"
                 "                               TLS, ftps:// URLs are implicit\n"
                 "  --trust-certificate SHA256:FINGERPRINT\n"
                 "                               trust the server certificate with this SHA-256\n"
                 "                               fingerprint for the host and port, and remember it\n"
                 "                               (certificates.txt in the data folder)\n"
                 "  -h, --help                   show this help\n"
                 "\n"
                 "On a terminal a transfer shows its progress on stderr. Ctrl-C stops the running\n"
                 "operation cleanly (a second Ctrl-C ends at once). Every log line is appended to\n"
                 "transfer.log in the data folder (readable by you alone; it keeps the last few\n"
                 "megabytes). Control characters in names from a server are shown escaped (\\x1b)\n"
                 "on a terminal and always by ls --long and search.\n"
                 "\n"
                 "Sites, the directory cache and transfer.log are kept in $XDG_DATA_HOME/Tollvane/\n"
                 "(default ~/.local/share/Tollvane/); settings under $XDG_CONFIG_HOME/Vintrelle/.\n"
                 "\n"
                 "Exit status: 0 done, 1 failed, 2 usage error, 3 could not connect or log in,\n"
                 "4 interrupted (Ctrl-C or SIGTERM), 6 refused by the server (550) or not cached.\n");
}

int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "tollvane-cli: %s\nTry 'tollvane-cli --help'.\n", problem.c_str());
    return kExitUsage;
}

std::string CurrentDirectory()
{
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string() : cwd.string();
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> all(argv + 1, argv + argc);
    CliOptions options;
    size_t at = 0;
    for (; at < all.size() && !all[at].empty() && all[at][0] == '-'; ++at) {
        if (all[at] == "--help" || all[at] == "-h") {
            PrintHelp(stdout);
            return kExitDone;
        }
        std::string error;
        const OptionParse parsed = ParseCliOption(all, at, options, &error);
        if (parsed == OptionParse::Error)
            return UsageError(error);
        if (parsed == OptionParse::NotOption)
            return UsageError("unknown option " + all[at]);
    }
    if (at >= all.size())
        return UsageError("no command given");
    const CliCommand* command = FindCliCommand(all[at]);
    if (!command)
        return UsageError("unknown command " + all[at]);
    const std::vector<std::string> args(all.begin() + static_cast<long>(at) + 1, all.end());

    CliContext context;
    context.options = options;
    context.dataFolder = GetDataFolder();
    QtSettingsStore store;
    CSettings stored;
    const StartupFolders folders{context.dataFolder, GetShippedFileFolders(), CurrentDirectory()};
    const StartupOutcome started = RunWindowlessStartup(store, folders, stored, context.sites);
    if (!started.ok) {
        std::fprintf(stderr, "tollvane-cli: %s\n%s\n", started.fatalMessage.c_str(), kFatalErrorText);
        return kExitFailed;
    }

    context.settings = stored;
    std::string problem;
    if (!ApplySettingOverrides(context.settings, options.overrides, context.dataFolder, &problem))
        return UsageError(problem);

    int status = command->run(context, args);

    // The stored values go back, never this run's overrides.
    const bool saved = RunWindowlessShutdown(store, stored, context.sites, [](const std::string& m) {
        std::fprintf(stderr, "tollvane-cli: %s", m.c_str());
    });
    if (!saved && status == kExitDone)
        status = kExitFailed;
    return status;
}
