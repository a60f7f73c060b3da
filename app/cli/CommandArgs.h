#pragma once
// What every remote command reads from its arguments, and the pieces they share: this
// run's settings, usage and failure messages.

#include "app/cli/CliCommand.h"
#include "app/cli/CliSession.h"
#include "listing/DirectoryCache.h"

#include <cstdint>
#include <string>
#include <vector>

// The switches a command may accept besides the common options.
enum CommandSwitches : unsigned {
    kListingSwitches = 1,   // --long, --offline
    kRecursiveSwitches = 2, // -r, --pattern P, --no-subdirs, --update-only
};

// The arguments of one command: the options (those before the command included), the
// command's own switches and the positional arguments.
struct CommandArgs {
    CliOptions options;
    std::vector<std::string> positional;
    bool longListing = false;
    bool offline = false;
    bool recursive = false;
    std::string pattern = "*";
    bool noSubdirectories = false;
    bool updateOnly = false;
    bool patternGiven = false;
};

// -1 when the arguments were read, else the exit status of a usage error (printed).
int ReadArgs(CliContext& context, const std::vector<std::string>& args, unsigned switches,
             CommandArgs& out);

// This run's settings: the table with every override given on the command line.
bool RunSettings(CliContext& context, const CliOptions& options, CSettings& settings, std::string* error);

// CacheSettingsOf (session/FtpSession.h) gives a table's cache settings.

// The window side of a run's sessions: log lines on stderr as the options ask, every line
// in the transfer log (opened here in the data folder; a failure to open it is said).
CliSessionUi::Output SessionOutput(CliContext& context, const CliOptions& options, CTransferLog& transferLog);

// Prints the problem and the hint to --help; kExitUsage.
int Usage(CliContext& context, const std::string& problem);
// Prints the problem; `status`.
int Fail(CliContext& context, int status, const std::string& problem);

class CFtpSession;
// "  12.3 MB/s" (or KB/s below 1 MB/s) for the session's current rate; empty while unknown.
std::string RateText(CFtpSession& session);

// "1,234,567" for any count.
std::string ByteCount(std::uint64_t count);
