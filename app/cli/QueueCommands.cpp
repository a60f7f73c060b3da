// Queue work from the command line: get -r, put -r, rm -r and cache build one queue entry
// and run the session's queue; run carries out a job file with every site at once; queue
// shows the saved queues.
#include "app/cli/QueueCommands.h"

#include "app/cli/CliQueueRun.h"
#include "app/cli/CliTarget.h"
#include "app/lib/SharedAutosave.h"

#include "listing/PathRules.h"
#include "session/Jobs.h"
#include "session/QueueColumns.h"
#include "session/ThrottledSaver.h"
#include "sites/AtomicFile.h"
#include "sites/FtpUrl.h"
#include "sites/TextUtil.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool OverridesSetting(const CliOptions& options, const char* name)
{
    for (const SettingOverride& override : options.overrides)
        if (sites::EqualsNoCase(override.first, name))
            return true;
    return false;
}

int TransferTypeOf(const CliOptions& options)
{
    return options.transferType >= 0 ? options.transferType : 2;
}

// A progress line on a terminal, about twice a second, for the session being watched.
class QueueProgress {
public:
    QueueProgress(CliContext& context, const CliOptions& options, CFtpSession& session, CliSessionUi& ui)
        : m_session(session), m_ui(ui),
          m_show(!options.quiet && !options.verbose && isatty(fileno(context.err)))
    {
    }
    void Tick()
    {
        const auto now = std::chrono::steady_clock::now();
        if (!m_show || now < m_next)
            return;
        m_next = now + std::chrono::milliseconds(500);
        std::string text = std::to_string(m_ui.FilesDone()) + " files done";
        if (m_session.IsTransferring())
            text += ", " + TransferProgressText(m_session.CurrentFileName(), m_session.TransferredBytes(),
                                                m_session.ExpectedTransferSize(), m_session);
        m_ui.PrintProgress(text);
    }

private:
    CFtpSession& m_session;
    CliSessionUi& m_ui;
    bool m_show;
    std::chrono::steady_clock::time_point m_next{};
};

const char* DoneVerb(RecursiveCommand command)
{
    switch (command) {
    case RecursiveCommand::Get: return "downloaded";
    case RecursiveCommand::Put: return "uploaded";
    case RecursiveCommand::Remove: return "deleted";
    case RecursiveCommand::Cache: return "listed";
    }
    return "";
}

// The local path an argument names, absolute and without a trailing separator.
std::string AbsoluteLocal(const std::string& path)
{
    std::error_code ec;
    return TrimTrailingSeparator(fs::absolute(path, ec).lexically_normal().string());
}

} // namespace

