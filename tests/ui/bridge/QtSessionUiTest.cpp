// The worker-to-window bridge, driven from a real second thread as a session's worker
// drives it: informing calls arrive in order, questions are answered from dialogs opened
// without a nested event loop, and stopping answers open questions so no worker hangs.

#include "session/FtpSession.h"
#include "sites/SharedSettings.h"
#include "sites/SiteSetting.h"
#include "ui/LogView.h"
#include "ui/OpenSession.h"
#include "ui/CertificateDialog.h"
#include "ui/OverwriteDialog.h"
#include "ui/QtSessionUi.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kWait = 10000; // ms: generous, the offscreen platform on a busy machine

// Runs `work` on its own thread, like a session's worker; joined on destruction.
class Worker {
public:
    template <class Work>
    explicit Worker(Work work) : m_thread(std::move(work)) {}
    ~Worker() { join(); }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};

template <class T>
bool Ready(const std::future<T>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

class QtSessionUiTest : public QObject {
    Q_OBJECT
private slots:
    void logLinesKeepTheirOrderAcrossBatches();
    void aQuestionIsAnsweredFromItsDialog();
    void theOverwriteQuestionReturnsTheChosenActionAndApplyToAll();
    void theCertificateQuestionShowsTheCertificateAndReturnsTheTrustChosen();
    void stoppingAnswersAnOpenQuestionCautiously();
    void aQuestionAskedAfterTheStopIsAnsweredAtOnce();
    void aClosedWindowIsNotTouchedByCallsInFlight();
    void aDestroyedBridgeDropsItsQueuedCalls();
    void aListingArrivesWithTheFolderItNames();
    void aQueueChangeMadeOnTheInterfaceThreadDoesNotWaitForIt();
};

void QtSessionUiTest::logLinesKeepTheirOrderAcrossBatches()
{
    QtSessionUi bridge;
    std::mutex fileMutex;
    std::vector<std::string> transferLog;
    bridge.setTransferLog({[&](const CLogLine& line) {
                               std::lock_guard lock(fileMutex);
                               transferLog.push_back(line.text);
                           },
                           {}});
    std::vector<std::string> shown;
    int batches = 0;
    connect(&bridge, &QtSessionUi::logLinesArrived, this, [&](const std::vector<CLogLine>& lines) {
        ++batches;
        for (const CLogLine& line : lines)
            shown.push_back(line.text);
    });
    constexpr int kLines = 5000;
    Worker worker([&] {
        for (int i = 0; i < kLines; ++i)
            bridge.AddLogLine({std::to_string(i), i % 5, 1, 1});
    });
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(shown.size()), kLines, kWait);
    worker.join();
    for (int i = 0; i < kLines; ++i)
        QCOMPARE(shown[i], std::to_string(i));
    std::lock_guard lock(fileMutex);
    QCOMPARE(static_cast<int>(transferLog.size()), kLines);
    QCOMPARE(transferLog.back(), std::to_string(kLines - 1));
    // Batched: far fewer hand-overs than lines.
    QVERIFY2(batches < kLines, qPrintable(QString::number(batches)));
}

void QtSessionUiTest::aQuestionIsAnsweredFromItsDialog()
{
    QtSessionUi bridge;
    QPointer<QDialog> opened;
    connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { opened = dialog; });
    std::promise<int> result;
    auto answer = result.get_future();
    Worker worker([&] {
        result.set_value(bridge.MessageBox("<b>host</b>", "Delete <i>this</i>?", MB_YESNO | MB_ICONQUESTION));
    });
    QTRY_VERIFY_WITH_TIMEOUT(opened, kWait);
    auto* box = qobject_cast<QMessageBox*>(opened.data());
    QVERIFY(box);
    // Server and user text stays plain text.
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->text(), QStringLiteral("Delete <i>this</i>?"));
    QCOMPARE(box->windowTitle(), QStringLiteral("<b>host</b>"));
    QCOMPARE(bridge.openQuestionCount(), 1);
    QVERIFY(!Ready(answer));
    box->button(QMessageBox::Yes)->click();
    QTRY_VERIFY_WITH_TIMEOUT(Ready(answer), kWait);
    QCOMPARE(answer.get(), static_cast<int>(IDYES));
    worker.join();
    QCOMPARE(bridge.openQuestionCount(), 0);
}

void QtSessionUiTest::theOverwriteQuestionReturnsTheChosenActionAndApplyToAll()
{
    QtSessionUi bridge;
    QPointer<QDialog> opened;
    connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { opened = dialog; });
    std::promise<COverwriteAnswer> result;
    auto answer = result.get_future();
    COverwriteQuestion question{"/remote/a.bin", "/local/a.bin", 1, 1, true};
    Worker worker([&] { result.set_value(bridge.AskOverwrite(question)); });
    QTRY_VERIFY_WITH_TIMEOUT(opened, kWait);
    auto* dialog = qobject_cast<OverwriteDialog*>(opened.data());
    QVERIFY(dialog);
    QCOMPARE(dialog->button(OverwriteDialog::Auto)->text(), QStringLiteral("&Auto (Resume)"));
    QVERIFY(dialog->button(OverwriteDialog::Resume)->isEnabled());
    dialog->findChild<QCheckBox*>()->setChecked(true);
    dialog->button(OverwriteDialog::Overwrite)->click();
    QTRY_VERIFY_WITH_TIMEOUT(Ready(answer), kWait);
    const COverwriteAnswer chosen = answer.get();
    QCOMPARE(chosen.action, 2);
    QVERIFY(chosen.applyToAll);
}

