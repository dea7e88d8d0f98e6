// The moulding cycle end to end: the board simulator on a pseudo-terminal,
// the replay camera plug-in, the main window's start-up, the engine, the
// outputs on the wire, the pictures, the counters and the operation record,
// and what the simulated local agent (started by the agent link) receives.
#include "cameramanager.h"
#include "counted.h"
#include "databases.h"
#include "cameraviews.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "cyclerig.h"
#include "drawroiwidget.h"
#include "lanstr.h"
#include "network.h"
#include "recordquery.h"
#include "platform.h"
#include "mouldcycle.h"
#include "rivurevezi.h"
#include "savefialimagethread.h"
#include "testworkdir.h"
#include "viewwatch2ziz.h"
#include "wizardpara.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QMutexLocker>
#include <QSettings>
#include <QTcpServer>
#include <QtTest>

#include <cstring>

namespace {
// How long a whole cycle may take: generous, since sanitised builds on a
// loaded machine judge many times slower than the program does.
constexpr int kCycleWait = 30000;
const QString kControl = QStringLiteral("vmm-cycle-test-%1").arg(QCoreApplication::applicationPid());

bool cameraCommand(const QString& line) { return cyclerig::cameraCommand(kControl, line); }

// The index of the first message to /inline/bymain/<name> in the agent's log
// at or after `from`, -1 when none; `body` receives it.
int agentMessage(const QString& log, const QString& name, int from = 0, QJsonObject* body = nullptr)
{
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (int i = from; i < lines.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        if (o.value("url").toString() != "/inline/bymain/" + name)
            continue;
        if (body)
            *body = o;
        return i;
    }
    return -1;
}
}  // namespace

using namespace cyclerig;

class TestCycle : public QObject {
    Q_OBJECT
    BoardSimulator sim;

    static int wire(int logical, int out) { return wireLevel(logical, out); }
    void pulseMouldOpen() { cyclerig::pulseMouldOpen(sim); }

private slots:
    void initTestCase()
    {
        startBoardAndCamera(sim, kControl, QStringLiteral("CYCLE-00001"));
        initLanStr();
    }

