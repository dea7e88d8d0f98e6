#include "viewwatch2ziz.h"

#include "cnt_semaphore.h"
#include "globals.h"
#include "network.h"
#include "platform.h"
#include "publictools.h"
#include "videothread.h"
#include "winstate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <cerrno>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

const QString kPrefix = QStringLiteral("/inline/bymain/");

// What the link reads of the main window, in one place.
int hostRunState() { return gpState ? gpState->cycle().runState : RunState::Stopped; }
int hostDetectState() { return gpState ? gpState->cycle().detectState : DetectState::Idle; }

QImage grabMainWindow()
{
    return gpState && gpState->mainWidget ? gpState->mainWidget->grab().toImage() : QImage();
}

QString deviceStateText()
{
    switch (hostDetectState()) {
    case DetectState::NgLatched: return QStringLiteral("检测完毕NG");
    case DetectState::RegionSetting: return QStringLiteral("设置区域中");
    case DetectState::Ok: return QStringLiteral("检测完毕OK");
    default: break;
    }
    switch (hostRunState()) {
    case RunState::Training: return QStringLiteral("模板训练中");
    case RunState::Running: return QStringLiteral("运行中");
    case RunState::Stopped: return QStringLiteral("停止检测");
    default: return QStringLiteral("UNKNOW");
    }
}

// The System V key of share `cameraId`: the project id is "100" (segment)
// or "200" (semaphore) followed by the share number.
int shareKey(const QString& path, int prefix, int cameraId)
{
    const int project = QStringLiteral("%1%2").arg(prefix).arg(cameraId).toInt();
    return int(ftok(QFile::encodeName(path).constData(), project));
}

}  // namespace

ViewWatch2ZIZ::ViewWatch2ZIZ(XAN_NETMN* owner_)
    : HttpManager(XANT_CLIENT)
    , clockMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , screenGrab(grabMainWindow)
    , owner(owner_)
{
    routeMap_.insert(kPrefix + QStringLiteral("heartbeat"), [this](CTask_FormData reply) { handle_HeartBeat(reply); });
    // A hung agent (or one whose SYNs vanish) must not hold the GUI thread:
    // the reactor's loop thread connects, and the outcome comes back here.
    setBackgroundConnect(true);
    connect(this, &HttpManager::linkConnected, this, &ViewWatch2ZIZ::onAgentConnected);
    connect(&timerHB, &QTimer::timeout, this, &ViewWatch2ZIZ::SlotTimerHB);
    connect(&timerRunning, &QTimer::timeout, this, &ViewWatch2ZIZ::update_running_time);
    lastCycleMs = clockMs();
}

ViewWatch2ZIZ::~ViewWatch2ZIZ()
{
    timerHB.stop();
    timerRunning.stop();
    // The running program never ends its link; whoever does (a test, a
    // benchmark) leaves no segment or semaphore behind.
    destoryVideoShare();
    stopAgent();
}

qint64 ViewWatch2ZIZ::monoMs() const
{
    return ::monotonic_ms();
}

// ---- Link state -------------------------------------------------------------------

void ViewWatch2ZIZ::init()
{
    if (!owner->workNetFunc.load()) {
        stopAgent();
        startVideo(false);
        destoryVideoShare();
        timerHB.stop();
        timerRunning.stop();
        computeAllow();
        return;
    }
    restartAgent();
    startReactor(QHostAddress::LocalHost, agentPort, 1);
    if (owner->workVideo.load()) {
        createVideoShare(0, 1920, 1080);
        startVideo(true);
        sndVideoMeminfo();
    }
    if (!timerHB.isActive())
        timerHB.start(kHeartbeatMs);
    if (!timerRunning.isActive())
        timerRunning.start(kRunningTimeMs);
    computeAllow();
}

bool ViewWatch2ZIZ::getSoftCnted()
{
    const QSharedPointer<XANC::TcpReactor> r = reactor();
    auto* client = qobject_cast<XANC::TcpCliReactor*>(r.data());
    if (!client || !client->hasSession())
        return false;
    return ::gettimeofday_ms() - client->softCntedMs_.load() <= kAliveMs;
}

int ViewWatch2ZIZ::computeAllow()
{
    int code = 1;
    if (!owner->workNetFunc.load() || !reactor())
        code = -1;
    else if (!getSoftCnted())
        code = -2;
    else if (!cntServer)
        code = -3;
    else if (!registered)
        code = -4;
    allow_.store(code);
    return code;
}