void QtSessionUiTest::theCertificateQuestionShowsTheCertificateAndReturnsTheTrustChosen()
{
    CCertificateQuestion question;
    question.host = "ftp.example.org";
    question.port = 21;
    question.fingerprint = "SHA256:AB:CD";
    question.subject = "CN=<b>bold</b>";  // server text: shown as it is, never as markup
    question.issuer = "CN=issuer";
    question.notBefore = "Jan  1 00:00:00 2026 GMT";
    question.notAfter = "Jan  1 00:00:00 2027 GMT";
    question.problem = "self-signed certificate";
    struct Case {
        const char* press;  // accessible name of the button; empty: the window is closed
        bool changed;       // the certificate replaced one trusted before
        int trust;
    };
    const Case cases[] = {
        {"Trust once", false, CERT_TRUST_ONCE},
        {"Always trust", false, CERT_TRUST_ALWAYS},
        {"Refuse", false, CERT_REFUSE},
        {"", false, CERT_REFUSE},
        {"Always trust", true, CERT_TRUST_ALWAYS},
    };
    for (const Case& c : cases) {
        QtSessionUi bridge;
        QPointer<QDialog> opened;
        connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { opened = dialog; });
        std::promise<int> result;
        auto answer = result.get_future();
        CCertificateQuestion asked = question;
        if (c.changed)
            asked.replaces = "SHA256:EF:01";
        Worker worker([&] { result.set_value(bridge.AskCertificateTrust(asked)); });
        QTRY_VERIFY_WITH_TIMEOUT(opened, kWait);
        auto* dialog = qobject_cast<CertificateDialog*>(opened.data());
        QVERIFY(dialog);
        QVERIFY(dialog->refuseButton()->isDefault());
        QStringList shown;
        for (QLineEdit* field : dialog->findChildren<QLineEdit*>())
            shown << field->text();
        QVERIFY(shown.contains(QStringLiteral("SHA256:AB:CD")));
        QVERIFY(shown.contains(QStringLiteral("CN=<b>bold</b>")));
        for (QLabel* label : dialog->findChildren<QLabel*>())
            QVERIFY(label->textFormat() == Qt::PlainText || label->text().endsWith(QLatin1Char(':')));
        bool warned = false;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            warned = warned || label->text().contains(QStringLiteral("HAS CHANGED"));
        QCOMPARE(warned, c.changed);
        QVERIFY(!Ready(answer));
        if (*c.press) {
            QPushButton* button = nullptr;
            for (QPushButton* candidate : dialog->findChildren<QPushButton*>())
                if (candidate->accessibleName() == QLatin1String(c.press))
                    button = candidate;
            QVERIFY(button);
            button->click();
        } else {
            dialog->reject();
        }
        QTRY_VERIFY_WITH_TIMEOUT(Ready(answer), kWait);
        QCOMPARE(answer.get(), c.trust);
        worker.join();
    }
}

void QtSessionUiTest::stoppingAnswersAnOpenQuestionCautiously()
{
    QtSessionUi bridge;
    QPointer<QDialog> opened;
    connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { opened = dialog; });
    std::promise<int> boxResult;
    std::promise<COverwriteAnswer> overwriteResult;
    auto boxAnswer = boxResult.get_future();
    auto overwriteAnswer = overwriteResult.get_future();
    Worker first([&] { boxResult.set_value(bridge.MessageBox("h", "Reconnect?", MB_OKCANCEL)); });
    Worker second([&] { overwriteResult.set_value(bridge.AskOverwrite({"s", "t", 2, 2, false})); });
    QTRY_COMPARE_WITH_TIMEOUT(bridge.openQuestionCount(), 2, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(opened, kWait);
    bridge.closeQuestions();
    // Both workers are free at once, with the answers that take no action.
    QVERIFY(boxAnswer.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready);
    QVERIFY(overwriteAnswer.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready);
    QCOMPARE(boxAnswer.get(), static_cast<int>(IDCANCEL));
    QCOMPARE(overwriteAnswer.get().action, 0);
    first.join();
    second.join();
    QCOMPARE(bridge.openQuestionCount(), 0);
    // The dialogs go away with their questions.
    QTRY_VERIFY_WITH_TIMEOUT(!opened || !opened->isVisible(), kWait);
}

