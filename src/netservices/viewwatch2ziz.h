// The link to the local network agent, a separate program that this link
// starts, watches and feeds. The agent serves HTTP on 127.0.0.1; the link
// posts JSON messages to it under "/inline/bymain/" (heartbeat, operation
// record, alarm start and end, alarm pictures, per-cycle ROI results,
// template changes, running time, the screen share) and learns from the
// heartbeat's answer whether the agent is connected to its server and the
// device registered there; only then do the cycle messages flow.
//
// Threads: the object lives on the GUI thread. Its reactor is replaced there
// (each reconnect) and connects in the background, so the GUI thread never
// waits on the agent; requests the agent writes on the link are dropped on
// the reactor's thread. Other threads never call into the link: the permission to
// send is computed on the GUI thread into an atomic, which the video thread
// and the picture-saving thread read; an alarm picture from the saving
// thread is handed to the GUI thread to be sent.
#pragma once

#include "httpmanager.h"
#include "videoshareinfo.h"

#include <QHostAddress>
#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>

class QProcess;
class VideoThread;
class XAN_NETMN;

class ViewWatch2ZIZ : public HttpManager {
    Q_OBJECT
public:
    static constexpr quint16 kAgentPort = 10431;
    static constexpr int kHeartbeatMs = 1000;
    static constexpr int kRunningTimeMs = 60000;
    // A full restart of the agent every this many heartbeat ticks.
    static constexpr int kRestartTicks = 1200;
    // The link counts as alive while something arrived this recently.
    static constexpr qint64 kAliveMs = 8000;
    // An agent younger than this is given time to start listening.
    static constexpr qint64 kAgentGraceMs = 10000;
    static constexpr int kMaxBackoffMs = 60000;

    explicit ViewWatch2ZIZ(XAN_NETMN* owner);
    ~ViewWatch2ZIZ() override;

    // Where the agent is and where it listens, and the path whose key the
    // video share's System V objects are made from. Tests point them elsewhere.
    QString agentProgram = QStringLiteral("./cnt_net/rurir_monitor/rurir_monitor");
    quint16 agentPort = kAgentPort;
    QString ipcKeyPath = QStringLiteral("/tmp");
    // Milliseconds since the epoch; tests replace the clock.
    std::function<qint64()> clockMs;
    // The picture the video share shows (the main window by default).
    std::function<QImage()> screenGrab;

    // (Re)starts the link with the manager's switches, or stops it.
    void init();
    // A live client link: a session, and traffic within the last 8 s.
    bool getSoftCnted();
    // 1 when messages may go to the agent; -1 network function off or no
    // reactor, -2 not connected, -3 the agent has no server connection, -4
    // the device is not registered. On the GUI thread the code is computed
    // afresh; other threads get the one last computed there.
    int isAllowSnd_2_VW();

    // ---- Messages --------------------------------------------------------------
    void sndHeartBeat();
    void sndRecordOperate(QJsonObject entry);
    void syncTempList(QJsonObject in);
    void sndAlarmStartTiming(int detect);
    void updataAlarmInfo();
    void addClearMethod(int camera, int kind);
    // The latched alarm is being cleared: the clear methods follow, then
    // sndAlarmFinishTiming reports them.
    void alarmBeingCleared() { alarmState = AlarmClearing; }
    void sndAlarmFinishTiming();
    // Any thread; the message itself is sent from the GUI thread.
    void sndAlarmPicture(int camera, int detect, bool result, QString path);
    void sndDetectOnceInfo();

    // ---- Screen video share ---------------------------------------------------
    void createVideoShare(int cameraId, int width, int height);
    void destoryVideoShare();
    void startVideo(bool on);
    void sndVideoMeminfo();
    static QString clearMethodText(int kind);

    // ---- State -------------------------------------------------------------------
    XAN_NETMN* owner;
    QTimer timerHB;
    QTimer timerRunning;
    QMap<int, VideoShareInfo> videoShares;
    QSharedPointer<VideoThread> videoThread;
    int workingMinutes = 0;
    int stoppedMinutes = 0;
    std::atomic<qint64> lastCycleMs{0};
    // A cycle started at `ms` (the cycle record's opening): the running time
    // and the cycle time of the detection message count from here.
    void noteCycleStart(qint64 ms);
    // Between the two latest cycle starts, in tenths of a second (0 until two).
    int cycleIntervalTenths() const { return cycleTenths_.load(); }
    // AlarmPhase; the clearing phase is set by alarmBeingCleared.
    enum AlarmPhase : int { NoAlarm = 0, AlarmStarted = 1, AlarmClearing = 2 };
    std::atomic<int> alarmState{NoAlarm};
    bool cntServer = false;
    bool registered = false;
    bool needOkImg = false;
    bool needVideo = false;           // kept, not consulted
    qint64 times_hb = 0;              // heartbeat ticks since start-up
    QString cache_datetime;           // hour of the last running-time message
    int times = 0;                    // running-time ticks within that hour

    QString alarmUuid() const;
    QString clearMethod() const;
    // The agent process this link started, and whether it runs.
    bool agentRunning() const;
    qint64 agentPid() const;

public slots:
    void SlotTimerHB();
    void handle_HeartBeat(const CTask_FormData& reply);
    void update_running_time();

private slots:
    // The link's connect in the background reached the agent.
    void onAgentConnected();

private:
    void send(const QString& name, const QJsonObject& body, const QString& taskId = QString());
    int computeAllow();
    void sendAlarmPictureNow(int camera, int detect, bool result, const QString& path, const QString& taskId);
    // Agent process: kill ours (and, on the target, strays by name), start anew.
    void restartAgent();
    void stopAgent();
    void startAgent();
    // No link on a tick: restart the agent unless it is young or its start
    // is being backed off.
    void superviseAgent();
    qint64 monoMs() const;

    std::atomic<int> allow_{-1};
    std::atomic<int> cycleTenths_{0};
    bool cycleStarted_ = false;
    mutable QMutex alarmMutex_;       // alarm id, clear method and start time together
    QString alarmUuid_;
    QString clearMethod_;
    qint64 alarmStartMs_ = 0;

    QProcess* agent_ = nullptr;
    qint64 agentStartedMono_ = 0;
    qint64 agentRetryAtMono_ = 0;
    int agentBackoffMs_ = 1000;
    bool agentMissingLogged_ = false;
};
