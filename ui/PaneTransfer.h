#pragma once
// The transfer operation of the file panes: a selection in one pane dropped on (or sent
// to) another pane becomes queue entries of the right session: downloads (remote to
// local), uploads (local to remote), a site-to-site copy (remote to remote), or a copy
// between two local folders on a worker thread with its progress shown. With "pTransfer" on, transfers that touch a
// server are confirmed first; "Add to queue only" queues without starting the queue.

#include "sites/SharedSettings.h"

#include <QObject>
#include <QPointer>

#include <QStringList>

#include <functional>
#include <string>

class FilePane;
class OverwriteDialog;
class PaneLocalCopy;
class TransferConfirmDialog;
class QWidget;

class PaneTransfer : public QObject {
    Q_OBJECT
public:
    PaneTransfer(CSharedSettings& settings, QWidget* dialogParent, QObject* parent = nullptr);

    // The selection of `source` to `target`; dropRow: the target's folder row the drop
    // landed on (-1: the target's own folder). modifier: Alt held (a local copy moves).
    void transferSelection(FilePane* source, FilePane* target, int dropRow, bool modifier,
                           bool noConfirm = false);

    // Files dropped from the desktop (absolute local paths) upload into the target
    // remote pane's folder, or the folder row they were dropped on.
    void uploadFiles(const QStringList& localPaths, FilePane* target, int dropRow);

    // The private folder View and Open download into (mode 0700, created when missing).
    // Empty, with the reason in *error, when it cannot be made safe.
    static std::string PrivateTempFolder(std::string* error);

    // Asks "Confirm Transfer" when needed, then calls `go` with the queue-only choice.
    void confirmThen(bool ask, std::function<void(bool queueOnly)> go);

signals:
    // The confirmation was opened (tests answer it).
    void confirmationOpened(TransferConfirmDialog* dialog);
    // A copy between two local folders started, and a question it asked was opened.
    void localCopyStarted(PaneLocalCopy* copy);
    void localCopyQuestionOpened(OverwriteDialog* dialog);
    // A transfer could not be queued; the text is for the user.
    void failed(const QString& text);

private:
    void carryOut(FilePane* source, FilePane* target, const std::string& folder, bool modifier,
                  bool queueOnly);
    void copyLocal(FilePane* source, FilePane* target, const std::string& folder, bool move);

    CSharedSettings& m_settings;
    QPointer<QWidget> m_dialogParent;
};
