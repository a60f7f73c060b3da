#include "ui/MessageWindow.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

MessageWindow::MessageWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("messageWindow"));
    setAccessibleName(QStringLiteral("Tollvane Message"));
    setWindowTitle(QStringLiteral("Tollvane Message"));
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setAccessibleName(QStringLiteral("Message text"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(420, 220);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &MessageWindow::tick);
    connect(this, &QDialog::finished, &m_timer, &QTimer::stop);
}

void MessageWindow::setMessage(const QString& title, const QString& text, int countDownSeconds)
{
    m_title = title;
    QString plain = text;
    plain.remove(QLatin1Char('\r'));
    m_text->setPlainText(plain);
    m_timer.stop();
    m_secondsLeft = countDownSeconds > 0 ? countDownSeconds : kNoCountDown;
    if (m_secondsLeft > 0)
        m_timer.start();
    updateCaption();
}

void MessageWindow::showMessage(const QString& title, const QString& text, int countDownSeconds)
{
    setMessage(title, text, countDownSeconds);
    if (parentWidget())
        move(parentWidget()->window()->geometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}

QString MessageWindow::text() const
{
    return m_text->toPlainText();
}

void MessageWindow::tick()
{
    if (--m_secondsLeft <= 0) {
        m_secondsLeft = kNoCountDown;
        m_timer.stop();
        updateCaption();
        done(QDialog::Accepted);
        return;
    }
    updateCaption();
}

void MessageWindow::updateCaption()
{
    setWindowTitle(m_secondsLeft > 0 ? QStringLiteral("%1(%2)").arg(m_title).arg(m_secondsLeft) : m_title);
}
