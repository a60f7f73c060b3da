// The main frame: the quick-connect rules, the status bar's pane texts, and a real quick
// connect to a pyftpdlib server started by the test, with the session's log in the window.

#include "session/FtpSession.h"
#include "tests/support/FtpServers.h"
#include "ui/LogPanel.h"
#include "ui/LogView.h"
#include "ui/MainFrame.h"
#include "ui/OpenSession.h"
#include "ui/QuickConnect.h"
#include "ui/QuickConnectBar.h"
#include "ui/RemoteFileModel.h"
#include "ui/RemotePane.h"
#include "ui/SiteView.h"
#include "ui/SessionList.h"
#include "ui/StatusPanes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(QuickConnectFields)
Q_DECLARE_METATYPE(TransferSnapshot)

namespace {

constexpr int kWait = 20000;

QMessageBox* OpenMessage(QWidget* frame)
{
    for (QMessageBox* box : frame->findChildren<QMessageBox*>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void quickConnectTargets_data();
    void quickConnectTargets();
    void statusPanes_data();
    void statusPanes();
    void firstStartShowsAnonymousAndPort21();
    void typingAUserClearsAnonymous();
    void anInvalidUrlOpensNothingAndIsShownAsPlainText();
    void quickConnectLogsInAndShowsTheLogAndListing();
    void placeholdersAndCommandsCanBeFoundByName();

private:
    QTemporaryDir m_home;
    CSharedSettings m_settings;
    SiteList m_sites;
    FrameContext context(SessionList& sessions)
    {
        return {&m_settings, &m_sites, &sessions, m_home.path().toStdString() + "/"};
    }
};

void MainFrameTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void MainFrameTest::quickConnectTargets_data()
{
    QTest::addColumn<QuickConnectFields>("fields");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("path");

    const int site = static_cast<int>(QuickConnectTarget::Kind::Site);
    const int invalid = static_cast<int>(QuickConnectTarget::Kind::Invalid);
    const QString anonPass = QString::fromStdString(CSettings{}.AnonymousPass);
    QTest::newRow("anonymous ignores the boxes")
        << QuickConnectFields{"ftp.example.org", "alice", "secret", "21", true, true} << site
        << "ftp.example.org" << "anonymous" << anonPass << 21 << "";
    QTest::newRow("empty user is anonymous")
        << QuickConnectFields{"ftp.example.org", "", "secret", "", false, true} << site
        << "ftp.example.org" << "anonymous" << anonPass << 21 << "";
    QTest::newRow("named user")
        << QuickConnectFields{"ftp://ftp.example.org/pub/x", "alice", "secret", "2121", false, false} << site
        << "ftp.example.org" << "alice" << "secret" << 2121 << "/pub/x";
    QTest::newRow("the port box wins over the URL's port")
        << QuickConnectFields{"ftp://ftp.example.org:9999/", "", "", "2100", true, true} << site
        << "ftp.example.org" << "anonymous" << anonPass << 2100 << "/";
    QTest::newRow("the URL's user is not used")
        << QuickConnectFields{"ftp://bob:pw@ftp.example.org", "", "", "", true, true} << site
        << "ftp.example.org" << "anonymous" << anonPass << 21 << "";
    QTest::newRow("ftps:// is implicit TLS, on 990 when the box says 21")
        << QuickConnectFields{"ftps://ftp.example.org/", "alice", "secret", "21", false, true} << site
        << "ftp.example.org" << "alice" << "secret" << 990 << "/";
    QTest::newRow("ftpes:// requires TLS on the box's port")
        << QuickConnectFields{"ftpes://ftp.example.org/", "alice", "secret", "21", false, true} << site
        << "ftp.example.org" << "alice" << "secret" << 21 << "/";
    QTest::newRow("invalid URL")
        << QuickConnectFields{"ftp://:21/", "", "", "", true, true} << invalid << "" << "" << "" << 0 << "";
    QTest::newRow("port out of range")
        << QuickConnectFields{"ftp.example.org", "", "", "70000", true, true} << invalid << "" << "" << "" << 0 << "";
    QTest::newRow("port that is no number")
        << QuickConnectFields{"ftp.example.org", "", "", "21x", true, true} << invalid << "" << "" << "" << 0 << "";
}

void MainFrameTest::quickConnectTargets()
{
    QFETCH(QuickConnectFields, fields);
    QFETCH(int, kind);
    const QuickConnectTarget target = QuickConnectTarget::From(fields, CSettings{});
    QCOMPARE(static_cast<int>(target.kind), kind);
    if (target.kind != QuickConnectTarget::Kind::Site) {
        QVERIFY(!target.error.empty());
        return;
    }
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(target.site.address), host);
    QCOMPARE(QString::fromStdString(target.site.username), user);
    QCOMPARE(QString::fromStdString(target.site.password), password);
    QCOMPARE(target.site.port, port);
    const QString url = QString::fromStdString(fields.url);
    const int encryption = url.startsWith(QLatin1String("ftps://"))    ? CSiteSetting::ENCRYPTION_IMPLICIT
                           : url.startsWith(QLatin1String("ftpes://")) ? CSiteSetting::ENCRYPTION_REQUIRE
                                                                       : CSiteSetting::ENCRYPTION_PLAIN;
    QCOMPARE(target.site.encryption, encryption);
    QCOMPARE(QString::fromStdString(target.site.defremotedir), path);
    QCOMPARE(target.site.passive, fields.passive ? 1 : 0);
}

void MainFrameTest::statusPanes_data()
{
    QTest::addColumn<TransferSnapshot>("snapshot");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("progress");

    QTest::newRow("no session") << TransferSnapshot{} << "" << "" << "" << "" << -1;
    QTest::newRow("idle") << TransferSnapshot{true, "h", false, false, 10, 0, 1.0, "f"}
                          << "" << "" << "h" << "" << -1;
    QTest::newRow("halfway") << TransferSnapshot{true, "h", true, false, 2048, 1024, 12.5, "a.bin"}
                             << "50% [1,024/2,048]" << "12.500KB/s" << "h" << "a.bin" << 50;
    QTest::newRow("truncated") << TransferSnapshot{true, "h", true, false, 3, 2, 0.0, "a"}
                               << "66% [2/3]" << "0.000KB/s" << "h" << "a" << 66;
    QTest::newRow("total of 0") << TransferSnapshot{true, "h", true, false, 0, 0, 0.0, "empty"}
                                << "100% [0/0]" << "0.000KB/s" << "h" << "empty" << 100;
    QTest::newRow("more than the total") << TransferSnapshot{true, "h", true, false, 10, 15, 1.0, "x"}
                                         << "100% [15/10]" << "1.000KB/s" << "h" << "x" << 100;
    QTest::newRow("past 4 GB") << TransferSnapshot{true, "h", true, false, 6000000000LL, 3000000000ULL, 1.0, "big"}
                               << "50% [3,000,000,000/6,000,000,000]" << "1.000KB/s" << "h" << "big" << 50;
    QTest::newRow("size unknown") << TransferSnapshot{true, "h", true, false, -1, 5, 1.0, "x"}
                                  << "" << "" << "h" << "" << -1;
    QTest::newRow("speed unknown") << TransferSnapshot{true, "h", true, false, 10, 5, -1.0, "x"}
                                   << "" << "" << "h" << "" << -1;
    QTest::newRow("site to site") << TransferSnapshot{true, "h", true, true, 10, 5, 1.0, "x"}
                                  << "Unknown" << "Unknown" << "h" << "x" << -1;
    QTest::newRow("bad bytes in a name") << TransferSnapshot{true, "h", true, false, 4, 1, 1.0, "a\xff"}
                                         << "25% [1/4]" << "1.000KB/s" << "h" << "a\\xFF" << 25;
}

void MainFrameTest::statusPanes()
{
    QFETCH(TransferSnapshot, snapshot);
    const StatusPanes panes = StatusPanes::From(snapshot);
    QTEST(panes.percent, "percent");
    QTEST(panes.speed, "speed");
    QTEST(panes.address, "address");
    QTEST(panes.fileName, "fileName");
    QTEST(panes.progress, "progress");
}

void MainFrameTest::firstStartShowsAnonymousAndPort21()
{
    m_settings.Replace(CSettings{});
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    QuickConnectBar* bar = frame.quickConnectBar();
    QVERIFY(bar->anonymousBox()->isChecked());
    QVERIFY(bar->userBox()->text().isEmpty());
    QVERIFY(bar->passwordBox()->text().isEmpty());
    QCOMPARE(bar->portBox()->text(), QStringLiteral("21"));
    QVERIFY(bar->passiveBox()->isChecked());
}

void MainFrameTest::typingAUserClearsAnonymous()
{
    m_settings.Replace(CSettings{});
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    QuickConnectBar* bar = frame.quickConnectBar();
    QTest::keyClicks(bar->userBox(), "alice");
    QVERIFY(!bar->anonymousBox()->isChecked());
}

void MainFrameTest::anInvalidUrlOpensNothingAndIsShownAsPlainText()
{
    m_settings.Replace(CSettings{});
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    frame.show();
    frame.quickConnectBar()->urlBox()->setEditText(QStringLiteral("<b>x</b>:99999"));
    frame.quickConnectBar()->connectButton()->click();
    QVERIFY(sessions.sessions().empty());
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = OpenMessage(&frame)) != nullptr, kWait);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QVERIFY2(box->text().startsWith(QStringLiteral("Invalid URL:")), qPrintable(box->text()));
    QVERIFY(box->text().contains(QStringLiteral("<b>x</b>")));
    box->accept();
}

