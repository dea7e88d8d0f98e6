// The main window's reaction to a camera view's loss report: output 0 on the
// I/O board unless stopped, and the warning (the camera-lost box when word
// 160 asks for it).
#include "controlport.h"
#include "cyclecontrol.h"
#include "lanstr.h"
#include "rivurevezi.h"
#include "testworkdir.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QMutex>
#include <QtTest>

class TestLostCamera : public QObject {
    Q_OBJECT
private slots:
    void outputAndWarning_data()
    {
        QTest::addColumn<int>("word160");
        QTest::addColumn<int>("runState");
        QTest::newRow("running") << 0 << 1;
        QTest::newRow("camera-lost box, running") << 1 << 1;
        QTest::newRow("stopped") << 0 << 3;
    }
    void outputAndWarning()
    {
        QFETCH(int, word160);
        QFETCH(int, runState);
        TestWorkDir wd;
        if (!pMutexIO)
            pMutexIO = new QMutex;
        qputenv("VMM_COM_PORT", QFile::encodeName(wd.file("no-such-port")));
        WizardPara para;
        gpWPara = &para;
        para.words[160] = word160;
        para.words[76] = 0;   // output 0 not inverted
        {
            QMutexLocker l(pMutexIO);
            gDataOut = 0;
        }
        RiVuRevezi win;
        ControlPort port;
        gpControlIO = &port;
        win.cycleStatus().runState = runState;

        CycleControl::get().lostCamera();   // as a camera view reports it
        QCOMPARE(bool(port.wantedOut() & 1), runState != 3);
        {
            QMutexLocker l(pMutexIO);
            QCOMPARE(bool(gDataOut & 1), runState != 3);
        }
        if (word160) {
            QVERIFY(gpLostCameraWarnBox->isVisible());
            QVERIFY(!gpWarnBox->isVisible());
        } else {
            QVERIFY(gpWarnBox->isVisible());
            QCOMPARE(gpWarnBox->text, lanStr(39));
        }
        gpControlIO = nullptr;
        gpWPara = nullptr;
        qunsetenv("VMM_COM_PORT");
    }
};

QTEST_MAIN(TestLostCamera)
#include "tst_lostcamera.moc"
