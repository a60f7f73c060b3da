// The file panes' models and URL texts without a server: column texts, the sort table
// (names, folders first, sizes over 4 GiB, dates), the selection following a re-sort,
// received listings, and the %-escaping that lets a copied URL be pasted back exactly.

#include "listing/PathRules.h"
#include "sites/FtpUrl.h"
#include "ui/LocalFileModel.h"
#include "ui/PaneUrls.h"
#include "ui/RemoteFileModel.h"

#include <QDateTime>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTest>

namespace {

RFILE_DATA Remote(const char* name, std::uint64_t size, std::int64_t time, bool directory = false)
{
    RFILE_DATA entry;
    entry.strName = name;
    entry.SetFileSize(size);
    entry.tmModified = time;
    entry.bDirectory = directory;
    entry.strAttribute = directory ? "drwxr-xr-x" : "-rw-r--r--";
    return entry;
}

QStringList Names(const QAbstractItemModel& model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.push_back(model.index(row, 0).data().toString());
    return names;
}

} // namespace

class FileModelTest : public QObject {
    Q_OBJECT
private slots:
    void sortOrders_data();
    void sortOrders();
    void columnTexts();
    void selectionFollowsItsRowThroughAResort();
    void receivedListingDropsDotEntriesAndStopsAtABlankLine();
    void namesThatAreNotUtf8AreShownReadablyAndKeptAsBytes();
    void copiedUrlsPasteBackToTheSameBytes_data();
    void copiedUrlsPasteBackToTheSameBytes();
    void remoteUrlsNameTheHostAndPortAsAUrlMust_data();
    void remoteUrlsNameTheHostAndPortAsAUrlMust();
    void clipboardLinesMustAllBeFtpUrls();
    void localModelSortsFoldersFirst();
};

void FileModelTest::sortOrders_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    const auto list = [](std::initializer_list<const char*> names) {
        QStringList out;
        for (const char* name : names)
            out.push_back(QString::fromLatin1(name));
        return out;
    };
    // Entries: dirs "pub", "Alpha"; files "b.TXT" (5 GiB), "a.txt" (10), "c.bin" (4 GiB - 1).
    QTest::newRow("name ascending: folders first, case ignored") << 0 << int(Qt::AscendingOrder)
                                                               << list({"Alpha", "pub", "a.txt", "b.TXT", "c.bin"});
    QTest::newRow("name descending: folders last") << 0 << int(Qt::DescendingOrder)
                                                   << list({"c.bin", "b.TXT", "a.txt", "pub", "Alpha"});
    QTest::newRow("size ascending, over 4 GiB last") << 1 << int(Qt::AscendingOrder)
                                                     << list({"pub", "Alpha", "a.txt", "c.bin", "b.TXT"});
    QTest::newRow("size descending") << 1 << int(Qt::DescendingOrder)
                                     << list({"b.TXT", "c.bin", "a.txt", "pub", "Alpha"});
    QTest::newRow("type ascending") << 2 << int(Qt::AscendingOrder)
                                    << list({"pub", "Alpha", "c.bin", "a.txt", "b.TXT"}); // equal types keep the name order
    QTest::newRow("modified ascending") << 3 << int(Qt::AscendingOrder)
                                        << list({"c.bin", "Alpha", "a.txt", "pub", "b.TXT"});
}

void FileModelTest::sortOrders()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    RemoteFileModel model;
    model.setEntries("/", {Remote("b.TXT", 5ULL << 30, 500), Remote("pub", 0, 400, true), Remote("a.txt", 10, 300),
                           Remote("Alpha", 0, 200, true), Remote("c.bin", (4ULL << 30) - 1, 100)});
    model.sort(column, Qt::SortOrder(order));
    // Ties (the two folders by size and type) keep the order they had; compare the rest.
    QStringList names = Names(model);
    if (column == 1 || column == 2) {
        QVERIFY(QSet<QString>({names[0], names[1]}) == QSet<QString>({"pub", "Alpha"}) ||
                QSet<QString>({names[3], names[4]}) == QSet<QString>({"pub", "Alpha"}));
        for (QStringList* list : {&names, &expected}) {
            list->removeAll(QStringLiteral("pub"));
            list->removeAll(QStringLiteral("Alpha"));
        }
    }
    QCOMPARE(names, expected);
}

