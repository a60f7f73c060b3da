#include "ui/QtSessionUi.h"

#include "session/FtpSession.h"
#include "ui/DisplayText.h"
#include "ui/LoginMessageWindow.h"
#include "ui/MessageWindow.h"
#include "ui/CertificateDialog.h"
#include "ui/OverwriteDialog.h"
#include "sites/SharedSettings.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QMetaObject>

#include <atomic>
#include <future>
#include <memory>

namespace {

QMessageBox* MakeMessageBox(QWidget* parent, const std::string& caption, const std::string& text,
                            int style)
{
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(DisplayText(caption));
    box->setTextFormat(Qt::PlainText);
    box->setText(DisplayText(text));
    box->setAccessibleName(QStringLiteral("Session message"));
    switch (style & ~MB_BUTTONS_MASK) {
    case MB_ICONSTOP: box->setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box->setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box->setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box->setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (style & MB_BUTTONS_MASK) {
    case MB_OKCANCEL:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        break;
    default:
        box->setStandardButtons(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Ok);
        break;
    }
    return box;
}

int ButtonId(QMessageBox::StandardButton button, int cautious)
{
    switch (button) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return cautious;
    }
}

} // namespace

QtSessionUi::QtSessionUi(QObject* parent) : QObject(parent) {}

QtSessionUi::~QtSessionUi()
{
    // A worker still waiting would wait for ever: answer it before the bridge goes.
    closeQuestions();
    delete m_messageWindow.data();
    delete m_loginWindow.data();
}

template <class Function>
void QtSessionUi::post(Function function)
{
    // The bridge is the context: a call still queued when it is destroyed is dropped.
    QMetaObject::invokeMethod(this, std::move(function), Qt::QueuedConnection);
}

template <class Answer, class MakeDialog>
Answer QtSessionUi::ask(Answer cautious, MakeDialog makeDialog)
{
    auto promise = std::make_shared<std::promise<Answer>>();
    auto given = std::make_shared<std::atomic<bool>>(false);
    std::function<void(Answer)> answer = [promise, given](Answer value) {
        if (!given->exchange(true))
            promise->set_value(value);
    };
    std::future<Answer> future = promise->get_future();
    int id = 0;
    {
        std::lock_guard lock(m_questionMutex);
        if (m_questionsClosed)
            return cautious;
        id = ++m_nextQuestion;
        m_questions[id] = [answer, cautious] { answer(cautious); };
    }
    post([this, id, answer, makeDialog] {
        {
            std::lock_guard lock(m_questionMutex);
            if (!m_questions.count(id))
                return; // answered cautiously before the dialog could open
        }
        QDialog* dialog = makeDialog(dialogParent(), answer);
        connect(dialog, &QDialog::finished, this, [this, id] { m_questionDialogs.erase(id); });
        connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
        m_questionDialogs[id] = dialog;
        dialog->open();
        emit questionOpened(dialog);
    });
    const Answer result = future.get();
    std::lock_guard lock(m_questionMutex);
    m_questions.erase(id);
    return result;
}

void QtSessionUi::closeQuestions()
{
    std::map<int, std::function<void()>> open;
    {
        std::lock_guard lock(m_questionMutex);
        m_questionsClosed = true;
        open.swap(m_questions);
    }
    for (auto& [id, answerCautiously] : open)
        answerCautiously();
    const auto dialogs = m_questionDialogs;
    m_questionDialogs.clear();
    for (const auto& [id, dialog] : dialogs) {
        if (dialog) {
            dialog->hide();
            dialog->deleteLater();
        }
    }
}

void QtSessionUi::reopenQuestions()
{
    std::lock_guard lock(m_questionMutex);
    m_questionsClosed = false;
}

int QtSessionUi::openQuestionCount() const
{
    std::lock_guard lock(m_questionMutex);
    return static_cast<int>(m_questions.size());
}

void QtSessionUi::AddLogLine(const CLogLine& line)
{
    if (m_transferLog.logLine)
        m_transferLog.logLine(line);
    bool schedule = false;
    {
        std::lock_guard lock(m_logMutex);
        m_pendingLines.push_back(line);
        schedule = !m_drainScheduled;
        m_drainScheduled = true;
    }
    if (schedule)
        post([this] { drainLogLines(); });
}

void QtSessionUi::drainLogLines()
{
    std::vector<CLogLine> lines;
    {
        std::lock_guard lock(m_logMutex);
        lines.swap(m_pendingLines);
        m_drainScheduled = false;
    }
    if (!lines.empty())
        emit logLinesArrived(lines);
}

void QtSessionUi::DirectoryChanged(const std::string& directory)
{
    post([this, directory] { emit directoryChanged(directory); });
}

