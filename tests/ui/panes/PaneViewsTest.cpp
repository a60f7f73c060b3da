// The file panes' four list styles and the copy between two local tabs, in the main
// window: every style keeps the selection and the pane's keys and commands; the frame's
// style commands act on the focused pane; a local copy runs beside a live window, goes
// through a partial name, asks before it replaces a file, and can be cancelled.

#include "sites/SharedSettings.h"
#include "ui/FileTableView.h"
#include "ui/LocalFileModel.h"
#include "ui/LocalPane.h"
#include "ui/MainFrame.h"
#include "ui/OverwriteDialog.h"
#include "ui/PaneLocalCopy.h"
#include "ui/PaneTransfer.h"
#include "ui/SessionList.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace {

constexpr int kWait = 60000;

void WriteFile(const std::string& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string RandomBytes(std::size_t size)
{
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(random() & 0xFF);
    return bytes;
}

// Partial files anywhere beneath a folder.
int PartFiles(const std::string& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().extension() == ".tvpart")
            ++count;
    }
    return count;
}

} // namespace

class PaneViewsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyStyleKeepsSelectionAndCommands_data();
    void everyStyleKeepsSelectionAndCommands();
    void listStyleButtonStepsTheFocusedPane();
    void localCopyBetweenTabs_data();
    void localCopyBetweenTabs();
    void localCopyAsksBeforeReplacing();
    void cancelWhileAskingStopsTheCopy();
    void largeCopyLeavesTheWindowLiveAndNoHalfFile();

private:
    LocalPane* left() const { return qobject_cast<LocalPane*>(m_frame->leftSiteView()->currentPane()); }
    LocalPane* right() const { return qobject_cast<LocalPane*>(m_frame->rightSiteView()->currentPane()); }
    PaneTransfer* transfers() const { return m_frame->paneTransfer(); }
    static void select(LocalPane* pane, const QStringList& names);
    // Drops the left pane's selection on the right pane; returns the copy that started.
    PaneLocalCopy* dropLeftOnRight(bool alt);

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_a;
    std::unique_ptr<QTemporaryDir> m_b;
    CSharedSettings m_settings;
    SiteList m_sites;
    std::unique_ptr<SessionList> m_sessions;
    std::unique_ptr<MainFrame> m_frame;
};

void PaneViewsTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

void PaneViewsTest::init()
{
    m_a = std::make_unique<QTemporaryDir>();
    m_b = std::make_unique<QTemporaryDir>();
    QVERIFY(m_a->isValid() && m_b->isValid());
    const std::string a = m_a->path().toStdString();
    WriteFile(a + "/a.txt", "alpha");
    WriteFile(a + "/b.txt", "beta");
    WriteFile(a + "/sub/inner.txt", "inner");
    CSettings table;
    table.DefaultLocalDirectory = a;
    table.SaveLocalDir = 0;
    table.pDelete = 0;
    m_settings.Replace(table);
    m_sessions = std::make_unique<SessionList>(m_settings);
    m_frame = std::make_unique<MainFrame>(FrameContext{&m_settings, &m_sites, m_sessions.get(), m_home.path().toStdString() + "/"});
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    m_frame->rightSiteView()->openLocal(m_b->path().toStdString());
    QVERIFY(left() && right());
    QCOMPARE(left()->currentPath(), a);
}

void PaneViewsTest::cleanup()
{
    m_frame.reset();
    m_sessions.reset();
}