void FileModelTest::columnTexts()
{
    RemoteFileModel model;
    RFILE_DATA big = Remote("big.iso", 5ULL << 30, 0);
    RFILE_DATA file = Remote("archive.tar.gz", 1234567, 1234567);
    file.strDescription = "<b>not bold</b>";
    RFILE_DATA exact = Remote("exact.txt", 1, 1234567);
    exact.bExactTime = true;
    model.setEntries("/pub", {big, file, Remote("docs", 0, 0, true), exact});
    const int row = model.rowOfName("archive.tar.gz");
    QCOMPARE(model.index(row, 1).data().toString(), QStringLiteral("1,234,567"));
    QCOMPARE(model.index(row, 2).data().toString(), QStringLiteral("gz"));
    QCOMPARE(model.index(row, 4).data().toString(), QStringLiteral("-rw-r--r--"));
    QCOMPARE(model.index(row, 5).data().toString(), QStringLiteral("<b>not bold</b>"));
    QCOMPARE(model.index(model.rowOfName("big.iso"), 1).data().toString(), QStringLiteral(">4GB"));
    QCOMPARE(model.index(model.rowOfName("docs"), 2).data().toString(), QStringLiteral("<DIR>"));
    // A listing's time shows to the minute; one the server gave to the second, with it.
    QCOMPARE(model.index(row, 3).data().toString(),
             QDateTime::fromSecsSinceEpoch(1234567).toString(QStringLiteral("MM/dd/yy HH:mm")));
    QCOMPARE(model.index(model.rowOfName("exact.txt"), 3).data().toString(),
             QDateTime::fromSecsSinceEpoch(1234567).toString(QStringLiteral("MM/dd/yy HH:mm:ss")));
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Modified"));
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.fullPath(row), std::string("/pub/archive.tar.gz"));
}

void FileModelTest::selectionFollowsItsRowThroughAResort()
{
    RemoteFileModel model;
    model.setEntries("/", {Remote("a", 3, 0), Remote("b", 1, 0), Remote("c", 2, 0)});
    QItemSelectionModel selection(&model);
    selection.select(model.index(model.rowOfName("a"), 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    model.sort(1, Qt::AscendingOrder);
    const QModelIndexList rows = selection.selectedRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.front().data().toString(), QStringLiteral("a"));
    QCOMPARE(rows.front().row(), 2);
}

void FileModelTest::receivedListingDropsDotEntriesAndStopsAtABlankLine()
{
    RemoteFileModel model;
    const std::string listing =
        "total 3\r\n"
        "drwxr-xr-x   2 user group     4096 Jan  1  2020 .\r\n"
        "drwxr-xr-x   2 user group     4096 Jan  1  2020 ..\r\n"
        "-rw-r--r--   1 user group       10 Jan  1  2020 one.txt\r\n\n"
        "drwxr-xr-x   2 user group     4096 Jan  1  2020 sub\r\n"
        "   \r\n"
        "-rw-r--r--   1 user group       10 Jan  1  2020 after-blank.txt\r\n";
    model.receiveListing("/x", listing);
    QCOMPARE(model.folder(), std::string("/x"));
    QCOMPARE(Names(model), QStringList({QStringLiteral("sub"), QStringLiteral("one.txt")}));
}

void FileModelTest::namesThatAreNotUtf8AreShownReadablyAndKeptAsBytes()
{
    RemoteFileModel model;
    model.setEntries("/", {Remote("caf\xE9.txt", 1, 0)});
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("caf\\xE9.txt"));
    QCOMPARE(model.entry(0).strName, std::string("caf\xE9.txt"));
    QCOMPARE(model.rowOfName("caf\xE9.txt"), 0);
}

