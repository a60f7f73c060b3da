// Engine bytes shown in windows: valid UTF-8 as its characters, every other byte as \xNN,
// so server names never lose bytes or turn into look-alikes. Editable text comes back as
// the very bytes it was made from, and \xNN typed by the user is that byte.

#include "ui/DisplayText.h"

#include <QTest>

class DisplayTextTest : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void editableTextComesBackExactly_data();
    void editableTextComesBackExactly();
    void typedEscapesBecomeBytes_data();
    void typedEscapesBecomeBytes();
};

void DisplayTextTest::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("report.txt") << QStringLiteral("report.txt");
    QTest::newRow("two-byte") << QByteArray("r\xc3\xa9sum\xc3\xa9") << QStringLiteral(u"résumé");
    QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x93\x81") << QStringLiteral(u"📁");
    QTest::newRow("latin-1 byte") << QByteArray("caf\xe9.txt") << QStringLiteral("caf\\xE9.txt");
    QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf") << QStringLiteral("a\\xC0\\xAF");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QStringLiteral("\\xED\\xA0\\x80");
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("\\xF4\\x90\\x80\\x80");
    QTest::newRow("cut short at the end") << QByteArray("x\xe2\x82") << QStringLiteral("x\\xE2\\x82");
    QTest::newRow("zero byte kept") << QByteArray("a\0b", 3) << QString::fromUtf16(u"a\0b", 3);
}

void DisplayTextTest::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(DisplayText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))), shown);
}

void DisplayTextTest::editableTextComesBackExactly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("/pub/report.txt") << QStringLiteral("/pub/report.txt");
    QTest::newRow("utf-8") << QByteArray("/r\xc3\xa9sum\xc3\xa9") << QStringLiteral(u"/résumé");
    QTest::newRow("latin-1 byte") << QByteArray("/caf\xe9") << QStringLiteral("/caf\\xE9");
    QTest::newRow("cut-short sequence") << QByteArray("x\xe2\x82") << QStringLiteral("x\\xE2\\x82");
    QTest::newRow("control bytes") << QByteArray("a\tb\x01\x7f", 5) << QStringLiteral("a\\x09b\\x01\\x7F");
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QStringLiteral("a\\x00b");
    // A name that holds the text of an escape keeps it as text.
    QTest::newRow("literal escape text") << QByteArray("a\\xE9b") << QStringLiteral("a\\x5CxE9b");
    QTest::newRow("literal lower-case hex") << QByteArray("\\x4f") << QStringLiteral("\\x5Cx4f");
    QTest::newRow("backslash, no escape") << QByteArray("a\\b\\x\\xZ1\\x4") << QStringLiteral("a\\b\\x\\xZ1\\x4");
    QTest::newRow("backslash before a bad byte") << QByteArray("\\x4\xff") << QStringLiteral("\\x4\\xFF");
    QTest::newRow("empty") << QByteArray() << QString();
}

void DisplayTextTest::editableTextComesBackExactly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const std::string original(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    QCOMPARE(EditableText(original), shown);
    QCOMPARE(BytesFromEditableText(shown), original);
}

void DisplayTextTest::typedEscapesBecomeBytes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("upper-case hex") << QStringLiteral("caf\\xE9") << QByteArray("caf\xe9");
    QTest::newRow("lower-case hex") << QStringLiteral("caf\\xe9") << QByteArray("caf\xe9");
    QTest::newRow("too short") << QStringLiteral("caf\\xE") << QByteArray("caf\\xE");
    QTest::newRow("capital X is text") << QStringLiteral("\\XE9") << QByteArray("\\XE9");
    QTest::newRow("characters") << QStringLiteral(u"n\u00e4me") << QByteArray("n\xc3\xa4me");
}

void DisplayTextTest::typedEscapesBecomeBytes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QCOMPARE(BytesFromEditableText(typed), bytes.toStdString());
}

QTEST_MAIN(DisplayTextTest)
#include "DisplayTextTest.moc"
