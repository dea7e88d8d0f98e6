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
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <dirent.h>
#include <sched.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

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

namespace {
// Reads what `fd` has now into `into`, up to `cap` bytes in all. Returns
// false when the stream is done with: its end, an error, or the cap reached
// (then `cutShort` is set).
bool readSome(int fd, QByteArray* into, int cap, bool* cutShort)
{
    char buf[4096];
    for (;;) {
        const int room = cap - into->size();
        if (room <= 0) {
            *cutShort = true;
            return false;
        }
        const ssize_t n = ::read(fd, buf, std::min<size_t>(sizeof buf, size_t(room) + 1));
        if (n > 0) {
            into->append(buf, int(std::min<ssize_t>(n, room)));
            if (n > room) {
                *cutShort = true;
                return false;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}
}  // namespace

namespace {

std::atomic<bool> gConfinedNamespaces{true};

std::function<qint64()> gConfinedClock;

// What the keeper tells us when it is done, in one write.
struct KeeperReport {
    int pidNamespaceErrno;   // 0: the program ran in a PID namespace of its own
    int netNamespaceErrno;   // 0: ... and in a network namespace of its own
    int displayErrno;        // 0: ... and the X servers' sockets hidden from it (or none there)
    int started;             // the program could be forked
    int status;              // its wait status
};

// What the keeper's guard tells us when the keeper is gone and everything
// it left has ended, in one write after the keeper's (of another size, so
// that the two are told apart when the keeper wrote nothing).
struct GuardReport {
    int keeperStatus;   // the keeper's wait status
    int ended;          // processes the keeper left that the guard ended
};
static_assert(sizeof(GuardReport) != sizeof(KeeperReport), "the reports are told apart by their size");

// The keeper and the program run between fork and exec of a process with
// threads: only async-signal-safe calls, no allocation, from here on.

// Sends SIGKILL to every child of this process; how many it found. Reads
// /proc (each child's parent is the fourth field of its stat).
int killChildren()
{
    const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return 0;
    const pid_t self = ::getpid();
    int found = 0;
    alignas(8) char entries[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, procFd, entries, sizeof entries);
        if (n <= 0)
            break;
        for (long off = 0; off < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(entries + off);
            off += d->d_reclen;
            pid_t pid = 0;
            const char* c = d->d_name;
            for (; *c >= '0' && *c <= '9'; ++c)
                pid = pid * 10 + (*c - '0');
            if (*c != '\0' || pid <= 0)
                continue;
            char path[64] = "/proc/";
            char digits[16];
            int len = 0;
            for (pid_t v = pid; v > 0; v /= 10)
                digits[len++] = char('0' + v % 10);
            int p = 6;
            while (len > 0)
                path[p++] = digits[--len];
            for (const char* s = "/stat"; *s; ++s)
                path[p++] = *s;
            path[p] = '\0';
            const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            char stat[512];
            const ssize_t got = ::read(fd, stat, sizeof stat - 1);
            ::close(fd);
            if (got <= 0)
                continue;
            stat[got] = '\0';
            // "pid (name) state ppid ...": the name may hold anything, so
            // the fields are counted from its last ')'.
            const char* end = nullptr;
            for (const char* s = stat; *s; ++s)
                if (*s == ')')
                    end = s;
            if (!end || end[1] != ' ' || end[2] == '\0' || end[3] != ' ')
                continue;
            pid_t parent = 0;
            for (const char* s = end + 4; *s >= '0' && *s <= '9'; ++s)
                parent = parent * 10 + (*s - '0');
            if (parent == self) {
                ::kill(pid, SIGKILL);
                ++found;
            }
        }
    }
    ::close(procFd);
    return found;
}

// The first steps of the keeper and of its guard, forked by `parent`: sent
// SIGTERM when `parent` ends (gone already: ended at once), a subreaper, and
// the signals they wait for (`waited`) blocked, to be taken by sigwaitinfo.
void becomeReaperUnder(pid_t parent, sigset_t* waited)
{
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent)
        ::_exit(125);
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        ::_exit(126);
    ::sigemptyset(waited);
    for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        ::sigaddset(waited, sig);
    ::sigprocmask(SIG_SETMASK, waited, nullptr);
}

// Waits, with the signals of `waited` blocked, until the child `child` is
// reaped (its status in `status`: true), or until `onSignal`, called for any
// signal but SIGCHLD, says to stop waiting (false). Other children reaped
// meanwhile are dropped: they are ours only as a subreaper's.
template <class OnSignal>
bool reapChild(const sigset_t& waited, pid_t child, int* status, OnSignal onSignal)
{
    for (;;) {
        siginfo_t si {};
        if (::sigwaitinfo(&waited, &si) < 0)
            continue;
        if (si.si_signo != SIGCHLD) {
            if (onSignal())
                return false;
            continue;
        }
        int st = 0;
        pid_t w;
        bool reaped = false;
        while ((w = ::waitpid(-1, &st, WNOHANG)) > 0)
            if (w == child) {
                *status = st;
                reaped = true;
            }
        if (reaped)
            return true;
    }
}

// Kills and reaps every child of this process until none is left: what a
// killed process had started comes to us in its turn, as we are a
// subreaper. When `main` is reaped its status goes to `mainStatus`. How
// many others it reaped.
int endAllChildren(pid_t main, int* mainStatus)
{
    int reaped = 0;
    for (;;) {
        const int left = killChildren();
        int status = 0;
        const pid_t w = ::waitpid(-1, &status, left > 0 ? 0 : WNOHANG);
        if (w < 0 && errno == ECHILD)
            break;
        if (w > 0 && w == main)
            *mainStatus = status;
        else if (w > 0)
            ++reaped;
        if (w == 0) {
            const struct timespec pause {0, 1000000};
            ::nanosleep(&pause, nullptr);
        }
    }
    return reaped;
}

// The X servers' sockets are files in /tmp/.X11-unix that no network
// namespace closes (the network namespace closes only their abstract
// twins): in a mount namespace of the keeper's own, an empty folder takes
// their place, so that a program that names a display all the same finds
// none. The new namespace's mounts are made private first, so that nothing
// of this reaches the system's mounts; if that fails, nothing is mounted.
// 0 when hidden or when there is nothing to hide.
int hideDisplaySockets()
{
    static const char kSockets[] = "/tmp/.X11-unix";
    struct stat st {};
    if (::lstat(kSockets, &st) != 0 || !S_ISDIR(st.st_mode))
        return 0;
    if (::unshare(CLONE_NEWNS) != 0)
        return errno;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return errno;
    if (::mount("none", kSockets, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=4k,mode=755") != 0)
        return errno;
    return 0;
}

// The keeper: fds 0-2 are the program's streams, 3 the report to us;
// started by its guard with SIGCHLD, SIGTERM, SIGINT and SIGHUP blocked.
[[noreturn]] void keep(const char* dir, char* const* argv, char* const* envp, bool drop, uid_t uid, gid_t gid,
                       bool namespaces, pid_t guard)
{
    KeeperReport report {EPERM, EPERM, EPERM, 0, 0};
    // Ended with its guard: a SIGTERM then ends the program and cleans up
    // as a time-out does.
    sigset_t waited;
    becomeReaperUnder(guard, &waited);
    if (namespaces) {
        report.pidNamespaceErrno = ::unshare(CLONE_NEWPID) == 0 ? 0 : errno;
        report.netNamespaceErrno = ::unshare(CLONE_NEWNET) == 0 ? 0 : errno;
        report.displayErrno = hideDisplaySockets();
    }

    const pid_t self = ::getpid();
    const pid_t program = ::fork();
    if (program == 0) {
        // Its own session, away from the keeper's group; no descriptor of
        // ours; signals as a fresh process has them; then the user's rights.
        ::close_range(3, ~0U, 0);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::setsid() < 0 || ::chdir(dir) != 0)
            ::_exit(126);
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        // Ended with the keeper, should the keeper be killed before its
        // clean-up (set after the change of user, which clears it). As the
        // first process of a PID namespace it sees no parent (0).
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || (::getppid() != self && ::getppid() != 0))
            ::_exit(126);
        ::execve(argv[0], argv, envp);
        ::_exit(127);
    }
    for (int fd : {0, 1, 2})
        ::close(fd);
    if (program > 0) {
        report.started = 1;
        reapChild(waited, program, &report.status, [program] {
            ::kill(program, SIGKILL);
            return true;
        });
        // Everything it left and that was handed down to us.
        endAllChildren(program, &report.status);
    }
    ssize_t unused = ::write(3, &report, sizeof report);
    (void)unused;
    ::_exit(0);
}

// The keeper's guard: our child, a subreaper above the keeper, so that
// whatever the keeper leaves when it is killed (the program dies with it, but
// not what the program started, in another session or not: without a PID
// namespace nothing else takes those down) comes to the guard, which ends it
// all. It runs nothing of the package itself. Ended with us, or sent SIGTERM,
// it has the keeper end the program and clean up; killed itself, the keeper
// does that. fds 0-2 are the program's streams, 3 the reports to us.
[[noreturn]] void guard(const char* dir, char* const* argv, char* const* envp, bool drop, uid_t uid, gid_t gid,
                        bool namespaces, pid_t parent)
{
    sigset_t waited;
    becomeReaperUnder(parent, &waited);
    const pid_t self = ::getpid();
    const pid_t keeper = ::fork();
    if (keeper == 0)
        keep(dir, argv, envp, drop, uid, gid, namespaces, self);
    if (keeper < 0)
        ::_exit(126);
    for (int fd : {0, 1, 2})
        ::close(fd);
    GuardReport report {0, 0};
    // Only the keeper is ours while it lives: it reaps what the program
    // leaves.
    reapChild(waited, keeper, &report.keeperStatus, [keeper] {
        ::kill(keeper, SIGTERM);
        return false;
    });
    int unused = 0;
    report.ended = endAllChildren(0, &unused);
    ssize_t written = ::write(3, &report, sizeof report);
    (void)written;
    ::_exit(0);
}

// The keeper's clean-up after the program (kill, reap), and its guard's
// after a lost keeper, take a moment even for thousands of processes; a
// guard held up past this is killed.
constexpr int kKeeperCleanUpMs = 5000;
// How long a killed guard is waited for before it is left to the system.
constexpr int kKilledKeeperMs = 1000;

qint64 confinedNowMs()
{
    if (gConfinedClock)
        return gConfinedClock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Environment variables a confined program gets from ours: what finds its
// tools and libraries, the language of its text and a sanitizer build's
// settings. Nothing that leads to the operator's display, session bus or
// home; Qt is told to draw off screen.
const char* const kConfinedEnvironment[] = {"PATH", "LD_LIBRARY_PATH", "LANG", "LC_ALL", "LC_CTYPE", "TZ",
                                            "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

}  // namespace

QList<QByteArray> confinedEnvironment()
{
    QList<QByteArray> env;
    for (const char* name : kConfinedEnvironment) {
        const QByteArray value = qgetenv(name);
        if (!value.isNull())
            env << QByteArray(name) + '=' + value;
        else if (std::strcmp(name, "PATH") == 0)
            env << QByteArray("PATH=/usr/bin:/bin");
    }
    env << QByteArray("QT_QPA_PLATFORM=offscreen");
    return env;
}

void setConfinedNamespaces(bool allowed) { gConfinedNamespaces = allowed; }

void setConfinedClock(std::function<qint64()> nowMs) { gConfinedClock = std::move(nowMs); }

const char* processes(int count)
{
    return count == 1 ? "process" : "processes";
}

ConfinedResult runConfined(const QString& dir, const QString& program, const QStringList& args, int timeoutMs,
                           int maxOutput)
{
    ConfinedResult r;
    // Everything the keeper and the program need is made before the fork:
    // between fork and exec in a process with threads only async-signal-safe
    // calls may run.
    const QByteArray dirBytes = QFile::encodeName(dir);
    std::vector<QByteArray> argBytes{QFile::encodeName(program)};
    for (const QString& a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QList<QByteArray> envBytes = confinedEnvironment();
    std::vector<char*> envp;
    for (QByteArray& e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const bool namespaces = gConfinedNamespaces;

    bool drop = false;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        struct passwd pw {};
        struct passwd* found = nullptr;
        char buf[4096];
        if (::getpwnam_r("nobody", &pw, buf, sizeof buf, &found) == 0 && found && found->pw_uid != 0) {
            drop = true;
            uid = found->pw_uid;
            gid = found->pw_gid;
            r.user = QStringLiteral("nobody");
        } else {
            r.user = QStringLiteral("root");
            qWarning("%s runs as root: the system has no user nobody", qPrintable(program));
        }
    } else {
        r.user = QString::number(uid);
    }

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, reportPipe[2] = {-1, -1};
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto closeAll = [&] {
        for (int fd : {devNull, outPipe[0], outPipe[1], errPipe[0], errPipe[1], reportPipe[0], reportPipe[1]})
            if (fd >= 0)
                ::close(fd);
    };
    if (devNull < 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
        ::pipe2(reportPipe, O_CLOEXEC) != 0) {
        qWarning("cannot start %s: %s", qPrintable(program), std::strerror(errno));
        closeAll();
        return r;
    }
    const pid_t parent = ::getpid();
    const pid_t guardPid = ::fork();
    if (guardPid == 0) {
        // The keeper's guard: a session of its own, signals as a fresh
        // process has them, the program's streams on 0-2, the reports on 3,
        // nothing else of ours (first moved clear of 0-3, which they may
        // occupy).
        int keepFds[4] = {devNull, outPipe[1], errPipe[1], reportPipe[1]};
        for (int& fd : keepFds)
            if ((fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 10)) < 0)
                ::_exit(126);
        for (int i = 0; i < 4; ++i)
            if (::dup2(keepFds[i], i) < 0)
                ::_exit(126);
        ::close_range(4, ~0U, 0);
        if (::setsid() < 0)
            ::_exit(126);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            ::sigaction(sig, &dfl, nullptr);
        guard(dirBytes.constData(), argv.data(), envp.data(), drop, uid, gid, namespaces, parent);
    }
    for (int fd : {devNull, outPipe[1], errPipe[1], reportPipe[1]})
        ::close(fd);
    if (guardPid < 0) {
        qWarning("cannot start %s: %s", qPrintable(program), std::strerror(errno));
        for (int fd : {outPipe[0], errPipe[0], reportPipe[0]})
            ::close(fd);
        return r;
    }
    int fds[2] = {outPipe[0], errPipe[0]};
    QByteArray* sinks[2] = {&r.out, &r.err};
    for (int fd : fds)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto closeStream = [&fds](int i) {
        if (fds[i] >= 0)
            ::close(fds[i]);
        fds[i] = -1;
    };

    const qint64 deadline = confinedNowMs() + std::max(0, timeoutMs);
    for (;;) {
        // The guard ends once the keeper, the program and all they left
        // have ended.
        siginfo_t si {};
        const bool ended =
            ::waitid(P_PID, id_t(guardPid), &si, WEXITED | WNOHANG | WNOWAIT) == 0 && si.si_pid == guardPid;
        for (int i = 0; i < 2; ++i)
            if (fds[i] >= 0 && !readSome(fds[i], sinks[i], maxOutput, &r.cutShort))
                closeStream(i);
        if (ended)
            break;
        const qint64 left = deadline - confinedNowMs();
        // Cut short, it has said all that is read: a program that goes on
        // printing is ended now, not after its time.
        if (left <= 0 || r.cutShort) {
            r.timedOut = left <= 0;
            // The keeper kills the program and cleans up.
            ::kill(guardPid, SIGTERM);
            break;
        }
        // Short waits: a process it left running may hold the streams open
        // after the program itself has ended.
        struct pollfd p[2];
        nfds_t n = 0;
        for (int fd : fds)
            if (fd >= 0)
                p[n++] = {fd, POLLIN, 0};
        const int wait = int(std::min<qint64>(left, 50));
        if (n > 0)
            ::poll(p, n, wait);
        else
            ::usleep(useconds_t(wait) * 1000);
    }
    // Its clean-up done, the guard ends. It is never waited for without
    // end: held up (by a process it cannot reap), it is killed (its keeper
    // then cleans up, as it does when we end), and a killed guard that still
    // does not end is left to the system.
    int status = 0;
    const qint64 cleanUpEnd = confinedNowMs() + kKeeperCleanUpMs;
    qint64 killedEnd = 0;
    bool killed = false;
    bool reaped = false;
    for (;;) {
        const pid_t w = ::waitpid(guardPid, &status, WNOHANG);
        if (w == guardPid || (w < 0 && errno != EINTR)) {
            reaped = w == guardPid;
            break;
        }
        const qint64 now = confinedNowMs();
        if (!killed && now >= cleanUpEnd) {
            qWarning("%s: its keeper did not end %d ms after the program; its guard killed", qPrintable(program),
                     kKeeperCleanUpMs);
            ::kill(guardPid, SIGKILL);
            killed = true;
            killedEnd = now + kKilledKeeperMs;
        } else if (killed && now >= killedEnd) {
            qWarning("%s: its killed guard (pid %d) did not end; left behind", qPrintable(program), int(guardPid));
            break;
        }
        ::usleep(5000);
    }
    if (!reaped)
        status = 0;
    closeStream(0);
    closeStream(1);
    // The keeper's report, then the guard's; either may be missing. Not
    // blocking: a guard that was killed or left behind wrote nothing.
    char reports[sizeof(KeeperReport) + sizeof(GuardReport)];
    ::fcntl(reportPipe[0], F_SETFL, ::fcntl(reportPipe[0], F_GETFL) | O_NONBLOCK);
    ssize_t got = 0;
    for (ssize_t n = 1; n > 0 && got < ssize_t(sizeof reports); got += n > 0 ? n : 0)
        n = ::read(reportPipe[0], reports + got, sizeof reports - size_t(got));
    ::close(reportPipe[0]);
    KeeperReport report {};
    GuardReport guarded {};
    r.reported = got == ssize_t(sizeof reports) || got == ssize_t(sizeof report);
    const bool guardReported = got == ssize_t(sizeof reports) || got == ssize_t(sizeof guarded);
    if (r.reported)
        std::memcpy(&report, reports, sizeof report);
    if (guardReported) {
        std::memcpy(&guarded, reports + (r.reported ? sizeof report : 0), sizeof guarded);
        r.leftEnded = guarded.ended;
    }
    if (guardReported && !r.reported) {
        const int ks = guarded.keeperStatus;
        qWarning("%s: its keeper ended before it reported (%s %d); its guard ended the %d %s it left",
                 qPrintable(program), WIFSIGNALED(ks) ? "signal" : "exit",
                 WIFSIGNALED(ks) ? WTERMSIG(ks) : WEXITSTATUS(ks), guarded.ended, processes(guarded.ended));
    } else if (guardReported && guarded.ended > 0) {
        qWarning("%s: its guard ended %d %s its keeper left", qPrintable(program), guarded.ended,
                 processes(guarded.ended));
    }
    r.started = r.reported && report.started;
    if (!r.started) {
        if (killed)
            qWarning("%s: its keeper's guard was killed before it reported", qPrintable(program));
        else if (!guardReported)
            qWarning("cannot start %s: its keeper's guard ended with %d", qPrintable(program),
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        r.exitCode = 126;
        return r;
    }
    r.ownPids = report.pidNamespaceErrno == 0;
    r.noNetwork = report.netNamespaceErrno == 0;
    r.noDisplay = report.displayErrno == 0;
    if (namespaces && !r.ownPids)
        qWarning("%s runs without a PID namespace of its own (%s): what it leaves is ended by its keeper",
                 qPrintable(program), std::strerror(report.pidNamespaceErrno));
    if (namespaces && !r.noNetwork)
        qWarning("%s runs with the network: a network namespace of its own is not allowed here (%s)",
                 qPrintable(program), std::strerror(report.netNamespaceErrno));
    if (namespaces && !r.noDisplay)
        qWarning("%s runs where the X servers' sockets can be reached: a mount namespace of its own is not allowed "
                 "here (%s); it gets no display named",
                 qPrintable(program), std::strerror(report.displayErrno));
    if (!r.timedOut && WIFEXITED(report.status))
        r.exitCode = WEXITSTATUS(report.status);
    return r;
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
