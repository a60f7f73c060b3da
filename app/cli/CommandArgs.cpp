#include "app/cli/CommandArgs.h"
#include "app/cli/TerminalText.h"

#include "listing/PathRules.h"
#include "session/FtpSession.h"

#include <algorithm>
#include "session/QueueColumns.h"

int Usage(CliContext& context, const std::string& problem)
{
    std::fprintf(context.err, "tollvane-cli: %s\nTry 'tollvane-cli --help'.\n", problem.c_str());
    return kExitUsage;
}

CliSessionUi::Output SessionOutput(CliContext& context, const CliOptions& options, CTransferLog& transferLog)
{
    if (!transferLog.Open(context.dataFolder) && !options.quiet)
        std::fprintf(context.err, "tollvane-cli: cannot open %s%s for appending\n", context.dataFolder.c_str(),
                     kTransferLogName);
    CliSessionUi::Output output;
    output.err = context.err;
    output.verbose = options.verbose;
    output.quiet = options.quiet;
    output.transferLog = &transferLog;
    output.overwriteAction = options.overwrite;
    output.trustedCertificate = options.trustCertificate;
    return output;
}

std::string CacheSiteOf(const CSessionSite& site)
{
    return CacheSiteName(site.address, site.port, site.logintype == LOGIN_ANONYMOUS ? std::string() : site.username);
}

std::string ServerWords(const std::string& replyLine)
{
    return replyLine.empty() ? std::string() : " (the server said: " + EscapeForTerminal(replyLine) + ")";
}

int StoppedStatus(CliContext& context, int status)
{
    if (status == kExitInterrupted && TerminationRequested())
        std::fprintf(context.err, "tollvane-cli: stopped by SIGTERM\n");
    return status;
}

int Fail(CliContext& context, int status, const std::string& problem)
{
    std::fprintf(context.err, "tollvane-cli: %s\n", problem.c_str());
    return status;
}

namespace {

// Reads one of the command's own switches at args[at]; false when it is none of them.
bool ReadSwitch(const std::vector<std::string>& args, size_t& at, unsigned switches, CommandArgs& out,
                std::string* error)
{
    const std::string& arg = args[at];
    if (switches & kListingSwitches) {
        if (arg == "--long")
            return out.longListing = true;
        if (arg == "--offline")
            return out.offline = true;
    }
    if (switches & kRecursiveSwitches) {
        if (arg == "-r" || arg == "--recursive")
            return out.recursive = true;
        if (arg == "--no-subdirs")
            return out.noSubdirectories = true;
        if (arg == "--update-only")
            return out.updateOnly = true;
        if (arg == "--pattern") {
            if (at + 1 >= args.size()) {
                *error = "--pattern needs a value";
                return true;
            }
            out.pattern = args[++at];
            out.patternGiven = true;
            if (out.pattern.empty())
                out.pattern = "*";
            return true;
        }
    }
    return false;
}

} // namespace

int ReadArgs(CliContext& context, const std::vector<std::string>& args, unsigned switches,
             CommandArgs& out)
{
    out.options = context.options;
    bool optionsEnded = false;
    for (size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            out.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string error;
        if (ReadSwitch(args, at, switches, out, &error)) {
            if (!error.empty())
                return Usage(context, error);
            continue;
        }
        switch (ParseCliOption(args, at, out.options, &error)) {
        case OptionParse::Consumed:
            break;
        case OptionParse::Error:
            return Usage(context, error);
        case OptionParse::NotOption:
            return Usage(context, "unknown option " + arg);
        }
    }
    return -1;
}

bool RunSettings(CliContext& context, const CliOptions& options, CSettings& settings, std::string* error)
{
    settings = context.settings;
    if (!ApplySettingOverrides(settings, options.overrides, context.dataFolder, error))
        return false;
    ApplyRunOptions(options, settings);
    return true;
}

std::string ByteCount(std::uint64_t count)
{
    return DigitsWithCommas(count);
}

std::string TransferProgressText(const std::string& name, std::uint64_t done, std::int64_t total,
                                 CFtpSession& session)
{
    std::string text = FileNamePart(name) + "  ";
    if (total > 0)
        text += std::to_string(std::min<std::uint64_t>(done, std::uint64_t(total)) * 100 / std::uint64_t(total)) + "%  ";
    text += ByteCount(done) + (total >= 0 ? " of " + ByteCount(std::uint64_t(total)) : std::string()) + " bytes";
    const float rate = session.SampleTransferRate(); // KB/s, sampled once per call
    if (rate < 0)
        return text;
    char piece[48];
    if (rate >= 1024)
        std::snprintf(piece, sizeof piece, "  %.1f MB/s", rate / 1024);
    else
        std::snprintf(piece, sizeof piece, "  %.1f KB/s", rate);
    text += piece;
    if (total >= 0 && rate > 0 && done < std::uint64_t(total)) {
        const auto left = static_cast<long long>(double(std::uint64_t(total) - done) / (double(rate) * 1024.0) + 0.5);
        std::snprintf(piece, sizeof piece, "  %lld:%02lld:%02lld left", left / 3600, left / 60 % 60, left % 60);
        text += piece;
    }
    return text;
}