void MainFrameTest::quickConnectLogsInAndShowsTheLogAndListing()
{
    tvtest::PyftpdlibServer server;
    QVERIFY2(server.start(), server.error().c_str());
    QVERIFY(server.createFile("readme-first.txt", "hello"));
    QVERIFY(server.createFolder("pub"));

    m_settings.Replace([&] {
        CSettings table;
        table.CacheHomeDirectory = m_home.path().toStdString() + "/cache";
        return table;
    }());
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    frame.show();
    QuickConnectBar* bar = frame.quickConnectBar();
    bar->urlBox()->setEditText(QString::fromStdString(server.host()));
    bar->portBox()->setText(QString::number(server.port()));
    bar->anonymousBox()->setChecked(true);
    bar->connectButton()->click();

    QCOMPARE(static_cast<int>(sessions.sessions().size()), 1);
    OpenSession* session = sessions.active();
    QVERIFY(session);
    LogView* log = frame.logOf(session);
    QVERIFY(log);
    QCOMPARE(frame.logPanel()->currentLog(), log);
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(QStringLiteral("Reply:>\t230")), kWait);
    QVERIFY(log->toPlainText().contains(QStringLiteral("Command:>\tUSER anonymous")));
    RemotePane* right = frame.rightSiteView()->paneOf(session);
    QVERIFY(right);
    QTRY_VERIFY_WITH_TIMEOUT(right->model()->rowOfName("readme-first.txt") >= 0, kWait);
    QVERIFY(right->model()->rowOfName("pub") >= 0);
    QCOMPARE(frame.windowTitle(), QStringLiteral("Tollvane - 127.0.0.1"));
    frame.refreshStatusBar();
    QCOMPARE(frame.shownStatus().address, QStringLiteral("127.0.0.1"));
    sessions.clear();
}