int ViewWatch2ZIZ::isAllowSnd_2_VW()
{
    if (QThread::currentThread() != thread())
        return allow_.load();
    return computeAllow();
}

void ViewWatch2ZIZ::SlotTimerHB()
{
    if (!owner->workNetFunc.load()) {
        computeAllow();
        return;
    }
    ++times_hb;
    if (times_hb % kRestartTicks == 0) {
        qInfo("restart time up by 15min");
        init();
        return;
    }
    if (getSoftCnted()) {
        if (times_hb % 3 == 0)
            sndHeartBeat();
        computeAllow();
        return;
    }
    cntServer = false;
    const QSharedPointer<XANC::TcpReactor> r = reactor();
    const auto* client = qobject_cast<const XANC::TcpCliReactor*>(r.data());
    using State = XANC::TcpCliReactor::ConnectState;
    const State state = client ? client->connectState() : State::Idle;
    if (state == State::Connecting) {  // still under way on the loop thread
        computeAllow();
        return;
    }
    if (state == State::Failed)
        superviseAgent();
    startReactor(QHostAddress::LocalHost, agentPort, 1);  // returns at once
    computeAllow();
}

void ViewWatch2ZIZ::onAgentConnected()
{
    if (!owner->workNetFunc.load())
        return;
    agentBackoffMs_ = 1000;
    agentMissingLogged_ = false;
    sndHeartBeat();
    sndVideoMeminfo();
    computeAllow();
}

void ViewWatch2ZIZ::handle_HeartBeat(const CTask_FormData& reply)
{
    cntServer = registered = needOkImg = needVideo = false;
    const QJsonValue result = reply.json.value(QStringLiteral("result"));
    if (result.isObject()) {
        const QJsonObject o = result.toObject();
        auto flag = [&o](const char* key, bool* out) {
            const QJsonValue v = o.value(QLatin1String(key));
            if (v.isBool())
                *out = v.toBool();
        };
        flag("cntserver", &cntServer);
        flag("register", &registered);
        flag("needokimg", &needOkImg);
        flag("needvideo", &needVideo);
    }
    computeAllow();
}

// ---- Agent process ------------------------------------------------------------------

bool ViewWatch2ZIZ::agentRunning() const
{
    return agent_ && agent_->state() != QProcess::NotRunning;
}

qint64 ViewWatch2ZIZ::agentPid() const
{
    return agentRunning() ? agent_->processId() : 0;
}

void ViewWatch2ZIZ::stopAgent()
{
    if (agent_) {
        if (agent_->state() != QProcess::NotRunning) {
            agent_->kill();
            agent_->waitForFinished(1000);
        }
        delete agent_;
        agent_ = nullptr;
    }
    // Agents left over from an earlier run of the program are found by name;
    // only on the monitor's own computer, where they can be nothing else.
    if (platform::runner().isTarget()) {
        platform::runner().runOnTarget(QStringLiteral("killall"), {QStringLiteral("-9"), QStringLiteral("rurir_monitor")}, 3000);
        platform::runner().runOnTarget(QStringLiteral("killall"), {QStringLiteral("-9"), QStringLiteral("zor_eroz")}, 3000);
    }
}

void ViewWatch2ZIZ::startAgent()
{
    agentStartedMono_ = monoMs();
    // The next start, should this one not lead to a link, waits a growing while.
    agentRetryAtMono_ = agentStartedMono_ + agentBackoffMs_;
    agentBackoffMs_ = qMin(agentBackoffMs_ * 2, kMaxBackoffMs);

    const QFileInfo program(agentProgram);
    if (!program.isFile() || !program.isExecutable()) {
        if (!agentMissingLogged_)
            qWarning("local agent %s is missing; its start is retried", qPrintable(agentProgram));
        agentMissingLogged_ = true;
        return;
    }
    const QString config = QFileInfo(owner->configPath()).absoluteFilePath();
    agent_ = new QProcess(this);
    agent_->setProgram(program.absoluteFilePath());
    agent_->setArguments({config});
    agent_->setStandardOutputFile(QProcess::nullDevice());
    agent_->setStandardErrorFile(QProcess::nullDevice());
    agent_->start(QIODevice::NotOpen);
    if (!agent_->waitForStarted(1000)) {
        if (!agentMissingLogged_)
            qWarning("local agent %s cannot be started: %s", qPrintable(agentProgram), qPrintable(agent_->errorString()));
        agentMissingLogged_ = true;
        delete agent_;
        agent_ = nullptr;
        return;
    }
    qInfo("local agent started, pid %lld", agent_->processId());
}

