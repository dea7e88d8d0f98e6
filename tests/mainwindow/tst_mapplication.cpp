#include "mapplication.h"
#include "rivurevezi.h"
#include "screenlight.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestMApplication : public QObject {
    Q_OBJECT
private slots:
    void wakingTouchIsSwallowed()
    {
        gfLED = -1;
        RiVuRevezi win;
        gpWin = &win;
        QPushButton button("press");
        button.show();
        QSignalSpy clicked(&button, &QPushButton::clicked);

        ScreenLight::get().setScreenOff(1);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(ScreenLight::get().screenOff(), 0);

        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
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
