// Engine bytes shown in windows: valid UTF-8 as its characters, every other byte as \xNN,
// so server names never lose bytes or turn into look-alikes.

#include "ui/DisplayText.h"

#include <QTest>

class DisplayTextTest : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
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

QTEST_MAIN(DisplayTextTest)
#include "DisplayTextTest.moc"
