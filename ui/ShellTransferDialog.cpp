#include "ui/ShellTransferDialog.h"

#include "ui/DisplayText.h"
#include "ui/OpenSession.h"
#include "ui/ShellTransfer.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ShellTransferDialog::ShellTransferDialog(ShellTransfer& transfer, const QStringList& files, QWidget* mainWindow)
    : QDialog(mainWindow), m_transfer(transfer), m_files(files), m_mainWindow(mainWindow)
{
    setWindowTitle(QStringLiteral("Shell Transfer"));
    setObjectName(QStringLiteral("shellTransfer"));
    setAccessibleName(windowTitle());
    m_caption = new QLabel(QStringLiteral("Transfer %1 files to:").arg(files.size()), this);
    m_caption->setTextFormat(Qt::PlainText);
    m_destination = new QLineEdit(this);
    m_destination->setAccessibleName(QStringLiteral("Destination"));
    m_caption->setBuddy(m_destination);
    auto* hint = new QLabel(QStringLiteral("(You can supply a ftp URL or a local directory)"), this);
    hint->setTextFormat(Qt::PlainText);
    m_startImmediately = new QCheckBox(QStringLiteral("Start &Immediately"), this);
    m_startImmediately->setAccessibleName(QStringLiteral("Start Immediately"));
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_show = new QPushButton(QStringLiteral("&Show Tollvane"), this);
    m_show->setAccessibleName(QStringLiteral("Show Tollvane"));
    connect(m_ok, &QPushButton::clicked, this, &ShellTransferDialog::transfer);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_show, &QPushButton::clicked, this, &ShellTransferDialog::showMainWindow);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_show);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_caption);
    layout->addWidget(m_destination);
    layout->addWidget(hint);
    layout->addWidget(m_startImmediately);
    layout->addLayout(buttons);
}

bool ShellTransferDialog::transfer()
{
    const ShellTransferResult result = m_transfer.run(EngineText(m_destination->text().trimmed()), m_files);
    if (result.kind == ShellTransferResult::Kind::InvalidUrl) {
        emit message(QStringLiteral("Invalid URL!"));
        m_destination->setFocus();
        return false;
    }
    if (!result.problems.empty()) {
        QString text;
        for (const std::string& problem : result.problems)
            text += DisplayText(problem) + QLatin1Char('\n');
        emit message(text.trimmed());
    }
    if (result.session) {
        emit queued(result.session);
        if (m_startImmediately->isChecked() && result.session->session().CanStartQueue())
            result.session->session().StartQueue();
    }
    accept();
    if (m_mainWindow) {
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
    return true;
}

void ShellTransferDialog::showMainWindow()
{
    if (!m_mainWindow)
        return;
    if (m_mainWindow->isMinimized())
        m_mainWindow->showNormal();
    else
        m_mainWindow->show();
    raise();
    activateWindow();
}
