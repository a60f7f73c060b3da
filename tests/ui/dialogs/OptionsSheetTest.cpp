// The options sheet: Cancel leaves the table and the store alone, OK stores every page at
// once and writes the table, the extension list's refusals, the default viewer, the
// ranges, the plain-text help of each page, and a running session that takes a changed
// "Timeout" from its next operation.

#include "ftp/FtpTypes.h"
#include "session/FtpSession.h"
#include "session/SessionCommand.h"
#include "sites/MemorySettingsStore.h"
#include "sites/SettingsIo.h"
#include "sites/SharedSettings.h"
#include "tests/support/FtpServers.h"
#include "ui/OpenSession.h"
#include "ui/OptionsSheet.h"
#include "ui/SessionList.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <csignal>

namespace {

constexpr int kWait = 30000;

// Every saved value of a table, as the store would hold it: two tables are equal for the
// user when these are.
std::map<std::string, std::string> Saved(const CSettings& table)
{
    MemorySettingsStore store;
    WriteSettings(store, table, {});
    std::map<std::string, std::string> values;
    for (const std::string& name : store.WriteOrder()) {
        if (auto number = store.ReadInt(name))
            values[name] = std::to_string(*number);
        else
            values[name] = store.ReadString(name).value_or("?");
    }
    values["CacheHomeDirectory"] = table.CacheHomeDirectory;
    return values;
}

CSettings Unusual()
{
    CSettings t;
    t.KeepAlive = 0;
    t.AntiIdleCommandInterval = 45;
    t.DefaultLocalDirectory = "/home/user/files";
    t.CacheHomeDirectory = "/home/user/cache";
    t.ViewerPath = "/usr/bin/less";
    t.Timeout = 90;
    t.ErrorRetry = 3;
    t.TextFileExtension = "txt;md;";
    t.DefaultOverwriteAction = 1;
    t.PromptSeconds = 7;
    t.DisableAllPrompt = 1;
    return t;
}

QMessageBox* VisibleMessage(QWidget* parent)
{
    for (QMessageBox* box : parent->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

template <class T>
T* Child(QWidget* parent, const char* name)
{
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

// A pyftpdlib server the test can freeze, so a command's reply never comes.
class FreezablePyftpdlib : public tvtest::PyftpdlibServer {
public:
    void freeze(bool on) const
    {
        if (pid_ > 0)
            ::kill(pid_, on ? SIGSTOP : SIGCONT);
    }
};

} // namespace

class OptionsSheetTest : public QObject {
    Q_OBJECT
private slots:
    void cancelLeavesEverySettingAsItWas();
    void okStoresEveryPageAndWritesTheTableAtOnce();
    void okKeepsWhatChangedMeanwhileOutsideTheSheet();
    void extensionRefusals_data();
    void extensionRefusals();
    void addingAListedExtensionInOtherCaseShowsTheMessage();
    void anEmptiedViewerStoresTheDefaultViewer();
    void rangesOfTheNumbers();
    void everyControlHasAnAccessibleName();
    void helpShowsThePlainTextHelpOfTheCurrentPageBesideTheSheet();
    void aRunningSessionTakesAChangedTimeoutFromItsNextOperation();
};

void OptionsSheetTest::cancelLeavesEverySettingAsItWas()
{
    CSharedSettings settings(Unusual());
    const auto before = Saved(*settings.Current());
    MemorySettingsStore store;
    OptionsSheet sheet(settings, &store);
    sheet.show();

    // Change something on every page.
    for (QCheckBox* box : sheet.findChildren<QCheckBox*>())
        box->toggle();
    for (QSpinBox* spin : sheet.findChildren<QSpinBox*>())
        spin->setValue(spin->minimum() + 1);
    Child<QLineEdit>(&sheet, "viewerPath")->setText("/bin/vi");
    Child<QLineEdit>(&sheet, "cacheHomeDirectory")->clear();
    Child<QLineEdit>(&sheet, "newExtension")->setText("log");
    QTest::mouseClick(Child<QPushButton>(&sheet, "addExtension"), Qt::LeftButton);
    Child<QRadioButton>(&sheet, "overwriteSkip")->setChecked(true);

    QTest::mouseClick(Child<QPushButton>(&sheet, "cancel"), Qt::LeftButton);
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    QCOMPARE(Saved(*settings.Current()), before);
    QVERIFY(store.WriteOrder().empty());
}

void OptionsSheetTest::okStoresEveryPageAndWritesTheTableAtOnce()
{
    CSharedSettings settings;
    MemorySettingsStore store;
    OptionsSheet sheet(settings, &store);
    Child<QCheckBox>(&sheet, "keepAlive")->setChecked(false);
    Child<QSpinBox>(&sheet, "timeout")->setValue(5);
    Child<QSpinBox>(&sheet, "retryDelay")->setValue(0);
    Child<QCheckBox>(&sheet, "pDisconnect")->setChecked(true);
    Child<QRadioButton>(&sheet, "overwriteOverwrite")->setChecked(true);
    Child<QCheckBox>(&sheet, "autoClosePrompt")->setChecked(true);
    Child<QSpinBox>(&sheet, "promptSeconds")->setValue(12);
    Child<QLineEdit>(&sheet, "newExtension")->setText("md");
    QTest::mouseClick(Child<QPushButton>(&sheet, "addExtension"), Qt::LeftButton);
    QCOMPARE(Child<QLineEdit>(&sheet, "newExtension")->text(), QString());

    sheet.accept();
    QCOMPARE(settings.Current()->KeepAlive, 0);
    QCOMPARE(settings.Current()->Timeout, 5);
    QCOMPARE(settings.Current()->RetryDelay, 0);
    QCOMPARE(settings.Current()->pDisconnect, 1);
    QCOMPARE(settings.Current()->DefaultOverwriteAction, 2);
    QCOMPARE(settings.Current()->AutoClosePrompt, 1);
    QCOMPARE(settings.Current()->PromptSeconds, 12);
    QCOMPARE(settings.Current()->TextFileExtension, CSettings{}.TextFileExtension + ";md;");
    // Written at once, not at exit.
    QCOMPARE(store.ReadInt("Timeout"), std::optional<int>(5));
    QCOMPARE(store.ReadString("TextFileExtension"), std::optional<std::string>(settings.Current()->TextFileExtension));
}

void OptionsSheetTest::okKeepsWhatChangedMeanwhileOutsideTheSheet()
{
    // A session records the last connection while the sheet is open; OK must not undo it,
    // and the settings without a control pass through.
    CSharedSettings settings(Unusual());
    OptionsSheet sheet(settings, nullptr);
    settings.Edit([](CSettings& table) {
        table.LastAddress = "ftp.example.org";
        table.LastPort = 2121;
    });
    sheet.accept();
    QCOMPARE(settings.Current()->LastAddress, std::string("ftp.example.org"));
    QCOMPARE(settings.Current()->LastPort, 2121);
    QCOMPARE(settings.Current()->DisableAllPrompt, 1);
    QCOMPARE(Saved(*settings.Current()), Saved([] { CSettings t = Unusual(); t.LastAddress = "ftp.example.org"; t.LastPort = 2121; return t; }()));
}

void OptionsSheetTest::extensionRefusals_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("refusal");
    const QStringList listed{"txt", "htm"};
    QTest::newRow("empty") << listed << "" << "An extension can't be empty!";
    QTest::newRow("same") << listed << "txt" << "Extension already exists!";
    QTest::newRow("upper case of a listed one") << listed << "TXT" << "Extension already exists!";
    QTest::newRow("mixed case") << listed << "Htm" << "Extension already exists!";
    QTest::newRow("a longer one") << listed << "html" << "";
    QTest::newRow("the separator") << listed << "a;b" << "An extension can't contain \";\"!";
    QTest::newRow("into an empty list") << QStringList{} << "md" << "";
}

void OptionsSheetTest::extensionRefusals()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, extension);
    QFETCH(QString, refusal);
    QCOMPARE(OptionsSheet::extensionRefusal(listed, extension), refusal);
}