void ViewWatch2ZIZ::restartAgent()
{
    stopAgent();
    startAgent();
}

void ViewWatch2ZIZ::superviseAgent()
{
    const qint64 now = monoMs();
    if (agentRunning()) {
        if (now - agentStartedMono_ < kAgentGraceMs)
            return;  // still starting up
        qWarning("local agent does not answer on port %u; restarting it", unsigned(agentPort));
    } else if (now < agentRetryAtMono_) {
        return;
    }
    restartAgent();
}

// ---- Messages -------------------------------------------------------------------------

void ViewWatch2ZIZ::send(const QString& name, const QJsonObject& body, const QString& taskId)
{
    CTask_FormData task;
    task.url = kPrefix + name;
    task.json = body;
    task.taskId = taskId;
    sendAsync(task);
}

void ViewWatch2ZIZ::sndHeartBeat()
{
    QJsonObject body;
    body.insert(QStringLiteral("deviceBaseinfo"), QStringLiteral("cpu：10%，memory：10%，disk：10%"));
    body.insert(QStringLiteral("deviceState"), deviceStateText());
    body.insert(QStringLiteral("isPutVideo"), owner->workVideo.load());
    body.insert(QStringLiteral("cameracount"), numCamera);
    send(QStringLiteral("heartbeat"), body);
}

void ViewWatch2ZIZ::sndRecordOperate(QJsonObject entry)
{
    if (isAllowSnd_2_VW() != 1)
        return;
    send(QStringLiteral("recordoperate"), entry);
}

void ViewWatch2ZIZ::syncTempList(QJsonObject in)
{
    if (isAllowSnd_2_VW() != 1)
        return;
    QJsonObject body;
    body.insert(QStringLiteral("cameraId"), in.value(QStringLiteral("camera")));
    body.insert(QStringLiteral("detectId"), in.value(QStringLiteral("detect")));
    body.insert(QStringLiteral("pagenum"), 1);
    body.insert(QStringLiteral("pagesize"), 10);
    send(QStringLiteral("synctemplist"), body);
}

void ViewWatch2ZIZ::updataAlarmInfo()
{
    if (isAllowSnd_2_VW() != 1)
        return;
    QString id;
    QFile f(QStringLiteral("/proc/sys/kernel/random/uuid"));
    if (f.open(QIODevice::ReadOnly)) {
        QByteArray raw = f.readAll();
        const int nul = raw.indexOf('\0');
        if (nul >= 0)
            raw.truncate(nul);
        id = QString::fromLatin1(raw).remove(QLatin1Char('\n'));
    }
    if (id.isEmpty())
        id = QString::number(clockMs());
    QMutexLocker lock(&alarmMutex_);
    alarmUuid_ = id;
    clearMethod_.clear();
    alarmState = AlarmStarted;
}

void ViewWatch2ZIZ::sndAlarmStartTiming(int detect)
{
    if (isAllowSnd_2_VW() != 1)
        return;
    updataAlarmInfo();
    QJsonObject body;
    body.insert(QStringLiteral("alarm_detect"), detect);
    {
        QMutexLocker lock(&alarmMutex_);
        body.insert(QStringLiteral("uuid"), alarmUuid_);
        alarmStartMs_ = clockMs();
    }
    send(QStringLiteral("alarm_starttiming"), body);
}

QString ViewWatch2ZIZ::clearMethodText(int kind)
{
    switch (kind) {
    case AlarmCode::NotDetected: return QStringLiteral("不检测此模解除");
    case AlarmCode::AddedAsTemplate: return QStringLiteral("添加为模板解除");
    case AlarmCode::SwitchedToMould: return QStringLiteral("重新检测切换到模腔检测");
    case AlarmCode::ReDetected: return QStringLiteral("进行重检检测");
    case AlarmCode::ReDetectedOk: return QStringLiteral("重检检测OK");
    default: return QStringLiteral("unknow");
    }
}

void ViewWatch2ZIZ::addClearMethod(int camera, int kind)
{
    const bool allowed = isAllowSnd_2_VW() == 1;
    QMutexLocker lock(&alarmMutex_);
    if (!allowed) {
        clearMethod_.clear();
        return;
    }
    clearMethod_ += QStringLiteral(" 相机%1:").arg(camera + 1) + clearMethodText(kind);
}

