// netcamsim: simulated network cameras for the demo and the benchmarks.
//   netcamsim [--count N] [--first 127.0.0.2] [--width W] [--height H] [--colour]
//             [--delay MS] [--drop-every N] [--empty-every N] [--bad-every N]
//             [--garbage-every N] [--frame-interval MS] [--discovery]
// Starts N cameras (at most eight) on consecutive addresses from --first, each
// with its control port 10401 and picture port 10402, and prints
// "ready <address>" for each. --discovery also answers camera discovery,
// which sends broadcasts: use it only inside a network namespace of your own.
// SIGUSR1 switches a short shot on in every camera's picture, SIGUSR2 off.
#include "simnetcamera.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
std::atomic<bool>* gDefects[8] = {};
std::atomic<bool> gQuit{false};

void setDefects(bool on)
{
    for (std::atomic<bool>* d : gDefects)
        if (d)
            d->store(on);
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Handlers only set flags; the event loop looks at them.
    std::signal(SIGTERM, [](int) { gQuit = true; });
    std::signal(SIGINT, [](int) { gQuit = true; });
    std::signal(SIGUSR1, [](int) { setDefects(true); });
    std::signal(SIGUSR2, [](int) { setDefects(false); });
    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption count("count", "cameras (1..8)", "n", "1");
    const QCommandLineOption first("first", "address of the first camera", "ip", "127.0.0.2");
    const QCommandLineOption width("width", "frame width", "px", "640");
    const QCommandLineOption height("height", "frame height", "px", "480");
    const QCommandLineOption colour("colour", "colour frames (BGR)");
    const QCommandLineOption delay("delay", "reply delay", "ms", "0");
    const QCommandLineOption drop("drop-every", "cut the picture connection every n-th request", "n", "0");
    const QCommandLineOption empty("empty-every", "no picture every n-th request", "n", "0");
    const QCommandLineOption bad("bad-every", "bad picture descriptor every n-th request", "n", "0");
    const QCommandLineOption garbage("garbage-every", "garbage reply every n-th request", "n", "0");
    const QCommandLineOption interval("frame-interval", "a slow camera: at most one picture per interval", "ms", "0");
    const QCommandLineOption discovery("discovery", "answer discovery (namespaces only)");
    p.addOptions({count, first, width, height, colour, delay, drop, empty, bad, garbage, interval, discovery});
    p.process(app);

    const int n = p.value(count).toInt();
    const QHostAddress base(p.value(first));
    const int w = p.value(width).toInt(), h = p.value(height).toInt();
    if (n < 1 || n > 8 || base.protocol() != QAbstractSocket::IPv4Protocol || w < 1 || h < 1 || w > 16384 || h > 16384) {
        std::fprintf(stderr, "netcamsim: bad arguments (see --help)\n");
        return 2;
    }
    std::vector<std::unique_ptr<netcamsim::SimNetCamera>> cameras;
    for (int i = 0; i < n; ++i) {
        netcamsim::Options o;
        o.address = QHostAddress(base.toIPv4Address() + quint32(i));
        o.width = w;
        o.height = h;
        o.channels = p.isSet(colour) ? 3 : 1;
        o.discovery = p.isSet(discovery);
        auto cam = std::make_unique<netcamsim::SimNetCamera>(o);
        netcamsim::Knobs& k = cam->knobs();
        k.replyDelayMs = p.value(delay).toInt();
        k.dropEvery = p.value(drop).toInt();
        k.emptyEvery = p.value(empty).toInt();
        k.badDescriptorEvery = p.value(bad).toInt();
        k.garbageEvery = p.value(garbage).toInt();
        k.frameIntervalMs = p.value(interval).toInt();
        if (!cam->start())
            return 1;
        std::printf("ready %s\n", qPrintable(o.address.toString()));
        std::fflush(stdout);
        gDefects[i] = &cam->knobs().defect;
        cameras.push_back(std::move(cam));
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [] {
        if (gQuit.load())
            QCoreApplication::quit();
    });
    poll.start(100);
    const int rc = app.exec();
    for (auto& d : gDefects)
        d = nullptr;
    cameras.clear();
    return rc;
}