void FileModelTest::copiedUrlsPasteBackToTheSameBytes_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("percent and blank") << QByteArray("/pub/a%41 b");
    QTest::newRow("not UTF-8") << QByteArray("/caf\xE9 #1?.txt");
    QTest::newRow("plain") << QByteArray("/pub/a.txt");
}

void FileModelTest::copiedUrlsPasteBackToTheSameBytes()
{
    QFETCH(QByteArray, path);
    const QString url = RemoteEntryUrl("ftp.example.org", 21, path.toStdString());
    QVERIFY(url.startsWith(QStringLiteral("ftp://ftp.example.org/")));
    FtpUrl parts;
    QVERIFY(SplitFtpUrl(url.toStdString(), parts));
    QCOMPARE(parts.host, std::string("ftp.example.org"));
    QCOMPARE(QByteArray::fromStdString(parts.path), path);
    if (path == "/pub/a.txt")
        QCOMPARE(url, QStringLiteral("ftp://ftp.example.org/pub/a.txt"));
}

void FileModelTest::remoteUrlsNameTheHostAndPortAsAUrlMust_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name, port 21") << "ftp.example.org" << 21 << "ftp://ftp.example.org/pub/a.txt";
    QTest::newRow("name, other port") << "ftp.example.org" << 2121 << "ftp://ftp.example.org:2121/pub/a.txt";
    QTest::newRow("IPv4") << "127.0.0.1" << 2121 << "ftp://127.0.0.1:2121/pub/a.txt";
    QTest::newRow("IPv6 loopback") << "::1" << 2121 << "ftp://[::1]:2121/pub/a.txt";
    QTest::newRow("IPv6, port 21") << "2001:db8::7" << 21 << "ftp://[2001:db8::7]/pub/a.txt";
}

// An IPv6 address without brackets would read as host and port; the URL pastes back to the
// same host and port.
void FileModelTest::remoteUrlsNameTheHostAndPortAsAUrlMust()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, expected);
    const QString url = RemoteEntryUrl(host.toStdString(), port, "/pub/a.txt");
    QCOMPARE(url, expected);
    FtpUrl parts;
    QVERIFY(SplitFtpUrl(url.toStdString(), parts));
    QCOMPARE(QString::fromStdString(parts.host), host);
    QCOMPARE(int(parts.port), port);
}

void FileModelTest::clipboardLinesMustAllBeFtpUrls()
{
    QMimeData data;
    SetUrlLines(data, {QStringLiteral("ftp://h/a"), QStringLiteral("ftp://h/b")});
    QVERIFY(data.hasFormat(QString::fromLatin1(kTollvaneUrlMime)));
    QCOMPARE(data.text(), QStringLiteral("ftp://h/a\r\nftp://h/b"));
    QCOMPARE(FtpUrlLines(data), QStringList({QStringLiteral("ftp://h/a"), QStringLiteral("ftp://h/b")}));
    QMimeData mixed;
    mixed.setText(QStringLiteral("ftp://h/a\nhttp://h/b"));
    QVERIFY(FtpUrlLines(mixed).isEmpty());
}

void FileModelTest::localModelSortsFoldersFirst()
{
    LocalFileModel model;
    FILE_DATA file;
    file.strName = "a.txt";
    file.SetFileSize(2);
    FILE_DATA folder;
    folder.strName = "z";
    folder.bDirectory = true;
    model.setEntries("/tmp", {file, folder});
    QCOMPARE(Names(model), QStringList({QStringLiteral("z"), QStringLiteral("a.txt")}));
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.fullPath(0), std::string("/tmp/z"));
    model.sort(0, Qt::DescendingOrder);
    QCOMPARE(Names(model), QStringList({QStringLiteral("a.txt"), QStringLiteral("z")}));
}

QTEST_MAIN(FileModelTest)
#include "FileModelTest.moc"