void ViewWatch2ZIZ::sndAlarmFinishTiming()
{
    if (isAllowSnd_2_VW() != 1 || alarmState.load() != AlarmClearing)
        return;
    alarmState = NoAlarm;
    QJsonObject body;
    qint64 started = 0;
    {
        QMutexLocker lock(&alarmMutex_);
        body.insert(QStringLiteral("clear_method"), clearMethod_);
        body.insert(QStringLiteral("uuid"), alarmUuid_);
        started = alarmStartMs_;
    }
    if (owner->alarmTimeMs.hasValue())
        owner->alarmTimeMs.setValue(int(qBound<qint64>(0, clockMs() - started, INT_MAX)));
    send(QStringLiteral("alarm_finishtiming"), body);
}

void ViewWatch2ZIZ::sndAlarmPicture(int camera, int detect, bool result, QString path)
{
    // The held record's id, read under its lock (empty when none is held).
    XAN_NETMN::sAPI_LastDetect_Info held;
    const QString taskId = owner->lastDetect.tryGetValue(&held) ? held.uuid : QString();
    if (QThread::currentThread() == thread()) {
        sendAlarmPictureNow(camera, detect, result, path, taskId);
        return;
    }
    if (allow_.load() != 1)
        return;
    QMetaObject::invokeMethod(
        this, [this, camera, detect, result, path, taskId] { sendAlarmPictureNow(camera, detect, result, path, taskId); },
        Qt::QueuedConnection);
}

void ViewWatch2ZIZ::sendAlarmPictureNow(int camera, int detect, bool result, const QString& path, const QString& taskId)
{
    if (isAllowSnd_2_VW() != 1)
        return;
    if (result && !needOkImg)
        return;
    QJsonObject body;
    body.insert(QStringLiteral("camera"), camera);
    body.insert(QStringLiteral("detect"), detect);
    body.insert(QStringLiteral("result"), result ? 1 : 0);
    body.insert(QStringLiteral("alarmpic_path"), path);
    body.insert(QStringLiteral("uuid"), alarmUuid());
    send(QStringLiteral("alarmpicture"), body, taskId);
}

void ViewWatch2ZIZ::sndDetectOnceInfo()
{
    if (isAllowSnd_2_VW() != 1)
        return;
    QMap<QString, param_roi> copy;
    {
        QMutexLocker lock(&owner->roiMutex);
        copy = owner->roiCache;
    }
    QMap<QString, QList<param_roi>> groups;
    bool allPassed = true;
    for (auto it = copy.cbegin(); it != copy.cend(); ++it) {
        groups[QStringLiteral("%1;%2").arg(it->camera).arg(it->detect)].append(it.value());
        if (it->result != 1)
            allPassed = false;
    }
    int alarmMs = 0;
    const bool haveAlarm = owner->alarmTimeMs.tryGetValue(&alarmMs);
    const int alarmTenths = haveAlarm ? alarmMs / 100 : 0;

    QJsonArray detail;
    for (auto g = groups.cbegin(); g != groups.cend(); ++g) {
        QJsonObject group;
        group.insert(QStringLiteral("camera"), g.key().section(QLatin1Char(';'), 0, 0).toInt());
        group.insert(QStringLiteral("detect"), g.key().section(QLatin1Char(';'), 1, 1).toInt());
        QJsonArray rois;
        for (const param_roi& r : g.value()) {
            QJsonObject o;
            o.insert(QStringLiteral("roi_id"), r.roi);
            o.insert(QStringLiteral("algorithm_type"), r.func);
            o.insert(QStringLiteral("algorithm_result"), r.algorithm);
            o.insert(QStringLiteral("algorithm_sensitivity"), r.param1);
            o.insert(QStringLiteral("algorithm_areaMin"), r.param2);
            o.insert(QStringLiteral("is_alarm"), r.result);
            rois.append(o);
        }
        group.insert(QStringLiteral("roi_detail"), rois);
        detail.append(group);
    }
    QJsonObject body;
    body.insert(QStringLiteral("result"), allPassed);
    body.insert(QStringLiteral("dtime"), (cycleTenths_.load() - alarmTenths) / 10.0);
    body.insert(QStringLiteral("detect_detail"), detail);
    XAN_NETMN::sAPI_LastDetect_Info held;
    const QString taskId = owner->lastDetect.tryGetValue(&held) ? held.uuid : QString();
    send(QStringLiteral("detectonceinfo"), body, taskId);
}