void MainFrameTest::placeholdersAndCommandsCanBeFoundByName()
{
    m_settings.Replace(CSettings{});
    SessionList sessions(m_settings);
    MainFrame frame(context(sessions));
    QCOMPARE(frame.leftSiteView()->accessibleName(), QStringLiteral("Left site view"));
    QCOMPARE(frame.rightSiteView()->accessibleName(), QStringLiteral("Right site view"));
    QCOMPARE(frame.siteListArea()->accessibleName(), QStringLiteral("Site list"));
    QCOMPARE(frame.queueArea()->accessibleName(), QStringLiteral("Queue"));
    QCOMPARE(frame.outerSplitter()->count(), 3);
    frame.resize(1100, 900);
    frame.show();
    QTRY_VERIFY_WITH_TIMEOUT(frame.outerSplitter()->height() > 0, kWait);
    frame.resize(1000, 1100); // every resize sets the proportions again
    QTRY_VERIFY_WITH_TIMEOUT(frame.outerSplitter()->sizes().at(1) > 0, kWait);
    const QList<int> rows = frame.outerSplitter()->sizes();
    const int total = rows[0] + rows[1] + rows[2];
    QVERIFY2(qAbs(rows[1] * 11 - total * 6) <= 33 && qAbs(rows[0] * 11 - total * 2) <= 33,
             qPrintable(QStringLiteral("%1 %2 %3").arg(rows[0]).arg(rows[1]).arg(rows[2])));
    QCOMPARE(frame.siteListArea()->width(), 150);
    for (const char* name : {"Percent", "Speed", "Progress", "Address", "File Name"})
        QVERIFY2(frame.findChild<QWidget*>(QString::fromLatin1(name)), name);
    // Every widget a user can reach has a name a screen reader can read.
    for (QWidget* widget : frame.findChildren<QWidget*>()) {
        if (widget->objectName().startsWith(QLatin1String("qt_")))
            continue; // Qt's own (the menu bar's overflow arrow)
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QComboBox*>(widget)) {
            const bool named = !widget->accessibleName().isEmpty() ||
                               (qobject_cast<QAbstractButton*>(widget) &&
                                !qobject_cast<QAbstractButton*>(widget)->text().isEmpty());
            QVERIFY2(named || widget->parent()->inherits("QComboBox"),
                     qPrintable(widget->metaObject()->className() + QStringLiteral(" ") + widget->objectName()));
        }
    }
    QCOMPARE(frame.actions().exit->objectName(), QStringLiteral("exit"));
}

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
