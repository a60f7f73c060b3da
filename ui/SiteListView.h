#pragma once
// The site list: one row per session of the program (open sites and sites kept for their
// queue), sorted by host, several selectable, each showing its state (offline,
// connecting, idle, busy, transferring, queue waiting). The row with the focus names the
// session the queue view shows. Its menu "RemoteSite" starts and stops the selected
// sessions' queues, saves queues as jobs, imports jobs and closes sessions.

#include <QListWidget>
#include <QPointer>

#include <vector>

class OpenSession;
class QAction;
class QMenu;
#include <QMessageBox>
class SessionList;

class SiteListView : public QListWidget {
    Q_OBJECT
public:
    // The state a row shows.
    static QString stateText(const OpenSession& session);

    explicit SiteListView(SessionList& sessions, QWidget* parent = nullptr);

    OpenSession* sessionAt(int row) const;
    int rowOf(const OpenSession* session) const;
    std::vector<OpenSession*> selectedSessions() const;
    // The session with the focus (the queue view's), null when the list is empty.
    OpenSession* focusedSession() const;
    // Selects exactly that session and gives it the focus; with notify, as a selection
    // change by the user (the queue view follows).
    void selectSession(OpenSession* session, bool notify);

    bool canStart() const;
    bool canStop() const;
    void startSelected();
    void stopSelected();
    // Starts the queue of each session (a session not running is opened first).
    static void startQueues(const std::vector<OpenSession*>& sessions);

    // Asks before closing the selected sessions; the question stays reachable while open.
    void askDeleteSelected();
    QMessageBox* deleteQuestion() const { return m_deleteQuestion.data(); }
    void deleteSelected();
    void selectAllSessions();

    // The rows' state texts, brought up to date (the 500 ms tick).
    void refreshStates();
    void updateActions();

    QMenu* contextMenu() const { return m_menu; }
    QAction* startAction() const { return m_start; }
    QAction* stopAction() const { return m_stop; }
    QAction* saveQueueAction() const { return m_saveQueue; }
    QAction* saveAllQueuesAction() const { return m_saveAll; }
    QAction* importJobAction() const { return m_importJob; }
    QAction* deleteAction() const { return m_delete; }
    QAction* selectAllAction() const { return m_selectAll; }

signals:
    // The session whose queue is shown changed (null: none).
    void shownSessionChanged(OpenSession* session);
    void saveQueuesRequested(bool selectedOnly);
    void importJobRequested();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void addSession(OpenSession* session);
    void removeSession(OpenSession* session);
    void focusChanged();

    SessionList& m_sessions;
    QMenu* m_menu;
    QAction* m_start;
    QAction* m_stop;
    QAction* m_saveQueue;
    QAction* m_saveAll;
    QAction* m_importJob;
    QAction* m_delete;
    QAction* m_selectAll;
    QPointer<QMessageBox> m_deleteQuestion;
    OpenSession* m_shown = nullptr;
    bool m_selecting = false;
};
