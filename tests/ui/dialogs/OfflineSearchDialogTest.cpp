// The offline search dialog over a small cache built by the test: which names match, the
// order and form of the URLs, the status texts, a pattern the engine cannot compile, Copy
// URL and Open, Close refused while a search runs, and Stop during a search of a large
// generated cache.

#include "ui/OfflineSearchDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <filesystem>
#include <fstream>

namespace {

constexpr int kWait = 60000;

std::string FileLine(const std::string& name) { return "-rw-r--r-- 1 u g 10 Jan 1 2004 " + name + "\r\n"; }
std::string DirLine(const std::string& name) { return "drwxr-xr-x 2 u g 4096 Jan 1 2004 " + name + "\r\n"; }

void WriteListing(const std::string& folder, const std::string& text)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/files.lis", std::ios::binary) << text;
}

QMessageBox* VisibleMessage(QWidget* parent)
{
    for (QMessageBox* box : parent->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

void CloseMessages(QWidget* parent)
{
    for (QMessageBox* box : parent->findChildren<QMessageBox*>())
        box->close();
}

// Moves the named sites, in this order, to "Sites to search:".
void ChooseSites(OfflineSearchDialog& dialog, const QStringList& names)
{
    auto* available = dialog.findChild<QListWidget*>("availableSites");
    for (const QString& name : names) {
        available->clearSelection();
        const auto found = available->findItems(name, Qt::MatchExactly);
        QVERIFY(found.size() == 1);
        found.first()->setSelected(true);
        dialog.moveSelectedToSearch();
    }
}

QStringList Urls(OfflineSearchDialog& dialog)
{
    QStringList urls;
    for (int row = 0; row < dialog.results().rowCount(); ++row)
        urls << dialog.results().index(row, 0).data().toString();
    return urls;
}

void Search(OfflineSearchDialog& dialog, const QString& pattern, bool regularExpression)
{
    dialog.findChild<QLineEdit*>("searchPattern")->setText(pattern);
    dialog.findChild<QCheckBox*>("regularExpression")->setChecked(regularExpression);
    dialog.searchOrStop();
}

} // namespace

class OfflineSearchDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theSearchTable_data();
    void theSearchTable();
    void statusTextsWhereTheyBelong();
    void aPatternTheEngineCannotCompileIsShownAndSearchesNothing();
    void movingSitesBetweenTheLists();
    void copyUrlAndOpen();
    void resultUrlsBackToTheServer_data();
    void resultUrlsBackToTheServer();
    void aResultOpensWithTheSiteOfItsServerAndAccount_data();
    void aResultOpensWithTheSiteOfItsServerAndAccount();
    void urlTextIsNeverShownAsRichText();
    void closeIsRefusedWhileSearchingAndStopping();
    void stopDuringASearchOfALargeCache();

private:
    std::string home() const { return m_home.path().toStdString() + "/cache"; }
    QTemporaryDir m_home;
};

void OfflineSearchDialogTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Site A: names that do and do not match, a folder whose name matches, a folder without
    // a list file whose subfolder has one. Site B: one more name.
    WriteListing(home() + "/A", FileLine("a.txt") + FileLine("a.txt.bak") + FileLine("A.TXT") + FileLine("a_txt") +
                                    DirLine("docs.txt") + DirLine("nolist"));
    std::filesystem::create_directories(home() + "/A/docs.txt");
    std::filesystem::create_directories(home() + "/A/nolist");
    WriteListing(home() + "/A/nolist/deep", FileLine("deep.txt") + FileLine("x y.txt"));
    WriteListing(home() + "/B", FileLine("b.txt"));
}

