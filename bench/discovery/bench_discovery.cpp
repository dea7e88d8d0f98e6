// Camera discovery and the UDP core, measured inside a network namespace
// that the benchmark makes itself (it re-executes itself under `unshare -n`
// and refuses to run outside one):
//  - enumeration wall time with nothing to move (target under 0.6 s) and with
//    one camera to move by force-IP (target under 1.6 s), cameras being the
//    tests' helper in namespaces of their own behind veth pairs; anchor: a
//    bare socket sending the same discover and waiting for the first answer;
//  - throughput of small datagrams through the UDP core on loopback beside a
//    minimal poll() loop written here (target at least 0.8x).
// Usage: bench_discovery [rounds, 5]
#include "udp_acam_gvcp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

const char* const kParentEnv = "VMM_BENCH_PARENT_NETNS";

QString ownNs()
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
}

bool isolated()
{
    const QByteArray parent = qgetenv(kParentEnv);
    return !parent.isEmpty() && ownNs() != QString::fromLocal8Bit(parent);
}

bool ip(const QStringList& args)
{
    if (!isolated())
        return false;
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

// One camera helper joined to this namespace by a veth pair.
struct Camera {
    std::unique_ptr<QProcess> proc;
    bool start(const QString& mine, const QString& theirs, const QString& myCidr, const QString& theirCidr)
    {
        proc = std::make_unique<QProcess>();
        proc->start(QStringLiteral("unshare"), {"-n", BENCH_UDPCAM, ownNs(), theirs, theirCidr});
        QByteArray out;
        if (!proc->waitForStarted(10000))
            return false;
        // The veth end may only be moved once the helper's namespace exists.
        for (int i = 0; i < 200 && !out.contains("started"); ++i) {
            proc->waitForReadyRead(50);
            out += proc->readAllStandardOutput();
        }
        if (!ip({"link", "add", mine, "type", "veth", "peer", "name", theirs, "netns",
                 QString::number(proc->processId())}) ||
            !ip({"addr", "add", myCidr, "dev", mine}) || !ip({"link", "set", mine, "up"}))
            return false;
        for (int i = 0; i < 200 && !out.contains("ready "); ++i) {
            proc->waitForReadyRead(50);
            out += proc->readAllStandardOutput();
        }
        return out.contains("ready ");
    }
    ~Camera()
    {
        if (proc) {
            proc->kill();
            proc->waitForFinished(5000);
        }
        ip({"link", "del", "vbm0"});
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A bare socket: discover from the interface address, first answer back.
double rawExchangeMs()
{
    const int rx = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int tx = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(rx, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(tx, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(gvcp::kRequesterPort);
    a.sin_addr.s_addr = INADDR_BROADCAST;
    ::bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a);
    sockaddr_in src {};
    src.sin_family = AF_INET;
    src.sin_addr.s_addr = ::inet_addr("192.168.60.10");
    ::bind(tx, reinterpret_cast<sockaddr*>(&src), sizeof src);
    sockaddr_in dst {};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(gvcp::kDevicePort);
    dst.sin_addr.s_addr = INADDR_BROADCAST;
    const std::string d = gvcp::cmdDiscover();
    QElapsedTimer t;
    t.start();
    ::sendto(tx, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
    pollfd p {rx, POLLIN, 0};
    const int ready = ::poll(&p, 1, 2000);
    const double ms = t.nsecsElapsed() / 1e6;
    ::close(rx);
    ::close(tx);
    return ready > 0 ? ms : -1;
}

void enumeration(int rounds)
{
    std::vector<double> still, moved, raw;
    for (int r = 0; r < rounds; ++r) {
        for (bool foreign : {false, true}) {
            Camera cam;
            if (!cam.start("vbm0", "vbc0", "192.168.60.10/24", foreign ? "10.60.0.5/8" : "192.168.60.21/24")) {
                std::printf("camera helper did not start\n");
                return;
            }
            double s = 0;
            bool ok = false;
            {
                UDP_ACam_Client client;  // its set-time broadcast is not measured
                QElapsedTimer t;
                t.start();
                const auto found = client.findCamera();
                client.ActForceIP();
                s = t.nsecsElapsed() / 1e9;
                ok = found.size() == 1 &&
                     gvcp::addressText(client.cameraMap().first().ip).startsWith(QLatin1String("192.168.60."));
            }
            if (!ok)
                std::printf("round %d: camera not found or not moved\n", r);
            (foreign ? moved : still).push_back(s);
            if (!foreign)
                raw.push_back(rawExchangeMs());
        }
    }
    const double anchorMs = median(raw);
    std::printf("enumeration, nothing to move: median %.3f s (target < 0.6 s, %.2fx of it)\n", median(still),
                median(still) / 0.6);
    std::printf("enumeration, one force-IP:   median %.3f s (target < 1.6 s, %.2fx of it)\n", median(moved),
                median(moved) / 1.6);
    std::printf("anchor, bare discover/answer exchange: median %.3f ms; enumeration is %.0fx of it "
                "(its 500 ms listening window is by design)\n",
                anchorMs, anchorMs > 0 ? median(still) * 1000 / anchorMs : 0.0);
}

class CountingCore : public UDP_Core {
public:
    ~CountingCore() override { stopListen(); }
    QString AnalysisRecvMessage(sockaddr_in, const QByteArray& d) override
    {
        count.fetch_add(1, std::memory_order_relaxed);
        bytes += d.size();
        return QString();
    }
    std::atomic<long> count {0};
    long bytes = 0;
};

// Sends `n` small datagrams to 127.0.0.1:port, keeping at most `window` of
// them unhandled, so that the receiver sets the pace and nothing is dropped.
void blast(int port, long n, const std::function<long()>& handled, long window)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in dst {};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(quint16(port));
    dst.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char buf[64] = "small datagram";
    for (long i = 0; i < n; ++i) {
        while (i - handled() > window)
            std::this_thread::yield();
        ::sendto(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
    }
    ::close(s);
}

// Datagrams per second until all `n` are handled (or the count stalls).
double measure(const std::function<long()>& count, const std::function<void()>& pump, int port, long n)
{
    QElapsedTimer t;
    t.start();
    std::thread sender([&] { blast(port, n, count, 512); });
    long last = -1;
    qint64 lastChange = 0;
    while (last < n) {
        pump();
        const long c = count();
        if (c != last) {
            last = c;
            lastChange = t.nsecsElapsed();
        } else if (t.nsecsElapsed() - lastChange > 2000000000LL) {
            break;  // lost datagrams: report what arrived
        }
    }
    sender.join();
    std::printf("    %ld of %ld handled\n", last, n);
    return last / (lastChange / 1e9);
}

void throughput(long n)
{
    // The anchor: a bare poll() loop on its own thread.
    double anchor = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int big = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(41500);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        std::atomic<long> got {0};
        std::atomic<bool> stop {false};
        std::thread loop([&] {
            char buf[2048];
            pollfd p {fd, POLLIN, 0};
            while (!stop) {
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0)
                    got.fetch_add(1, std::memory_order_relaxed);
            }
        });
        std::printf("  minimal poll() loop:\n");
        anchor = measure([&] { return got.load(); }, [] { std::this_thread::yield(); }, 41500, n);
        stop = true;
        loop.join();
        ::close(fd);
    }
    double core = 0;
    {
        CountingCore c;
        c.addListen("127.0.0.1", 41501);
        std::printf("  UDP core (handler on this thread, receive log line per datagram):\n");
        core = measure([&] { return c.count.load(); },
                       [] { QCoreApplication::processEvents(); }, 41501, n);
    }
    std::printf("small datagrams: UDP core %.0f/s, minimal poll() loop %.0f/s, ratio %.2fx (target >= 0.8x)\n", core,
                anchor, anchor > 0 ? core / anchor : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet(kParentEnv)) {
        qputenv(kParentEnv, ownNs().toLocal8Bit());
        QStringList args {"-n", QString::fromLocal8Bit(argv[0])};
        for (int i = 1; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QStringLiteral("unshare"), args);
        if (!child.waitForStarted(10000)) {
            std::printf("unshare is not available: the benchmark runs only in a namespace of its own\n");
            return 0;
        }
        child.waitForFinished(-1);
        return child.exitCode();
    }
    QCoreApplication app(argc, argv);
    if (!isolated()) {
        std::printf("not inside a network namespace of its own: refusing to broadcast\n");
        return 1;
    }
    qputenv("VMM_TARGET", "0");
    qInstallMessageHandler(quiet);
    ip({"link", "set", "lo", "up"});
    QFile rp(QStringLiteral("/proc/sys/net/ipv4/conf/all/rp_filter"));
    if (rp.open(QIODevice::WriteOnly))
        rp.write("0\n");
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    enumeration(rounds);
    throughput(200000);
    return 0;
}
