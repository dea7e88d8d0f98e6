// Timing of the moulding cycle on the board simulator and the replay camera:
//   cycle  4 grey cameras, 20 grey-template ROIs each (homography off):
//          input edge to Run (anchor: a bare loop on a second simulated board
//          asking every 5 ms and reading the reply as it comes, the floor of
//          the poll and the line), end of countdown to the interlock frame on
//          the wire, CPU share of the I/O thread;
//   cycle8 the same countdown for 8 grey cameras;
//   homo4  the same countdown for 4 grey cameras with homography on;
//   run8   8 cameras: one pass of Run that pulls every camera's frame, and
//          one woken by an input change before the next frames are due.
// Every countdown figure is printed beside the raw OpenCV calls of the same
// decision (the anchor) with the ratio, and beside the cameras judged one
// after the other.
//   cycle1 the same countdown for 1 grey camera;
// Every countdown also prints its stages from the cycle's own clock: fresh
// frames, engines, CheckNG up to the hand-over, the I/O thread's write, and
// what follows the hand-over (counters, pictures, record, screen).
// Usage: vmm_bench_cycle cycle|cycle1|cycle8|homo4|run8 [width height [colour]]
#include "cameraviews.h"
#include "boardsim.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "globals.h"
#include "posix_qextserialport.h"
#include "mouldcycle.h"
#include "mouldcycleprobe.h"
#include "rivurevezi.h"
#include "wizardpara.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <memory>
#include <vector>

namespace {

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5));
    return v[i];
}

void report(const char* what, const std::vector<double>& ms, double targetMs, int misses = 0)
{
    const double med = quantile(ms, 0.5);
    std::printf("%-44s n=%3zu  median %8.3f ms  p95 %8.3f ms  max %8.3f ms  target median < %g ms  %s",
                what, ms.size(), med, quantile(ms, 0.95), quantile(ms, 1.0), targetMs,
                med < targetMs ? "OK" : "OVER");
    if (misses)
        std::printf("  (%d timed out)", misses);
    std::printf("\n");
    std::fflush(stdout);
}

// Runs the event loop for `ms` milliseconds.
void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::usleep(200);
    }
}

// Spins until pred() holds; false after timeoutMs.
template <typename P>
bool spinUntil(P pred, int timeoutMs, bool events = true)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        if (events)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to)) {
        std::fprintf(stderr, "cannot copy %s -> %s\n", qPrintable(from), qPrintable(to));
        return false;
    }
    return true;
}

// Working folder with the default databases and the replay plug-in.
bool layoutWorkdir(const QString& dir)
{
    const QString build = QStringLiteral(VMM_BUILD_DIR);
    if (!QDir::setCurrent(dir))
        return false;
    QDir().mkpath("Plugins/Cameras");
    gAppDirPath = dir;
    return copyFile(build + "/resources/paraGroup/default/PARAM.db", "PARAM.db") &&
           copyFile(build + "/resources/paraGroup/default/SN.db", "SN.db") &&
           copyFile(build + "/resources/workdir/RECORDNULL.db", "RECORD.db") &&
           copyFile(build + "/plugins/libcamera_replay.so", "Plugins/Cameras/libcamera_replay.so");
}

// `rois` grey-template regions tiled over the view, step 0 and 1 of every camera.
bool writeRegions(int cameras, int rois)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-prep");
        db.setDatabaseName("PARAM.db");
        if (!db.open())
            return false;
        QSqlQuery q(db);
        const int cols = 5;
        const int rows = (rois + cols - 1) / cols;
        for (int c = 0; c < cameras && ok; ++c) {
            auto rec = std::make_unique<CammerSingleton>(c);
            rec->LoadRows(db, q, RoiViewLink{});
            for (int g = 0; g < 2; ++g) {
                rec->roiCount[g] = rois;
                for (int i = 0; i < rois; ++i) {
                    rec->SetDefaultRoi(g, i, 1.0f, 1.0f);
                    const int w = screen.width() / cols, h = screen.height() / rows;
                    const int x = (i % cols) * w, y = (i / cols) * h;
                    rec->rect[g][i].rect.setCoords(x + w / 8, y + h / 8, x + w * 7 / 8, y + h * 7 / 8);
                }
            }
            ok = rec->SaveRows(db, q);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-prep");
    return ok;
}

