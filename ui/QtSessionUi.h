#pragma once
// The bridge between one session's worker thread and the windows that show the session.
// It lives on the UI thread and outlives the session's tabs.
//
// Calls that only inform copy their arguments and are queued to the UI thread with the
// bridge as context; the windows listen to its signals, so a window that is gone is simply
// no longer connected. Log lines are collected under a mutex and handed over in batches by
// one scheduled drain, so a fast transfer cannot flood the event loop.
//
// Calls that need an answer wait on a promise. The UI thread opens the dialog with open()
// (never a nested event loop) and fulfils the promise when the dialog finishes. Before a
// session is stopped, closeQuestions() answers every open question with the cautious
// answer (the one a session without a window gets), so the worker can always end.

#include "session/SessionUi.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CFtpSession;
class QDialog;
#include <QWidget>
class MessageWindow;
class LoginMessageWindow;
class CSharedSettings;

// Where the lines of every site's log go besides the window: "transfer.log". Called on the
// worker thread, in the order the lines arrive.
struct TransferLogSinks {
    std::function<void(const CLogLine&)> logLine;
    std::function<void(const std::string&)> text; // "Download:", "Upload:", "Delete:" lines
};

class QtSessionUi final : public QObject, public SessionUi {
    Q_OBJECT
public:
    explicit QtSessionUi(QObject* parent = nullptr);
    ~QtSessionUi() override;

    // ---- UI thread, while no worker runs ----
    void setTransferLog(TransferLogSinks sinks) { m_transferLog = std::move(sinks); }
    // The settings the overwrite confirmation's count-down reads (the current snapshot
    // when the question opens); may stay unset.
    void setSettings(const CSharedSettings* settings) { m_settings = settings; }

    // ---- UI thread ----
    // The window the dialogs are centred on; none: they are top-level.
    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }
    // Answers every open question cautiously, closes their dialogs, and answers questions
    // asked from now on at once the same way. Call before stopping the session.
    void closeQuestions();
    // Questions reach the user again (the session starts anew).
    void reopenQuestions();
    // Questions asked and not answered yet.
    int openQuestionCount() const;
    // Hands over the log lines collected so far now instead of at the scheduled drain.
    void drainLogLines();

    // ---- SessionUi: the worker thread, or any thread where SessionUi says so ----
    // Every call that informs is queued to the UI thread and never waits for it, so a
    // QueueChanged made on the UI thread itself (the queue view's own Remove) cannot block.
    void AddLogLine(const CLogLine& line) override;
    void DirectoryChanged(const std::string& directory) override;
    void ListingStarted() override;
    void ListingComplete(const CListing& listing) override;
    void QueueEntryStarted(QueueEntryId id) override;
    void QueueChanged(const CFtpSession& session, const CQueueChange& change) override;
    void QueueRunFinished() override;
    void Refresh() override;
    void ShowLoginMessage(const std::string& host, const std::string& message) override;
    int MessageBox(const std::string& caption, const std::string& text, int style) override;
    void ShowMessageWindow(const std::string& caption, const std::string& text, bool modal) override;
    COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) override;
    int AskCertificateTrust(const CCertificateQuestion& question) override;
    void OpenDownloadedFile(const std::string& localPath, int how) override;
    void AddTransferLogLine(const std::string& text) override;
    void FileSkipped(const std::string& fileName, const std::string& reason) override;
    void CommandFinished(int code, int result) override;

signals:
    void logLinesArrived(const std::vector<CLogLine>& lines);
    void directoryChanged(const std::string& directory);
    void listingStarted();
    // The listing as the worker completed it: its folder and the server's text.
    void listingComplete(const CListing& listing);
    void queueEntryStarted(QueueEntryId id);
    void queueChanged(const CQueueChange& change);
    // The overwrite rules left a file alone (the reason is also in the log).
    void fileSkipped(const std::string& fileName, const std::string& reason);
    void queueRunFinished();
    void refreshRequested();
    void openFileRequested(const std::string& localPath, int how);
    void commandFinished(int code, int result);
    // A question's dialog was opened (the frame brings it forward; tests answer it).
    void questionOpened(QDialog* dialog);

private:
    template <class Answer, class MakeDialog>
    Answer ask(Answer cautious, MakeDialog makeDialog);
    template <class Function>
    void post(Function function);
    void showModelessMessage(const QString& caption, const QString& text);
    QWidget* dialogParent() const { return m_dialogParent.data(); }

    TransferLogSinks m_transferLog;
    const CSharedSettings* m_settings = nullptr;
    QPointer<QWidget> m_dialogParent;
    QPointer<MessageWindow> m_messageWindow;
    QPointer<LoginMessageWindow> m_loginWindow;

    std::mutex m_logMutex;
    std::vector<CLogLine> m_pendingLines;
    bool m_drainScheduled = false;

    // Open questions by id: how to answer each cautiously. Guarded by m_questionMutex.
    mutable std::mutex m_questionMutex;
    std::map<int, std::function<void()>> m_questions;
    bool m_questionsClosed = false;
    int m_nextQuestion = 0;
    // The dialogs of open questions (UI thread only).
    std::map<int, QPointer<QDialog>> m_questionDialogs;
};