void OptionsSheetTest::addingAListedExtensionInOtherCaseShowsTheMessage()
{
    CSharedSettings settings;
    OptionsSheet sheet(settings, nullptr);
    sheet.show();
    auto* list = Child<QListWidget>(&sheet, "extensionList");
    const int listed = list->count();
    QCOMPARE(list->item(0)->text(), QStringLiteral("txt"));
    Child<QLineEdit>(&sheet, "newExtension")->setText("TXT");
    QTest::mouseClick(Child<QPushButton>(&sheet, "addExtension"), Qt::LeftButton);
    QMessageBox* box = VisibleMessage(&sheet);
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Extension already exists!"));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(list->count(), listed);
    box->close();

    // Remove takes the selected one; the stored value ends in ";".
    list->setCurrentRow(0);
    QTest::mouseClick(Child<QPushButton>(&sheet, "removeExtension"), Qt::LeftButton);
    CSettings stored;
    sheet.storeInto(stored);
    QVERIFY(QString::fromStdString(stored.TextFileExtension).startsWith("ini;htm;"));
    QVERIFY(QString::fromStdString(stored.TextFileExtension).endsWith("asm;rtf;"));
}

void OptionsSheetTest::anEmptiedViewerStoresTheDefaultViewer()
{
    CSharedSettings settings(Unusual());
    OptionsSheet sheet(settings, nullptr);
    QCOMPARE(Child<QLineEdit>(&sheet, "viewerPath")->text(), QStringLiteral("/usr/bin/less"));
    Child<QLineEdit>(&sheet, "viewerPath")->setText("   ");
    sheet.accept();
    QCOMPARE(settings.Current()->ViewerPath, CSettings{}.ViewerPath);
    QVERIFY(!settings.Current()->ViewerPath.empty());
}