QString replayJson(int cameras, int width, int height, bool colour)
{
    QString list;
    for (int c = 0; c < cameras; ++c)
        list += QStringLiteral(R"(%1{"serial":"BENCH-%2","width":%3,"height":%4,"seed":%5,"color":%6})")
                    .arg(c ? "," : "")
                    .arg(c + 1, 5, 10, QChar('0'))
                    .arg(width)
                    .arg(height)
                    .arg(c + 3)
                    .arg(colour ? "true" : "false");
    return QStringLiteral(R"({"control":"vmm-bench-cycle-%1","cameras":[%2]})").arg(getpid()).arg(list);
}

// Kernel thread id of the thread named `name` in this process, or -1.
int taskNamed(const QByteArray& name)
{
    for (const QString& t : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/self/task/" + t + "/comm");
        if (f.open(QIODevice::ReadOnly) && f.readAll().trimmed() == name)
            return t.toInt();
    }
    return -1;
}

// utime + stime of a thread in clock ticks.
qint64 taskCpuTicks(int tid)
{
    QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> rest = s.mid(s.lastIndexOf(')') + 2).split(' ');
    if (rest.size() < 13)
        return -1;
    return rest[11].toLongLong() + rest[12].toLongLong();
}

struct Rig {
    BoardSimulator sim;
    QTemporaryDir dir;
    RiVuRevezi* win = nullptr;

    bool start(int cameras, int width, int height, int rois, bool colour = false)
    {
        if (!dir.isValid() || !sim.open())
            return false;
        sim.setInputs(0x002);  // safety door closed
        sim.start();
        qputenv("VMM_COM_PORT", sim.slaveName().toLocal8Bit());
        qputenv("VMM_CAMERA_REPLAY", replayJson(cameras, width, height, colour).toUtf8());
        qputenv("VMM_CAMERA_SIMULATED", R"({"control":"vmm-bench-cycle-sim","cameras":[]})");
        pMutexIO = new QMutex;
        pMutexSaveFail = new QMutex;
        if (!layoutWorkdir(dir.path()) || !writeRegions(cameras, rois))
            return false;
        win = new RiVuRevezi(nullptr);
        if (!win->StartUp() || numCamera != cameras) {
            std::fprintf(stderr, "start-up failed: %d cameras of %d\n", numCamera, cameras);
            return false;
        }
        if (gpWPara)
            gpWPara->words[Word::Homography] = 0;  // homography off
        gpControlIO->InitIOThread();
        spin(1500);  // cameras deliver, the board link settles
        return true;
    }
    ~Rig()
    {
        delete win;
        gpWin = nullptr;
        gpControlIO = nullptr;
        sim.stop();
        QDir::setCurrent(QDir::tempPath());
    }
};

void benchIoThreadCpu(Rig& rig, int seconds)
{
    const int tid = taskNamed("IOThread");
    if (tid < 0) {
        std::printf("I/O thread CPU share: thread \"IOThread\" not found\n");
        return;
    }
    const long hz = sysconf(_SC_CLK_TCK);
    const qint64 c0 = taskCpuTicks(tid);
    const qint64 p0 = nowNs();
    timespec pc0{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &pc0);
    spin(seconds * 1000);
    const qint64 c1 = taskCpuTicks(tid);
    const double wall = double(nowNs() - p0) / 1e9;
    timespec pc1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &pc1);
    const double share = 100.0 * double(c1 - c0) / double(hz) / wall;
    const double proc = 100.0 * ((pc1.tv_sec - pc0.tv_sec) + (pc1.tv_nsec - pc0.tv_nsec) / 1e9) / wall;
    std::printf("%-44s %.1f s  %6.2f %% of a core (tick %ld Hz)  target < 2 %%  %s   [whole process %.1f %%, %d frames on the wire]\n",
                "I/O thread CPU share, detection idle", wall, share, hz, share < 2.0 ? "OK" : "OVER", proc,
                int(rig.sim.history().size()));
    (void)rig;
}