void ViewWatch2ZIZ::update_running_time()
{
    const qint64 now = clockMs();
    if (hostRunState() != RunState::Stopped && now - lastCycleMs.load() <= 180000)
        ++workingMinutes;
    else
        ++stoppedMinutes;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(now);
    const QString hour = local.toString(QStringLiteral("yyyyMMdd_hh"));
    if (hour == cache_datetime) {
        if (times++ <= 10)
            return;
    }
    times = 0;
    cache_datetime = hour;
    QJsonObject body;
    body.insert(QStringLiteral("working_time"), workingMinutes);
    body.insert(QStringLiteral("stop_time"), stoppedMinutes);
    body.insert(QStringLiteral("record_timepart"), local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    send(QStringLiteral("working_time_record"), body);
    workingMinutes = 0;
    stoppedMinutes = 0;
}

void ViewWatch2ZIZ::noteCycleStart(qint64 ms)
{
    if (cycleStarted_)
        cycleTenths_ = int(qBound<qint64>(0, (ms - lastCycleMs.load()) / 100, INT_MAX));
    cycleStarted_ = true;
    lastCycleMs = ms;
}

QString ViewWatch2ZIZ::alarmUuid() const
{
    QMutexLocker lock(&alarmMutex_);
    return alarmUuid_;
}

QString ViewWatch2ZIZ::clearMethod() const
{
    QMutexLocker lock(&alarmMutex_);
    return clearMethod_;
}

// ---- Screen video share ------------------------------------------------------------

void ViewWatch2ZIZ::createVideoShare(int cameraId, int width, int height)
{
    // The old attachments go first; the thread that writes through them is
    // stopped before they do.
    startVideo(false);
    for (VideoShareInfo& old : videoShares)
        if (old.shmAddr)
            shmdt(old.shmAddr);
    videoShares.clear();

    VideoShareInfo s;
    s.cameraid = cameraId;
    s.width = width;
    s.height = height;
    s.size = width * height * 3 / 2;
    s.fps = 20;
    const int shmKey = shareKey(ipcKeyPath, 100, cameraId);
    s.shmid = shmKey == -1 ? -1 : shmget(shmKey, size_t(s.size), IPC_CREAT | 0600);
    if (s.shmid == -1) {
        qWarning("video share %d: segment of %d bytes cannot be made (errno %d)", cameraId, s.size, errno);
    } else {
        void* addr = shmat(s.shmid, nullptr, 0);
        if (addr == reinterpret_cast<void*>(-1)) {
            qWarning("video share %d: segment %d cannot be attached (errno %d)", cameraId, s.shmid, errno);
            s.shmid = -1;
        } else {
            s.shmAddr = addr;
        }
    }
    const int semKey = shareKey(ipcKeyPath, 200, cameraId);
    s.sem = QSharedPointer<CNT_Semaphore>::create(semKey);
    s.semid = semKey == -1 ? -1 : s.sem->create_sem(1);
    if (s.sem->semid() == -1)
        s.semid = -1;
    videoShares.insert(cameraId, s);
}

void ViewWatch2ZIZ::destoryVideoShare()
{
    startVideo(false);
    for (VideoShareInfo& s : videoShares) {
        if (s.shmAddr) {
            shmdt(s.shmAddr);
            s.shmAddr = nullptr;
        }
        if (s.shmid != -1 && shmctl(s.shmid, IPC_RMID, nullptr) != 0)
            qWarning("video share %d: segment %d cannot be removed (errno %d)", s.cameraid, s.shmid, errno);
        s.shmid = -1;
        if (s.sem && s.semid != -1 && !s.sem->remove())
            qWarning("video share %d: semaphore %d cannot be removed (errno %d)", s.cameraid, s.semid, errno);
        s.semid = -1;
    }
}

void ViewWatch2ZIZ::startVideo(bool on)
{
    if (videoThread) {
        videoThread->idestory();
        videoThread.reset();
    }
    if (on)
        videoThread.reset(new VideoThread(videoShares, this));
}

void ViewWatch2ZIZ::sndVideoMeminfo()
{
    QJsonArray list;
    for (const VideoShareInfo& s : qAsConst(videoShares)) {
        QJsonObject o;
        o.insert(QStringLiteral("cameraid"), s.cameraid);
        o.insert(QStringLiteral("size"), s.size);
        o.insert(QStringLiteral("width"), s.width);
        o.insert(QStringLiteral("height"), s.height);
        o.insert(QStringLiteral("fps"), s.fps);
        o.insert(QStringLiteral("shmid"), s.shmid);
        o.insert(QStringLiteral("semid"), s.semid);
        list.append(o);
    }
    send(QStringLiteral("offervideomem"), QJsonObject{{QStringLiteral("memoryinfo"), list}});
}
