// The Site Manager window over the site list and site.dat: the validation messages, the
// round trips of add, move, sort and delete through the file, the question when closing a
// new site, a site file that cannot be written, Connect, and the masked password.

#include "sites/SiteFile.h"
#include "ui/SiteManagerDialog.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <sstream>

namespace {

const std::string kAnonymousPass = "guest@example.com";

std::unique_ptr<CSiteSetting> Site(const std::string& name, const std::string& address)
{
    auto site = std::make_unique<CSiteSetting>();
    site->name = name;
    site->address = address;
    return site;
}

QStringList Names(const SiteList& sites)
{
    QStringList names;
    for (const auto& site : sites)
        names << QString::fromStdString(site->name);
    return names;
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

QLineEdit* Edit(QWidget* dialog, const char* name) { return dialog->findChild<QLineEdit*>(name); }
QPushButton* ButtonOf(QWidget* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }

} // namespace

class SiteManagerDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void validationMessages_data();
    void validationMessages();
    void addMoveSortDeleteRoundTripThroughTheSiteFile();
    void closingANewSiteAsksWhetherToAddIt();
    void aSiteFileThatCannotBeWrittenKeepsTheDialogOpenWithTheEdits();
    void connectStoresTheEditsAndNamesTheSite();
    void typingAUserChecksNormalAndThePasswordIsMasked();

private:
    std::string siteFile() const { return m_folder.path().toStdString() + "/site.dat"; }
    QTemporaryDir m_folder;
    SiteList m_sites;
};

void SiteManagerDialogTest::init()
{
    QFile::remove(QString::fromStdString(siteFile()));
    m_sites.clear();
    m_sites.push_back(Site("alpha", "ftp.alpha.example"));
    m_sites.push_back(Site("beta", "ftp.beta.example"));
}

void SiteManagerDialogTest::validationMessages_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("a name taken, other case") << "siteName" << "ALPHA" << "Site Name:ALPHA already exist!";
    QTest::newRow("port 0") << "port" << "0" << "Port must be a number from 1 to 65535!";
    QTest::newRow("port too large") << "port" << "70000" << "Port must be a number from 1 to 65535!";
    QTest::newRow("port with letters") << "port" << "21x" << "Port must be a number from 1 to 65535!";
    QTest::newRow("port empty") << "port" << "" << "Port must be a number from 1 to 65535!";
    QTest::newRow("no host address") << "hostAddress" << "" << "Host address can't be empty!";
}

void SiteManagerDialogTest::validationMessages()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    SiteManagerDialog dialog(m_sites, siteFile(), kAnonymousPass);
    dialog.show();
    dialog.selectRow(1); // beta
    Edit(&dialog, qPrintable(field))->setText(text);
    QSignalSpy connected(&dialog, &SiteManagerDialog::connectRequested);

    QTest::mouseClick(ButtonOf(&dialog, "connectSite"), Qt::LeftButton);
    QCOMPARE(dialog.lastMessage(), message);
    QMessageBox* box = VisibleMessage(&dialog);
    QVERIFY(box);
    QCOMPARE(box->text(), message);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QVERIFY(dialog.isVisible());
    QCOMPARE(connected.size(), 0);
    QVERIFY(!QFile::exists(QString::fromStdString(siteFile())));
    // Moving to another site is refused the same way; the edit stays.
    CloseMessages(&dialog);
    dialog.findChild<QListWidget*>("siteList")->setCurrentRow(0);
    QCOMPARE(dialog.findChild<QListWidget*>("siteList")->currentRow(), 1);
    QCOMPARE(Edit(&dialog, qPrintable(field))->text(), text);
    CloseMessages(&dialog);
}

