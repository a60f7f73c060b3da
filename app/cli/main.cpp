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
                 "usage: tollvane-cli [--set NAME=VALUE]... COMMAND [ARGS]\n"
                 "       tollvane-cli --help\n"
                 "\n"
                 "Commands:\n");
    for (const CliCommand& command : CliCommands())
        std::fputs(command.help, out);
    std::fprintf(out,
                 "\n"
                 "Options:\n"
                 "  --set NAME=VALUE             use VALUE for the setting NAME (for example\n"
                 "                               Timeout=30) in this run only; it is not saved\n"
                 "  -h, --help                   show this help\n"
                 "\n"
                 "Sites are kept in site.dat in $XDG_DATA_HOME/Tollvane/ (default\n"
                 "~/.local/share/Tollvane/); settings under $XDG_CONFIG_HOME/Vintrelle/.\n"
                 "\n"
                 "Exit status: 0 done, 1 failed, 2 usage error.\n");
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
    std::vector<SettingOverride> overrides;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--help" || option == "-h") {
            PrintHelp(stdout);
            return kExitDone;
        }
        if (option == "--set" || option.rfind("--set=", 0) == 0) {
            std::string text;
            if (option == "--set") {
                if (++at >= argc)
                    return UsageError("--set needs NAME=VALUE");
                text = argv[at];
            } else {
                text = option.substr(6);
            }
            SettingOverride parsed;
            if (!ParseSettingOverride(text, parsed))
                return UsageError("--set needs NAME=VALUE, not \"" + text + "\"");
            overrides.push_back(parsed);
            continue;
        }
        return UsageError("unknown option " + option);
    }
    if (at >= argc)
        return UsageError("no command given");
    const CliCommand* command = FindCliCommand(argv[at]);
    if (!command)
        return UsageError(std::string("unknown command ") + argv[at]);
    const std::vector<std::string> args(argv + at + 1, argv + argc);

    CliContext context;
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
    if (!ApplySettingOverrides(context.settings, overrides, context.dataFolder, &problem))
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