int RunRecursive(CliContext& context, const CommandArgs& parsed, RecursiveCommand command)
{
    const bool upload = command == RecursiveCommand::Put;
    const size_t wanted = command == RecursiveCommand::Get || upload ? 2 : 1;
    const char* usage = command == RecursiveCommand::Get    ? "get -r needs a URL and LOCAL_DIR"
                        : upload                             ? "put -r needs LOCAL_PATH and a URL"
                        : command == RecursiveCommand::Remove ? "rm -r needs one URL"
                                                              : "cache needs one URL";
    if (parsed.positional.size() != wanted)
        return Usage(context, usage);

    CliTarget target;
    std::string error;
    if (!ResolveCliTarget(parsed.positional[upload ? 1 : 0], parsed.options, context.sites,
                          std::getenv(kPasswordVariable), target, &error))
        return Usage(context, error);
    const std::string remote = TrimTrailingSeparator(target.path);
    if (command == RecursiveCommand::Remove && (remote.empty() || remote == "/"))
        return Usage(context, "rm -r never deletes the root folder");

    auto entry = std::make_unique<CQueueEntry>();
    entry->pattern = parsed.pattern;
    entry->includeSubdirectories = parsed.noSubdirectories ? 0 : 1;
    entry->updateOnly = parsed.updateOnly ? 1 : 0;
    entry->kind = KIND_DIRECTORY;
    entry->SetSizeUnknown();
    std::error_code ec;
    switch (command) {
    case RecursiveCommand::Get: {
        entry->operation = QUEUE_DOWNLOAD;
        entry->localPath = AbsoluteLocal(parsed.positional[1]);
        fs::create_directories(entry->localPath, ec);
        if (!fs::is_directory(entry->localPath, ec))
            return Fail(context, kExitFailed, "cannot create the folder " + entry->localPath);
        break;
    }
    case RecursiveCommand::Put: {
        entry->operation = QUEUE_UPLOAD;
        entry->localPath = AbsoluteLocal(parsed.positional[0]);
        const fs::file_status status = fs::status(entry->localPath, ec);
        if (fs::is_directory(status)) {
            if (FileNamePart(entry->localPath) == "/")
                return Usage(context, "put -r needs a folder below the root folder");
        } else if (fs::is_regular_file(status)) {
            entry->kind = KIND_FILE;
            entry->SetSize(fs::file_size(entry->localPath, ec));
        } else {
            return Fail(context, kExitFailed, "no such file or folder: " + parsed.positional[0]);
        }
        break;
    }
    case RecursiveCommand::Remove:
        entry->operation = QUEUE_DELETE;
        if (parsed.patternGiven) {
            // Only the entries of the folder whose names match.
            entry->kind = KIND_PATTERN;
        }
        break;
    case RecursiveCommand::Cache:
        entry->operation = QUEUE_CACHEDIR;
        break;
    }

    CSettings settings;
    if (!RunSettings(context, parsed.options, settings, &error))
        return Usage(context, error);
    // A tree is taken as the server has it now, not as an older visit cached it, unless
    // the user asks for the cache with --set AlwaysRefresh=0.
    if (!OverridesSetting(parsed.options, "AlwaysRefresh"))
        settings.AlwaysRefresh = 1;

    CTransferLog transferLog;
    CliQueueRun run(settings, SessionOutput(context, parsed.options, transferLog), TransferTypeOf(parsed.options));
    // The session starts in the login folder; the entry's paths are absolute.
    target.site.defremotedir.clear();
    CFtpSession& session = run.AddSession(target.site);
    InstallInterruptHandler();
    std::string login;
    int status = run.Connect(session, login);
    if (status == kExitConnect)
        return Fail(context, status,
                    "could not connect to " + UrlHostPort(target.site.address, target.site.port) +
                        " or log in" + ServerWords(session.LastReplyLine()));
    if (status != kExitDone)
        return StoppedStatus(context, status);

    const std::string absolute = remote.empty() ? login : remote[0] == '/' ? remote : JoinPath(login, remote);
    if (command == RecursiveCommand::Remove && absolute == "/")
        return Usage(context, "rm -r never deletes the root folder");
    const std::string shownRemote = "ftp://" + UrlHostPort(target.site.address, 0) + absolute;
    if (command == RecursiveCommand::Remove && entry->kind == KIND_PATTERN)
        entry->remotePath = JoinPath(absolute, entry->pattern);
    else
        entry->remotePath = absolute;
    session.Queue().Append(std::move(entry));

    QueueProgress progress(context, parsed.options, session, run.UiOf(session));
    status = run.RunAll([&] { progress.Tick(); });
    const int files = run.UiOf(session).FilesDone();
    const int skipped = run.UiOf(session).FilesSkipped();
    run.CloseAll(true);
    if (!parsed.options.quiet) {
        if (command == RecursiveCommand::Cache)
            std::fprintf(context.err, "tollvane-cli: %s %s\n", shownRemote.c_str(),
                         status == kExitDone ? "is cached" : "is cached only in part");
        else
            std::fprintf(context.err, "tollvane-cli: %d file%s %s%s%s\n", files, files == 1 ? "" : "s",
                         DoneVerb(command),
                         skipped > 0 ? (", " + std::to_string(skipped) + " skipped").c_str() : "",
                         status == kExitDone ? "" : "; the rest was not done");
        if (status == kExitFailed)
            std::fprintf(context.err, "tollvane-cli: %s: not everything could be done (see the lines above)\n",
                         shownRemote.c_str());
    }
    return StoppedStatus(context, status);
}

