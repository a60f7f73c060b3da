// The overwrite confirmation and the message windows: buttons, count-downs, Escape, and
// text that is only ever plain.

#include "ui/LoginMessageWindow.h"
#include "ui/MessageWindow.h"
#include "ui/OverwriteDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class PromptsTest : public QObject {
    Q_OBJECT
private slots:
    void overwriteButtonsFollowTheQuestion();
    void overwriteCountDownPicksTheSuggestion();
    void escapeMeansSkip();
    void messageWindowCountsDownAndHides();
    void messageTextLosesItsCarriageReturns();
    void loginMessageCaptionNamesTheSite();
};

void PromptsTest::overwriteButtonsFollowTheQuestion()
{
    OverwriteDialog dialog({"/r/a<b>.txt", "/l/a.txt", 2, 2, false}, 0);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Overwrite Confirmation"));
    QCOMPARE(dialog.button(OverwriteDialog::Auto)->text(), QStringLiteral("&Auto (Overwrite)"));
    QVERIFY(!dialog.button(OverwriteDialog::Resume)->isEnabled());
    QVERIFY(dialog.button(OverwriteDialog::Overwrite)->isDefault());
    QCOMPARE(dialog.findChildren<QLineEdit*>().first()->text(), QStringLiteral("/r/a<b>.txt"));
    dialog.button(OverwriteDialog::Auto)->click();
    QCOMPARE(dialog.answer().action, 3);
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
}

void PromptsTest::overwriteCountDownPicksTheSuggestion()
{
    OverwriteDialog dialog({"s", "t", 1, 1, true}, 2);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Overwrite Confirmation(2)"));
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(), QStringLiteral("Overwrite Confirmation(1)"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(dialog.answer().action, 1);
}

void PromptsTest::escapeMeansSkip()
{
    OverwriteDialog dialog({"s", "t", 2, 2, true}, 0);
    dialog.open();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.answer().action, 0);
}

void PromptsTest::messageWindowCountsDownAndHides()
{
    MessageWindow window;
    window.showMessage(QStringLiteral("host"), QStringLiteral("text"), 2);
    QCOMPARE(window.windowTitle(), QStringLiteral("host(2)"));
    QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), QStringLiteral("host(1)"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QCOMPARE(window.windowTitle(), QStringLiteral("host"));
    // Without a count-down it stays until OK.
    window.showMessage(QStringLiteral("host"), QStringLiteral("again"), MessageWindow::kNoCountDown);
    QCOMPARE(window.windowTitle(), QStringLiteral("host"));
    QTest::qWait(1200);
    QVERIFY(window.isVisible());
    window.findChild<QPushButton*>()->click();
    QVERIFY(!window.isVisible());
}

void PromptsTest::messageTextLosesItsCarriageReturns()
{
    MessageWindow window;
    window.setMessage(QStringLiteral("h"), QStringLiteral("550 <b>no</b>\r\nsecond line\r\n"), MessageWindow::kNoCountDown);
    QCOMPARE(window.text(), QStringLiteral("550 <b>no</b>\nsecond line\n"));
}

void PromptsTest::loginMessageCaptionNamesTheSite()
{
    LoginMessageWindow window;
    window.showMessage(QStringLiteral("Demo server"), QStringLiteral("220-Hello\r\n220 <i>ready</i>"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Demo server-Login Message"));
    QCOMPARE(window.text(), QStringLiteral("220-Hello\n220 <i>ready</i>"));
    QVERIFY(window.isVisible());
}

QTEST_MAIN(PromptsTest)
#include "PromptsTest.moc"