void OfflineSearchDialogTest::theSearchTable_data()
{
    QTest::addColumn<QStringList>("sites");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("regularExpression");
    QTest::addColumn<QStringList>("urls");

    QTest::newRow("*.txt: whole names, case counts, folders too, below a folder without a list")
        << QStringList{"A"} << "*.txt" << false
        << QStringList{"ftp://A/a.txt", "ftp://A/docs.txt", "ftp://A/nolist/deep/deep.txt",
                       "ftp://A/nolist/deep/x y.txt"};
    QTest::newRow("upper case") << QStringList{"A"} << "*.TXT" << false << QStringList{"ftp://A/A.TXT"};
    QTest::newRow("? is one character") << QStringList{"A"} << "?.txt" << false << QStringList{"ftp://A/a.txt"};
    QTest::newRow("a part of a name is no match") << QStringList{"A"} << "txt" << false << QStringList{};
    QTest::newRow("regular expression") << QStringList{"A"} << "a\\.txt(\\.bak)?" << true
                                        << QStringList{"ftp://A/a.txt", "ftp://A/a.txt.bak"};
    QTest::newRow("a full stop is itself in wildcards") << QStringList{"A"} << "a.txt" << false
                                                        << QStringList{"ftp://A/a.txt"};
    QTest::newRow("and any character in an expression") << QStringList{"A"} << "a.txt" << true
                                                         << QStringList{"ftp://A/a.txt", "ftp://A/a_txt"};
    QTest::newRow("sites in list order") << QStringList{"B", "A"} << "?.txt" << false
                                         << QStringList{"ftp://B/b.txt", "ftp://A/a.txt"};
    QTest::newRow("no site to search") << QStringList{} << "*" << false << QStringList{};
}

void OfflineSearchDialogTest::theSearchTable()
{
    QFETCH(QStringList, sites);
    QFETCH(QString, pattern);
    QFETCH(bool, regularExpression);
    QFETCH(QStringList, urls);

    OfflineSearchDialog dialog(home());
    ChooseSites(dialog, sites);
    Search(dialog, pattern, regularExpression);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    QCOMPARE(Urls(dialog), urls);
    QCOMPARE(dialog.statusText(), QStringLiteral("Searching completed successfully!"));
    QCOMPARE(dialog.countText(), QStringLiteral("Results: %1 files found.").arg(urls.size()));
}

void OfflineSearchDialogTest::statusTextsWhereTheyBelong()
{
    OfflineSearchDialog dialog(home());
    QCOMPARE(dialog.countText(), QStringLiteral("Result list: 0 files found."));
    QCOMPARE(dialog.statusText(), QStringLiteral("Click <search> button to start searching."));
    ChooseSites(dialog, {"A"});
    Search(dialog, "*.txt", false);
    // Until the first results arrive the count reads 0; the controls are locked.
    QCOMPARE(dialog.countText(), QStringLiteral("Results: 0 files found."));
    QCOMPARE(dialog.findChild<QPushButton*>("searchButton")->text(), QStringLiteral("Stop"));
    QVERIFY(!dialog.findChild<QLineEdit*>("searchPattern")->isEnabled());
    QVERIFY(!dialog.findChild<QListWidget*>("availableSites")->isEnabled());
    QVERIFY(!dialog.findChild<QPushButton*>("moveAllToSearch")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    QCOMPARE(dialog.findChild<QPushButton*>("searchButton")->text(), QStringLiteral("Search"));
    QVERIFY(dialog.findChild<QLineEdit*>("searchPattern")->isEnabled());
    QVERIFY(dialog.findChild<QListWidget*>("availableSites")->isEnabled());
}

void OfflineSearchDialogTest::aPatternTheEngineCannotCompileIsShownAndSearchesNothing()
{
    OfflineSearchDialog dialog(home());
    ChooseSites(dialog, {"A", "B"});
    Search(dialog, "*.txt", false);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    const int before = dialog.results().rowCount();
    QVERIFY(before > 0);

    Search(dialog, "a(b", true);
    QCOMPARE(dialog.state(), OfflineSearchDialog::State::Idle);
    QVERIFY2(dialog.statusText().startsWith("The pattern is not valid at position "), qPrintable(dialog.statusText()));
    QVERIFY(dialog.statusText().size() > QStringLiteral("The pattern is not valid at position 1: ").size());
    QCOMPARE(dialog.results().rowCount(), before); // nothing searched, nothing cleared
    QCOMPARE(dialog.findChild<QPushButton*>("searchButton")->text(), QStringLiteral("Search"));
}

void OfflineSearchDialogTest::movingSitesBetweenTheLists()
{
    OfflineSearchDialog dialog(home());
    auto* available = dialog.findChild<QListWidget*>("availableSites");
    auto* toSearch = dialog.findChild<QListWidget*>("sitesToSearch");
    QCOMPARE(available->count(), 2);
    dialog.moveAllToSearch();
    QCOMPARE(available->count(), 0);
    QCOMPARE(dialog.sitesToSearch(), (std::vector<std::string>{"A", "B"}));
    toSearch->item(0)->setSelected(true);
    dialog.moveSelectedBack();
    QCOMPARE(dialog.sitesToSearch(), (std::vector<std::string>{"B"}));
    QCOMPARE(available->item(0)->text(), QStringLiteral("A"));
    dialog.moveAllBack();
    QVERIFY(dialog.sitesToSearch().empty());
    QCOMPARE(available->count(), 2);

    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QAbstractItemView*>(widget);
        // Qt's own parts of a control (a table's headers and corner button) are left out.
        const bool part = widget->objectName().startsWith("qt_") ||
                          qobject_cast<QAbstractItemView*>(widget->parentWidget());
        if (control && !part)
            QVERIFY2(!widget->accessibleName().isEmpty(), widget->metaObject()->className());
    }
}

