#pragma once
// The application object of the desktop program: runs the start-up steps (those without
// windows from app/lib, then the main frame, the window placement, "autosave.tvq" and the
// command line), owns the settings, the site list and the open sessions, and runs the close
// sequence when the main frame is closed, the process is told to end (SIGTERM, SIGINT) or
// the desktop session ends.
//
// While it runs, "autosave.tvq" follows the queues of every session within about a second
// (a throttled save under the file's shared lock), so a crash of the window loses at most
// that last second of queue changes.
//
// Close sequence: ask, for every transferring site, whether to abort it (all questions
// before anything is stopped; Cancel keeps everything as it was); stop every session; save
// the queues to "autosave.tvq" (or delete it when "SaveQueue" is off); write the settings.
// A save that fails is reported and the program stays open, so nothing is lost silently.
// Without a user (a signal, the session's end, no display) nothing is asked and failures
// go to standard error.

#include "app/lib/AppStartup.h"
#include "app/lib/TransferLog.h"
#include "sites/SharedSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AutosaveWriter;
class CThrottledSaver;
class MainFrame;
class OpenSession;
class SessionList;

class TollvaneApplication : public QObject {
    Q_OBJECT
public:
    struct Options {
        AppStartupOptions startup;
        bool askQuestions = true; // false where no display can answer them
    };

    TollvaneApplication(ISettingsStore& store, Options options);
    ~TollvaneApplication() override;

    // The start-up. Empty: run the event loop; otherwise the exit status to end with now
    // (another copy took the message, or a fatal error was reported). A command line is
    // handled, and files are offered in the shell transfer dialog, once the main window
    // is up; when another copy runs, it gets the message instead.
    std::optional<int> startWith(const InstanceMessage& message);
    std::optional<int> start(const QByteArray& commandLine) { return startWith(CommandLineMessage(commandLine)); }

    MainFrame* mainFrame() const { return m_frame.get(); }
    SessionList* sessions() const { return m_sessions.get(); }
    AppState& state() { return m_state; }

    // The close sequence, as the main frame's close runs it (questions when a user can
    // answer them).
    void beginClose();
    // The close sequence without questions: a signal or the end of the desktop session.
    void closeUnattended();
    bool isClosing() const { return m_closing; }

signals:
    // The close sequence ended without closing (a question was cancelled, a save failed).
    void closeCancelled();
    // The close sequence finished and the main frame is closed.
    void closed();

private:
    void listenForLaterStarts();
    void startAutosaving(std::string loadedText);
    void autosaveWritten(bool written, const QString& error, std::chrono::milliseconds took);
    void restorePlacement();
    void recordPlacement();
    void askNextAbortQuestion(std::vector<OpenSession*> remaining);
    void finishClose();
    void cancelClose(const QString& message);
    bool saveQueues(QString& error);
    bool saveSettings(QString& error);
    void reportFatal(const QString& message);

    ISettingsStore& m_store;
    Options m_options;
    AppState m_state;
    // The settings every window and session reads; taken from m_state once it started.
    CSharedSettings m_settings;
    CTransferLog m_transferLog;
    // Writes "autosave.tvq" away from the window's thread; it keeps the record of the
    // file's entries that are this window's (see SharedAutosave.h).
    std::unique_ptr<AutosaveWriter> m_autosaveWriter;
    std::unique_ptr<CThrottledSaver> m_autosaver;
    bool m_autosaveFailing = false; // reported once until a save works again
    // A queue that takes long to write is written less often (ten times the time its
    // last write took), so the run and the window share its lock as little as possible.
    std::chrono::steady_clock::time_point m_autosaveNotBefore{};
    std::unique_ptr<SessionList> m_sessions;
    std::unique_ptr<MainFrame> m_frame;
    bool m_closing = false;
    bool m_interactiveClose = true;
};
