#include "app/gui/TollvaneApplication.h"

#include "app/gui/AutosaveWriter.h"
#include "app/gui/WindowPlacement.h"
#include "app/lib/SharedAutosave.h"
#include "session/QueueEntry.h"
#include "session/QueueFiles.h"
#include "session/ThrottledSaver.h"
#include "session/TransferQueue.h"
#include "sites/HistoryFile.h"
#include "sites/SettingsIo.h"
#include "ui/DisplayText.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/SessionList.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>

#include <cstdio>

namespace {

QString QueueSaveError(const std::string& dataFolder, const QString& reason)
{
    return QStringLiteral("The transfer queues could not be saved to %1: %2")
        .arg(QString::fromStdString(dataFolder + kAutosaveFileName), reason);
}

} // namespace

TollvaneApplication::TollvaneApplication(ISettingsStore& store, Options options)
    : m_store(store), m_options(std::move(options))
{
}

TollvaneApplication::~TollvaneApplication()
{
    // The frame goes first; then every worker ends before its bridge does; the writer's
    // thread ends before this object, which its reports are posted to.
    m_frame.reset();
    m_sessions.reset();
    m_autosaver.reset();
    m_autosaveWriter.reset();
    m_transferLog.Close();
}

std::optional<int> TollvaneApplication::startWith(const InstanceMessage& message)
{
    const AppStartOutcome outcome = StartWithoutWindows(message, m_store, m_options.startup, m_state);
    if (outcome.result == AppStartResult::HandedOver)
        return 0;
    if (outcome.result == AppStartResult::Fatal) {
        reportFatal(DisplayText(outcome.fatalMessage));
        return 1;
    }
    m_transferLog.Open(m_state.dataFolder); // without it lines still reach the windows

    // From here on the shared table is the program's settings; the start-up's copy is not
    // read again.
    m_settings.Replace(m_state.settings);
    m_sessions = std::make_unique<SessionList>(m_settings);
    m_sessions->setTransferLog({
        [this](const CLogLine& line) { m_transferLog.AddLine(line); },
        [this](const std::string& text) { m_transferLog.AppendText(text); },
    });
    FrameContext context;
    context.settings = &m_settings;
    context.sites = &m_state.sites;
    context.sessions = m_sessions.get();
    context.dataFolder = m_state.dataFolder;
    context.settingsStore = &m_store;
    m_frame = std::make_unique<MainFrame>(context);
    m_frame->setCloseHandler([this] { beginClose(); });
    restorePlacement();

    std::string autosaveText;
    const CQueueLoadResult autosave =
        LoadSharedAutosave(m_state.dataFolder, *m_sessions, m_state.sites, *m_settings.Current(), &autosaveText);
    for (const std::string& warning : autosave.warnings)
        std::fprintf(stderr, "tollvane: autosave.tvq: %s\n", warning.c_str());

    startAutosaving(std::move(autosaveText));
    listenForLaterStarts();
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { closeUnattended(); });
    m_frame->raise();
    m_frame->activateWindow();
    if (message.kind == InstanceMessage::Kind::TransferFiles)
        m_frame->showShellTransfer(message.items);
    else if (!message.items.isEmpty() && !message.items.front().isEmpty())
        m_frame->handleCommandLine(message.items.front(), false);
    return std::nullopt;
}

void TollvaneApplication::listenForLaterStarts()
{
    // The one place where command lines of later starts come in.
    m_state.instance->SetHandler([this](const QByteArray& commandLine) {
        if (m_frame && !m_closing)
            m_frame->handleCommandLine(QString::fromUtf8(commandLine), true);
    });
    m_state.instance->SetFilesHandler([this](const QStringList& files) {
        if (m_frame && !m_closing)
            m_frame->showShellTransfer(files);
    });
}

