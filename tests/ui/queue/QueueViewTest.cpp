// The queue view over a session's queue: the columns, the four moves as a table (the
// entries keep their order among themselves, a transferring entry never moves by itself),
// Remove and Reset leaving the transferring entry alone, Properties of an entry that the
// run finished meanwhile, the selection following its entries while the queue changes,
// Copy URL, and the context menu's enabling rules.

#include "session/FtpSession.h"
#include "ui/OpenSession.h"
#include "ui/QueueEntryDialog.h"
#include "ui/QueueModel.h"
#include "ui/QueueView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <memory>

namespace {

// A session (never started) whose queue holds entries named by one letter each.
class QueueFixture {
public:
    QueueFixture()
    {
        CSiteSetting site;
        site.address = "ftp.example.test";
        session = std::make_unique<OpenSession>(settings, site, TransferLogSinks{});
    }
    CTransferQueue& queue() { return session->session().Queue(); }

    // "A,B*,C!": entries A, B, C; "*" selected, "!" transferring.
    void fill(QueueView& view, const QString& rows)
    {
        std::vector<QueueEntryId> selected;
        for (QString item : rows.split(QLatin1Char(','))) {
            const bool isSelected = item.contains(QLatin1Char('*'));
            const bool transferring = item.contains(QLatin1Char('!'));
            item.remove(QLatin1Char('*')).remove(QLatin1Char('!'));
            CQueueEntry* entry = add(item.toStdString());
            if (transferring)
                entry->status = STATUS_TRANSFERRING;
            if (isSelected)
                selected.push_back(entry->id);
        }
        view.setSession(session.get());
        view.selectEntries(selected);
    }
    CQueueEntry* add(const std::string& name, std::uint64_t size = 5)
    {
        auto entry = std::make_unique<CQueueEntry>();
        entry->remotePath = "/pub/" + name;
        entry->localPath = "/tmp/in";
        entry->SetSize(size);
        CQueueEntry* raw = entry.get();
        queue().Append(std::move(entry));
        byName[name] = raw;
        return raw;
    }
    // The identity of the entry named `name`.
    QueueEntryId id(const std::string& name) const { return byName.at(name)->id; }
    // The queue's order as "A,B,C".
    QString order()
    {
        QStringList names;
        queue().ForEach([&](const CQueueEntry& entry) {
            names << QString::fromStdString(entry.remotePath.substr(5));
        });
        return names.join(QLatin1Char(','));
    }
    QString shown(const QueueView& view, int column = QueueModel::ServerPath)
    {
        QStringList cells;
        for (int row = 0; row < view.model()->rowCount(); ++row)
            cells << view.model()->index(row, column).data().toString();
        return cells.join(QLatin1Char(','));
    }
    QString selectedNames(const QueueView& view)
    {
        QStringList names;
        for (QueueEntryId entry : view.selectedEntries())
            names << QString::fromStdString(queue().Find(entry)->remotePath.substr(5));
        return names.join(QLatin1Char(','));
    }

    CSharedSettings settings;
    std::unique_ptr<OpenSession> session;
    std::map<std::string, CQueueEntry*> byName;
};

} // namespace

Q_DECLARE_METATYPE(QueueMove)

class QueueViewTest : public QObject {
    Q_OBJECT
private slots:
    void columnsWidthsAndTexts();
    void moves_data();
    void moves();
    void removeLeavesTheTransferringEntry();
    void resetLeavesTheTransferringEntry();
    void clearLeavesTheTransferringEntry();
    void propertiesWriteBackAndAnEmptyPatternBecomesStar();
    void propertiesOfAnEntryTheRunFinishedAreReportedNotWritten();
    void propertiesKeepOrConvertBytesThatAreNotUtf8_data();
    void propertiesKeepOrConvertBytesThatAreNotUtf8();
    void propertiesRefuseWhatAQueueFileCannotHold();
    void selectionFollowsItsEntriesWhileTheQueueChanges();
    void aRowGoesWhenItsEntryFinishes();
    void copyUrl();
    void theTransferringRowShowsItsProgress();
    void contextMenuEnabling();
    void deleteKeyRemoves();
};

