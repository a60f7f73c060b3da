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

struct CSessionSite;
// The directory-cache folder of a connection (its server and account).
std::string CacheSiteOf(const CSessionSite& site);

// The window side of a run's sessions: log lines on stderr as the options ask, every line
// in the transfer log (opened here in the data folder; a failure to open it is said).
CliSessionUi::Output SessionOutput(CliContext& context, const CliOptions& options, CTransferLog& transferLog);

// Prints the problem and the hint to --help; kExitUsage.
int Usage(CliContext& context, const std::string& problem);
// " (the server said: 550 No such file)" for the server's last reply line, shown safely;
// empty when there was none.
std::string ServerWords(const std::string& replyLine);
// The status as it stands; a stop by SIGTERM is said as such, since nobody pressed Ctrl-C.
int StoppedStatus(CliContext& context, int status);
// Prints the problem; `status`.
int Fail(CliContext& context, int status, const std::string& problem);

class CFtpSession;
// The progress line of one transfer: "name  45%  1,234 of 5,678 bytes  1.2 MB/s  0:00:12
// left"; `total` -1 when unknown (no percentage, no time left). The rate is sampled from the
// session, so call it about twice a second.
std::string TransferProgressText(const std::string& name, std::uint64_t done, std::int64_t total,
                                 CFtpSession& session);

// "1,234,567" for any count.
std::string ByteCount(std::uint64_t count);
