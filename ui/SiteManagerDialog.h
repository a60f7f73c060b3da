#pragma once
// "Site Manager": a view over CSiteManagerModel, which holds every rule (validation, new
// mode, the buttons, writing site.dat). The dialog copies its controls into the model's
// fields before each action and shows the model's state after it. Messages are shown
// without blocking; the one question ("Do you want to add this site?") is asked first and
// its answer handed to the model when the close is tried again.

#include "sites/SiteManagerModel.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class SiteManagerDialog : public QDialog, private SiteManagerPrompts {
    Q_OBJECT
public:
    SiteManagerDialog(SiteList& sites, const std::string& siteFilePath, const std::string& anonymousPass,
                      QWidget* parent = nullptr);
    ~SiteManagerDialog() override;

    CSiteManagerModel& model() { return *m_model; }
    // The last message shown (for tests and the accessibility tree).
    const QString& lastMessage() const { return m_lastMessage; }

    // The buttons' actions, for the keyboard and for tests.
    void newOrAdd();
    void restore();
    void deleteSite();
    void moveUp();
    void moveDown();
    void sortSites();
    void connectSite();
    void closeDialog();
    void selectRow(int row);

public slots:
    void reject() override; // Escape and the window's close button: as "Close"

signals:
    // Connect: the index in the site list of the site to open; the dialog then closes.
    void connectRequested(int siteIndex);

private:
    // SiteManagerPrompts
    void ShowMessage(const std::string& text) override;
    Answer AskYesNoCancel(const std::string& text) override;
    void FocusHostAddress() override;

    void readFields();
    void showModel();
    void askToAddThenClose();
    void browseLocalDirectory();

    std::unique_ptr<CSiteManagerModel> m_model;
    std::optional<Answer> m_pendingAnswer;
    QString m_lastMessage;
    bool m_showing = false; // controls are being filled from the model

    QListWidget* m_list = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QButtonGroup* m_loginType = nullptr;
    QComboBox* m_hostType = nullptr;
    QLineEdit* m_localDir = nullptr;
    QLineEdit* m_remoteDir = nullptr;
    QCheckBox* m_passive = nullptr;
    QComboBox* m_encryption = nullptr;
    QPushButton* m_newButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_connectButton = nullptr;
};