// The anchor of the edge: a second simulated board, a bare request every
// 5 ms on the same port class, the reply parsed the moment it arrives.
// Returns the median in ms (0 when the port did not open).
double rawEdgeMedian(int n)
{
    BoardSimulator board;
    if (!board.open())
        return 0.0;
    board.setInputs(0x002);
    board.start();
    Posix_QextSerialPort port(board.slaveName(), Polling);
    if (!port.open(QIODevice::ReadWrite))
        return 0.0;
    std::atomic<bool> running{true};
    std::atomic<int> input{0};
    std::atomic<qint64> changedAt{0};
    std::thread loop([&] {
        const unsigned char request[6] = {0x5F, 2, 0, 0, 0x61, 0xF5};
        std::vector<unsigned char> buf;
        while (running) {
            port.write(reinterpret_cast<const char*>(request), 6);
            const qint64 end = nowNs() + 5000000;
            for (qint64 left = end - nowNs(); left > 0; left = end - nowNs()) {
                if (port.waitForReadyRead(left / 1000) <= 0)
                    continue;
                char tmp[256];
                const qint64 got = port.read(tmp, sizeof tmp);
                buf.insert(buf.end(), tmp, tmp + got);
                while (buf.size() >= 8) {
                    if (buf[0] == 0x5F && buf[7] == 0xF5 && buf[1] == 2) {
                        const int in = buf[2] | ((buf[3] & 3) << 8);
                        if (in != input.exchange(in))
                            changedAt = nowNs();
                        buf.erase(buf.begin(), buf.begin() + 8);
                    } else {
                        buf.erase(buf.begin());
                    }
                }
            }
        }
    });
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(20, 60);
    std::vector<double> ms;
    spin(100);
    for (int i = 0; i < n; ++i) {
        const qint64 edgeAt = nowNs();
        board.setInputs(0x003);
        while (!(input.load() & 1) && nowNs() - edgeAt < 1000000000LL)
            ::usleep(50);
        if (input.load() & 1)
            ms.push_back(double(changedAt.load() - edgeAt) / 1e6);
        board.setInputs(0x002);
        QThread::msleep(jitter(rng));
    }
    running = false;
    loop.join();
    board.stop();
    return quantile(ms, 0.5);
}

void benchEdgeToRun(Rig& rig, int n)
{
    RiVuRevezi* win = rig.win;
    win->StopDetect();  // edges must not start cycles here
    spin(300);
    qint64 edgeAt = 0, seenAt = 0;
    // Queued to the GUI thread behind Run (connected first), so this runs
    // right after the pass of Run that the input change caused.
    QObject::connect(gpControlIO->ioThread(), &IOThread::sigIOChange, win, [&] {
        if (edgeAt && !seenAt && (win->mould->lastInputs() & 1))
            seenAt = nowNs();
    });
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(20, 60);
    std::vector<double> ms;
    int misses = 0;
    for (int i = 0; i < n; ++i) {
        seenAt = 0;
        edgeAt = nowNs();
        rig.sim.setInputs(0x003);
        // Also catch a pass of Run started by its own timer.
        if (spinUntil([&] { return seenAt || (win->mould->lastInputs() & 1); }, 1000)) {
            if (!seenAt)
                seenAt = nowNs();
            ms.push_back(double(seenAt - edgeAt) / 1e6);
        } else {
            ++misses;
        }
        edgeAt = 0;
        rig.sim.setInputs(0x002);
        spin(jitter(rng));
        spinUntil([&] { return !(win->mould->lastInputs() & 1); }, 1000);
        spin(jitter(rng));
    }
    report("input edge to Run", ms, 7.0, misses);
    const double raw = rawEdgeMedian(n);
    std::printf("  anchor: bare 5 ms request loop, edge to the reply read  median %8.3f ms; program / anchor %.2fx\n", raw,
                raw > 0.0 ? quantile(ms, 0.5) / raw : 0.0);
    win->StartDetect();
}

