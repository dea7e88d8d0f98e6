// The verdict on the wire, seen from the board's side of the line: a board
// simulator that opens the mould (input 0) every PERIOD ms and taps every
// frame as it passes, for the real program (mode "board") or for a bare
// controller in this process (mode "bare", the anchor).
//
// The bare controller does what the cycle has to and nothing else: it asks
// the board every 5 ms and parses the reply as it comes, opens the cycle on
// the edge (ejector and clamp interlocks set), and after each step's
// countdown takes every camera's frame (a copy of a W x H grey picture, as a
// camera's grab) and runs the raw work of a step on all cameras at once,
// then writes the frame that frees the step's interlock.
//
// The raw work is the demo layout's, so that the program is compared with
// the same work done bare: the positioning search as the layout trains it
// (no positioning region: the model is the middle 3/4 x 3/4 of the template,
// searched over the whole frame, +-3 degrees, the layout's accuracy and
// pyramid levels; the program's own matcher, since a matchTemplate of a model
// that size would be far heavier than the search the program runs), the cut
// searched copied as the program copies it, the frame aligned by what was
// found (warpAffine), and the grey comparison region of the demo layout on
// the cameras that have one (band test against the template, opening,
// contours over the region). Nothing the program does beyond that (fault
// pictures, records, screen) is in the anchor.
//
// Both print, from the tap: countdown end (the edge seen on the wire plus the
// step's countdown) -> frame freeing the step's interlock, for the product
// step (ejector, bit 1) and the cavity step (clamp, bit 0); edge -> the frame
// that opens the cycle; and how many edges came while the previous cycle
// still held the clamp. One line per figure: "name n median p95".
//
// Usage: vmm_bench_wire board LINK PERIOD_MS SECONDS WARM_S C0_MS C1_MS
//        vmm_bench_wire bare CAMERAS PERIOD_MS SECONDS WARM_S C0_MS C1_MS [W H]
#include "boardsim.h"
#include "findshape.h"
#include "posix_qextserialport.h"

#include <QCoreApplication>
#include <QFile>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

struct Event {
    qint64 ns;
    bool toBoard;
    int command;
    int value;
};