void QueueViewTest::columnsWidthsAndTexts()
{
    QueueFixture f;
    QueueView view;
    CQueueEntry* known = f.add("known", 1234567);
    CQueueEntry* unknown = f.add("unknown");
    unknown->SetSizeUnknown();
    unknown->operation = QUEUE_UPLOAD;
    unknown->status = STATUS_STOPPED;
    unknown->updateOnly = 1;
    unknown->pattern = "*.txt";
    known->status = STATUS_ERROR;
    view.setSession(f.session.get());

    const QStringList headers = {"ServerPath", "Operation", "ClientPath", "Size", "Status", "Pattern", "Update Only"};
    const int widths[] = {200, 100, 200, 100, 80, 100, 100};
    for (int column = 0; column < headers.size(); ++column) {
        QCOMPARE(view.model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        QCOMPARE(view.columnWidth(column), widths[column]);
    }
    QCOMPARE(view.selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view.selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(f.shown(view, QueueModel::Size), QStringLiteral("1,234,567,unknown"));
    QCOMPARE(f.shown(view, QueueModel::Operation), QStringLiteral("Download,Upload"));
    QCOMPARE(f.shown(view, QueueModel::Status), QStringLiteral("error,stopped"));
    QCOMPARE(f.shown(view, QueueModel::Pattern), QStringLiteral("*,*.txt"));
    QCOMPARE(f.shown(view, QueueModel::UpdateOnly), QStringLiteral("false,true"));
    QCOMPARE(f.shown(view, QueueModel::ClientPath), QStringLiteral("/tmp/in,/tmp/in"));
}

void QueueViewTest::moves_data()
{
    QTest::addColumn<QString>("rows"); // "*" selected, "!" transferring
    QTest::addColumn<QueueMove>("how");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("selectedAfter");

    QTest::newRow("bottom: two apart") << "A,B*,C,D*" << QueueMove::Bottom << "A,C,B,D" << "B,D";
    QTest::newRow("bottom: under the bottom block") << "A*,B,C*,D,E*" << QueueMove::Bottom << "B,D,A,C,E" << "A,C,E";
    QTest::newRow("top: two apart") << "A*,B,C*,D*" << QueueMove::Top << "A,C,D,B" << "A,C,D";
    QTest::newRow("top: the top row alone stays") << "A*,B,C" << QueueMove::Top << "A,B,C" << "A";
    QTest::newRow("up: the top row alone stays") << "A*,B,C" << QueueMove::Up << "A,B,C" << "A";
    QTest::newRow("up: each one place") << "A,B*,C,D*" << QueueMove::Up << "B,A,D,C" << "B,D";
    QTest::newRow("up: a block moves together") << "A,B*,C*,D" << QueueMove::Up << "B,C,A,D" << "B,C";
    QTest::newRow("up: the top block stays, the rest moves") << "A*,B,C*" << QueueMove::Up << "A,C,B" << "A,C";
    QTest::newRow("down: the bottom row alone stays") << "A,B,C*" << QueueMove::Down << "A,B,C" << "C";
    QTest::newRow("down: each one place") << "A*,B,C*,D" << QueueMove::Down << "B,A,D,C" << "A,C";
    QTest::newRow("down: a block moves together") << "A*,B*,C" << QueueMove::Down << "C,A,B" << "A,B";
    QTest::newRow("bottom: the transferring entry stays") << "A,B!*,C*,D" << QueueMove::Bottom << "A,B,D,C" << "B,C";
    QTest::newRow("top: the transferring entry stays") << "A,B,C!*,D*" << QueueMove::Top << "D,A,B,C" << "D,C";
    QTest::newRow("down: others pass the transferring entry") << "A!*,B*,C" << QueueMove::Down << "A,C,B" << "A,B";
    QTest::newRow("nothing selected") << "A,B,C" << QueueMove::Bottom << "A,B,C" << "";
}

void QueueViewTest::moves()
{
    QFETCH(QString, rows);
    QFETCH(QueueMove, how);
    QFETCH(QString, order);
    QFETCH(QString, selectedAfter);
    QueueFixture f;
    QueueView view;
    f.fill(view, rows);
    view.move(how);
    QCOMPARE(f.order(), order);
    QCOMPARE(f.shown(view), QString(order).replace(QStringLiteral(","), QStringLiteral(",/pub/")).prepend(QStringLiteral("/pub/")));
    // The selection follows the moved entries.
    QCOMPARE(f.selectedNames(view), selectedAfter);
}

void QueueViewTest::removeLeavesTheTransferringEntry()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B!*,C*,D");
    view.removeSelected();
    QCOMPARE(f.order(), QStringLiteral("A,B,D"));
    QCOMPARE(view.model()->rowCount(), 3);
}

void QueueViewTest::resetLeavesTheTransferringEntry()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A!,B,C");
    f.byName["B"]->status = STATUS_ERROR;
    f.byName["C"]->status = STATUS_STOPPED;
    view.resetQueue();
    QCOMPARE(f.byName["A"]->status, int(STATUS_TRANSFERRING));
    QCOMPARE(f.byName["B"]->status, int(STATUS_QUEUED));
    QCOMPARE(f.byName["C"]->status, int(STATUS_QUEUED));
    QCOMPARE(f.shown(view, QueueModel::Status), QStringLiteral("transferring,queued,queued"));
}