// The raw OpenCV calls one camera's decision is built from, on the same
// pictures: with homography, SIFT at the engine's working scale against the
// template's prepared features, the ratio test, RANSAC and the warp; the
// positioning search (matchTemplate of a part of the template's middle in the
// search rectangle, coarse to fine) and the warp of the frame by the found
// shift (a fraction of a pixel, as the decision warps); per ROI a band test
// against the template, the opening and the contours.
struct RawCamera {
    cv::Mat frame, templ, lo, hi;
    std::vector<cv::Rect> rois;
    cv::Rect search, model;
    bool homography = false;
    float scale = 1.0f;
    std::vector<cv::KeyPoint> templKeys;
    cv::Mat templDesc;

    void prepare(const CammerWidget* v, bool homo)
    {
        const cv::Size size(v->imageWidth, v->imageHeight);
        frame = cv::Mat(size, CV_8UC1, v->captureFrame).clone();
        templ = cv::Mat(size, CV_8UC1, v->templates[0][0]).clone();
        cv::subtract(templ, cv::Scalar(30), lo);
        cv::add(templ, cv::Scalar(30), hi);
        const CammerSingleton& rec = *v->savedRecord;
        for (int i = 0; i < rec.roiCount[0]; ++i) {
            const cv::Rect r = CammerRecong::boundingRect(rec, 0, i) & cv::Rect(cv::Point(), size);
            if (r.area() > 0)
                rois.push_back(r);
        }
        model = CammerRecong::defaultRect(size);
        model = cv::Rect(model.x, model.y, model.width / 2, model.height / 2);
        search = v->engine() ? v->engine()->searchRect[0] : cv::Rect();
        homography = homo;
        scale = float(std::min(1.0, std::sqrt(500000.0 / double(size.area()))));
        if (homography) {
            cv::Mat small;
            cv::resize(templ, small, cv::Size(), scale, scale, cv::INTER_AREA);
            cv::SIFT::create()->detectAndCompute(small, cv::noArray(), templKeys, templDesc);
        }
    }