void TollvaneApplication::startAutosaving(std::string loadedText)
{
    m_autosaveWriter = std::make_unique<AutosaveWriter>(
        m_state.dataFolder, std::move(loadedText),
        [this](bool written, const std::string& error, std::chrono::milliseconds took) {
            QMetaObject::invokeMethod(this, [this, written, reason = DisplayText(error), took] {
                autosaveWritten(written, reason, took);
            }, Qt::QueuedConnection);
        });
    // The writer's thread walks the queues and writes. With "SaveQueue" off nothing is
    // kept: the close deletes the file.
    m_autosaver = std::make_unique<CThrottledSaver>([this] {
        if (m_settings.Current()->SaveQueue != 0)
            m_autosaveWriter->Submit(m_sessions->queueSections());
        return true;
    });
    const auto watch = [this](OpenSession* session) {
        connect(&session->bridge(), &QtSessionUi::queueChanged, this, [this] { m_autosaver->MarkChanged(); });
    };
    for (const auto& session : m_sessions->sessions())
        watch(session.get());
    connect(m_sessions.get(), &SessionList::sessionAdded, this, [this, watch](OpenSession* session) {
        watch(session);
        m_autosaver->MarkChanged();
    });
    // Emitted right before the session (and its queue) is destroyed.
    connect(m_sessions.get(), &SessionList::sessionRemoved, this, [this] {
        m_autosaveWriter->ForgetQueues();
        m_autosaver->MarkChanged();
    });
    // The frame's 500 ms tick; the close sequence stops it and writes the last state itself.
    connect(&m_frame->statusTimer(), &QTimer::timeout, this, [this] {
        if (!m_closing && std::chrono::steady_clock::now() >= m_autosaveNotBefore)
            m_autosaver->Tick();
    });
}

void TollvaneApplication::autosaveWritten(bool written, const QString& error, std::chrono::milliseconds took)
{
    m_autosaveNotBefore = std::chrono::steady_clock::now() + took * 10;
    if (written) {
        m_autosaveFailing = false;
        return;
    }
    // Tried again on the next ticks; said once, not every second.
    m_autosaver->MarkChanged();
    if (m_autosaveFailing)
        return;
    m_autosaveFailing = true;
    const QString text = QueueSaveError(m_state.dataFolder, error);
    std::fprintf(stderr, "tollvane: %s\n", text.toLocal8Bit().constData());
    if (m_options.askQuestions && m_frame && !m_closing)
        m_frame->showMessage(text + QStringLiteral("\n\nTollvane keeps trying while it runs."));
}

void TollvaneApplication::restorePlacement()
{
    const std::shared_ptr<const CSettings> current = m_settings.Current();
    const CSettings& s = *current;
    if (s.WPWidth != 0 && s.WPHeight != 0) {
        QList<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens.append(screen->availableGeometry());
        m_frame->setGeometry(ClampToScreens(QRect(s.WPLeft, s.WPTop, s.WPWidth, s.WPHeight), screens));
    }
    if (s.WPMaximized)
        m_frame->showMaximized();
    else
        m_frame->show();
}

void TollvaneApplication::recordPlacement()
{
    const QRect normal = m_frame->isMaximized() ? m_frame->normalGeometry() : m_frame->geometry();
    const bool maximized = m_frame->isMaximized();
    m_settings.Edit([&normal, maximized](CSettings& s) {
        if (normal.isValid()) {
            s.WPLeft = normal.left();
            s.WPTop = normal.top();
            s.WPWidth = normal.width();
            s.WPHeight = normal.height();
        }
        s.WPMaximized = maximized ? 1 : 0;
    });
}

void TollvaneApplication::beginClose()
{
    if (m_closing || !m_frame)
        return;
    m_closing = true;
    m_interactiveClose = m_options.askQuestions;
    m_frame->statusTimer().stop();
    std::vector<OpenSession*> transferring;
    for (const auto& session : m_sessions->sessions()) {
        if (session->session().IsTransferring())
            transferring.push_back(session.get());
    }
    if (!m_interactiveClose)
        transferring.clear();
    askNextAbortQuestion(std::move(transferring));
}

void TollvaneApplication::closeUnattended()
{
    m_options.askQuestions = false;
    if (m_closing) {
        // A question may be open: a signal does not wait for its answer.
        m_interactiveClose = false;
        finishClose();
        return;
    }
    beginClose();
}

