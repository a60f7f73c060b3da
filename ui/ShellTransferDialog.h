#pragma once
// "Shell Transfer": the files a later start handed over, and where they go (an ftp URL or
// a local folder). OK queues the uploads (ShellTransfer) and, with "Start Immediately",
// starts that session's queue; "Show Tollvane" brings the main window forward.

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ShellTransfer;
class OpenSession;

class ShellTransferDialog : public QDialog {
    Q_OBJECT
public:
    ShellTransferDialog(ShellTransfer& transfer, const QStringList& files, QWidget* mainWindow);

    QLabel* captionLabel() const { return m_caption; }
    QLineEdit* destinationEdit() const { return m_destination; }
    QCheckBox* startImmediatelyBox() const { return m_startImmediately; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* showButton() const { return m_show; }

    // "OK": false (and the dialog stays open) when the destination is not usable.
    bool transfer();

signals:
    // Uploads were queued into the session (the site list selects it).
    void queued(OpenSession* session);
    // Something to tell the user (files left out, a bad URL).
    void message(const QString& text);

private:
    void showMainWindow();

    ShellTransfer& m_transfer;
    QStringList m_files;
    QWidget* m_mainWindow;
    QLabel* m_caption;
    QLineEdit* m_destination;
    QCheckBox* m_startImmediately;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_show;
};
