#include "platform.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

#include <cstdlib>
#include <mutex>

namespace platform {

namespace {
Sleeper gRealSleeper;
CommandRunner gRealRunner;
Sleeper* gSleeper = &gRealSleeper;
CommandRunner* gRunner = &gRealRunner;
std::function<void(int)> gExitHandler;
std::mutex gRecordMutex;

QString commandText(const QString& program, const QStringList& args)
{
    QStringList all{program};
    all += args;
    return all.join(QLatin1Char(' '));
}
}  // namespace

void Sleeper::sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

CommandResult CommandRunner::run(const QString& program, const QStringList& args, int timeoutMs)
{
    CommandResult r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000)) {
        qWarning("cannot start %s", qPrintable(program));
        return r;
    }
    r.started = true;
    if (!p.waitForFinished(timeoutMs)) {
        // Never leave a hung child behind: kill it and reap it.
        r.timedOut = true;
        p.kill();
        p.waitForFinished(2000);
    }
    r.exitCode = (p.exitStatus() == QProcess::NormalExit) ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

CommandResult CommandRunner::runOnTarget(const QString& program, const QStringList& args, int timeoutMs)
{
    if (isTarget())
        return run(program, args, timeoutMs);
    record(program, args);
    CommandResult r;
    r.started = true;
    r.exitCode = 0;
    return r;
}

bool CommandRunner::startDetached(const QString& program, const QStringList& args, bool machineChanging)
{
    if (machineChanging && !isTarget()) {
        record(program, args);
        return true;
    }
    return QProcess::startDetached(program, args);
}

bool CommandRunner::isTarget() const
{
    const QByteArray forced = qgetenv("VMM_TARGET");
    if (forced == "0")
        return false;
    if (forced == "1")
        return true;
    return QFile::exists(QStringLiteral("/dev/led"));
}

namespace {
void setInet(struct sockaddr* sa, quint32 addr)
{
    struct sockaddr_in in {};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = addr;
    std::memcpy(sa, &in, sizeof in);
}
}  // namespace

CommandRunner::RouteChange CommandRunner::replaceDefaultRoute(quint32 gateway)
{
    char gw[INET_ADDRSTRLEN] = {};
    struct in_addr a {};
    a.s_addr = gateway;
    inet_ntop(AF_INET, &a, gw, sizeof gw);
    if (!isTarget()) {
        record(QStringLiteral("route"), {QStringLiteral("del"), QStringLiteral("default")});
        if (gateway != 0)
            record(QStringLiteral("route"), {QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("gw"),
                                             QString::fromLatin1(gw)});
        return RouteChange::Done;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return RouteChange::NoSocket;
    struct rtentry rt {};
    setInet(&rt.rt_dst, 0);
    setInet(&rt.rt_genmask, 0);
    rt.rt_flags = RTF_UP;
    const bool deleted = ::ioctl(fd, SIOCDELRT, &rt) == 0;
    const int delErr = errno;
    bool ok = deleted;
    if ((deleted || delErr == ESRCH) && gateway != 0) {
        struct rtentry add {};
        setInet(&add.rt_dst, 0);
        setInet(&add.rt_genmask, 0);
        setInet(&add.rt_gateway, gateway);
        add.rt_flags = RTF_UP | RTF_GATEWAY;
        ok = ::ioctl(fd, SIOCADDRT, &add) == 0;
        if (!ok)
            qWarning("route add default gw %s failed: %s", gw, std::strerror(errno));
    } else if (!deleted) {
        qWarning("route del default failed: %s", std::strerror(delErr));
    }
    ::close(fd);
    return ok ? RouteChange::Done : RouteChange::Failed;
}

QStringList CommandRunner::recorded() const
{
    std::lock_guard<std::mutex> lock(gRecordMutex);
    return recorded_;
}

void CommandRunner::clearRecorded()
{
    std::lock_guard<std::mutex> lock(gRecordMutex);
    recorded_.clear();
}

void CommandRunner::record(const QString& program, const QStringList& args)
{
    const QString text = commandText(program, args);
    qInfo("not on the target: %s", qPrintable(text));
    std::lock_guard<std::mutex> lock(gRecordMutex);
    recorded_.append(text);
}

Sleeper& sleeper() { return *gSleeper; }
void setSleeper(Sleeper* s) { gSleeper = s ? s : &gRealSleeper; }
CommandRunner& runner() { return *gRunner; }
void setRunner(CommandRunner* r) { gRunner = r ? r : &gRealRunner; }

void setExitHandler(std::function<void(int)> handler) { gExitHandler = std::move(handler); }

void exitProcess(int code)
{
    if (gExitHandler) {
        gExitHandler(code);
        return;
    }
    std::exit(code);
}

namespace {
bool endRun(const QString& program, const QStringList& args, int exitCode)
{
    runner().runOnTarget(QStringLiteral("sync"), {});
    const CommandResult r = runner().runOnTarget(program, args);
    if (!r.ok())
        qWarning("%s failed (exit %d): %s", qPrintable(commandText(program, args)), r.exitCode, r.err.constData());
    if (!runner().isTarget())
        exitProcess(exitCode);
    return r.ok();
}
}  // namespace

bool reboot()
{
    return endRun(QStringLiteral("reboot"), {}, kExitReboot);
}

bool powerOff()
{
    return endRun(QStringLiteral("init"), {QStringLiteral("0")}, kExitPowerOff);
}

bool requestPortIo()
{
#if defined(__x86_64__) || defined(__i386__)
    return ::iopl(3) == 0;
#else
    return false;
#endif
}

int openLedDevice(const char* path)
{
    const int fd = ::open(path, O_RDWR);
    return fd >= 0 ? fd : -1;
}

int ledIoctl(int fd, unsigned long request, unsigned long arg)
{
    if (fd < 0)
        return -1;
    return ::ioctl(fd, request, arg);
}

}  // namespace platform