    void run() const
    {
        cv::Mat work = frame;
        if (homography) {
            cv::Mat small, desc;
            std::vector<cv::KeyPoint> keys;
            cv::resize(frame, small, cv::Size(), scale, scale, cv::INTER_AREA);
            cv::SIFT::create()->detectAndCompute(small, cv::noArray(), keys, desc);
            std::vector<std::vector<cv::DMatch>> knn;
            cv::BFMatcher(cv::NORM_L2).knnMatch(desc, templDesc, knn, 2);
            std::vector<cv::Point2f> from, to;
            for (const auto& m : knn)
                if (m.size() == 2 && m[0].distance < 0.75f * m[1].distance) {
                    from.push_back(keys[size_t(m[0].queryIdx)].pt / scale);
                    to.push_back(templKeys[size_t(m[0].trainIdx)].pt / scale);
                }
            if (from.size() >= 4) {
                const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, 3.0);
                if (!h.empty())
                    cv::warpPerspective(frame, work, h, frame.size());
            }
        }
        if (search.area() > 0 && search.width >= model.width && search.height >= model.height) {
            // Coarse to fine: a quarter-size search, then full size about the peak.
            cv::Mat a, b, score;
            cv::resize(work(search), a, cv::Size(), 0.25, 0.25, cv::INTER_AREA);
            cv::resize(templ(model), b, cv::Size(), 0.25, 0.25, cv::INTER_AREA);
            cv::matchTemplate(a, b, score, cv::TM_CCOEFF_NORMED);
            cv::Point peak;
            cv::minMaxLoc(score, nullptr, nullptr, nullptr, &peak);
            const cv::Rect fine = cv::Rect(search.x + 4 * peak.x - 8, search.y + 4 * peak.y - 8, model.width + 16,
                                           model.height + 16) &
                                  search;
            if (fine.width >= model.width && fine.height >= model.height) {
                cv::matchTemplate(work(fine), templ(model), score, cv::TM_CCOEFF_NORMED);
                cv::minMaxLoc(score, nullptr, nullptr, nullptr, &peak);
                // The frame moved onto the template by the found shift, to
                // a fraction of a pixel as the decision moves it.
                const double dx = fine.x + peak.x - model.x + 0.25;
                const double dy = fine.y + peak.y - model.y + 0.25;
                const cv::Mat motion = (cv::Mat_<double>(2, 3) << 1, 0, -dx, 0, 1, -dy);
                cv::Mat moved;
                cv::warpAffine(work, moved, motion, work.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
                work = moved;
            }
        }
        for (const cv::Rect& r : rois) {
            cv::Mat in, out;
            cv::inRange(work(r), lo(r), hi(r), in);
            cv::bitwise_not(in, out);
            cv::morphologyEx(out, out, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)));
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(out, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        }
    }
};

// Milliseconds of the raw calls of every camera, the cameras at once (one
// thread each), as the cycle judges them.
double rawDecision(const std::vector<RawCamera>& cams)
{
    const qint64 t0 = nowNs();
    std::vector<std::thread> threads;
    for (size_t c = 1; c < cams.size(); ++c)
        threads.emplace_back([&cams, c] { cams[c].run(); });
    if (!cams.empty())
        cams[0].run();
    for (std::thread& t : threads)
        t.join();
    return double(nowNs() - t0) / 1e6;
}