    void wholeCycles()
    {
        TestWorkDir wd;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        copyDatabases(build, "libcamera_replay.so");
        gAppDirPath = wd.path();
        // One grey-template ROI over nearly the whole picture of step 0 and step 1 of camera 1.
        putWideRegions("PARAM.db", 1, 20);
        if (QTest::currentTestFailed())
            return;

        // The agent link on, with the simulated agent on a free port.
        QFile cfg("cnt_net/config.json");
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(R"({"device_worknetfunc": true, "devicename": "press-3"})");
        cfg.close();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 agentPort = probe.serverPort();
        probe.close();
        const QString log = wd.file("agent.log");
        qputenv("VMM_AGENTSIM_PORT", QByteArray::number(agentPort));
        qputenv("VMM_AGENTSIM_LOG", log.toLocal8Bit());
        XAN_NETMN* nm = XAN_NETMN::getInstance();
        nm->agentLink->agentProgram = QStringLiteral(AGENTSIM_PATH);
        nm->agentLink->agentPort = agentPort;

        auto* win = new RiVuRevezi(nullptr);
        const auto closeWindow = closeAtEnd(win);
        QVERIFY(win->StartUp());
        QCOMPARE(numCamera, 1);
        QCOMPARE(gDNum, 2);
        gpControlIO->InitIOThread();
        nm->initStart();
        QTRY_COMPARE_WITH_TIMEOUT(nm->isAllowSnd_2_VW(), 1, 15000);
        const int base = counted().allCycle[0];

        // The door is read from its own input, and from no other.
        QTRY_VERIFY_WITH_TIMEOUT(!gisSafeDoorOpen, 5000);
        sim.setInputs(0);
        QTRY_VERIFY_WITH_TIMEOUT(gisSafeDoorOpen, 5000);
        sim.setInputs(kDoorClosed | 0x004);
        QTRY_VERIFY_WITH_TIMEOUT(!gisSafeDoorOpen, 5000);
        sim.setInputs(kDoorClosed);

        // A new mould: the first cycle captures the templates; it is no OK cycle.
        pulseMouldOpen();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer12/template0.bmp") && !win->cycle().cycleOpen, kCycleWait);
        QVERIFY(QFile::exists("cammer11/template0.bmp"));
        QCOMPARE(counted().allCycle[0], base);
        QTRY_VERIFY(agentMessage(log, "synctemplist") >= 0);

        // A good part: both interlocks released, no alarm, OK pictures.
        pulseMouldOpen();
        QTRY_VERIFY_WITH_TIMEOUT(counted().allCycle[0] == base + 1 || win->cycle().detectState == 2, kCycleWait);
        QVERIFY2(win->cycle().detectState != 2, qPrintable(QString("good part judged NG: fail %1").arg(counted().fail[0])));
        QCOMPARE(win->cycle().detectState, 1);
        QCOMPARE(counted().failCycle[0], 0);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 0), wire(0, 0), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 1), wire(0, 1), 5000);
        QCOMPARE(outBit(sim.outputs(), 2), wire(0, 2));
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(SaveFialImageThread::folderFor(0, 0, true)).entryList({"*.jpg"}).isEmpty(), 5000);
        // Good parts leave the NG ring and the NG fault picture unmade.
        for (int k = 0; k < CammerWidget::kRecentPictures; ++k)
            QVERIFY(!CameraViews::at(0)->recentNgPicture(0, k));
        {
            QMutexLocker lock(pMutexSaveFail);
            QVERIFY(!gpFailImage[0]);
        }

        // A stuck part: the product step fails, the ejector stays forbidden,
        // the alarm rises, and the cycle waits for the operator.
        QVERIFY(cameraCommand("* defect shortshot"));
        const int failBefore = counted().fail[0];
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(counted().fail[0], failBefore + 1);
        QCOMPARE(win->cycle().detectStep, 0);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 1), wire(1, 1), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(1, 2), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(SaveFialImageThread::folderFor(0, 0, false)).entryList({"*.jpg"}).isEmpty(), 5000);
        // The failed picture joins the step's ring of recent NG pictures.
        QCOMPARE(CameraViews::at(0)->ngRing().count(0), 1);
        QVERIFY(!CameraViews::at(0)->ngRing().caption(0, 0).isEmpty());
        {
            const CammerWidget* v = CameraViews::at(0);
            QVERIFY(v->recentNgPicture(0, 0) && !v->recentNgPicture(0, 1));
            QCOMPARE(std::memcmp(v->recentNgPicture(0, 0), v->alignedFrame, size_t(v->frameBytes)), 0);
            QMutexLocker lock(pMutexSaveFail);
            QVERIFY(gpFailImage[0]);
        }
        // Further mould openings are ignored while the NG is latched.
        const int allBefore = counted().all[0];
        pulseMouldOpen();
        QTest::qWait(500);
        QCOMPARE(counted().all[0], allBefore);

        // A restart (as after a crash) with the NG latched: the new program
        // holds the ejector and the alarm on the wire and opens the ROI page.
        QVERIFY(MouldCycle::LatchOnDisk());
        delete win;
        gpWin = nullptr;
        gpControlIO = nullptr;
        // A new process would load the plug-ins afresh; this one has them.
        CameraManager::getInstance()->interfaces.clear();
        win = new RiVuRevezi(nullptr);
        QVERIFY(win->StartUp());
        QCOMPARE(win->cycle().detectState, 2);
        QVERIFY(win->drawROIWidget->isVisibleTo(win));
        gpControlIO->InitIOThread();
        QTest::qWait(1000);
        QCOMPARE(outBit(sim.outputs(), 1), wire(1, 1));
        QCOMPARE(outBit(sim.outputs(), 2), wire(1, 2));

        // The operator re-detects a good part: the product step passes, the
        // cavity step owed since the same mould opening is judged at once,
        // and only then does the cycle close and the clamp open.
        QVERIFY(cameraCommand("* defect none"));
        const int judgedBefore = counted().all[0];
        const int cyclesBefore = counted().allCycle[0];
        win->drawROIWidget->SlotReCheck();
        QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen, kCycleWait);
        QCOMPARE(win->cycle().detectState, 1);
        QCOMPARE(counted().all[0], judgedBefore + 1);          // the cavity; the manual decision is not counted
        QCOMPARE(counted().allCycle[0], cyclesBefore + 1);
        QCOMPARE(counted().failCycle[0], 1);
        QVERIFY(!MouldCycle::LatchOnDisk());
        for (int out = 0; out <= 2; ++out)
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), out), wire(0, out), 5000);

        // A camera lost during the countdown and not back at its end: the
        // step is not judged on the last picture but held as NG.
        const int lostNg = counted().fail[0];
        gpWPara->words[40] = 15;   // 1.5 s for the product step, 2.5 s for the cavity
        gpWPara->words[41] = 25;
        QVERIFY(cameraCommand("* fault reconnectfail 4"));
        pulseMouldOpen();
        QVERIFY(cameraCommand("* fault loss 1"));
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(win->cycle().alarmCode[0], RiVuRevezi::kCodeCameraLost);
        QCOMPARE(counted().fail[0], lostNg + 1);
        for (int out = 0; out <= 2; ++out)
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), out), wire(1, out), 5000);
        // Missing across mould openings: nothing is judged, everything held.
        const int judgedWhileMissing = counted().all[0];
        pulseMouldOpen();
        pulseMouldOpen();
        QCOMPARE(counted().all[0], judgedWhileMissing);
        for (int out = 0; out <= 2; ++out)
            QCOMPARE(outBit(sim.outputs(), out), wire(1, out));
        // Back again: a re-detection passes and closes the cycle, which ends the hold.
        QTRY_VERIFY_WITH_TIMEOUT(win->CameraCheck() == 1, kCycleWait);
        const quint64 framesBeforeReturn = CameraViews::at(0)->frameCount();
        QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(0)->frameCount() > framesBeforeReturn, 5000);
        win->drawROIWidget->SlotReCheck();
        QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen, kCycleWait);
        QVERIFY(!win->mould->cameraHold());
        for (int out = 0; out <= 2; ++out)
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), out), wire(0, out), 5000);

        // No frames at all: the step is unjudged, never OK.
        QVERIFY(cameraCommand("* fault miss 1"));
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(win->cycle().alarmCode[0], RiVuRevezi::kCodeCameraLost);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 1), wire(1, 1), 5000);
        QVERIFY(cameraCommand("* fault miss 0"));

        // The program's own rows carry the rights-level text that the record
        // query matches: nobody signed in, in the display language.
        const QJsonObject rows = recordquery::query(
            {{"datetime_start", QDate::currentDate().toString("yyyy-MM-dd 00:00:00")},
             {"datetime_end", QDate::currentDate().toString("yyyy-MM-dd 23:59:59")},
             {"operator", lanStr(156)}},
            Databases::get().recordDb(), QDate::currentDate());
        QVERIFY(!rows.value("record").toArray().isEmpty());

        // The counters survive a restart.
        const CounterValues before = counted();
        QVERIFY(before.all[0] > 0);
        ProductionCounters::get().restore(CounterValues{});
        win->LoadCount();
        QVERIFY(counted() == before);

        // Stopping detection clears the alarm.
        win->StopDetect();
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(0, 2), 5000);

        // Once more, cleared by the operator letting the mould pass: the agent
        // hears the alarm start, the NG picture, the cycle's results and the
        // clear, the clear last and all of one alarm.
        int firstAlarm = -1;   // the latest alarm so far
        for (int i; (i = agentMessage(log, "alarm_starttiming", firstAlarm + 1)) >= 0;)
            firstAlarm = i;
        QVERIFY(firstAlarm >= 0);
        QVERIFY(cameraCommand("* defect shortshot"));
        win->StartDetect();
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QJsonObject start, picture, info, clear;
        int at = -1;
        QTRY_VERIFY_WITH_TIMEOUT((at = agentMessage(log, "alarm_starttiming", firstAlarm + 1, &start)) > firstAlarm &&
                                     agentMessage(log, "alarmpicture", at, &picture) > at,
                                 10000);
        win->drawROIWidget->notCheckcur();
        int cleared = -1;
        QTRY_VERIFY((cleared = agentMessage(log, "alarm_finishtiming", at, &clear)) > at);
        QVERIFY(cleared > agentMessage(log, "alarmpicture", at));
        QVERIFY(agentMessage(log, "detectonceinfo", at, &info) > at && agentMessage(log, "detectonceinfo", at) < cleared);
        const QString alarm = start.value("body").toObject().value("uuid").toString();
        QVERIFY(!alarm.isEmpty());
        QCOMPARE(picture.value("body").toObject().value("uuid").toString(), alarm);
        QCOMPARE(picture.value("body").toObject().value("result").toInt(), 0);
        QVERIFY(picture.value("taskId").toString().startsWith("V18#press-3@"));
        QCOMPARE(info.value("taskId").toString(), picture.value("taskId").toString());
        QCOMPARE(info.value("body").toObject().value("result").toBool(), false);
        QCOMPARE(clear.value("body").toObject().value("uuid").toString(), alarm);
        QCOMPARE(clear.value("body").toObject().value("clear_method").toString(), QStringLiteral(" 相机1:不检测此模解除"));
        QTRY_VERIFY(agentMessage(log, "recordoperate", cleared) > cleared);  // the operator's decision, recorded
        QVERIFY(cameraCommand("* defect none"));

        // The machine opens again while both steps still count down, and
        // the second opening's part is a short shot: judged after the first,
        // NG, and from the second edge to that NG neither the clamp nor the
        // ejector is ever free on the wire (every output frame the board got).
        win->StopDetect();   // whatever the cavity's owed judgement left
        win->StartDetect();
        QVERIFY(!win->cycle().cycleOpen);
        gpWPara->words[40] = gpWPara->words[41] = 30;   // three seconds: the second opening comes well inside
        const int heldJudged = counted().all[0];
        const int heldFailed = counted().fail[0];
        pulseMouldOpen();
        QTRY_VERIFY_WITH_TIMEOUT(win->mould->countdownActive(0) && win->mould->countdownActive(1), kCycleWait);
        const size_t from = sim.history().size();
        pulseMouldOpen();
        QTRY_VERIFY_WITH_TIMEOUT(win->mould->edgeHeld(0) && win->mould->edgeHeld(1), kCycleWait);
        // The first opening's part was good; the second one's is not.
        QTRY_VERIFY_WITH_TIMEOUT(counted().all[0] >= heldJudged + 2, kCycleWait);
        QCOMPARE(counted().fail[0], heldFailed);
        QVERIFY(cameraCommand("* defect shortshot"));
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(counted().fail[0], heldFailed + 1);   // whichever step's timer fired first; the other is owed
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(1, 2), 5000);
        const auto history = sim.history();
        int frames = 0;
        for (size_t i = from; i < history.size(); ++i) {
            if (history[i].first != 1)
                continue;
            ++frames;
            for (int out : {0, 1})
                QVERIFY2(outBit(history[i].second, out) == wire(1, out),
                         qPrintable(QStringLiteral("output %1 free in frame %2 (%3)").arg(out).arg(i).arg(history[i].second)));
        }
        QVERIFY(frames > 0);
        QVERIFY(cameraCommand("* defect none"));
        win->StopDetect();
    }

    void missingDatabaseIsRestoredAndRebootRecorded()
    {
        TestWorkDir wd;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        copyOrFail(build + "/resources/paraGroup/default/PARAM.db", "paraGroup/default/PARAM.db");
        int exitCode = -1;
        platform::setExitHandler([&](int code) { exitCode = code; });
        platform::runner().clearRecorded();
        RiVuRevezi win;
        // The operator acknowledges the message box.
        QTimer answer;
        connect(&answer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        answer.start(50);
        QVERIFY(!win.StartUp());
        QCOMPARE(exitCode, platform::kExitReboot);
        QVERIFY(QFile::exists("PARAM.db"));
        QVERIFY(platform::runner().recorded().contains("reboot"));
        platform::setExitHandler(nullptr);
        gpWin = nullptr;
    }
};

QTEST_MAIN(TestCycle)
#include "tst_cycle.moc"