void TollvaneApplication::askNextAbortQuestion(std::vector<OpenSession*> remaining)
{
    if (!m_closing)
        return;
    if (remaining.empty() || !m_interactiveClose) {
        finishClose();
        return;
    }
    OpenSession* next = remaining.front();
    remaining.erase(remaining.begin());
    const QString host = DisplayText(next->session().HostName());
    auto* box = new QMessageBox(QMessageBox::Question, host,
                                QStringLiteral("Are you sure to abort file transfer on site %1?").arg(host),
                                QMessageBox::Ok | QMessageBox::Cancel, m_frame.get());
    box->setObjectName(QStringLiteral("abortQuestion"));
    box->setAccessibleName(QStringLiteral("Abort transfer question"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, remaining] {
        if (box->clickedButton() == box->button(QMessageBox::Ok))
            askNextAbortQuestion(remaining);
        else if (m_closing && m_interactiveClose)
            cancelClose({});
    });
    box->open();
}

void TollvaneApplication::finishClose()
{
    if (!m_closing)
        return;
    // Every question has been answered: now the sessions stop, all of them. An entry the
    // stop interrupts was not stopped by the user: it is saved as queued, so the next start
    // continues it.
    std::vector<std::pair<CTransferQueue*, QueueEntryId>> running;
    for (const auto& session : m_sessions->sessions()) {
        CTransferQueue& queue = session->session().Queue();
        queue.ForEach([&](const CQueueEntry& entry) {
            if (entry.status == STATUS_TRANSFERRING)
                running.emplace_back(&queue, entry.id);
        });
    }
    m_sessions->stopAll();
    // Every worker has ended, so no run holds these entries any more: they are set aside
    // as queued with the progress the stopped run left in them.
    for (auto [queue, id] : running) {
        if (const std::optional<CQueueEntry> entry = queue->Find(id))
            queue->SetAside(*entry, STATUS_QUEUED);
    }
    QString error;
    if (!saveQueues(error) || !saveSettings(error)) {
        if (m_interactiveClose) {
            cancelClose(error);
            return;
        }
        std::fprintf(stderr, "tollvane: %s\n", error.toLocal8Bit().constData());
    }
    // Closed from the event loop: this may run inside the frame's own close event.
    QTimer::singleShot(0, this, [this] {
        m_closing = false;
        m_frame->closeNow();
        emit closed();
    });
}

void TollvaneApplication::cancelClose(const QString& message)
{
    m_closing = false;
    m_frame->statusTimer().start();
    if (!message.isEmpty())
        m_frame->showMessage(message + QStringLiteral("\n\nTollvane stays open; close it again to retry."));
    emit closeCancelled();
}

bool TollvaneApplication::saveQueues(QString& error)
{
    std::string reason;
    const bool saved = m_autosaveWriter->SaveNow([&](std::string& loadedText) {
        return SaveSharedAutosave(m_state.dataFolder, loadedText, m_sessions->queueSections(), *m_settings.Current(),
                                  &reason);
    });
    if (saved)
        return true;
    error = QueueSaveError(m_state.dataFolder, DisplayText(reason));
    return false;
}

bool TollvaneApplication::saveSettings(QString& error)
{
    recordPlacement();
    std::string reported;
    const bool saved = WriteSettings(m_store, *m_settings.Current(), [&reported](const std::string& text) {
        reported += text;
    });
    if (saved && m_store.Flush())
        return true;
    error = QStringLiteral("The settings could not be saved to %1.\n%2")
                .arg(QString::fromStdString(m_store.ProfilePath()), DisplayText(reported));
    return false;
}

void TollvaneApplication::reportFatal(const QString& message)
{
    const QString text = message + QLatin1Char('\n') + QString::fromUtf8(kFatalErrorText);
    std::fprintf(stderr, "tollvane: %s\n", text.toLocal8Bit().constData());
    if (m_options.askQuestions) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tollvane"), text, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec(); // nothing else runs yet: the program ends after it
    }
}
