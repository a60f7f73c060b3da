#include "ui/OverwriteDialog.h"

#include "ui/DisplayText.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QString OverwriteActionName(int action)
{
    switch (action) {
    case OverwriteDialog::Skip: return QStringLiteral("Skip");
    case OverwriteDialog::Resume: return QStringLiteral("Resume");
    case OverwriteDialog::Overwrite: return QStringLiteral("Overwrite");
    default: return {};
    }
}

namespace {

QLineEdit* ReadOnlyPath(const std::string& path, const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(DisplayText(path), parent);
    edit->setReadOnly(true);
    edit->setAccessibleName(name);
    edit->setCursorPosition(0);
    return edit;
}

} // namespace

OverwriteDialog::OverwriteDialog(const COverwriteQuestion& question, int countDownSeconds, QWidget* parent)
    : QDialog(parent), m_question(question)
{
    setObjectName(QStringLiteral("overwriteDialog"));
    setAccessibleName(QStringLiteral("Overwrite Confirmation"));
    auto* prompt = new QLabel(
        QStringLiteral("Destination file already exists, please select the right action to perform:"), this);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Source File:"), ReadOnlyPath(question.sourceFile, QStringLiteral("Source File"), this));
    form->addRow(QStringLiteral("Target File:"), ReadOnlyPath(question.targetFile, QStringLiteral("Target File"), this));

    m_applyToAll = new QCheckBox(QStringLiteral("Apply To All"), this);
    m_applyToAll->setAccessibleName(QStringLiteral("Apply To All"));

    const QString labels[4] = {
        QStringLiteral("&Skip"), QStringLiteral("&Resume"), QStringLiteral("&Overwrite"),
        QStringLiteral("&Auto (%1)").arg(OverwriteActionName(question.autoAction)),
    };
    auto* row = new QHBoxLayout;
    for (int action = Skip; action <= Auto; ++action) {
        m_buttons[action] = new QPushButton(labels[action], this);
        m_buttons[action]->setAccessibleName(QString(labels[action]).remove(QLatin1Char('&')));
        m_buttons[action]->setAutoDefault(false);
        connect(m_buttons[action], &QPushButton::clicked, this, [this, action] { choose(action); });
        row->addWidget(m_buttons[action]);
    }
    m_buttons[Resume]->setEnabled(question.canResume);
    const int suggested = question.suggestedAction == Overwrite ? Overwrite
                          : question.suggestedAction == Resume && question.canResume ? Resume
                                                                                      : Skip;
    m_buttons[suggested]->setDefault(true);
    setFocusProxy(m_buttons[suggested]);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(form);
    layout->addWidget(m_applyToAll);
    layout->addLayout(row);
    resize(560, sizeHint().height());

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &OverwriteDialog::tick);
    m_secondsLeft = countDownSeconds > 0 ? countDownSeconds : 0;
    if (m_secondsLeft > 0)
        m_timer.start();
    updateCaption();
}

void OverwriteDialog::choose(int action)
{
    m_timer.stop();
    m_answer = {action, m_applyToAll->isChecked()};
    done(QDialog::Accepted);
}

void OverwriteDialog::reject()
{
    m_timer.stop();
    m_answer = {Skip, m_applyToAll->isChecked()};
    QDialog::reject();
}

void OverwriteDialog::tick()
{
    if (--m_secondsLeft > 0) {
        updateCaption();
        return;
    }
    m_timer.stop();
    m_answer = {m_question.suggestedAction, m_applyToAll->isChecked()};
    done(QDialog::Accepted);
}

void OverwriteDialog::updateCaption()
{
    setWindowTitle(m_secondsLeft > 0 ? QStringLiteral("Overwrite Confirmation(%1)").arg(m_secondsLeft)
                                     : QStringLiteral("Overwrite Confirmation"));
}