void OptionsSheetTest::rangesOfTheNumbers()
{
    CSettings table;
    table.Timeout = 0; // a stored 0 would make every transfer time out at once
    CSharedSettings settings(table);
    OptionsSheet sheet(settings, nullptr);
    auto* timeout = Child<QSpinBox>(&sheet, "timeout");
    QCOMPARE(timeout->minimum(), 1);
    QCOMPARE(timeout->maximum(), 1000);
    QCOMPARE(timeout->value(), 1);
    timeout->setValue(5000);
    QCOMPARE(timeout->value(), 1000);
    for (const char* name : {"errorRetry", "retryDelay", "fileRetry"}) {
        QCOMPARE(Child<QSpinBox>(&sheet, name)->minimum(), 0);
        QCOMPARE(Child<QSpinBox>(&sheet, name)->maximum(), 32767);
    }
    QCOMPARE(Child<QSpinBox>(&sheet, "promptSeconds")->maximum(), 1000);
    QCOMPARE(sheet.pages()->count(), 5);
    const QStringList titles{"General", "Transfer", "File Type", "Prompt", "Overwrite"};
    for (int page = 0; page < titles.size(); ++page)
        QCOMPARE(sheet.pages()->tabText(page), titles[page]);
}

void OptionsSheetTest::everyControlHasAnAccessibleName()
{
    CSharedSettings settings;
    OptionsSheet sheet(settings, nullptr);
    for (QWidget* widget : sheet.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QSpinBox*>(widget) || qobject_cast<QListWidget*>(widget);
        if (!control || widget->objectName().startsWith("qt_"))
            continue; // Qt's own parts of a control
        QVERIFY2(!widget->accessibleName().isEmpty(),
                 qPrintable(QString("%1 %2").arg(widget->metaObject()->className(), widget->objectName())));
    }
}

void OptionsSheetTest::helpShowsThePlainTextHelpOfTheCurrentPageBesideTheSheet()
{
    CSharedSettings settings;
    OptionsSheet sheet(settings, nullptr);
    // Each page's help names the page's own controls.
    const char* const named[] = {"Anti-idle command interval", "Transfer Timeout", "Text File Extensions",
                                 "Login Message", "Action when destination file already exists"};
    for (int page = 0; page < sheet.pages()->count(); ++page)
        QVERIFY2(OptionsSheet::pageHelp(page).contains(QLatin1String(named[page])), named[page]);

    sheet.show();
    sheet.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&sheet));
    sheet.pages()->setCurrentIndex(1);
    QTest::keyClick(&sheet, Qt::Key_F1);
    QMessageBox* help = sheet.helpWindow();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("Settings Help: Transfer"));
    QCOMPARE(help->text(), OptionsSheet::pageHelp(1));
    QCOMPARE(help->textFormat(), Qt::PlainText);
    QCOMPARE(help->windowModality(), Qt::NonModal); // the sheet stays usable beside it

    // Turning the page turns the open help with it; it stays one window.
    sheet.pages()->setCurrentIndex(3);
    QCOMPARE(help->windowTitle(), QStringLiteral("Settings Help: Prompt"));
    QCOMPARE(help->text(), OptionsSheet::pageHelp(3));
    QCOMPARE(sheet.findChildren<QMessageBox*>().size(), 1);

    help->close();
    QTRY_VERIFY(!sheet.helpWindow()); // gone when closed
    sheet.pages()->setCurrentIndex(4);
    QTest::mouseClick(Child<QPushButton>(&sheet, "help"), Qt::LeftButton);
    QVERIFY(sheet.helpWindow() && sheet.helpWindow()->isVisible());
    QCOMPARE(sheet.helpWindow()->text(), OptionsSheet::pageHelp(4));
}

void OptionsSheetTest::aRunningSessionTakesAChangedTimeoutFromItsNextOperation()
{
    FreezablePyftpdlib server;
    QVERIFY2(server.start(), server.error().c_str());

    CSettings table;
    table.Timeout = 60;
    table.ErrorRetry = 0;
    table.FileRetry = 0;
    table.EnableCache = 0;
    CSharedSettings settings(table);
    SessionList sessions(settings);
    CSiteSetting site;
    site.name = site.address = server.host();
    site.port = server.port();
    site.passive = 1;
    OpenSession* open = sessions.open(site);
    QTRY_VERIFY_WITH_TIMEOUT(open->session().IsLoggedIn(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!open->session().IsBusy(), kWait);

    OptionsSheet sheet(settings, nullptr);
    Child<QSpinBox>(&sheet, "timeout")->setValue(1);
    sheet.accept();

    // The server stops answering; with the old 60 s the listing would still be waiting
    // when this test gives up.
    QSignalSpy finished(&open->bridge(), &QtSessionUi::commandFinished);
    server.freeze(true);
    open->session().IssueCommand(SimpleCommand(CMD_LIST));
    const auto listFinished = [&finished] {
        for (const QList<QVariant>& call : finished)
            if (call.at(0).toInt() == CMD_LIST)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(listFinished(), kWait);
    server.freeze(false);
    for (const QList<QVariant>& call : finished)
        if (call.at(0).toInt() == CMD_LIST)
            QCOMPARE(call.at(1).toInt(), int(FTP_TIMEOUT));
    sessions.clear();
}

QTEST_MAIN(OptionsSheetTest)
#include "OptionsSheetTest.moc"