void OfflineSearchDialogTest::copyUrlAndOpen()
{
    OfflineSearchDialog dialog(home());
    ChooseSites(dialog, {"A"});
    Search(dialog, "deep.txt", false);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    QCOMPARE(dialog.results().rowCount(), 1);
    auto* view = dialog.findChild<QTableView*>("resultList");
    view->setCurrentIndex(dialog.results().index(0, 0));

    dialog.copyUrl();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ftp://A/nolist/deep/deep.txt"));

    std::vector<CachedEntry> opened;
    connect(&dialog, &OfflineSearchDialog::openRequested, this, [&opened](const CachedEntry& entry) { opened.push_back(entry); });
    QTest::mouseClick(dialog.findChild<QPushButton*>("openInBrowser"), Qt::LeftButton);
    QCOMPARE(opened.size(), size_t(1));
    QCOMPARE(opened[0].host, std::string("A"));
    QCOMPARE(opened[0].folder, std::string("/nolist/deep/"));
    QCOMPARE(opened[0].name, std::string("deep.txt"));
}

void OfflineSearchDialogTest::resultUrlsBackToTheServer_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("top folder") << "ftp://host/a.txt" << true << "" << "host" << 21 << "/" << "a.txt";
    // The cache's escapes are undone in folders; the entry's own name was never escaped.
    QTest::newRow("cache escapes") << "ftp://host/a%58b%37c/%37d/x%58y.txt" << true << "" << "host" << 21
                                   << "/a:b%c/%d/" << "x%58y.txt";
    QTest::newRow("an escape written out") << "ftp://host/%3758/n" << true << "" << "host" << 21 << "/%58/" << "n";
    // The site folder names the server and account as the session's cache does.
    QTest::newRow("user, host and port") << "ftp://bob@files.example.net:2121/pub/a.txt" << true << "bob"
                                         << "files.example.net" << 2121 << "/pub/" << "a.txt";
    QTest::newRow("user on port 21") << "ftp://bob@host/a" << true << "bob" << "host" << 21 << "/" << "a";
    QTest::newRow("port without user") << "ftp://10.0.0.5:990/a" << true << "" << "10.0.0.5" << 990 << "/" << "a";
    QTest::newRow("escapes in the user") << "ftp://a%64b%58c%47d%37e@host/x" << true << "a@b:c/d%e" << "host" << 21
                                         << "/" << "x";
    QTest::newRow("IPv6 with a port") << "ftp://bob@[::1]:2121/x" << true << "bob" << "::1" << 2121 << "/" << "x";
    QTest::newRow("IPv6 on port 21") << "ftp://fe80::2/x" << true << "" << "fe80::2" << 21 << "/" << "x";
    QTest::newRow("port 0") << "ftp://host:0/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("port too large") << "ftp://host:65536/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("port not a number") << "ftp://host:21x/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("empty user") << "ftp://@host/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("empty host") << "ftp://bob@:21/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("brackets without a port") << "ftp://[::1]/a" << false << "" << "" << 0 << "" << "";
    QTest::newRow("no name") << "ftp://host/pub/" << false << "" << "" << 0 << "" << "";
    QTest::newRow("no folder") << "ftp://host" << false << "" << "" << 0 << "" << "";
    QTest::newRow("not ftp") << "http://host/a" << false << "" << "" << 0 << "" << "";
}

