#pragma once
// "Login Message": the greeting a server sent at login, shown as plain text when the user
// asked for it.

#include <QDialog>
#include <QString>

class QPlainTextEdit;

class LoginMessageWindow : public QDialog {
    Q_OBJECT
public:
    explicit LoginMessageWindow(QWidget* parent = nullptr);

    // Caption "<title>-Login Message"; centres, shows and brings the window forward.
    void showMessage(const QString& title, const QString& message);
    QString text() const;

private:
    QPlainTextEdit* m_text = nullptr;
};
