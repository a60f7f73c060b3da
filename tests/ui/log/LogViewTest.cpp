// The log window: prefixes and colours by kind, plain text only, the 300-line trim that
// keeps the colours of what stays, pieces that continue a line, and "Copy All".

#include "ui/LogView.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

namespace {

QColor ColourOfLine(const LogView& log, int line)
{
    const QTextBlock block = log.document()->findBlockByNumber(line);
    return block.begin().fragment().charFormat().foreground().color();
}

QString Line(const LogView& log, int line)
{
    return log.document()->findBlockByNumber(line).text();
}

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT
private slots:
    void eachKindHasItsPrefixAndColour();
    void moreThan300LinesDropTheOldest100AndKeepColours();
    void aPieceWithoutFlagsContinuesTheLine();
    void serverTextIsPlainAndBadBytesAreShown();
    void copyAllKeepsTheSelection();
    void clearLogEmptiesIt();
};

void LogViewTest::eachKindHasItsPrefixAndColour()
{
    LogView log;
    const QString prefixes[] = {"State:>\t\t", "Warning:>\t", "Error:>\t\t", "Reply:>\t", "Command:>\t"};
    const QColor colours[] = {QColor(0, 0, 0), QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 80, 40),
                              QColor(120, 20, 0)};
    for (int kind = 0; kind < 5; ++kind)
        log.addLine({"text " + std::to_string(kind), kind, 1, 1});
    QCOMPARE(log.lineCount(), 5);
    for (int kind = 0; kind < 5; ++kind) {
        QCOMPARE(Line(log, kind), prefixes[kind] + QStringLiteral("text ") + QString::number(kind));
        QCOMPARE(ColourOfLine(log, kind), colours[kind]);
    }
}

void LogViewTest::moreThan300LinesDropTheOldest100AndKeepColours()
{
    LogView log;
    for (int i = 0; i < 301; ++i)
        log.addLine({std::to_string(i), i % 5, 1, 0});
    QCOMPARE(log.lineCount(), 301);
    log.addLine({"301", LOG_ERROR, 1, 0});
    QCOMPARE(log.lineCount(), 202);
    QCOMPARE(Line(log, 0), QStringLiteral("100"));
    QCOMPARE(Line(log, 201), QStringLiteral("301"));
    for (int line = 0; line < 201; ++line)
        QCOMPARE(ColourOfLine(log, line), LogView::kindColour((line + 100) % 5));
    QCOMPARE(ColourOfLine(log, 201), LogView::kindColour(LOG_ERROR));
}

void LogViewTest::aPieceWithoutFlagsContinuesTheLine()
{
    LogView log;
    log.addLine({"220-Welcome", LOG_REPLY, 0, 1});
    log.addLine({"\r\n220 ready\r\r\n", LOG_REPLY, 0, 0});
    log.addLine({"next", LOG_STATE, 1, 1});
    QCOMPARE(log.toPlainText(), QStringLiteral("Reply:>\t220-Welcome\n220 ready\nState:>\t\tnext"));
}

void LogViewTest::serverTextIsPlainAndBadBytesAreShown()
{
    LogView log;
    log.addLine({"<b>bold</b> &amp; \xff\xfe name", LOG_REPLY, 1, 0});
    QCOMPARE(Line(log, 0), QStringLiteral("<b>bold</b> &amp; \\xFF\\xFE name"));
}

void LogViewTest::copyAllKeepsTheSelection()
{
    LogView log;
    log.addLine({"first", LOG_STATE, 1, 0});
    log.addLine({"second", LOG_STATE, 1, 0});
    QTextCursor cursor(log.document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
    log.setTextCursor(cursor);
    log.copyAll();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first\nsecond"));
    QCOMPARE(log.textCursor().selectedText(), QStringLiteral("first"));
    log.copySelected();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first"));
}

void LogViewTest::clearLogEmptiesIt()
{
    LogView log;
    log.addLine({"a", LOG_STATE, 1, 1});
    log.clearLog();
    QCOMPARE(log.lineCount(), 0);
    log.addLine({"b", LOG_STATE, 1, 0});
    QCOMPARE(log.toPlainText(), QStringLiteral("b"));
}

QTEST_MAIN(LogViewTest)
#include "LogViewTest.moc"