void QueueViewTest::clearLeavesTheTransferringEntry()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B!,C");
    view.clearQueue();
    QCOMPARE(f.order(), QStringLiteral("B"));
    QCOMPARE(f.shown(view), QStringLiteral("/pub/B"));
}

void QueueViewTest::propertiesWriteBackAndAnEmptyPatternBecomesStar()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B*");
    f.byName["B"]->pattern = "*.txt";
    view.showProperties();
    QueueEntryDialog* dialog = view.propertiesDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->remotePathEdit()->text(), QStringLiteral("/pub/B"));
    QCOMPARE(dialog->patternEdit()->text(), QStringLiteral("*.txt"));
    dialog->localPathEdit()->setText(QStringLiteral("/tmp/elsewhere"));
    dialog->patternEdit()->clear();
    dialog->accept();
    QCOMPARE(f.byName["B"]->localPath, std::string("/tmp/elsewhere"));
    QCOMPARE(f.byName["B"]->pattern, std::string("*"));
    QCOMPARE(view.model()->index(1, QueueModel::ClientPath).data().toString(), QStringLiteral("/tmp/elsewhere"));
}

void QueueViewTest::propertiesOfAnEntryTheRunFinishedAreReportedNotWritten()
{
    QueueFixture f;
    QueueView view;
    QSignalSpy messages(&view, &QueueView::message);
    f.fill(view, "A,B*,C");
    view.showProperties();
    QueueEntryDialog* dialog = view.propertiesDialog();
    QVERIFY(dialog);
    dialog->localPathEdit()->setText(QStringLiteral("/tmp/elsewhere"));
    // The run finishes B while the dialog is open; C is still queued.
    QVERIFY(f.queue().Remove(f.id("B")));
    dialog->accept();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.front().front().toString().contains(QStringLiteral("nothing was changed")));
    QCOMPARE(f.order(), QStringLiteral("A,C"));
    for (const char* name : {"A", "C"})
        QCOMPARE(f.byName[name]->localPath, std::string("/tmp/in"));

    // An entry that became the transferring one is not written either.
    f.fill(view, "D,E*");
    view.showProperties();
    QVERIFY(view.propertiesDialog());
    view.propertiesDialog()->patternEdit()->setText(QStringLiteral("x"));
    f.byName["E"]->status = STATUS_TRANSFERRING;
    view.propertiesDialog()->accept();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(f.byName["E"]->pattern, std::string("*"));
}

