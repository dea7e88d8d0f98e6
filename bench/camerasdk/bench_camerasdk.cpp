// Frames from simulated network cameras through the camera SDK, one and eight
// cameras at 1280x1024 grey and 1920x1080 colour, inside a network namespace
// the benchmark makes itself (it re-executes itself under `unshare -n`). The
// cameras run in a process of their own (netcamsim), so what is measured here
// is the SDK's side alone:
//  - delivered frames per second per camera (target at least 19 of 20);
//  - picture-made-to-callback latency p50/p99 (the camera makes a picture
//    the moment a request arrives, so this is request to callback);
//  - CPU per delivered frame, beside the anchor: one raw OpenCV clone of
//    the same frame, measured in the same run;
//  - RSS sampled over the run (flat is the target);
//  - copies of a frame between the socket and the callback: bytes that
//    memcpy moved in blocks of 64 KiB or more, per frame, over the frame's
//    size (target at most 2).
// Usage: bench_camerasdk [seconds per case, 60]
#include "simnetcamera.h"
#include "support_netns.h"
#include "zelCameraApi.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::atomic<quint64> gBigCopyBytes{0};
std::atomic<bool> gCounting{false};

void* realMemcpy(void* d, const void* s, size_t n)
{
    using Fn = void* (*)(void*, const void*, size_t);
    static Fn fn = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "memcpy"));
    return fn(d, s, n);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

struct PerCamera {
    std::mutex mutex;
    quint64 frames = 0;
    std::vector<qint64> latencies;
};

void onFrame(cv::Mat frame, void* user)
{
    auto* c = static_cast<PerCamera*>(user);
    const qint64 made = netcamsim::SimNetCamera::madeAtOf(frame.data);
    const qint64 latency = nowMs() - made;
    std::lock_guard<std::mutex> lock(c->mutex);
    ++c->frames;
    c->latencies.push_back(latency);
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

void runCase(int cameras, int w, int h, bool colour, int seconds)
{
    QProcess sim;
    QStringList args{"--count", QString::number(cameras), "--width", QString::number(w), "--height", QString::number(h)};
    if (colour)
        args << "--colour";
    sim.start(QStringLiteral(NETCAMSIM), args);
    int ready = 0;
    QElapsedTimer wait;
    wait.start();
    while (ready < cameras && wait.elapsed() < 10000) {
        sim.waitForReadyRead(100);
        while (sim.canReadLine())
            ready += sim.readLine().startsWith("ready");
    }
    if (ready < cameras) {
        std::printf("netcamsim did not start\n");
        return;
    }

    std::vector<PerCamera> per(static_cast<size_t>(cameras));
    std::vector<int> handles;
    for (int i = 0; i < cameras; ++i) {
        tZelCameraDevInfo info;
        std::memset(&info, 0, sizeof(info));
        zelSetDeviceTexts(info, QStringLiteral("BENCH%1").arg(i), QStringLiteral("127.0.0.%1").arg(2 + i));
        int handle = -1;
        if (ZelCameraInit(&info, 0, 0, handle) != 0) {
            std::printf("camera %d did not open\n", i);
            continue;
        }
        ZelCameraRegisterImageCallBack(handle, &onFrame, &per[size_t(i)]);
        handles.push_back(handle);
    }
    for (int h : handles)
        ZelCameraPlay(h);
    QThread::msleep(1000);  // links up, first frames through
    for (auto& c : per) {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.frames = 0;
        c.latencies.clear();
    }
    gBigCopyBytes = 0;
    gCounting = true;
    const double cpu0 = cpuMs();
    std::vector<long> rss{rssKb()};
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000LL) {
        QThread::msleep(500);
        if (run.elapsed() / 5000 >= qint64(rss.size()))
            rss.push_back(rssKb());
    }
    const double elapsedS = run.elapsed() / 1000.0;
    const double cpu = cpuMs() - cpu0;
    gCounting = false;
    rss.push_back(rssKb());
    for (int h : handles) {
        ZelCameraStop(h);
        ZelCameraUnInit(h);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    quint64 total = 0;
    double minFps = 1e9;
    std::vector<qint64> lat;
    for (auto& c : per) {
        total += c.frames;
        minFps = std::min(minFps, c.frames / elapsedS);
        lat.insert(lat.end(), c.latencies.begin(), c.latencies.end());
    }
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double p) { return lat.empty() ? -1 : lat[std::min(lat.size() - 1, size_t(p * lat.size()))]; };
    const double frameBytes = double(w) * h * (colour ? 3 : 1);

    // Anchor: one raw OpenCV clone of a frame of this size.
    cv::Mat frame(h, w, colour ? CV_8UC3 : CV_8UC1, cv::Scalar::all(7));
    const double a0 = cpuMs();
    const int clones = 200;
    for (int i = 0; i < clones; ++i) {
        cv::Mat c = frame.clone();
        if (c.data[0] != 7)
            std::printf("?");
    }
    const double cloneMs = (cpuMs() - a0) / clones;
    const double perFrame = total ? cpu / total : 0;

    std::printf("%d camera(s) %dx%d %s, %.0f s:\n", cameras, w, h, colour ? "colour" : "grey", elapsedS);
    std::printf("  fps per camera: avg %.2f, min %.2f (target >= 19)\n", total / elapsedS / cameras, minFps);
    std::printf("  made-to-callback latency: p50 %lld ms, p99 %lld ms\n", (long long)pct(0.5), (long long)pct(0.99));
    std::printf("  CPU per frame: %.3f ms; anchor raw cv::Mat clone %.3f ms; ratio %.1f\n", perFrame, cloneMs,
                cloneMs > 0 ? perFrame / cloneMs : 0.0);
    std::printf("  copies per frame between socket and callback: %.2f (target <= 2)\n",
                total ? double(gBigCopyBytes.load()) / total / frameBytes : 0.0);
    std::printf("  RSS kB:");
    for (long r : rss)
        std::printf(" %ld", r);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

// Counts large copies; everything else passes straight through.
extern "C" void* memcpy(void* d, const void* s, size_t n)
{
    if (n >= 65536 && gCounting.load(std::memory_order_relaxed))
        gBigCopyBytes.fetch_add(n, std::memory_order_relaxed);
    return realMemcpy(d, s, n);
}

int main(int argc, char** argv)
{
    const int parentRc = netns::reexecIsolated(argc, argv);
    if (parentRc >= 0)
        return parentRc;
    QCoreApplication app(argc, argv);
    if (!netns::isolated() || !netns::prepare()) {
        std::fprintf(stderr, "bench_camerasdk: runs only inside a network namespace of its own (unshare -n)\n");
        return 2;
    }
    qInstallMessageHandler(quiet);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    for (int cameras : {1, 8}) {
        runCase(cameras, 1280, 1024, false, seconds);
        runCase(cameras, 1920, 1080, true, seconds);
    }
    return 0;
}