namespace {

// ---- run ----

// Keeps "autosave.tvq" current while a job runs. The file is shared with the window (and
// other runs): each save, under the file's lock, keeps every entry another writer put there
// and replaces only what this run wrote before with what is left of its queues.
class AutosaveWriter {
public:
    // `ours`: entries of the file that belong to this run already (a run of the file itself).
    AutosaveWriter(std::string path, std::string ours, const CliQueueRun& run)
        : m_path(std::move(path)), m_ours(std::move(ours)), m_run(run)
    {
    }
    bool Save()
    {
        AutosaveLock lock(m_path);
        std::string current;
        sites::ReadWholeFile(m_path, current);
        std::string own = FormatQueueFile(m_run.Sections());
        if (!sites::WriteFileAtomically(m_path, EntriesAddedSince(m_ours, current) + own))
            return false;
        m_ours = std::move(own);
        return true;
    }

private:
    std::string m_path;
    std::string m_ours;
    const CliQueueRun& m_run;
};

bool SamePath(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

int RunJob(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() != 1)
        return Usage(context, "run needs one JOB.tvq");
    const std::string jobPath = parsed.positional[0];
    CSettings settings;
    std::string error;
    if (!RunSettings(context, parsed.options, settings, &error))
        return Usage(context, error);

    const std::string autosavePath = context.dataFolder + kAutosaveFileName;
    const bool continuing = SamePath(jobPath, autosavePath);
    std::string ours;
    if (continuing) {
        AutosaveLock lock(autosavePath);
        sites::ReadWholeFile(autosavePath, ours);
    }

    CTransferLog transferLog;
    CliQueueRun run(settings, SessionOutput(context, parsed.options, transferLog), TransferTypeOf(parsed.options), true);
    const CQueueLoadResult loaded = LoadJob(jobPath, run, context.sites, settings);
    if (!loaded.opened)
        return Fail(context, kExitFailed, loaded.error);
    for (const std::string& warning : loaded.warnings)
        std::fprintf(context.err, "tollvane-cli: %s: %s\n", jobPath.c_str(), warning.c_str());
    if (loaded.entries == 0) {
        std::fprintf(context.err, "tollvane-cli: %s holds no queue entries\n", jobPath.c_str());
        return kExitDone;
    }

    // With "SaveQueue" on, what is left of the queues survives a crash or Ctrl-C.
    const bool saving = settings.SaveQueue != 0;
    AutosaveWriter writer(autosavePath, ours, run);
    CThrottledSaver saver([&] { return writer.Save(); });
    // Written once at the start, so that the run is kept from its first second on.
    saver.MarkChanged();
    run.OnQueueChange([&saver] { saver.MarkChanged(); });
    InstallInterruptHandler();
    int status = run.RunAll([&] {
        if (saving)
            saver.Tick();
    });
    run.CloseAll(status != kExitInterrupted);

    bool saved = true;
    if (saving) {
        saver.MarkChanged();
        saved = saver.Flush();
        if (!saved)
            std::fprintf(context.err, "tollvane-cli: cannot write %s\n", autosavePath.c_str());
    }

    int left = 0;
    for (const CliQueueRun::SiteSummary& site : run.Summaries()) {
        left += site.entriesLeft;
        if (site.entriesBefore == 0 && site.entriesLeft == 0)
            continue; // only the other site of site-to-site copies
        std::string line = site.host + ": " + std::to_string(site.entriesBefore - site.entriesLeft) + " of " +
                           std::to_string(site.entriesBefore) + " entries done, " + std::to_string(site.files) +
                           " files transferred";
        if (site.skipped > 0)
            line += ", " + std::to_string(site.skipped) + " skipped";
        if (site.entriesLeft > 0)
            line += ", " + std::to_string(site.entriesLeft) + " left (" + std::to_string(site.stopped) +
                    " stopped, " + std::to_string(site.failed) + " failed)";
        if (site.connectFailed)
            line += ", could not connect or log in";
        std::fprintf(context.out, "%s\n", line.c_str());
    }
    if (left > 0) {
        if (saving && saved)
            std::fprintf(context.err, "tollvane-cli: the entries left are saved in %s; "
                                      "'tollvane-cli run %s' continues them\n",
                         autosavePath.c_str(), autosavePath.c_str());
        else if (!saving)
            std::fprintf(context.err, "tollvane-cli: SaveQueue is off: the entries left were not saved\n");
    }
    if (status == kExitDone && !saved)
        status = kExitFailed;
    return StoppedStatus(context, status);
}

// ---- cache ----

int RunCache(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, kRecursiveSwitches, parsed); status >= 0)
        return status;
    return RunRecursive(context, parsed, RecursiveCommand::Cache);
}

