#include "agentrig.h"
#include "winstate.h"

#include <QDateTime>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <thread>

class TestAgentLink : public QObject {
    Q_OBJECT
private slots:
    void permissionFromHeartbeatAnswer_data()
    {
        QTest::addColumn<QByteArray>("flags");
        QTest::addColumn<bool>("net");
        QTest::addColumn<bool>("agentThere");
        QTest::addColumn<int>("code");
        QTest::newRow("connected and registered") << QByteArray("{}") << true << true << 1;
        QTest::newRow("no server") << QByteArray(R"({"cntserver":false})") << true << true << -3;
        QTest::newRow("server flag as a string") << QByteArray(R"({"cntserver":"true"})") << true << true << -3;
        QTest::newRow("not registered") << QByteArray(R"({"register":false})") << true << true << -4;
        QTest::newRow("register as a number") << QByteArray(R"({"register":1})") << true << true << -4;
        QTest::newRow("agent missing") << QByteArray("{}") << true << false << -2;
        QTest::newRow("network function off") << QByteArray("{}") << false << true << -1;
    }
    void permissionFromHeartbeatAnswer()
    {
        QFETCH(QByteArray, flags);
        QFETCH(bool, net);
        QFETCH(bool, agentThere);
        QFETCH(int, code);
        AgentRig rig(false, flags, net, agentThere ? QStringLiteral(AGENTSIM_PATH) : QStringLiteral("./no/such/agent"));
        QVERIFY2(rig.tickUntil(code), qPrintable(QString::number(rig.link->isAllowSnd_2_VW())));
        QCOMPARE(rig.mgr->isAllowSnd_2_VW(), code);
        QCOMPARE(rig.link->agentRunning(), net && agentThere);
        // Another thread sees the code the GUI thread computed.
        int seen = 0;
        std::thread([&] { seen = rig.link->isAllowSnd_2_VW(); }).join();
        QCOMPARE(seen, code);
        if (net && agentThere)
            QVERIFY(rig.count("heartbeat") >= 1);
    }

