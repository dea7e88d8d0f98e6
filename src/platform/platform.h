// Our stand-ins for what the target computer provides.
//
// Every external program of the system is started through `runner()`, with an
// argument list (never a shell string built from data). Commands that change
// the machine (reboot, power-off, clock, mounts, routes, network cards, killing
// processes) are really executed only on the target computer; everywhere else
// they are logged as "not on the target: <command>" and recorded, so that tests
// and demo runs can never reboot the computer or change its clock.
//
// The target is recognised by the LED device "/dev/led", which only the
// monitor's industrial computer has; VMM_TARGET=0 in the environment forces
// "not the target" even there, VMM_TARGET=1 forces the target.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

struct CommandResult {
    bool started = false;   // the program could be started
    bool timedOut = false;  // killed after the time-out
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool ok() const { return started && !timedOut && exitCode == 0; }
};

// What runConfined() saw of a program it ran. What it ran under is only
// known when its keeper reported (`reported`); a keeper that was killed
// reported nothing, and then the fields below it say nothing either.
struct ConfinedResult : CommandResult {
    bool cutShort = false;    // it printed more than was read: it was ended then
    QString user;             // the user it was to run as
    bool reported = false;    // its keeper reported how it ran it
    bool ownPids = false;     // it ran as the first process of a PID namespace of its own
    bool noNetwork = false;   // it ran in a network namespace of its own: no interface but a down loopback
    bool noDisplay = false;   // the X servers' sockets were hidden from it (or there were none)
    int leftEnded = -1;       // processes its keeper left, ended by the keeper's guard (-1: the guard did not say)
};

// Runs a program that is not trusted yet (the new program of a software
// update) so that it can do little harm: in a session and process group of
// its own, in `dir` (entered before the rights are dropped, so that only
// `dir` itself and the program must be open to the user; give `program`
// relative to it, "./vmm"), as the user "nobody" when this process is root
// and the system has that user (as root otherwise, which is logged), with
// standard input from /dev/null. At most `maxOutput` bytes of its standard
// output and of its standard error each are read; a stream that would give
// more is closed on it and the program is ended at once.
//
// Nothing it starts outlives it, whatever it does to its session or group:
// it is started by a keeper process of ours (root's, when we are root, so
// that the program cannot signal it) that is a child subreaper and, where
// the system allows it, first moves its children into a PID namespace and a
// network namespace of their own. In the PID namespace the program is the
// first process: when it ends or is killed, the kernel kills every process
// it started. Without it (not allowed: no CAP_SYS_ADMIN, a container),
// everything the program leaves is reparented to the keeper, which kills and
// reaps all it inherits until it has no child left. The keeper is itself
// the child of a guard of ours, a subreaper too, which runs nothing of the
// package: should the keeper be killed (the program dies with it), what it
// leaves is reparented to the guard, which ends it all in the same way; should
// the guard be killed, the keeper cleans up. In the network namespace the
// program has no network at all (not even the loopback of this machine's
// services); where that is not allowed, it keeps the network and the log says
// so. When the program ends, `timeoutMs` passes or its output is cut, the
// keeper does that clean-up before it ends; a guard that has not ended 5 s
// later is killed. Blocks up to `timeoutMs` and at most 6 s more.
//
// The program gets an environment of its own, confinedEnvironment(): nothing
// of ours that leads to the operator's display (DISPLAY, WAYLAND_DISPLAY,
// XAUTHORITY), session or home, and Qt's off-screen platform. Where the
// system allows a mount namespace, the X servers' socket folder
// (/tmp/.X11-unix) is an empty one for it as well, so that a display named
// by the program itself is not found either.
ConfinedResult runConfined(const QString& dir, const QString& program, const QStringList& args, int timeoutMs,
                           int maxOutput);
// "process" for one, "processes" for any other count, for log lines.
const char* processes(int count);
// The environment runConfined() gives its program, as "NAME=value".
QList<QByteArray> confinedEnvironment();
// Tests turn the namespaces off to run the keeper's own clean-up, as where
// they are refused.
void setConfinedNamespaces(bool allowed);
// The clock, in ms, of runConfined()'s time-outs (the program's, the
// clean-up's); tests drive it. Null restores the steady clock.
void setConfinedClock(std::function<qint64()> nowMs);

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int ms);
};

class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    // Runs a program that only reads the machine (blkid, findmnt, ps, ...).
    virtual CommandResult run(const QString& program, const QStringList& args, int timeoutMs = 30000);

    // Runs a machine-changing program on the target; elsewhere records it.
    virtual CommandResult runOnTarget(const QString& program, const QStringList& args, int timeoutMs = 30000);

    // Starts a program in the background without waiting (machine-changing
    // ones only on the target, like runOnTarget).
    virtual bool startDetached(const QString& program, const QStringList& args, bool machineChanging);

    virtual bool isTarget() const;

    // Replaces the machine's default IPv4 route: deletes the current one (a
    // missing one is no failure) and, when `gateway` (network byte order) is
    // not 0, adds one through it with the up and gateway flags. Done when the
    // last request succeeded. Machine-changing: off the target both requests
    // are recorded as "route del default" and "route add default gw a.b.c.d"
    // and reported done.
    enum class RouteChange { Done, NoSocket, Failed };
    virtual RouteChange replaceDefaultRoute(quint32 gateway);

    // Commands that were not executed because this is not the target, in the
    // form "program arg1 arg2".
    QStringList recorded() const;
    void clearRecorded();

protected:
    void record(const QString& program, const QStringList& args);

private:
    QStringList recorded_;
};

Sleeper& sleeper();
void setSleeper(Sleeper* s);  // null restores the real one

CommandRunner& runner();
void setRunner(CommandRunner* r);  // null restores the real one

// Ends the machine's run. On the target: "sync", then "reboot" or "init 0".
// Elsewhere the command is recorded and the process ends with
// kExitReboot / kExitPowerOff, so that run.sh can start it again as a reboot would.
// False, with a warning logged, when the command could not be run or failed.
constexpr int kExitReboot = 64;
constexpr int kExitPowerOff = 65;
bool reboot();
bool powerOff();
// Tests replace the process end with their own handler.
void setExitHandler(std::function<void(int)> handler);
void exitProcess(int code);

// Asks for port I/O rights (iopl(3)) where the processor has them; the
// result only says whether they were granted.
bool requestPortIo();

// The LED and screen device "/dev/led": descriptor or -1 when missing.
int openLedDevice(const char* path = "/dev/led");
int ledIoctl(int fd, unsigned long request, unsigned long arg);

}  // namespace platform
