// The main window's stored place, fitted to the screens there are now.

#include "app/gui/WindowPlacement.h"

#include <QTest>

class WindowPlacementTest : public QObject {
    Q_OBJECT
private slots:
    void clampedToTheScreens_data();
    void clampedToTheScreens();
};

void WindowPlacementTest::clampedToTheScreens_data()
{
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("expected");

    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    QTest::newRow("fits as it is") << QRect(100, 100, 800, 600) << QList<QRect>{left} << QRect(100, 100, 800, 600);
    QTest::newRow("on a monitor that is gone")
        << QRect(2500, 200, 800, 600) << QList<QRect>{left} << QRect(1120, 200, 800, 600);
    QTest::newRow("larger than the screen") << QRect(-50, -50, 4000, 3000) << QList<QRect>{left} << left;
    QTest::newRow("mostly on the second screen")
        << QRect(1800, 100, 800, 600) << QList<QRect>{left, right} << QRect(1920, 100, 800, 600);
    QTest::newRow("above the top") << QRect(300, -400, 800, 600) << QList<QRect>{left} << QRect(300, 0, 800, 600);
    QTest::newRow("nothing stored") << QRect() << QList<QRect>{left} << QRect();
}

void WindowPlacementTest::clampedToTheScreens()
{
    QFETCH(QRect, saved);
    QFETCH(QList<QRect>, screens);
    QTEST(ClampToScreens(saved, screens), "expected");
}

QTEST_MAIN(WindowPlacementTest)
#include "WindowPlacementTest.moc"
