// The commands that work on a server: ls, get, put, mkdir, rmdir, rm, mv, chmod. Each one
// opens a session, issues one mailbox command and reports how it went.
#include "app/cli/CliCommand.h"
#include "app/cli/CommandArgs.h"
#include "app/cli/CliSession.h"
#include "app/cli/CliTarget.h"
#include "app/cli/ListingOutput.h"
#include "app/cli/TerminalText.h"
#include "app/cli/QueueCommands.h"

#include "listing/DirectoryCache.h"
#include "listing/EntryOrder.h"
#include "listing/PathRules.h"
#include "sites/FtpUrl.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The remote directory a path names: without a trailing separator, "/" for the root.
std::string DirectoryOf(const std::string& path)
{
    return TrimTrailingSeparator(path);
}

// What a run needs besides the command.
struct RemoteRun {
    std::string verb; // the command's name for messages ("get")
    CliTarget target;
    std::string startDirectory;                            // where the session goes first
    CSessionCommand command;
    std::function<std::string(CCliSession&)> progress;     // the progress text, or empty
    std::function<int(CCliSession&, const CSettings&)> afterSuccess;
    bool needsListing = false; // success means a listing was received
    std::function<void()> afterFailure;
    // Work done as the session's queue run (command CMD_RUN_QUEUE), on the worker thread.
    std::function<int(CFtpSession&)> queueRunner;
};

int RunRemote(CliContext& context, const CliOptions& options, RemoteRun& run)
{
    CSettings settings;
    std::string error;
    if (!RunSettings(context, options, settings, &error))
        return Usage(context, error);
    // One command, then the end: no reconnecting behind the user's back.
    settings.KeepAlive = 0;

    CTransferLog transferLog;
    CliSessionUi ui(SessionOutput(context, options, transferLog));

    // Paths relative to the login directory are made absolute once it is known: the
    // operations change directory on their way, so a relative path would drift.
    const bool relative = !run.target.path.empty() && run.target.path[0] != '/';
    run.target.site.defremotedir = relative ? std::string() : run.startDirectory;
    CCliSession session(settings, run.target.site, ui);
    // No listing at login unless the command decides by it: an upload's overwrite decision
    // (a single put, or the uploads of a queue run) reads the folder's listing. ls lists
    // by itself (one LIST, not two); a download lists what it does not find.
    const bool uploads = run.command.code == CMD_UPLOAD || run.queueRunner;
    if (!uploads)
        session.Session().SetListOnLogin(false);
    session.Session().SetTransferTypeSetting(options.transferType >= 0 ? options.transferType : 2);
    if (run.queueRunner)
        session.Session().SetQueueRunner(run.queueRunner);

    InstallInterruptHandler();
    int status = session.Connect();
    if (status == kExitConnect)
        return Fail(context, status,
                    "could not connect to " + UrlHostPort(run.target.site.address, run.target.site.port) +
                        " or log in" + ServerWords(session.Session().LastReplyLine()));
    if (status != kExitDone)
        return StoppedStatus(context, status);
    if (relative) {
        const std::string start = session.WaitForStartDirectory();
        for (std::string* path : {&run.command.path, &run.command.newName})
            if (!path->empty() && (*path)[0] != '/')
                *path = JoinPath(start, *path);
    }

    const bool showProgress = run.progress && !options.quiet && !options.verbose && isatty(fileno(context.err));
    auto nextProgress = std::chrono::steady_clock::now();
    status = session.Run(run.command, [&] {
        if (!showProgress || std::chrono::steady_clock::now() < nextProgress)
            return;
        nextProgress += std::chrono::milliseconds(500);
        if (session.Session().IsTransferring())
            ui.PrintProgress(run.progress(session));
    });
    if (status == kExitDone && run.needsListing && !ui.CommandListingComplete())
        status = kExitFailed;
    const std::string reply = session.Session().LastReplyLine();
    if (status == kExitDone && run.afterSuccess)
        status = run.afterSuccess(session, settings);
    session.Close();
    if (status != kExitDone && run.afterFailure)
        run.afterFailure();
    if (status == kExitRefused || status == kExitFailed)
        std::fprintf(context.err, "tollvane-cli: %s %s: %s%s\n", run.verb.c_str(),
                     EscapeForTerminal(run.command.path).c_str(),
                     status == kExitRefused ? "refused by the server" : "failed", ServerWords(reply).c_str());
    return StoppedStatus(context, status);
}