// End of a countdown to the interlock frame on the wire, the cameras judged
// at once and (interleaved, the comparison) one after the other, beside the
// raw OpenCV anchor on the same pictures.
void benchCountdownToWire(Rig& rig, int n, double targetMs, bool homography)
{
    RiVuRevezi* win = rig.win;
    const int step = 0;
    const int interlock = win->StepInterlock(step);
    if (win->cycle().runState == 3)
        win->StartDetect();
    // The first decision of a new mould captures the templates.
    win->cycleStatus().countdownRemain[step] = 0.05f;
    win->TimerUp(step);
    spin(500);

    std::printf("  positioning %s, homography %s\n",
                gpWPara && gpWPara->words[Word::MotionCorrection] != -1 ? "on" : "off",
                gpWPara && gpWPara->words[Word::Homography] != 0 ? "on" : "off");
    std::vector<double> total[2], decide[2], engine, anchor;
    // The stages of the decisions judged at once, from the cycle's own clock.
    std::vector<double> stPull, stJudge, stCheck, stWrite, stAfter, stLate;
    int misses = 0, ng = 0, wrong = 0;
    for (int i = 0; i < 2 * n; ++i) {
        const bool atOnce = i % 2 == 0;
        win->judgeInParallel = atOnce;
        // A cycle is open: the interlock is on and on the wire.
        win->cycleStatus().detectState = 1;
        win->cycleStatus().ngPresent = false;
        gpControlIO->IOSetOut(interlock, 1);
        gpControlIO->IOSetOut(2, 0);
        gpControlIO->IOFlashOut();
        const int before = gpControlIO->wantedOut();
        spinUntil([&] { return rig.sim.outputs() == before; }, 2000);
        spin(120);  // fresh pictures

        // The word reaches the wire while TimerUp is still busy with the
        // pictures, so a second thread watches the simulator.
        std::atomic<qint64> wireAt{0};
        std::atomic<bool> watching{true};
        std::thread watcher([&] {
            while (watching.load()) {
                if (rig.sim.outputs() != before) {
                    wireAt = nowNs();
                    return;
                }
                ::usleep(50);
            }
        });
        const qint64 t0 = nowNs();
        MouldCycleProbe::setCountdownActive(*win->mould, step, true);
        win->cycleStatus().countdownRemain[step] = 0.05f;
        win->TimerUp(step);  // last tick: engine on every camera, then CheckNG
        const qint64 t1 = nowNs();
        const int want = gpControlIO->wantedOut();
        if (win->cycle().detectState == 2)
            ++ng;
        const bool arrived = want != before && spinUntil([&] { return wireAt.load() != 0; }, 2000, false);
        watching = false;
        watcher.join();
        if (want == before) {
            ++wrong;  // nothing to send (e.g. NG with the alarm already on)
            continue;
        }
        if (!arrived) {
            ++misses;
            continue;
        }
        total[atOnce ? 0 : 1].push_back(double(wireAt.load() - t0) / 1e6);
        decide[atOnce ? 0 : 1].push_back(double(t1 - t0) / 1e6);
        if (atOnce) {
            const MouldCycle::DecisionStages& st = win->mould->lastStages();
            const qint64 written = gpControlIO->ioThread()->lastWriteNs();
            stPull.push_back(double(st.framesPulled - st.countdownEnd) / 1e6);
            stJudge.push_back(double(st.judged - st.framesPulled) / 1e6);
            stCheck.push_back(double(st.handedOver - st.judged) / 1e6);
            if (written >= st.handedOver)
                stWrite.push_back(double(written - st.handedOver) / 1e6);
            stAfter.push_back(double(st.after - st.handedOver) / 1e6);
            stLate.push_back(double(wireAt.load() - (written >= st.handedOver ? written : st.handedOver)) / 1e6);
        }
        // The frame itself: the latest command 1 carries the new word.
        spinUntil([&] { return rig.sim.outputs() == want; }, 2000, false);
        const auto h = rig.sim.history();
        auto it = std::find_if(h.rbegin(), h.rend(), [](const std::pair<int, int>& f) { return f.first == 1; });
        if (it == h.rend() || it->second != want)
            ++wrong;

        if (atOnce) {
            // The raw OpenCV calls on the pictures just judged.
            std::vector<RawCamera> raw(static_cast<size_t>(numCamera));
            for (int c = 0; c < numCamera; ++c)
                raw[size_t(c)].prepare(CameraViews::at(c), homography);
            anchor.push_back(rawDecision(raw));
        } else {
            // The engine alone, camera after camera, on the same pictures.
            const qint64 e0 = nowNs();
            for (int c = 0; c < numCamera; ++c)
                win->RunAlgorithm(c, step);
            engine.push_back(double(nowNs() - e0) / 1e6);
        }
        spin(30);
    }
    win->judgeInParallel = true;
    report("TimerUp to interlock frame on the wire", total[0], targetMs, misses);
    report("  whole TimerUp (engine, CheckNG, pictures)", decide[0], targetMs);
    const double med = quantile(total[0], 0.5);
    const double raw = quantile(anchor, 0.5);
    std::printf("  anchor: raw OpenCV calls, cameras at once      median %8.3f ms   ratio %.2fx\n", raw,
                raw > 0 ? med / raw : 0.0);
    std::printf("  stages (median / p95 ms): fresh frames %.2f / %.2f, engines %.2f / %.2f, CheckNG to hand-over "
                "%.3f / %.3f,\n    hand-over to frame written %.3f / %.3f, written to seen on the wire %.3f / %.3f; "
                "after the hand-over (counters, pictures, record, screen) %.2f / %.2f\n",
                quantile(stPull, 0.5), quantile(stPull, 0.95), quantile(stJudge, 0.5), quantile(stJudge, 0.95),
                quantile(stCheck, 0.5), quantile(stCheck, 0.95), quantile(stWrite, 0.5), quantile(stWrite, 0.95),
                quantile(stLate, 0.5), quantile(stLate, 0.95), quantile(stAfter, 0.5), quantile(stAfter, 0.95));
    std::printf("  the decision proper (fresh frames + engines) median %.3f ms, raw %.3f ms, ratio %.2fx (goal 1.5x)\n",
                quantile(stPull, 0.5) + quantile(stJudge, 0.5), raw,
                raw > 0 ? (quantile(stPull, 0.5) + quantile(stJudge, 0.5)) / raw : 0.0);
    report("  cameras one after the other: to the wire", total[1], targetMs);
    report("  cameras one after the other: engine alone", engine, targetMs);
    if (ng || wrong)
        std::printf("  (%d decisions NG, %d without the expected command-1 frame)\n", ng, wrong);
    std::fflush(stdout);
}