void QueueViewTest::propertiesKeepOrConvertBytesThatAreNotUtf8_data()
{
    // Each row: what the user does to the three fields (empty: leaves it alone), then the
    // bytes expected in the entry afterwards.
    QTest::addColumn<QString>("typedRemote");
    QTest::addColumn<QString>("typedLocal");
    QTest::addColumn<QString>("typedPattern");
    QTest::addColumn<QByteArray>("remote");
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("pattern");
    QTest::newRow("nothing changed") << QString() << QString() << QString() << QByteArray("/pub/caf\xe9")
                                     << QByteArray("/tmp/\xff\\xE9") << QByteArray("*.\xe8");
    QTest::newRow("remote path extended") << QStringLiteral("/pub/caf\\xE9/more") << QString() << QString()
                                          << QByteArray("/pub/caf\xe9/more") << QByteArray("/tmp/\xff\\xE9")
                                          << QByteArray("*.\xe8");
    QTest::newRow("local path retyped") << QString() << QStringLiteral(u"/tmp/\\xFE\\x5CxE9 \u00e9") << QString()
                                        << QByteArray("/pub/caf\xe9") << QByteArray("/tmp/\xfe\\xE9 \xc3\xa9")
                                        << QByteArray("*.\xe8");
    QTest::newRow("pattern typed as text") << QString() << QString() << QStringLiteral("*.txt")
                                           << QByteArray("/pub/caf\xe9") << QByteArray("/tmp/\xff\\xE9")
                                           << QByteArray("*.txt");
}

void QueueViewTest::propertiesKeepOrConvertBytesThatAreNotUtf8()
{
    QFETCH(QString, typedRemote);
    QFETCH(QString, typedLocal);
    QFETCH(QString, typedPattern);
    QFETCH(QByteArray, remote);
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, pattern);
    QueueFixture f;
    QueueView view;
    f.fill(view, "A*");
    CQueueEntry* entry = f.byName["A"];
    entry->remotePath = "/pub/caf\xe9";
    // The local name holds the text of an escape, not the byte.
    entry->localPath = "/tmp/\xff\\xE9";
    entry->pattern = "*.\xe8";
    view.queueModel()->markStale(entry->id);
    view.queueModel()->refresh();
    view.showProperties();
    QueueEntryDialog* dialog = view.propertiesDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->remotePathEdit()->text(), QStringLiteral("/pub/caf\\xE9"));
    QCOMPARE(dialog->localPathEdit()->text(), QStringLiteral("/tmp/\\xFF\\x5CxE9"));
    QCOMPARE(dialog->patternEdit()->text(), QStringLiteral("*.\\xE8"));
    if (!typedRemote.isEmpty())
        dialog->remotePathEdit()->setText(typedRemote);
    if (!typedLocal.isEmpty())
        dialog->localPathEdit()->setText(typedLocal);
    if (!typedPattern.isEmpty())
        dialog->patternEdit()->setText(typedPattern);
    dialog->accept();
    QVERIFY(!view.propertiesDialog());
    QCOMPARE(QByteArray::fromStdString(entry->remotePath), remote);
    QCOMPARE(QByteArray::fromStdString(entry->localPath), local);
    QCOMPARE(QByteArray::fromStdString(entry->pattern), pattern);
}

void QueueViewTest::propertiesRefuseWhatAQueueFileCannotHold()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A*");
    view.show();
    view.showProperties();
    QueueEntryDialog* dialog = view.propertiesDialog();
    QVERIFY(dialog);
    dialog->localPathEdit()->setText(QStringLiteral("/tmp/two\\x0Alines"));
    dialog->accept();
    // Still open, saying why; the entry is as it was.
    QVERIFY(view.propertiesDialog());
    QVERIFY(dialog->problemLabel()->isVisible());
    QVERIFY(dialog->problemLabel()->text().contains(QStringLiteral("line break")));
    QCOMPARE(f.byName["A"]->localPath, std::string("/tmp/in"));
    dialog->localPathEdit()->setText(QStringLiteral("/tmp/one line"));
    dialog->accept();
    QVERIFY(!view.propertiesDialog());
    QCOMPARE(f.byName["A"]->localPath, std::string("/tmp/one line"));
}

void QueueViewTest::selectionFollowsItsEntriesWhileTheQueueChanges()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B,C*,D*");
    QSignalSpy resets(view.model(), &QAbstractItemModel::modelReset);
    view.setCurrentIndex(view.model()->index(2, 0));
    view.selectEntries({f.id("C"), f.id("D")});
    // The run finishes A, the user queues E and F, and B changes its status.
    QVERIFY(f.queue().Remove(f.id("A")));
    f.add("E");
    f.add("F");
    f.byName["B"]->status = STATUS_ERROR;
    view.queueModel()->refresh();
    QCOMPARE(f.shown(view), QStringLiteral("/pub/B,/pub/C,/pub/D,/pub/E,/pub/F"));
    QCOMPARE(f.shown(view, QueueModel::Status), QStringLiteral("error,queued,queued,queued,queued"));
    QCOMPARE(f.selectedNames(view), QStringLiteral("C,D"));
    QCOMPARE(view.currentIndex().row(), 1);
    QCOMPARE(resets.size(), 0); // no reset: nothing flickers
}