void SiteManagerDialogTest::addMoveSortDeleteRoundTripThroughTheSiteFile()
{
    SiteList sites;
    {
        SiteManagerDialog dialog(sites, siteFile(), kAnonymousPass);
        dialog.show();
        // An empty list starts in new mode.
        QCOMPARE(ButtonOf(&dialog, "newSite")->text(), QStringLiteral("Add"));
        QVERIFY(!ButtonOf(&dialog, "deleteSite")->isEnabled());
        const QStringList hosts{"gamma.example", "Beta.example", "alpha.example"};
        for (const QString& host : hosts) {
            Edit(&dialog, "hostAddress")->setText(host);
            QTest::keyClicks(Edit(&dialog, "password"), "abc");
            ButtonOf(&dialog, "newSite")->click(); // Add
            QCOMPARE(ButtonOf(&dialog, "newSite")->text(), QStringLiteral("New"));
            ButtonOf(&dialog, "newSite")->click(); // New: empty fields again
        }
        ButtonOf(&dialog, "deleteSite")->click(); // in new mode: leaves it, shows the first site
        auto* list = dialog.findChild<QListWidget*>("siteList");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(Edit(&dialog, "hostAddress")->text(), QStringLiteral("gamma.example"));

        ButtonOf(&dialog, "moveDown")->click();
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(list->item(1)->text(), QStringLiteral("gamma.example"));
        ButtonOf(&dialog, "closeSiteManager")->click();
        QVERIFY(!dialog.isVisible());
    }
    SiteList loaded;
    LoadSiteFile(siteFile(), loaded);
    QCOMPARE(Names(loaded), (QStringList{"Beta.example", "gamma.example", "alpha.example"}));
    QCOMPARE(loaded[0]->password, std::string("abc"));
    QCOMPARE(loaded[0]->logintype, int(CSiteSetting::LOGIN_NORMAL));
    std::ostringstream text;
    text << std::ifstream(siteFile()).rdbuf();
    QVERIFY(text.str().find("password=E9D9C9") != std::string::npos);

    {
        SiteManagerDialog dialog(loaded, siteFile(), kAnonymousPass);
        dialog.show();
        dialog.sortSites(); // case-sensitive: upper case first
        auto* list = dialog.findChild<QListWidget*>("siteList");
        QCOMPARE(list->item(0)->text(), QStringLiteral("Beta.example"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("alpha.example"));
        dialog.selectRow(0);
        ButtonOf(&dialog, "deleteSite")->click();
        QCOMPARE(list->count(), 2);
        QCOMPARE(Edit(&dialog, "hostAddress")->text(), QStringLiteral("alpha.example"));
        ButtonOf(&dialog, "closeSiteManager")->click();
    }
    SiteList again;
    LoadSiteFile(siteFile(), again);
    QCOMPARE(Names(again), (QStringList{"alpha.example", "gamma.example"}));
    QCOMPARE(Names(loaded), Names(again)); // the program's list follows the file
}

void SiteManagerDialogTest::closingANewSiteAsksWhetherToAddIt()
{
    SiteManagerDialog dialog(m_sites, siteFile(), kAnonymousPass);
    dialog.show();
    ButtonOf(&dialog, "newSite")->click();
    Edit(&dialog, "hostAddress")->setText("delta.example");

    // Cancel keeps the dialog open with the new site's fields.
    ButtonOf(&dialog, "closeSiteManager")->click();
    auto* question = dialog.findChild<QMessageBox*>("addSiteQuestion");
    QVERIFY(question && question->isVisible());
    QCOMPARE(question->text(), QStringLiteral("Do you want to add this site?"));
    question->button(QMessageBox::Cancel)->click();
    QTRY_VERIFY(!dialog.findChild<QMessageBox*>("addSiteQuestion"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(Edit(&dialog, "hostAddress")->text(), QStringLiteral("delta.example"));

    // Yes adds it and closes.
    ButtonOf(&dialog, "closeSiteManager")->click();
    question = dialog.findChild<QMessageBox*>("addSiteQuestion");
    QVERIFY(question);
    question->button(QMessageBox::Yes)->click();
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(Names(m_sites), (QStringList{"alpha", "beta", "delta.example"}));
    SiteList loaded;
    LoadSiteFile(siteFile(), loaded);
    QCOMPARE(Names(loaded), Names(m_sites));
}

void SiteManagerDialogTest::aSiteFileThatCannotBeWrittenKeepsTheDialogOpenWithTheEdits()
{
    const std::string unwritable = m_folder.path().toStdString() + "/missing/folder/site.dat";
    SiteManagerDialog dialog(m_sites, unwritable, kAnonymousPass);
    dialog.show();
    Edit(&dialog, "port")->setText("2121");
    ButtonOf(&dialog, "closeSiteManager")->click();
    QVERIFY(dialog.isVisible());
    QVERIFY2(dialog.lastMessage().contains("missing/folder/site.dat"), qPrintable(dialog.lastMessage()));
    QVERIFY(VisibleMessage(&dialog));
    QCOMPARE(Edit(&dialog, "port")->text(), QStringLiteral("2121"));
    CloseMessages(&dialog);

    QSignalSpy connected(&dialog, &SiteManagerDialog::connectRequested);
    ButtonOf(&dialog, "connectSite")->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(connected.size(), 0);
    CloseMessages(&dialog);
}

void SiteManagerDialogTest::connectStoresTheEditsAndNamesTheSite()
{
    SiteManagerDialog dialog(m_sites, siteFile(), kAnonymousPass);
    dialog.show();
    QSignalSpy connected(&dialog, &SiteManagerDialog::connectRequested);
    dialog.selectRow(1);
    Edit(&dialog, "defaultRemoteDirectory")->setText("/pub");
    ButtonOf(&dialog, "connectSite")->click();
    QCOMPARE(connected.size(), 1);
    QCOMPARE(connected.at(0).at(0).toInt(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(m_sites[1]->defremotedir, std::string("/pub"));
    SiteList loaded;
    LoadSiteFile(siteFile(), loaded);
    QCOMPARE(loaded[1]->defremotedir, std::string("/pub"));
}

void SiteManagerDialogTest::typingAUserChecksNormalAndThePasswordIsMasked()
{
    SiteManagerDialog dialog(m_sites, siteFile(), kAnonymousPass);
    dialog.show();
    QVERIFY(dialog.findChild<QRadioButton*>("loginAnonymous")->isChecked());
    QTest::keyClicks(Edit(&dialog, "userName"), "bob");
    QVERIFY(dialog.findChild<QRadioButton*>("loginNormal")->isChecked());
    QCOMPARE(Edit(&dialog, "password")->echoMode(), QLineEdit::Password);
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if ((qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget)) &&
            !widget->objectName().startsWith("qt_"))
            QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
    }
}

QTEST_MAIN(SiteManagerDialogTest)
#include "SiteManagerDialogTest.moc"