class Tap {
public:
    void note(bool toBoard, int command, int value)
    {
        if (command != 1 && command != 2)
            return;
        std::lock_guard<std::mutex> l(mutex_);
        events_.push_back({nowNs(), toBoard, command, value});
    }
    std::vector<Event> events() const
    {
        std::lock_guard<std::mutex> l(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

void line(const char* name, const std::vector<double>& ms)
{
    std::printf("%s %zu %.3f %.3f\n", name, ms.size(), quantile(ms, 0.5), quantile(ms, 0.95));
}

// The figures from the tapped frames; edges before `fromNs` are warm-up.
void analyse(const std::vector<Event>& ev, qint64 fromNs, int c0Ms, int c1Ms)
{
    constexpr int kClamp = 1, kEjector = 2;
    std::vector<double> product, cavity, open, openToProduct;
    int waiting = 0, edges = 0, unfreed = 0;
    int input = 0, out = 0;
    for (size_t i = 0; i < ev.size(); ++i) {
        const Event& e = ev[i];
        if (e.toBoard) {
            if (e.command == 1)
                out = e.value;
            continue;
        }
        const bool rise = (e.value & 1) && !(input & 1);
        input = e.value;
        if (!rise || e.ns < fromNs)
            continue;
        ++edges;
        if (out & kClamp)
            ++waiting;  // the previous cycle still holds the clamp
        // The frames after the edge, up to the next edge.
        qint64 openAt = 0, productAt = 0, cavityAt = 0;
        int in2 = input;
        for (size_t j = i + 1; j < ev.size(); ++j) {
            const Event& f = ev[j];
            if (!f.toBoard) {
                if ((f.value & 1) && !(in2 & 1))
                    break;
                in2 = f.value;
                continue;
            }
            if (f.command != 1)
                continue;
            if (!openAt) {
                if ((f.value & (kClamp | kEjector)) == (kClamp | kEjector))
                    openAt = f.ns;
                continue;
            }
            if (!productAt && !(f.value & kEjector))
                productAt = f.ns;
            if (!cavityAt && !(f.value & kClamp))
                cavityAt = f.ns;
        }
        if (!openAt) {
            ++unfreed;
            continue;
        }
        open.push_back(double(openAt - e.ns) / 1e6);
        if (productAt) {
            product.push_back(double(productAt - e.ns) / 1e6 - c0Ms);
            openToProduct.push_back(double(productAt - openAt) / 1e6);
        }
        if (cavityAt)
            cavity.push_back(double(cavityAt - e.ns) / 1e6 - c1Ms);
        if (!productAt || !cavityAt)
            ++unfreed;
    }
    line("countdown_end_to_product_freed", product);
    line("countdown_end_to_clamp_freed", cavity);
    line("cycle_open_to_product_freed", openToProduct);
    line("edge_to_cycle_open", open);
    std::printf("edges %d waiting_on_previous_cycle %d not_freed %d\n", edges, waiting, unfreed);
}

// The demo layout's grey comparison region, in the picture of its 1280 x
// 1024 camera; the layout draws it on cameras 1 and 2 only.
const cv::Rect kDemoRegion(cv::Point(345, 300), cv::Point(936, 725));
constexpr int kDemoRegionCameras = 2;
// The demo layout's positioning: angle range, accuracy, pyramid levels.
constexpr int kDemoAngleRange = 3;
constexpr int kDemoShapeAccuracy = 5;
constexpr int kDemoShapeLevels = 5;

// One camera's raw step work on its own pictures.
struct RawCamera {
    std::vector<uchar> grabbed;  // the camera's buffer
    cv::Mat frame, aligned, templ, lo, hi;
    cv::Rect search, model, roi;
    std::shared_ptr<FindShape> shape;

    RawCamera(int w, int h, int seed, bool region)
    {
        cv::RNG rng{static_cast<uint64>(seed)};
        templ = cv::Mat(h, w, CV_8UC1);
        rng.fill(templ, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(templ, templ, cv::Size(9, 9), 3);
        grabbed.assign(templ.datastart, templ.dataend);
        frame = cv::Mat(h, w, CV_8UC1);
        cv::subtract(templ, cv::Scalar(30), lo);
        cv::add(templ, cv::Scalar(30), hi);
        // No positioning region: the middle of the frame, as the engine's
        // default, searched over the frame (its margin reaches every edge).
        model = cv::Rect(w / 4, h / 4, 3 * w / 4, 3 * h / 4) & cv::Rect(0, 0, w, h);
        search = cv::Rect(0, 0, w, h);
        roi = region ? kDemoRegion & cv::Rect(0, 0, w, h) : cv::Rect();
        shape = std::make_shared<FindShape>();
        if (!shape->CreateShape(templ(model), 0.0, 0, kDemoAngleRange, model.x + model.width / 2,
                                model.y + model.height / 2, false, 255, cv::Mat(), kDemoShapeAccuracy,
                                kDemoShapeLevels))
            std::fprintf(stderr, "bare controller: no positioning model\n");
    }
    void run()
    {
        std::copy(grabbed.begin(), grabbed.end(), frame.data);
        const cv::Mat cut = frame(search).clone();
        cv::Point2d shift;
        double score = 0.0, angle = 0.0;
        if (!shape->Find(cut, 0, &shift, &score, &angle))
            shift = cv::Point2d(0.0, 0.0);
        // Aligned by the place found (a fraction of a pixel off, as a real
        // part lies), linear interpolation over the whole frame.
        cv::Mat motion = cv::getRotationMatrix2D(cv::Point2f(frame.cols / 2.0f, frame.rows / 2.0f), angle + 0.2, 1.0);
        motion.at<double>(0, 2) += shift.x - search.x + 0.3;
        motion.at<double>(1, 2) += shift.y - search.y + 0.3;
        cv::warpAffine(frame, aligned, motion, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
        if (roi.area() <= 0)
            return;
        cv::Mat in, outside;
        cv::inRange(aligned(roi), lo(roi), hi(roi), in);
        cv::bitwise_not(in, outside);
        cv::morphologyEx(outside, outside, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)));
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(outside, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    }
};

void send(Posix_QextSerialPort& port, int command, int value)
{
    unsigned char f[6] = {0x5F, static_cast<unsigned char>(command), static_cast<unsigned char>(value & 0xFF),
                          static_cast<unsigned char>((value >> 8) & 0xFF), 0, 0xF5};
    f[4] = static_cast<unsigned char>(f[0] + f[1] + f[2] + f[3]);
    port.write(reinterpret_cast<const char*>(f), 6);
}

// Milliseconds of the bare controller's steps (the raw work of all cameras).
std::vector<double> gRawStepMs;

void bareController(const QString& portName, int cameras, int w, int h, int c0Ms, int c1Ms,
                    const std::atomic<bool>& running)
{
    Posix_QextSerialPort port(portName, Polling);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "bare controller: cannot open %s\n", qPrintable(portName));
        return;
    }
    std::vector<RawCamera> cams;
    for (int c = 0; c < cameras; ++c)
        cams.emplace_back(w, h, c + 3, c < kDemoRegionCameras);
    auto step = [&cams] {
        const qint64 t0 = nowNs();
        std::vector<std::thread> t;
        for (size_t c = 1; c < cams.size(); ++c)
            t.emplace_back([&cams, c] { cams[c].run(); });
        cams[0].run();
        for (std::thread& x : t)
            x.join();
        gRawStepMs.push_back(double(nowNs() - t0) / 1e6);
    };
    std::vector<unsigned char> buf;
    int input = -1, out = 0;
    qint64 due0 = 0, due1 = 0;
    while (running.load()) {
        send(port, 2, 0);
        const qint64 passEnd = nowNs() + 5000000;
        for (qint64 left = passEnd - nowNs(); left > 0; left = passEnd - nowNs()) {
            const qint64 firstDue = std::min(due0 ? due0 : passEnd, due1 ? due1 : passEnd);
            const qint64 wait = std::min(left, firstDue - nowNs());
            if (wait > 0 && port.waitForReadyRead(wait / 1000) > 0) {
                char tmp[256];
                const qint64 got = port.read(tmp, sizeof tmp);
                buf.insert(buf.end(), tmp, tmp + got);
                while (buf.size() >= 8) {
                    if (buf[0] != 0x5F || buf[7] != 0xF5) {
                        buf.erase(buf.begin());
                        continue;
                    }
                    if (buf[1] == 2) {
                        const int in = buf[2] | ((buf[3] & 3) << 8);
                        if (input >= 0 && (in & 1) && !(input & 1) && !(out & 1)) {
                            out |= 3;  // the cycle opens: both interlocks
                            send(port, 1, out);
                            due0 = nowNs() + qint64(c0Ms) * 1000000;
                            due1 = nowNs() + qint64(c1Ms) * 1000000;
                        }
                        input = in;
                    }
                    buf.erase(buf.begin(), buf.begin() + 8);
                }
            }
            const qint64 now = nowNs();
            if (due0 && now >= due0) {
                due0 = 0;
                step();
                out &= ~2;
                send(port, 1, out);
            }
            if (due1 && nowNs() >= due1) {
                due1 = 0;
                step();
                out &= ~1;
                send(port, 1, out);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (argc < 8 || (mode != "board" && mode != "bare")) {
        std::fprintf(stderr,
                     "usage: %s board LINK PERIOD_MS SECONDS WARM_S C0_MS C1_MS\n"
                     "       %s bare CAMERAS PERIOD_MS SECONDS WARM_S C0_MS C1_MS [W H]\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int period = std::max(300, atoi(argv[3]));
    const int seconds = atoi(argv[4]);
    const int warm = atoi(argv[5]);
    const int c0 = atoi(argv[6]);
    const int c1 = atoi(argv[7]);
    Tap tap;
    BoardSimulator sim;
    if (!sim.open()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    sim.setInputs(1 << 1);  // the safety door closed
    sim.setPulses({{0, period, period / 4, period / 2}});
    sim.setTap([&tap](bool toBoard, int command, int value) { tap.note(toBoard, command, value); });
    std::atomic<bool> running{true};
    std::thread bare;
    if (mode == "board") {
        const QString link = QString::fromLocal8Bit(argv[2]);
        QFile::remove(link);
        if (!QFile::link(sim.slaveName(), link)) {
            std::fprintf(stderr, "cannot link %s\n", qPrintable(link));
            return 1;
        }
    }
    sim.start();
    if (mode == "bare") {
        const int cameras = std::max(1, atoi(argv[2]));
        const int w = argc > 9 ? atoi(argv[8]) : 1280;
        const int h = argc > 9 ? atoi(argv[9]) : 1024;
        bare = std::thread([&, cameras, w, h] { bareController(sim.slaveName(), cameras, w, h, c0, c1, running); });
    }
    const qint64 from = nowNs() + qint64(warm) * 1000000000LL;
    ::sleep(static_cast<unsigned>(warm + seconds));
    running = false;
    if (bare.joinable())
        bare.join();
    sim.stop();
    analyse(tap.events(), from, c0, c1);
    if (!gRawStepMs.empty())
        line("raw_step", gRawStepMs);
    return 0;
}
