#pragma once
// The queue view: the shown session's transfer queue as a table (QueueModel) with the
// queue commands: the four moves, Remove (Delete), Properties, Reset Queue, Clear Queue,
// Select All (Ctrl+A) and Copy URL (Ctrl+C), from its context menu "Queue Popup" and,
// for Clear and Reset, from the main frame. Every command acts on the entries the
// selected rows name, never on positions, and leaves the entry being transferred alone.

#include "session/TransferQueue.h"
#include "ui/QueueAccess.h"

#include <QPointer>
#include <QTableView>

#include <vector>

class OpenSession;
class QAction;
class QMenu;
#include "ui/QueueEntryDialog.h"
class QueueModel;

class QueueView : public QTableView {
    Q_OBJECT
public:
    explicit QueueView(QWidget* parent = nullptr);

    QueueModel* queueModel() const { return m_model; }
    // The session whose queue is shown (the one focused in the site list); null: none.
    void setSession(OpenSession* session);
    OpenSession* session() const;

    // The entries of the selected rows, in row order.
    std::vector<QueueEntryId> selectedEntries() const;
    void selectEntries(const std::vector<QueueEntryId>& entries);

    // The commands.
    void move(QueueMove how);
    void removeSelected();
    void clearQueue();
    void resetQueue();
    void copyUrl();
    void showProperties();
    // The 500 ms tick of the main frame.
    void tick();

    // Enabling rules, as the context menu applies them.
    void updateActions();
    // The context menu as it would open now (built and enabled, not shown).
    QMenu* contextMenu() const { return m_menu; }
    QAction* moveUpAction() const { return m_moveUp; }
    QAction* moveDownAction() const { return m_moveDown; }
    QAction* moveTopAction() const { return m_moveTop; }
    QAction* moveBottomAction() const { return m_moveBottom; }
    QAction* removeAction() const { return m_remove; }
    QAction* propertiesAction() const { return m_properties; }
    QAction* resetAction() const { return m_reset; }
    QAction* clearAction() const { return m_clear; }
    QAction* selectAllAction() const { return m_selectAll; }
    QAction* copyUrlAction() const { return m_copyUrl; }
    // The Properties dialog while it is open.
    QueueEntryDialog* propertiesDialog() const { return m_dialog.data(); }

signals:
    // Clear Queue emptied the queue of a session that has no tab (kept only for its
    // queue): the owner closes it.
    void queueOfClosedSessionCleared(OpenSession* session);
    // Something to tell the user (an entry that left the queue while being edited).
    void message(const QString& text);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QAction* addCommand(const QString& text, const QString& name, const QKeySequence& shortcut = {});

    QueueModel* m_model;
    QMenu* m_menu;
    QAction* m_moveUp;
    QAction* m_moveDown;
    QAction* m_moveTop;
    QAction* m_moveBottom;
    QAction* m_remove;
    QAction* m_properties;
    QAction* m_reset;
    QAction* m_clear;
    QAction* m_selectAll;
    QAction* m_copyUrl;
    QPointer<QueueEntryDialog> m_dialog;
};