void QtSessionUi::ListingStarted()
{
    post([this] { emit listingStarted(); });
}

void QtSessionUi::ListingComplete(const CListing& listing)
{
    post([this, listing] {
        drainLogLines(); // the lines that led up to the listing come first
        emit listingComplete(listing);
    });
}

void QtSessionUi::QueueEntryStarted(QueueEntryId id)
{
    post([this, id] { emit queueEntryStarted(id); });
}

void QtSessionUi::QueueChanged(const CFtpSession&, const CQueueChange& change)
{
    // Queued even on the UI thread: the view's own command (Remove, Move) is still on the
    // stack, and the view reads the queue again once it has returned.
    post([this, change] { emit queueChanged(change); });
}

void QtSessionUi::FileSkipped(const std::string& fileName, const std::string& reason)
{
    post([this, fileName, reason] { emit fileSkipped(fileName, reason); });
}

void QtSessionUi::QueueRunFinished()
{
    post([this] { emit queueRunFinished(); });
}

void QtSessionUi::Refresh()
{
    post([this] { emit refreshRequested(); });
}

void QtSessionUi::OpenDownloadedFile(const std::string& localPath, int how)
{
    post([this, localPath, how] { emit openFileRequested(localPath, how); });
}

void QtSessionUi::AddTransferLogLine(const std::string& text)
{
    if (m_transferLog.text)
        m_transferLog.text(text + "\n");
}

void QtSessionUi::CommandFinished(int code, int result)
{
    post([this, code, result] { emit commandFinished(code, result); });
}

void QtSessionUi::ShowLoginMessage(const std::string& host, const std::string& message)
{
    post([this, host, message] {
        if (!m_loginWindow)
            m_loginWindow = new LoginMessageWindow(dialogParent());
        m_loginWindow->showMessage(DisplayText(host), DisplayText(message));
    });
}

void QtSessionUi::showModelessMessage(const QString& caption, const QString& text)
{
    if (!m_messageWindow)
        m_messageWindow = new MessageWindow(dialogParent());
    m_messageWindow->showMessage(caption, text, MessageWindow::kNoCountDown);
}

void QtSessionUi::ShowMessageWindow(const std::string& caption, const std::string& text, bool modal)
{
    if (!modal) {
        post([this, caption, text] { showModelessMessage(DisplayText(caption), DisplayText(text)); });
        return;
    }
    ask<bool>(true, [caption, text](QWidget* parent, std::function<void(bool)> answer) -> QDialog* {
        auto* window = new MessageWindow(parent);
        window->setMessage(DisplayText(caption), DisplayText(text), MessageWindow::kNoCountDown);
        QObject::connect(window, &QDialog::finished, window, [answer] { answer(true); });
        return window;
    });
}

int QtSessionUi::MessageBox(const std::string& caption, const std::string& text, int style)
{
    const int cautious = NullSessionUi().MessageBox(caption, text, style);
    return ask<int>(cautious, [caption, text, style, cautious](QWidget* parent,
                                                                std::function<void(int)> answer) -> QDialog* {
        QMessageBox* box = MakeMessageBox(parent, caption, text, style);
        QObject::connect(box, &QDialog::finished, box, [box, answer, cautious] {
            QAbstractButton* clicked = box->clickedButton();
            answer(clicked ? ButtonId(box->standardButton(clicked), cautious) : cautious);
        });
        return box;
    });
}

int QtSessionUi::AskCertificateTrust(const CCertificateQuestion& question)
{
    // Without a user the certificate is refused.
    return ask<int>(CERT_REFUSE, [question](QWidget* parent, std::function<void(int)> answer) -> QDialog* {
        auto* dialog = new CertificateDialog(question, parent);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer] { answer(dialog->answer()); });
        return dialog;
    });
}

COverwriteAnswer QtSessionUi::AskOverwrite(const COverwriteQuestion& question)
{
    // Without a user nothing is overwritten: Skip loses nothing.
    const COverwriteAnswer cautious{0, false};
    // The table current when the question is asked; an edit made meanwhile applies to the
    // next question.
    const std::shared_ptr<const CSettings> settings = m_settings ? m_settings->Current() : nullptr;
    return ask<COverwriteAnswer>(cautious, [question, settings](QWidget* parent,
                                                                std::function<void(COverwriteAnswer)> answer) -> QDialog* {
        const int countDown = settings && settings->AutoClosePrompt ? settings->PromptSeconds : 0;
        auto* dialog = new OverwriteDialog(question, countDown, parent);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer] { answer(dialog->answer()); });
        return dialog;
    });
}