void QueueViewTest::aRowGoesWhenItsEntryFinishes()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B");
    QSignalSpy removed(view.model(), &QAbstractItemModel::rowsRemoved);
    // The change is reported by the session's queue; the view catches up on its own.
    QVERIFY(f.queue().Remove(f.id("A")));
    QTRY_COMPARE_WITH_TIMEOUT(view.model()->rowCount(), 1, 10000);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(f.shown(view), QStringLiteral("/pub/B"));
}

void QueueViewTest::copyUrl()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B*");
    view.copyUrl();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ftp://ftp.example.test/pub/B"));
}

void QueueViewTest::theTransferringRowShowsItsProgress()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A!,B");
    CFtpSession& session = f.session->session();
    session.SetTransferring(true);
    session.SetTransferredBytes(1024);
    view.tick();
    QCOMPARE(view.model()->index(0, QueueModel::Status).data().toString(), QStringLiteral("transferring 1,024"));
    // Without a known size there is no percentage to draw as a bar.
    QVERIFY(!view.model()->index(0, QueueModel::Status).data(QueueModel::ProgressPercentRole).isValid());
    QCOMPARE(view.model()->index(1, QueueModel::Status).data().toString(), QStringLiteral("queued"));
    // The next tick knows the rate as well.
    QTest::qWait(300);
    session.SetTransferredBytes(1024 * 1024);
    view.tick();
    const QString status = view.model()->index(0, QueueModel::Status).data().toString();
    QVERIFY2(status.startsWith(QStringLiteral("transferring 1,048,576 ")) && status.endsWith(QStringLiteral("KB/s")),
             qPrintable(status));
    // Finished: the row goes, and with it the progress.
    session.SetTransferring(false);
    f.queue().Complete(f.id("A")); // the run's way: Remove leaves a transferring entry alone
    view.queueModel()->refresh();
    QCOMPARE(f.shown(view, QueueModel::Status), QStringLiteral("queued"));
    QVERIFY(view.queueModel()->progressText().isEmpty());
}

void QueueViewTest::contextMenuEnabling()
{
    QueueFixture f;
    QueueView view;
    view.setSession(f.session.get());
    view.updateActions();
    QVERIFY(!view.clearAction()->isEnabled());
    QVERIFY(!view.resetAction()->isEnabled());
    QVERIFY(!view.copyUrlAction()->isEnabled());

    f.fill(view, "A,B,C");
    view.updateActions();
    QVERIFY(view.clearAction()->isEnabled());
    QVERIFY(view.resetAction()->isEnabled());
    for (QAction* action : {view.removeAction(), view.moveUpAction(), view.moveDownAction(), view.moveTopAction(),
                            view.moveBottomAction(), view.copyUrlAction()})
        QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));

    view.selectEntries({f.id("B")});
    for (QAction* action : {view.removeAction(), view.moveUpAction(), view.moveDownAction(), view.moveTopAction(),
                            view.moveBottomAction(), view.copyUrlAction()})
        QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));

    view.selectEntries({f.id("A"), f.id("C")});
    QVERIFY(!view.copyUrlAction()->isEnabled());
    QVERIFY(view.removeAction()->isEnabled());
}

void QueueViewTest::deleteKeyRemoves()
{
    QueueFixture f;
    QueueView view;
    f.fill(view, "A,B*,C");
    view.show();
    view.setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::keyClick(&view, Qt::Key_Delete);
    QCOMPARE(f.order(), QStringLiteral("A,C"));
    view.selectEntries({f.id("C")});
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ftp://ftp.example.test/pub/C"));
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(f.selectedNames(view), QStringLiteral("A,C"));
}

QTEST_MAIN(QueueViewTest)
#include "QueueViewTest.moc"