int Resolve(CliContext& context, const CommandArgs& parsed, const std::string& argument, CliTarget& target)
{
    std::string error;
    if (!ResolveCliTarget(argument, parsed.options, context.sites, std::getenv(kPasswordVariable), target, &error))
        return Usage(context, error);
    return -1;
}

// ---- ls ----

int RunLs(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, kListingSwitches, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 1)
        return Usage(context, "ls needs one URL");
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[0], target); status >= 0)
        return status;
    const std::string directory = DirectoryOf(target.path);

    if (parsed.offline) {
        CSettings settings;
        std::string error;
        if (!RunSettings(context, parsed.options, settings, &error))
            return Usage(context, error);
        // Offline the login directory is unknown: a relative path is taken from the root.
        const std::string shown = directory.empty() ? "/" : directory[0] == '/' ? directory : "/" + directory;
        const CDirectoryCache cache(CacheSettingsOf(settings));
        const std::string site = CacheSiteOf(target.site);
        const std::string listFile = cache.GetCacheListPath(site, shown);
        if (listFile.empty() || !fs::is_regular_file(listFile))
            return Fail(context, kExitRefused, "not cached: ftp://" + EscapeForTerminal(site + shown));
        if (!PrintListFile(listFile, parsed.longListing, isatty(fileno(context.out)) != 0, context.out))
            return Fail(context, kExitFailed, "cannot read " + listFile);
        return kExitDone;
    }

    RemoteRun run;
    run.verb = "ls";
    run.target = target;
    run.startDirectory = directory;
    run.command = SimpleCommand(CMD_LIST);
    run.command.path = directory;
    run.needsListing = true;
    const bool longListing = parsed.longListing;
    run.afterSuccess = [&context, longListing](CCliSession& session, const CSettings&) {
        // The worker has finished with the listing text: the command has ended.
        PrintListingText(session.Ui().TakeLastListing().text, longListing, isatty(fileno(context.out)) != 0,
                         context.out);
        return static_cast<int>(kExitDone);
    };
    return RunRemote(context, parsed.options, run);
}

// A file name taken from a remote path: false for a path that names no file.
bool FileNameOf(const std::string& path, std::string& name)
{
    if (path.empty() || EndsWithSeparator(path))
        return false;
    name = FileNamePart(path);
    return !name.empty() && name != "." && name != "..";
}

// ---- get ----

// The switches of the recursive forms given without -r: a usage error, else -1.
int RecursiveSwitchesNeedR(CliContext& context, const CommandArgs& parsed, const char* command)
{
    if (parsed.patternGiven || parsed.noSubdirectories || parsed.updateOnly)
        return Usage(context, std::string(command) + ": --pattern, --no-subdirs and --update-only need -r");
    return -1;
}

int RunGet(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, kRecursiveSwitches, parsed); status >= 0)
        return status;
    if (parsed.recursive)
        return RunRecursive(context, parsed, RecursiveCommand::Get);
    if (int status = RecursiveSwitchesNeedR(context, parsed, "get"); status >= 0)
        return status;
    if (parsed.positional.empty() || parsed.positional.size() > 2)
        return Usage(context, "get needs a URL and at most one LOCAL_DIR");
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[0], target); status >= 0)
        return status;
    std::string name;
    if (!FileNameOf(target.path, name))
        return Usage(context, "get needs the URL of a file");
    const std::string localDir = parsed.positional.size() == 2 ? parsed.positional[1] : ".";
    std::error_code ec;
    if (!fs::is_directory(localDir, ec))
        return Fail(context, kExitFailed, "no such folder: " + localDir);
    // Absolute, so that the transfer log tells where the file went.
    const std::string localPath = JoinPath(TrimTrailingSeparator(fs::absolute(localDir, ec).lexically_normal().string()), name);
    const bool existedBefore = fs::exists(localPath, ec);

    RemoteRun run;
    run.verb = "get";
    run.target = target;
    run.startDirectory = ParentPath(target.path);
    run.command = SimpleCommand(CMD_DOWNLOAD);
    run.command.path = target.path;
    run.command.localPath = localPath;
    std::uint64_t total = 0;
    bool totalKnown = false;
    run.progress = [&](CCliSession& session) {
        if (!totalKnown) {
            CSettings settings = context.settings;
            RFILE_DATA entry;
            const CDirectoryCache cache(CacheSettingsOf(settings));
            totalKnown = cache.LookupCachedEntry(CacheSiteOf(target.site), run.command.path, entry) == 0;
            total = entry.FileSize();
        }
        // The size the session learnt for this transfer, else the cached listing's.
        const std::int64_t expected = session.Session().ExpectedTransferSize();
        return TransferProgressText(name, session.Session().TransferredBytes(),
                                    expected >= 0 ? expected : totalKnown ? std::int64_t(total) : -1,
                                    session.Session());
    };
    run.afterFailure = [existedBefore, localPath] {
        // A refused or failed download leaves no empty file of its own behind; a partly
        // received one stays, so that it can be resumed.
        std::error_code error;
        if (!existedBefore && fs::is_regular_file(localPath, error) && fs::file_size(localPath, error) == 0)
            fs::remove(localPath, error);
    };
    return RunRemote(context, parsed.options, run);
}

