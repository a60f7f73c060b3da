#pragma once
// The quick-connect bar: "URL:", "User:", "Password:", "Port:", "Anonymous", "Passive" and
// "Connect". Typing a user or password clears "Anonymous".

#include "ui/QuickConnect.h"

#include <QToolBar>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class QuickConnectBar : public QToolBar {
    Q_OBJECT
public:
    explicit QuickConnectBar(QWidget* parent = nullptr);

    // The boxes as the last connection left them, and the URL history.
    void load(const CSettings& settings, const std::vector<std::string>& urlHistory);
    void setUrlHistory(const std::vector<std::string>& urlHistory);
    QuickConnectFields fields() const;

    QComboBox* urlBox() const { return m_url; }
    QLineEdit* userBox() const { return m_user; }
    QLineEdit* passwordBox() const { return m_password; }
    QLineEdit* portBox() const { return m_port; }
    QCheckBox* anonymousBox() const { return m_anonymous; }
    QCheckBox* passiveBox() const { return m_passive; }
    QPushButton* connectButton() const { return m_connect; }

signals:
    void connectRequested();

private:
    QComboBox* m_url = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_port = nullptr;
    QCheckBox* m_anonymous = nullptr;
    QCheckBox* m_passive = nullptr;
    QPushButton* m_connect = nullptr;
};