void benchRunPass(Rig& rig, int n)
{
    RiVuRevezi* win = rig.win;
    if (win->cycle().runState == 3)
        win->StartDetect();
    std::vector<double> pulling, woken;
    for (int i = 0; i < n; ++i) {
        // Only the measured passes pull: every camera's frame is due.
        win->runTimer->stop();
        spin(RiVuRevezi::kFramePullMs + 10);
        win->runTimer->stop();
        qint64 t0 = nowNs();
        win->Run();
        pulling.push_back(double(nowNs() - t0) / 1e6);
        // A pass woken by the board right after it: no frame is due yet.
        t0 = nowNs();
        win->Run();
        woken.push_back(double(nowNs() - t0) / 1e6);
    }
    report(qPrintable(QStringLiteral("Run pass, %1 cameras, frames pulled").arg(numCamera)), pulling, 10.0);
    report(qPrintable(QStringLiteral("Run pass, %1 cameras, woken, no frame due").arg(numCamera)), woken, 1.0);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("cycle");
    const int width = argc > 3 ? atoi(argv[2]) : 1280;
    const int height = argc > 3 ? atoi(argv[3]) : 1024;
    const bool colour = argc > 4 && QByteArray(argv[4]) == "colour";

    if (mode == "cycle") {
        Rig rig;
        if (!rig.start(4, width, height, 20))
            return 1;
        std::printf("4 grey cameras %dx%d, 20 grey-template ROIs each, homography off\n", width, height);
        benchIoThreadCpu(rig, 10);
        benchEdgeToRun(rig, 150);
        benchCountdownToWire(rig, 60, 50.0, false);
        return 0;
    }
    if (mode == "cycle1" || mode == "cycle8" || mode == "homo4") {
        const bool homo = mode == "homo4";
        const int cameras = homo ? 4 : mode == "cycle1" ? 1 : 8;
        Rig rig;
        if (!rig.start(cameras, width, height, 20))
            return 1;
        if (homo && gpWPara)
            gpWPara->words[Word::Homography] = 1;  // trained with the templates the first decision captures
        std::printf("%d grey cameras %dx%d, 20 grey-template ROIs each, homography %s\n", cameras, width, height,
                    homo ? "on" : "off");
        benchCountdownToWire(rig, homo ? 20 : 40, homo ? 300.0 : cameras == 1 ? 30.0 : 70.0, homo);
        return 0;
    }
    if (mode == "run8") {
        Rig rig;
        if (!rig.start(8, width, height, 20, colour))
            return 1;
        std::printf("8 %s cameras %dx%d, 20 ROIs each\n", colour ? "colour" : "grey", width, height);
        benchRunPass(rig, 100);
        return 0;
    }
    std::fprintf(stderr, "usage: %s cycle|cycle1|cycle8|homo4|run8 [width height [colour]]\n", argv[0]);
    return 2;
}
