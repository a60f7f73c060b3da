#include "ui/LoginMessageWindow.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

LoginMessageWindow::LoginMessageWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("loginMessageWindow"));
    setAccessibleName(QStringLiteral("Login Message"));
    setWindowTitle(QStringLiteral("Login Message"));
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setAccessibleName(QStringLiteral("Login message text"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Ok"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("Ok"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(480, 300);
}

void LoginMessageWindow::showMessage(const QString& title, const QString& message)
{
    QString plain = message;
    plain.remove(QLatin1Char('\r'));
    m_text->setPlainText(plain);
    setWindowTitle(title + QStringLiteral("-Login Message"));
    if (parentWidget())
        move(parentWidget()->window()->geometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}

QString LoginMessageWindow::text() const
{
    return m_text->toPlainText();
}