void QtSessionUiTest::aQuestionAskedAfterTheStopIsAnsweredAtOnce()
{
    QtSessionUi bridge;
    int dialogs = 0;
    connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog*) { ++dialogs; });
    bridge.closeQuestions();
    std::promise<int> result;
    auto answer = result.get_future();
    Worker worker([&] { result.set_value(bridge.MessageBox("h", "Go on?", MB_YESNO)); });
    // No event loop is needed for the answer.
    QVERIFY(answer.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready);
    QCOMPARE(answer.get(), static_cast<int>(IDNO));
    worker.join();
    QCoreApplication::processEvents();
    QCOMPARE(dialogs, 0);

    // A new start of the session lets questions through again.
    bridge.reopenQuestions();
    QPointer<QDialog> opened;
    connect(&bridge, &QtSessionUi::questionOpened, this, [&](QDialog* dialog) { opened = dialog; });
    std::promise<int> again;
    auto againAnswer = again.get_future();
    Worker asking([&] { again.set_value(bridge.MessageBox("h", "Go on?", MB_OK)); });
    QTRY_VERIFY_WITH_TIMEOUT(opened, kWait);
    opened->reject(); // Escape: the box's own escape button
    QTRY_VERIFY_WITH_TIMEOUT(Ready(againAnswer), kWait);
    QCOMPARE(againAnswer.get(), static_cast<int>(IDOK));
}

void QtSessionUiTest::aClosedWindowIsNotTouchedByCallsInFlight()
{
    CSharedSettings settings;
    const CFtpSession session(settings, CSiteSetting{});
    QtSessionUi bridge;
    auto* log = new LogView;
    QPointer<LogView> watched = log;
    connect(&bridge, &QtSessionUi::logLinesArrived, log, &LogView::addLines);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    Worker worker([&] {
        while (!stop) {
            bridge.AddLogLine({"line", LOG_REPLY, 1, 1});
            bridge.DirectoryChanged("/pub");
            bridge.QueueChanged(session, {CQueueChange::Kind::Changed, {1}});
            ++sent;
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(log->lineCount() > 10, kWait);
    delete log; // the window closes while the worker goes on
    const int before = sent;
    QTRY_VERIFY_WITH_TIMEOUT(sent > before + 1000, kWait);
    QTest::qWait(50);
    stop = true;
    worker.join();
    QCoreApplication::processEvents();
    QVERIFY(!watched);
}

void QtSessionUiTest::aDestroyedBridgeDropsItsQueuedCalls()
{
    auto bridge = std::make_unique<QtSessionUi>();
    int received = 0;
    connect(bridge.get(), &QtSessionUi::logLinesArrived, this, [&](const std::vector<CLogLine>&) { ++received; });
    Worker worker([&] {
        for (int i = 0; i < 100; ++i) {
            bridge->AddLogLine({"x", LOG_STATE, 1, 1});
            bridge->Refresh();
        }
    });
    worker.join();
    bridge.reset(); // before the event loop ran any of the queued calls
    QCoreApplication::processEvents();
    QCOMPARE(received, 0);
}

void QtSessionUiTest::aListingArrivesWithTheFolderItNames()
{
    QtSessionUi bridge;
    std::vector<CListing> shown;
    connect(&bridge, &QtSessionUi::listingComplete, this, [&](const CListing& listing) { shown.push_back(listing); });
    Worker worker([&] {
        bridge.ListingComplete({"/pub", "-rw-r--r-- 1 u g 5 Jan 1 2004 a.txt\r\n"});
        bridge.ListingComplete({"/pub/docs", ""}); // the worker moved on before the window caught up
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(int(shown.size()), 2, kWait);
    QCOMPARE(shown[0].folder, std::string("/pub"));
    QVERIFY(shown[0].text.find("a.txt") != std::string::npos);
    QCOMPARE(shown[1].folder, std::string("/pub/docs"));
    QVERIFY(shown[1].text.empty());
}

void QtSessionUiTest::aQueueChangeMadeOnTheInterfaceThreadDoesNotWaitForIt()
{
    // The queue view's Remove reports back through the bridge on the interface thread
    // itself, before Remove returns: the bridge must queue it, never wait for this thread.
    CSharedSettings settings;
    CSiteSetting site;
    site.address = "ftp.example.test";
    OpenSession open(settings, site, TransferLogSinks{});
    std::vector<CQueueChange> changes;
    connect(&open.bridge(), &QtSessionUi::queueChanged, this,
            [&](const CQueueChange& change) { changes.push_back(change); });
    auto entry = std::make_unique<CQueueEntry>();
    entry->remotePath = "/pub/a.txt";
    entry->localPath = "/tmp/in";
    const QueueEntryId id = open.session().Queue().Append(std::move(entry));
    const std::vector<QueueEntryId> removed{id};
    QCOMPARE(open.session().Queue().Remove(removed), std::size_t(1));
    QTRY_VERIFY_WITH_TIMEOUT(!changes.empty() && changes.back().kind == CQueueChange::Kind::Removed, kWait);
    QCOMPARE(changes.back().entries, removed);
}

QTEST_MAIN(QtSessionUiTest)
#include "QtSessionUiTest.moc"