void OfflineSearchDialogTest::resultUrlsBackToTheServer()
{
    QFETCH(QString, url);
    QFETCH(bool, valid);
    const std::optional<CachedEntry> entry = CachedEntryFromUrl(url.toStdString());
    QCOMPARE(entry.has_value(), valid);
    if (!entry)
        return;
    QFETCH(QString, user);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdString(entry->user), user);
    QCOMPARE(QString::fromStdString(entry->host), host);
    QCOMPARE(entry->port, port);
    QCOMPARE(QString::fromStdString(entry->folder), folder);
    QCOMPARE(QString::fromStdString(entry->name), name);
}

void OfflineSearchDialogTest::aResultOpensWithTheSiteOfItsServerAndAccount_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("siteName"); // empty: no stored site, a transient record
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("anonymous on 21") << "ftp://ftp.x/pub/a" << "anon" << "ftp.x" << 21 << "anonymous" << "guest@";
    QTest::newRow("an account on 21") << "ftp://bob@ftp.x/pub/a" << "bob 21" << "ftp.x" << 21 << "bob" << "pw21";
    QTest::newRow("the same account on another port") << "ftp://bob@ftp.x:2121/pub/a" << "bob 2121" << "ftp.x" << 2121
                                                      << "bob" << "pw2121";
    QTest::newRow("host names without case") << "ftp://bob@FTP.X:2121/pub/a" << "bob 2121" << "ftp.x" << 2121 << "bob"
                                             << "pw2121";
    // "ftp" logs in anonymously, so its listings are in the plain host's folder.
    QTest::newRow("a user named ftp") << "ftp://ftp.y/a" << "ftp user" << "ftp.y" << 21 << "ftp" << "mail@";
    QTest::newRow("an account no site has") << "ftp://carol@ftp.x:2121/pub/a" << "" << "ftp.x" << 2121 << "carol" << "";
    QTest::newRow("a port no site has") << "ftp://ftp.x:2100/pub/a" << "" << "ftp.x" << 2100 << "anonymous"
                                        << "anon@example.org";
}

void OfflineSearchDialogTest::aResultOpensWithTheSiteOfItsServerAndAccount()
{
    const auto record = [](const char* name, const char* address, int port, const char* user, const char* password,
                           int loginType) {
        auto site = std::make_unique<CSiteSetting>();
        site->name = name;
        site->address = address;
        site->port = port;
        site->username = user;
        site->password = password;
        site->logintype = loginType;
        return site;
    };
    // Records that differ only in port or account come before the right one.
    SiteList sites;
    sites.push_back(record("bob 2121", "ftp.x", 2121, "bob", "pw2121", CSiteSetting::LOGIN_NORMAL));
    sites.push_back(record("bob 21", "ftp.x", 21, "bob", "pw21", CSiteSetting::LOGIN_NORMAL));
    sites.push_back(record("anon", "ftp.x", 21, "anonymous", "guest@", CSiteSetting::LOGIN_ANONYMOUS));
    sites.push_back(record("ftp user", "ftp.y", 21, "ftp", "mail@", CSiteSetting::LOGIN_NORMAL));

    QFETCH(QString, url);
    const std::optional<CachedEntry> entry = CachedEntryFromUrl(url.toStdString());
    QVERIFY(entry);
    const CSiteSetting site = SiteForCachedEntry(sites, *entry, "anon@example.org");
    QFETCH(QString, siteName);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QCOMPARE(QString::fromStdString(site.name), siteName);
    QCOMPARE(QString::fromStdString(site.address), address);
    QCOMPARE(site.port, port);
    QCOMPARE(QString::fromStdString(site.username), user);
    QCOMPARE(QString::fromStdString(site.password), password);
    QCOMPARE(site.defremotedir, entry->folder);
}