// ---- queue ----

// Queues read from a file for showing only: no session, no worker.
class DisplayQueues final : public IQueueSessions {
public:
    struct Section {
        std::string host;
        std::unique_ptr<CTransferQueue> queue;
    };
    CQueueTarget FindSession(const std::string& host) override
    {
        for (Section& section : sections)
            if (section.host == host)
                return {nullptr, section.queue.get()};
        return {};
    }
    CQueueTarget CreateSession(const CSiteSetting& site) override
    {
        sections.push_back({site.address, std::make_unique<CTransferQueue>()});
        return {nullptr, sections.back().queue.get()};
    }
    void SelectSession(const CQueueTarget&) override {}

    std::vector<Section> sections;
};

void PrintRows(std::FILE* out, const std::vector<std::array<std::string, 7>>& rows)
{
    std::array<size_t, 7> widths{};
    for (const auto& row : rows)
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size())
                line += std::string(widths[column] - row[column].size() + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

int RunQueueList(CliContext& context, const std::vector<std::string>& args)
{
    CommandArgs parsed;
    if (int status = ReadArgs(context, args, 0, parsed); status >= 0)
        return status;
    if (parsed.positional.size() > 1)
        return Usage(context, "queue takes at most one JOB.tvq");
    const std::string path = parsed.positional.empty() ? context.dataFolder + kAutosaveFileName : parsed.positional[0];
    if (parsed.positional.empty() && !fs::exists(path)) {
        std::fprintf(context.out, "No saved queues (%s does not exist).\n", path.c_str());
        return kExitDone;
    }
    DisplayQueues queues;
    const CQueueLoadResult loaded = LoadQueueFile(path, queues, context.sites, context.settings);
    if (!loaded.opened)
        return Fail(context, kExitFailed, loaded.error);
    for (const std::string& warning : loaded.warnings)
        std::fprintf(context.err, "tollvane-cli: %s: %s\n", path.c_str(), warning.c_str());
    bool shown = false;
    for (const DisplayQueues::Section& section : queues.sections) {
        if (section.queue->IsEmpty())
            continue;
        shown = true;
        std::vector<std::array<std::string, 7>> rows;
        std::array<std::string, 7> header;
        std::copy(kQueueColumnNames.begin(), kQueueColumnNames.end(), header.begin());
        rows.push_back(header);
        section.queue->ForEach([&](const CQueueEntry& entry) { rows.push_back(QueueRowTexts(entry)); });
        std::fprintf(context.out, "[%s]\n", section.host.c_str());
        PrintRows(context.out, rows);
        std::fprintf(context.out, "\n");
    }
    if (!shown)
        std::fprintf(context.out, "No saved queues (%s holds no entries).\n", path.c_str());
    return kExitDone;
}

} // namespace

extern const CliCommand kCacheCommand = {
    "cache",
    "  cache [--pattern P] [--no-subdirs] URL\n"
    "                               list the remote folder and every folder beneath it into\n"
    "                               the directory cache, for offline browsing and search\n",
    RunCache,
};
extern const CliCommand kRunCommand = {
    "run",
    "  run JOB.tvq                  run the queues of every site in the job file at once, each\n"
    "                               on its own connection; prints a summary per site; exit 0\n"
    "                               when every entry finished, 1 when entries remain. While it\n"
    "                               runs (and on Ctrl-C) what is left is kept in autosave.tvq\n"
    "                               in the data folder (setting SaveQueue); 'run' of that file\n"
    "                               continues it. Folders are expanded from the directory\n"
    "                               cache when they are cached, unless --set AlwaysRefresh=1\n",
    RunJob,
};
extern const CliCommand kQueueCommand = {
    "queue",
    "  queue [JOB.tvq]              show the saved queues (default: autosave.tvq) in the\n"
    "                               columns ServerPath, Operation, ClientPath, Size, Status,\n"
    "                               Pattern, Update Only\n",
    RunQueueList,
};
