#include "mapplication.h"
#include "rivurevezi.h"
#include "screenlight.h"
#include "tapguard.h"
#include "windowtaps.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestMApplication : public QObject {
    Q_OBJECT
private slots:
    // Taps from the screen, with the times they were made, on a dark screen:
    // the waking touch presses nothing, nor does a second tap close after it
    // (Qt hands it on as a double click alone); a tap of its own acts.
    void wakingTouchPressesNothing_data()
    {
        QTest::addColumn<int>("afterMs");    // second tap, after the first was lifted
        QTest::addColumn<int>("awayPx");     // and that far from it
        QTest::addColumn<int>("clicks");
        QTest::newRow("double_tap") << 120 << 0 << 0;
        QTest::newRow("double_tap_slow") << 350 << 3 << 0;
        QTest::newRow("tap_1.5s_later") << 1500 << 0 << 1;
        QTest::newRow("tap_elsewhere_at_once") << 200 << 120 << 1;
    }

    void wakingTouchPressesNothing()
    {
        QFETCH(int, afterMs);
        QFETCH(int, awayPx);
        QFETCH(int, clicks);
        gfLED = -1;
        RiVuRevezi win;
        gpWin = &win;
        // The guard reads no clock of its own here: every tap carries its time.
        tapguard::setClock([] { return qint64(0); });
        QPushButton button("press");
        button.setGeometry(0, 0, 400, 200);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QSignalSpy clicked(&button, &QPushButton::clicked);

        ScreenLight::get().setScreenOff(1);
        const QPoint at = button.mapToGlobal(QPoint(100, 100));
        static ulong made = 100000;
        made += 10000;
        tapThroughWindow(&button, at, made, made + 60);
        QCOMPARE(ScreenLight::get().screenOff(), 0);
        QCOMPARE(clicked.count(), 0);
        made += 60 + ulong(afterMs);
        tapThroughWindow(&button, at + QPoint(awayPx, 0), made, made + 60);
        QCOMPARE(clicked.count(), clicks);
        tapguard::setClock(nullptr);
        gpWin = nullptr;
    }

    void releaseStopsTheLongPress()
    {
        QPushButton button("press");
        button.show();
        QTest::mousePress(&button, Qt::LeftButton);
        QVERIFY(MApplication::_instance->tscPending());
        QTest::mouseRelease(&button, Qt::LeftButton);
        QVERIFY(!MApplication::_instance->tscPending());
        QTest::mousePress(&button, Qt::LeftButton);
        MApplication::_instance->manualStopTscTimeup();
        QVERIFY(!MApplication::_instance->tscPending());
        QTest::mouseRelease(&button, Qt::LeftButton);
    }
};

int main(int argc, char** argv)
{
    MApplication app(argc, argv);
    TestMApplication t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_mapplication.moc"