void OfflineSearchDialogTest::urlTextIsNeverShownAsRichText()
{
    // A server may name files and folders like markup (a "/" aside); its cache folders keep
    // the names.
    QTemporaryDir other;
    const std::string cache = other.path().toStdString() + "/cache";
    WriteListing(cache + "/host/<b>big", FileLine("<i>x.txt"));
    WriteListing(cache + "/<b>bad:0", FileLine("<h1>y.txt"));
    OfflineSearchDialog dialog(cache);
    dialog.moveAllToSearch();
    Search(dialog, "*.txt", false);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    QCOMPARE(Urls(dialog), (QStringList{"ftp://<b>bad:0/<h1>y.txt", "ftp://host/<b>big/<i>x.txt"}));

    // The tool tip (which takes markup-like text for rich text) reads as the URL itself.
    for (int row = 0; row < 2; ++row) {
        QTextDocument shown;
        shown.setHtml(dialog.results().index(row, 0).data(Qt::ToolTipRole).toString());
        QCOMPARE(shown.toPlainText(), Urls(dialog).at(row));
    }

    // A result whose site folder names no server says so, in plain text.
    auto* view = dialog.findChild<QTableView*>("resultList");
    view->setCurrentIndex(dialog.results().index(0, 0));
    QSignalSpy opened(&dialog, &OfflineSearchDialog::openRequested);
    dialog.openInTollvane();
    QCOMPARE(opened.size(), 0);
    QMessageBox* message = VisibleMessage(&dialog);
    QVERIFY(message);
    QCOMPARE(message->textFormat(), Qt::PlainText);
    QVERIFY2(message->text().contains("ftp://<b>bad:0/<h1>y.txt"), qPrintable(message->text()));
    CloseMessages(&dialog);
}

void OfflineSearchDialogTest::closeIsRefusedWhileSearchingAndStopping()
{
    OfflineSearchDialog dialog(home());
    dialog.show();
    ChooseSites(dialog, {"A", "B"});
    Search(dialog, "*", false);
    // The end of a search reaches the dialog through its event loop, so without events
    // processed in between it is still searching here.
    dialog.reject();
    QVERIFY(dialog.isVisible());
    QCOMPARE(VisibleMessage(&dialog)->text(), QStringLiteral("Please stop searching first!"));
    CloseMessages(&dialog);
    QVERIFY(!dialog.close());

    dialog.searchOrStop();
    QCOMPARE(dialog.state(), OfflineSearchDialog::State::Stopping);
    QCOMPARE(dialog.statusText(), QStringLiteral("Stopping search..."));
    QVERIFY(!dialog.findChild<QPushButton*>("searchButton")->isEnabled());
    CloseMessages(&dialog);
    dialog.reject();
    QVERIFY(dialog.isVisible());
    QCOMPARE(VisibleMessage(&dialog)->text(), QStringLiteral("Please wait until the searching is stopped."));
    CloseMessages(&dialog);

    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    dialog.reject();
    QVERIFY(!dialog.isVisible());
}

void OfflineSearchDialogTest::stopDuringASearchOfALargeCache()
{
    // 2 sites of 2,000 folders each, every folder listing 10 names: the search is stopped
    // as soon as its first results are in, long before it could get through all folders.
    const std::string large = m_home.path().toStdString() + "/large";
    constexpr int kSites = 2;
    constexpr int kFolders = 2000;
    std::string listing;
    for (int name = 0; name < 10; ++name)
        listing += FileLine("file_" + std::to_string(name) + ".txt");
    for (int site = 0; site < kSites; ++site)
        for (int folder = 0; folder < kFolders; ++folder)
            WriteListing(large + "/site" + std::to_string(site) + "/d" + std::to_string(folder / 100) + "/f" +
                             std::to_string(folder),
                         listing);

    OfflineSearchDialog dialog(large);
    dialog.moveAllToSearch();
    Search(dialog, "*.txt", false);
    // Results stream in while the search goes on.
    QElapsedTimer waited;
    waited.start();
    while (dialog.results().rowCount() == 0 && waited.elapsed() < kWait)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QVERIFY(dialog.results().rowCount() > 0);
    QVERIFY2(dialog.statusText().startsWith("Searching "), qPrintable(dialog.statusText()));
    dialog.searchOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() == OfflineSearchDialog::State::Idle, kWait);
    QCOMPARE(dialog.statusText(), QStringLiteral("Searching cancelled by user!"));
    const int found = dialog.results().rowCount();
    QVERIFY(found < kSites * kFolders * 10);
    QCOMPARE(dialog.countText(), QStringLiteral("Results: %1 files found.").arg(found));
}

QTEST_MAIN(OfflineSearchDialogTest)
#include "OfflineSearchDialogTest.moc"