void PaneViewsTest::select(LocalPane* pane, const QStringList& names)
{
    QItemSelectionModel* selection = pane->table()->selectionModel();
    selection->clearSelection();
    for (const QString& name : names) {
        const int row = pane->model()->rowOfName(name.toStdString());
        QVERIFY2(row >= 0, qPrintable(name));
        const QModelIndex index = pane->model()->index(row, 0);
        selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
}

void PaneViewsTest::everyStyleKeepsSelectionAndCommands_data()
{
    QTest::addColumn<QString>("command"); // the frame's action
    QTest::addColumn<int>("style");
    QTest::newRow("large icons") << "largeIcons" << int(PaneViewStyle::LargeIcons);
    QTest::newRow("small icons") << "smallIcons" << int(PaneViewStyle::SmallIcons);
    QTest::newRow("list") << "listStyle" << int(PaneViewStyle::List);
    QTest::newRow("details") << "details" << int(PaneViewStyle::Details);
}

void PaneViewsTest::everyStyleKeepsSelectionAndCommands()
{
    QFETCH(QString, command);
    QFETCH(int, style);
    LocalPane* pane = right();
    WriteFile(m_b->path().toStdString() + "/b.txt", "beta");
    WriteFile(m_b->path().toStdString() + "/sub/inner.txt", "inner");
    pane->refresh();
    select(pane, {QStringLiteral("b.txt")});
    const int selectedRow = pane->model()->rowOfName("b.txt");

    // The frame's command sets the style of the pane that has the focus, not the other one.
    m_frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
    pane->table()->setFocus();
    QTRY_VERIFY(pane->table()->hasFocus());
    QAction* frameCommand = m_frame->findChild<QAction*>(command);
    QVERIFY(frameCommand && frameCommand->isEnabled());
    frameCommand->trigger();
    QCOMPARE(int(pane->viewStyle()), style);
    QCOMPARE(int(left()->viewStyle()), int(PaneViewStyle::Details));
    QVERIFY(frameCommand->isChecked());
    QVERIFY(pane->action(command)->isChecked()); // the pane's own "File List" menu agrees
    QAbstractItemView* view = pane->currentView();
    QVERIFY(view->isVisible());
    QCOMPARE(view == pane->table(), style == int(PaneViewStyle::Details));
    QVERIFY(view->hasFocus());
    QCOMPARE(pane->selectedRows(), QList<int>({selectedRow}));
    QVERIFY(view->selectionModel()->isRowSelected(selectedRow, {}));

    // Copy puts the selected file's path on the clipboard.
    QTest::keySequence(view, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->mimeData()->urls().value(0).toLocalFile(), m_b->path() + QStringLiteral("/b.txt"));

    // Enter opens a folder, Backspace comes back with the folder selected.
    select(pane, {QStringLiteral("sub")});
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(pane->currentPath(), m_b->path().toStdString() + "/sub");
    QTest::keyClick(view, Qt::Key_Backspace);
    QCOMPARE(pane->currentPath(), m_b->path().toStdString());
    QCOMPARE(pane->selectedRows(), QList<int>({pane->model()->rowOfName("sub")}));

    // Rename edits the name in place in this style.
    select(pane, {QStringLiteral("b.txt")});
    pane->action(QStringLiteral("rename"))->trigger();
    QLineEdit* editor = nullptr;
    QTRY_VERIFY((editor = view->viewport()->findChild<QLineEdit*>()) != nullptr && editor->isVisible());
    editor->setText(QStringLiteral("renamed.txt"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(pane->model()->rowOfName("renamed.txt") >= 0);
    QCOMPARE(ReadFile(m_b->path().toStdString() + "/renamed.txt"), std::string("beta"));
    QCOMPARE(pane->selectedRows(), QList<int>({pane->model()->rowOfName("renamed.txt")}));

    // Delete (permanently here, without the question) acts on the selection.
    QTest::keyClick(view, Qt::Key_Delete, Qt::ShiftModifier);
    QTRY_VERIFY(!std::filesystem::exists(m_b->path().toStdString() + "/renamed.txt"));
    QVERIFY(std::filesystem::exists(m_b->path().toStdString() + "/sub/inner.txt"));
}

void PaneViewsTest::listStyleButtonStepsTheFocusedPane()
{
    LocalPane* pane = left();
    QAction* next = m_frame->findChild<QAction*>(QStringLiteral("nextListStyle"));
    QVERIFY(next && next->isEnabled());
    QList<int> seen;
    for (int step = 0; step < 4; ++step) {
        next->trigger();
        seen.push_back(int(pane->viewStyle()));
    }
    QCOMPARE(seen, QList<int>({int(PaneViewStyle::LargeIcons), int(PaneViewStyle::SmallIcons), int(PaneViewStyle::List),
                               int(PaneViewStyle::Details)}));
    QCOMPARE(int(right()->viewStyle()), int(PaneViewStyle::Details));
}

PaneLocalCopy* PaneViewsTest::dropLeftOnRight(bool alt)
{
    PaneLocalCopy* started = nullptr;
    const QMetaObject::Connection connection =
        connect(transfers(), &PaneTransfer::localCopyStarted, this, [&started](PaneLocalCopy* copy) { started = copy; });
    std::unique_ptr<QMimeData> drag(left()->viewEvents().dragData());
    if (drag && right()->viewEvents().acceptsDrop(drag.get()))
        right()->viewEvents().dropped(drag.get(), -1, alt ? Qt::AltModifier : Qt::NoModifier);
    disconnect(connection);
    return started;
}

void PaneViewsTest::localCopyBetweenTabs_data()
{
    QTest::addColumn<bool>("alt");
    QTest::newRow("copy") << false;
    QTest::newRow("move (Alt held)") << true;
}

void PaneViewsTest::localCopyBetweenTabs()
{
    QFETCH(bool, alt);
    const std::string a = m_a->path().toStdString();
    const std::string b = m_b->path().toStdString();
    select(left(), {QStringLiteral("a.txt"), QStringLiteral("sub")});
    PaneLocalCopy* copy = dropLeftOnRight(alt);
    QVERIFY(copy);
    bool finished = false;
    QString errors;
    connect(copy, &PaneLocalCopy::finished, this, [&](const QString& text, bool) {
        finished = true;
        errors = text;
    });
    QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
    QCOMPARE(errors, QString());
    QCOMPARE(ReadFile(b + "/a.txt"), std::string("alpha"));
    QCOMPARE(ReadFile(b + "/sub/inner.txt"), std::string("inner"));
    QCOMPARE(PartFiles(b), 0);
    QCOMPARE(std::filesystem::exists(a + "/a.txt"), !alt);
    QCOMPARE(std::filesystem::exists(a + "/sub"), !alt);
    QVERIFY(std::filesystem::exists(a + "/b.txt")); // not selected
    // Both panes show the result.
    QTRY_VERIFY(right()->model()->rowOfName("a.txt") >= 0 && right()->model()->rowOfName("sub") >= 0);
    QCOMPARE(left()->model()->rowOfName("a.txt") >= 0, !alt);
}

void PaneViewsTest::localCopyAsksBeforeReplacing()
{
    const std::string b = m_b->path().toStdString();
    WriteFile(b + "/a.txt", "older text");
    right()->refresh();
    QList<OverwriteDialog*> questions;
    connect(transfers(), &PaneTransfer::localCopyQuestionOpened, this, [&](OverwriteDialog* dialog) { questions.push_back(dialog); });
    for (const int answer : {int(OverwriteDialog::Skip), int(OverwriteDialog::Overwrite)}) {
        questions.clear();
        std::filesystem::remove(b + "/b.txt");
        select(left(), {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
        PaneLocalCopy* copy = dropLeftOnRight(false);
        QVERIFY(copy);
        bool finished = false;
        connect(copy, &PaneLocalCopy::finished, this, [&finished] { finished = true; });
        QTRY_VERIFY_WITH_TIMEOUT(questions.size() == 1, kWait);
        // The copy waits for the answer and has written nothing under the name yet.
        QCOMPARE(ReadFile(b + "/a.txt"), std::string("older text"));
        QVERIFY(!finished);
        questions.front()->button(OverwriteDialog::Action(answer))->click();
        QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
        QCOMPARE(questions.size(), 1); // b.txt did not exist: no question
        QCOMPARE(ReadFile(b + "/a.txt"), std::string(answer == OverwriteDialog::Skip ? "older text" : "alpha"));
        QCOMPARE(ReadFile(b + "/b.txt"), std::string("beta"));
        QCOMPARE(PartFiles(b), 0);
    }
}

void PaneViewsTest::cancelWhileAskingStopsTheCopy()
{
    const std::string a = m_a->path().toStdString();
    const std::string b = m_b->path().toStdString();
    WriteFile(b + "/a.txt", "older text");
    WriteFile(a + "/z-big.bin", RandomBytes(8 << 20));
    left()->refresh();
    OverwriteDialog* question = nullptr;
    connect(transfers(), &PaneTransfer::localCopyQuestionOpened, this, [&](OverwriteDialog* dialog) { question = dialog; });
    select(left(), {QStringLiteral("a.txt"), QStringLiteral("z-big.bin")});
    PaneLocalCopy* copy = dropLeftOnRight(false);
    QVERIFY(copy);
    bool finished = false;
    bool wasCancelled = false;
    connect(copy, &PaneLocalCopy::finished, this, [&](const QString&, bool cancelled) {
        finished = true;
        wasCancelled = cancelled;
    });
    QTRY_VERIFY_WITH_TIMEOUT(question != nullptr, kWait);
    auto* progress = m_frame->findChild<QProgressDialog*>(QStringLiteral("localCopyProgress"));
    QVERIFY(progress);
    QPushButton* cancel = progress->findChild<QPushButton*>();
    QVERIFY(cancel);
    cancel->click();
    QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
    QVERIFY(wasCancelled);
    QCOMPARE(ReadFile(b + "/a.txt"), std::string("older text"));
    QVERIFY(!std::filesystem::exists(b + "/z-big.bin"));
    QCOMPARE(PartFiles(b), 0);
}

void PaneViewsTest::largeCopyLeavesTheWindowLiveAndNoHalfFile()
{
    const std::string a = m_a->path().toStdString();
    const std::string b = m_b->path().toStdString();
    const std::string content = RandomBytes(96 << 20);
    WriteFile(a + "/big.bin", content);
    left()->refresh();
    select(left(), {QStringLiteral("big.bin")});
    PaneLocalCopy* copy = dropLeftOnRight(false);
    QVERIFY(copy);
    bool finished = false;
    connect(copy, &PaneLocalCopy::finished, this, [&finished] { finished = true; });
    // The drop returned before the copy ended: the end comes as a queued call.
    QVERIFY(!finished);
    // While it runs the window's event loop turns, and the final name never holds part of
    // the file.
    int turns = 0;
    int halfFiles = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        ++turns;
        std::error_code error;
        const auto size = std::filesystem::file_size(b + "/big.bin", error);
        if (!error && size != content.size())
            ++halfFiles;
    });
    watch.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
    watch.stop();
    QVERIFY(turns > 0);
    QCOMPARE(halfFiles, 0);
    QVERIFY(ReadFile(b + "/big.bin") == content);
    QCOMPARE(PartFiles(b), 0);
}

QTEST_MAIN(PaneViewsTest)
#include "PaneViewsTest.moc"