// ---- put ----

int RunPut(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, kRecursiveSwitches, parsed); status >= 0)
        return status;
    if (parsed.recursive)
        return RunRecursive(context, parsed, RecursiveCommand::Put);
    if (int status = RecursiveSwitchesNeedR(context, parsed, "put"); status >= 0)
        return status;
    if (parsed.positional.size() != 2)
        return Usage(context, "put needs LOCAL_FILE and a URL");
    const std::string& localFile = parsed.positional[0];
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[1], target); status >= 0)
        return status;
    std::error_code ec;
    if (!fs::is_regular_file(localFile, ec))
        return Fail(context, kExitFailed, "no such file: " + localFile);
    const std::string name = fs::path(localFile).filename().string();
    const std::string folder = DirectoryOf(target.path);

    RemoteRun run;
    run.verb = "put";
    run.target = target;
    run.startDirectory = folder;
    run.command = SimpleCommand(CMD_UPLOAD);
    run.command.path = folder.empty() ? name : JoinPath(folder, name);
    run.command.localPath = fs::absolute(localFile, ec).lexically_normal().string();
    const std::uint64_t size = fs::file_size(localFile, ec);
    run.progress = [size, name](CCliSession& session) {
        return TransferProgressText(name, session.Session().TransferredBytes(), std::int64_t(size),
                                    session.Session());
    };
    return RunRemote(context, parsed.options, run);
}

// ---- mkdir, rmdir, rm, mv, chmod ----

int RunPathCommand(CliContext& context, const std::vector<std::string>& args, int code, const char* verb,
                   const char* usage)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 1)
        return Usage(context, usage);
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[0], target); status >= 0)
        return status;
    const std::string path = DirectoryOf(target.path);
    if (path.empty() || path == "/")
        return Usage(context, std::string(usage) + " (not the root folder)");
    RemoteRun run;
    run.verb = verb;
    run.target = target;
    run.startDirectory = ParentPath(path);
    run.command = SimpleCommand(code);
    run.command.path = path;
    return RunRemote(context, parsed.options, run);
}

int RunMkdir(CliContext& context, const std::vector<std::string>& args)
{
    return RunPathCommand(context, args, CMD_MKDIR, "mkdir", "mkdir needs one URL");
}

int RunRm(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, kRecursiveSwitches, parsed); status >= 0)
        return status;
    if (parsed.recursive)
        return RunRecursive(context, parsed, RecursiveCommand::Remove);
    return RunPathCommand(context, args, CMD_DELETE, "rm", "rm needs one URL");
}

int RunRmdir(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 1)
        return Usage(context, "rmdir needs one URL");
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[0], target); status >= 0)
        return status;
    const std::string path = DirectoryOf(target.path);
    if (path.empty() || path == "/")
        return Usage(context, "rmdir needs one URL (not the root folder)");
    // The mailbox has no remove-directory command; the program removes folders through
    // the transfer queue, so this runs as the session's queue run.
    RemoteRun run;
    run.verb = "rmdir";
    run.target = target;
    run.startDirectory = ParentPath(path);
    run.command = SimpleCommand(CMD_RUN_QUEUE);
    run.command.path = path;
    // Runs on the worker after the command was issued, so it sees the resolved path.
    run.queueRunner = [&run](CFtpSession& session) { return session.RemoveDirWithRetry(run.command.path, 0); };
    return RunRemote(context, parsed.options, run);
}

