#include "platform.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

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