    void flagsChangeWhileRunning()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        rig.control("/agentsim/flags", R"({"register":false})");
        rig.link->sndHeartBeat();
        QTRY_COMPARE(rig.link->isAllowSnd_2_VW(), -4);
        // Nothing that needs permission goes out now.
        rig.link->syncTempList(QJsonObject{{"camera", 0}, {"detect", 1}});
        rig.control("/agentsim/flags", R"({"register":true})");
        rig.link->sndHeartBeat();
        QTRY_COMPARE(rig.link->isAllowSnd_2_VW(), 1);
        rig.link->syncTempList(QJsonObject{{"camera", QJsonArray{0, 1}}, {"detect", QJsonArray{1, 1}}});
        QTRY_COMPARE(rig.count("synctemplist"), 1);
        const QJsonObject body = rig.messages("synctemplist").first().value("body").toObject();
        QCOMPARE(body.value("cameraId").toArray(), (QJsonArray{0, 1}));
        QCOMPARE(body.value("detectId").toArray(), (QJsonArray{1, 1}));
        QCOMPARE(body.value("pagenum").toInt(), 1);
        QCOMPARE(body.value("pagesize").toInt(), 10);
    }

    void tickScheduleRestartAndReconnect()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        const int before = rig.count("heartbeat");
        rig.link->times_hb = 0;
        for (int i = 0; i < 9; ++i)
            rig.link->SlotTimerHB();
        QTRY_COMPARE(rig.count("heartbeat"), before + 3);  // ticks 3, 6 and 9

        // Tick 1200 restarts the agent even on a live link.
        const qint64 first = rig.link->agentPid();
        rig.link->times_hb = ViewWatch2ZIZ::kRestartTicks - 1;
        rig.link->SlotTimerHB();
        QVERIFY(rig.link->agentPid() != 0);
        QVERIFY(rig.link->agentPid() != first);
        QVERIFY(rig.tickUntil(1));

        // The agent dies: the link finds it gone, starts it again and
        // announces itself and the video share on the new link.
        const qint64 second = rig.link->agentPid();
        const int offers = rig.count("offervideomem");
        ::kill(pid_t(second), SIGKILL);
        QVERIFY(rig.tickUntil(-2));
        QVERIFY(rig.tickUntil(1));
        QVERIFY(rig.link->agentPid() != second);
        QTRY_COMPARE(rig.count("offervideomem"), offers + 1);
        int starts = 0;
        for (const QJsonObject& m : rig.messages())
            starts += m.value("started").toBool() ? 1 : 0;
        QCOMPARE(starts, 3);
    }

    // An agent whose SYNs vanish (its accept queue is full) is never waited
    // on: the tick returns with the connect under way and starts no other.
    void hungAgentIsNotWaitedOn()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("local agent .* is missing"));
        AgentRig rig(false, "{}", true, QStringLiteral("/nonexistent/agent"));
        rig.link->setBackgroundConnect(true, 600000);
        QTRY_VERIFY(qobject_cast<XANC::TcpCliReactor*>(rig.link->reactor().data())->connectState() ==
                    XANC::TcpCliReactor::ConnectState::Failed);  // nothing listened at the start
        const int hung = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a {AF_INET, htons(rig.port), {htonl(INADDR_LOOPBACK)}, {}};
        QVERIFY(::bind(hung, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && ::listen(hung, 0) == 0);
        QTcpSocket filler;  // fills the kernel's queue of one
        filler.connectToHost(QHostAddress::LocalHost, rig.port);
        QVERIFY(filler.waitForConnected(10000));
        for (int tick = 0; tick < 3; ++tick) {
            rig.link->SlotTimerHB();
            auto* cli = qobject_cast<XANC::TcpCliReactor*>(rig.link->reactor().data());
            QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Connecting);
            QCOMPARE(rig.link->isAllowSnd_2_VW(), -2);
        }
        ::close(hung);
    }

    void alarmStatesAndClearMethod()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        ViewWatch2ZIZ* link = rig.link;
        link->sndAlarmStartTiming(1);
        QCOMPARE(link->alarmState.load(), 1);
        const QString id = link->alarmUuid();
        QVERIFY(!id.isEmpty());
        // Not being cleared yet: nothing is sent and the state stays.
        link->sndAlarmFinishTiming();
        QCOMPARE(link->alarmState.load(), 1);

        link->alarmState = 2;
        link->addClearMethod(0, 4);
        link->addClearMethod(1, 8);
        link->addClearMethod(2, 11);
        QCOMPARE(link->clearMethod(), QStringLiteral(" 相机1:不检测此模解除 相机2:重检检测OK 相机3:unknow"));
        rig.mgr->alarmTimeMs.setValue(0);
        link->sndAlarmFinishTiming();
        QCOMPARE(link->alarmState.load(), 0);
        QTRY_COMPARE(rig.count("alarm_finishtiming"), 1);
        const QJsonObject start = rig.messages("alarm_starttiming").value(0).value("body").toObject();
        QCOMPARE(start.value("alarm_detect").toInt(), 1);
        QCOMPARE(start.value("uuid").toString(), id);
        const QJsonObject end = rig.messages("alarm_finishtiming").first().value("body").toObject();
        QCOMPARE(end.value("uuid").toString(), id);
        QCOMPARE(end.value("clear_method").toString(), link->clearMethod());
        QVERIFY(rig.mgr->alarmTimeMs.hasValue());

        // A new alarm has a new id and an empty clear method.
        link->sndAlarmStartTiming(0);
        QVERIFY(link->alarmUuid() != id);
        QVERIFY(link->clearMethod().isEmpty());
    }

    void runningTimeSchedule()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        // Owns the cycle's status as the main window would.
        struct CycleOwner : WinState {
            CycleStatus& cycleStatus() { return cycle_; }
        } state;
        gpState = &state;
        state.cycleStatus().runState = 1;
        qint64 now = QDateTime(QDate(2026, 3, 2), QTime(10, 0, 30)).toMSecsSinceEpoch();
        rig.link->clockMs = [&now] { return now; };
        rig.link->lastCycleMs = now;  // working for three more minutes, then idle
        QList<int> sentAt;
        for (int tick = 1; tick <= 61; ++tick) {
            const int was = rig.link->workingMinutes + rig.link->stoppedMinutes;
            rig.link->update_running_time();
            if (rig.link->workingMinutes + rig.link->stoppedMinutes <= was)
                sentAt << tick;
            now += 60000;
        }
        gpState = nullptr;
        QCOMPARE(sentAt, (QList<int>{1, 13, 25, 37, 49, 61}));
        QTRY_COMPARE(rig.count("working_time_record"), 6);
        const QList<QJsonObject> sent = rig.messages("working_time_record");
        const QList<QPair<int, int>> expected{{1, 0}, {3, 9}, {0, 12}, {0, 12}, {0, 12}, {0, 12}};
        for (int i = 0; i < sent.size(); ++i) {
            const QJsonObject b = sent[i].value("body").toObject();
            QCOMPARE(qMakePair(b.value("working_time").toInt(), b.value("stop_time").toInt()), expected[i]);
        }
        QCOMPARE(sent.last().value("body").toObject().value("record_timepart").toString(),
                 QStringLiteral("2026-03-02 11:00:30"));
    }

    void picturesFollowNeedOkImg()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        rig.mgr->start_PeriodRecord();
        const QString uuid = rig.mgr->lastDetect.getValue().uuid;
        // From the picture-saving thread, as in the running program.
        auto fromThread = [&](bool ok, const QString& path) {
            std::thread([&] { rig.mgr->add_PeriodRecord_Picture(0, 1, ok, path); }).join();
        };
        fromThread(true, "/pics/ok1.jpg");
        fromThread(false, "/pics/ng1.jpg");
        QTRY_COMPARE(rig.count("alarmpicture"), 1);
        rig.control("/agentsim/flags", R"({"needokimg":true})");
        rig.link->sndHeartBeat();
        QTRY_VERIFY(rig.link->needOkImg);
        fromThread(true, "/pics/ok2.jpg");
        QTRY_COMPARE(rig.count("alarmpicture"), 2);
        const QList<QJsonObject> sent = rig.messages("alarmpicture");
        QCOMPARE(sent[0].value("body").toObject().value("alarmpic_path").toString(), QStringLiteral("/pics/ng1.jpg"));
        QCOMPARE(sent[0].value("body").toObject().value("result").toInt(), 0);
        QCOMPARE(sent[1].value("body").toObject().value("result").toInt(), 1);
        QCOMPARE(sent[1].value("taskId").toString(), uuid);
    }

    void detectOnceInfoGroupsAndTime()
    {
        AgentRig rig;
        QVERIFY(rig.tickUntil(1));
        qint64 now = 1700000000000;
        rig.mgr->clockMs = [&now] { return now; };
        rig.mgr->start_PeriodRecord();
        now += 12599;  // 12.5 s between the two latest cycle starts
        rig.mgr->start_PeriodRecord();
        auto roi = [](int c, int d, int r, int result) { return param_roi{c, d, r, 3, 40, 7, 9, 0, result}; };
        rig.mgr->putRoiResult(roi(0, 1, 2, 1));
        rig.mgr->putRoiResult(roi(0, 1, 10, 0));
        rig.mgr->putRoiResult(roi(1, 0, 0, 1));
        rig.mgr->alarmTimeMs.setValue(2599);  // 25 tenths
        rig.link->sndDetectOnceInfo();
        QTRY_COMPARE(rig.count("detectonceinfo"), 1);
        const QJsonObject m = rig.messages("detectonceinfo").first();
        QCOMPARE(m.value("taskId").toString(), rig.mgr->lastDetect.getValue().uuid);
        const QJsonObject b = m.value("body").toObject();
        QCOMPARE(b.value("result").toBool(), false);
        QCOMPARE(b.value("dtime").toDouble(), 10.0);
        const QJsonArray groups = b.value("detect_detail").toArray();
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups[0].toObject().value("camera").toInt(), 0);
        QCOMPARE(groups[0].toObject().value("detect").toInt(), 1);
        const QJsonArray rois = groups[0].toObject().value("roi_detail").toArray();
        QCOMPARE(rois.size(), 2);
        QCOMPARE(rois[0].toObject().value("roi_id").toInt(), 10);  // key text order
        QCOMPARE(rois[0].toObject().value("is_alarm").toInt(), 0);
        QCOMPARE(rois[1].toObject().value("algorithm_sensitivity").toInt(), 7);
        QCOMPARE(rois[1].toObject().value("algorithm_areaMin").toInt(), 9);
    }
};

QTEST_MAIN(TestAgentLink)
#include "tst_agentlink.moc"