int RunMv(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 2)
        return Usage(context, "mv needs a URL and NEW_NAME");
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[0], target); status >= 0)
        return status;
    const std::string path = DirectoryOf(target.path);
    const std::string& newName = parsed.positional[1];
    if (path.empty() || path == "/" || newName.empty())
        return Usage(context, "mv needs the URL of a file or folder and a new name");
    RemoteRun run;
    run.verb = "mv";
    run.target = target;
    run.startDirectory = ParentPath(path);
    run.command = SimpleCommand(CMD_RENAME);
    run.command.path = path;
    // A bare name stays in the same folder; a path is taken as it is.
    run.command.newName = newName.find('/') == std::string::npos && !ParentPath(path).empty()
                              ? JoinPath(ParentPath(path), newName)
                              : newName;
    return RunRemote(context, parsed.options, run);
}

bool IsPermissionMode(const std::string& mode)
{
    if (mode.size() < 3 || mode.size() > 4)
        return false;
    for (char c : mode)
        if (c < '0' || c > '7')
            return false;
    return true;
}

int RunChmod(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 2)
        return Usage(context, "chmod needs MODE and a URL");
    const std::string& mode = parsed.positional[0];
    if (!IsPermissionMode(mode))
        return Usage(context, "chmod needs an octal MODE such as 644, not \"" + mode + "\"");
    CliTarget target;
    if (int status = Resolve(context, parsed, parsed.positional[1], target); status >= 0)
        return status;
    const std::string path = DirectoryOf(target.path);
    if (path.empty() || path == "/")
        return Usage(context, "chmod needs the URL of a file or folder");
    RemoteRun run;
    run.verb = "chmod";
    run.target = target;
    run.startDirectory = ParentPath(path);
    run.command = SimpleCommand(CMD_CHMOD);
    run.command.path = path;
    run.command.mode = mode;
    return RunRemote(context, parsed.options, run);
}

} // namespace

extern const CliCommand kLsCommand = {
    "ls",
    "  ls [--long] [--offline] URL  print the remote folder's listing as the server sent it;\n"
    "                               --long: Name, Size, Type, Modified and Attribute columns,\n"
    "                               sorted by name, folders first (times to the second\n"
    "                               where the server gives them exactly);\n"
    "                               --offline: from the directory cache, without connecting\n"
    "                               (exit 6 when the folder was never cached)\n",
    RunLs,
};
extern const CliCommand kGetCommand = {
    "get",
    "  get URL [LOCAL_DIR]          download one file into LOCAL_DIR (default: .)\n"
    "  get -r [--pattern P] [--no-subdirs] [--update-only] URL LOCAL_DIR\n"
    "                               download the remote folder URL with everything beneath\n"
    "                               it as LOCAL_DIR/<its name> (the root's contents straight\n"
    "                               into LOCAL_DIR); --pattern: only names matching P (* ?,\n"
    "                               \";\"-separated list; folders are always entered);\n"
    "                               --no-subdirs: folders too are entered only when their\n"
    "                               names match P; --update-only: only files that exist\n"
    "                               locally\n",
    RunGet,
};
extern const CliCommand kPutCommand = {
    "put",
    "  put LOCAL_FILE URL           upload one file into the remote folder URL\n"
    "  put -r [--pattern P] [--no-subdirs] [--update-only] LOCAL_PATH URL\n"
    "                               upload the local folder (or file) LOCAL_PATH into the\n"
    "                               remote folder URL, as URL/<its name>\n",
    RunPut,
};
extern const CliCommand kMkdirCommand = {
    "mkdir", "  mkdir URL                    make a remote folder\n", RunMkdir,
};
extern const CliCommand kRmdirCommand = {
    "rmdir", "  rmdir URL                    remove an empty remote folder\n", RunRmdir,
};
extern const CliCommand kRmCommand = {
    "rm",
    "  rm URL                       delete a remote file\n"
    "  rm -r [--pattern P] URL      delete the remote folder URL with everything in it; with\n"
    "                               --pattern only the entries of URL whose names match P\n",
    RunRm,
};
extern const CliCommand kMvCommand = {
    "mv",
    "  mv URL NEW_NAME              rename a remote file or folder (a NEW_NAME without \"/\"\n"
    "                               stays in the same folder)\n",
    RunMv,
};
extern const CliCommand kChmodCommand = {
    "chmod", "  chmod MODE URL               change permissions (SITE CHMOD), MODE octal as 644\n",
    RunChmod,
};
