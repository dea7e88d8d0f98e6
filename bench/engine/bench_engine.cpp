// Speed and accuracy of the detection engine on 1280 x 1024 pictures.
//   bench_engine [runs]      (Release build; at least 50 runs per figure)
// Prints median and 95th percentile of every stage (homography detect /
// match / RANSAC / warp, positioning search / transform, judging per method
// and for ROI mixes, training), the raw OpenCV calls each stage is built from
// as the reference, several cameras run as the detection cycle runs them,
// and the accuracy of the matchers on the same scenes.
#include "miscfunc.h"
#include "synthpictures.h"
#include "viewrig.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

int gRuns = 60;
const cv::Size kFrame(1280, 1024);

struct Stat {
    double median = 0;
    double p95 = 0;
};

Stat stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    Stat s;
    if (v.empty())
        return s;
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.95))];
    return s;
}

double nowMs(QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

Stat time(const std::function<void()>& f, int runs = gRuns)
{
    std::vector<double> v;
    f();  // warm-up
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        v.push_back(nowMs(t));
    }
    return stats(v);
}

void line(const char* what, Stat s, const char* note = "")
{
    std::printf("  %-52s median %8.2f ms   p95 %8.2f ms  %s\n", what, s.median, s.p95, note);
}

// A realistic ROI mix: 30 % grey template, 30 % grey band / dark / bright,
// 15 % blob counts, 10 % feature similarity, 5 % exclusion, 10 % colour box
// (grey band on grey cameras); sizes 40..250 pixels; filter sizes up to 201.
using AddRoi = std::function<void(cv::Rect, int, int, int, int)>;

// A rectangle ROI of step 0 in any view.
void addRectTo(CammerWidget* v, cv::Rect r, int func, int p1, int p2, int p3)
{
    CammerSingleton& c = *v->savedRecord;
    const int i = c.roiCount[0]++;
    c.kind[i] = 1;
    c.method[i] = func;
    c.p1[i] = p1;
    c.p2[i] = p2;
    c.p3[i] = p3;
    c.rect[0][i].imgRect = QRect(r.x, r.y, r.width, r.height);
    v->liveMasks[0][i] = cv::Mat(r.height, r.width, CV_8UC1, cv::Scalar(255));
}

void addMix(const AddRoi& add, int count, unsigned seed, bool colour)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> side(40, 250);
    std::uniform_int_distribution<int> pct(0, 99);
    const int filters[] = {1, 3, 5, 11, 51, 101, 201};
    for (int i = 0; i < count; ++i) {
        const int w = side(rng);
        const int h = side(rng);
        std::uniform_int_distribution<int> px(0, kFrame.width - w - 1), py(0, kFrame.height - h - 1);
        const cv::Rect rect(px(rng), py(rng), w, h);
        const int k = pct(rng);
        const int f = filters[rng() % 7];
        if (k < 30)
            add(rect, 0, 60, 500, f);
        else if (k < 40)
            add(rect, 1, 0, 500, 200 | (255 << 8));
        else if (k < 50)
            add(rect, 4, 30, 500, 0);
        else if (k < 60)
            add(rect, 5, 220, 500, 0);
        else if (k < 68)
            add(rect, 7, 200, 10 << 16, f / 2);
        else if (k < 75)
            add(rect, 8, 30, 10 << 16, f / 2);
        else if (k < 85)
            add(rect, 6, 50, 0, 0);
        else if (k < 90)
            add(rect, 2, 0, 0, 0);
        else if (colour)
            add(rect, 9, 200 | (255 << 16), 0 | (80 << 16), 0 | (80 << 16));
        else
            add(rect, 1, 0, 500, 0 | (40 << 8));
    }
}

cv::Mat sceneGrey(unsigned seed)
{
    return synth::textured(kFrame, seed, 2500);
}

cv::Mat knownWarp()
{
    const std::vector<cv::Point2f> from{{0, 0}, {1280, 0}, {1280, 1024}, {0, 1024}};
    const std::vector<cv::Point2f> to{{14, 9}, {1271, -12}, {1290, 1010}, {-9, 1031}};
    return cv::getPerspectiveTransform(from, to);
}

void homographyStages(rig::ViewRig& r, const cv::Mat& templ, const cv::Mat& frame)
{
    std::printf("\nHomography alignment (grey, 1280 x 1024, working scale %.4f)\n", r.engine().homo[0].scale);
    ImgHomoTrans& h = r.engine().homo[0];
    cv::detail::ImageFeatures tf = h.features[1];
    cv::detail::ImageFeatures ff;
    const Stat detect = time([&] { h.findFeature(frame, ff, 0); });
    std::vector<cv::detail::MatchesInfo> pairs;
    std::vector<cv::detail::ImageFeatures> both{ff, tf};
    const Stat match = time([&] {
        cv::detail::BestOf2NearestMatcher m(false, 0.4f, 6, 6);
        pairs.clear();
        m(both, pairs);
        m.collectGarbage();
    });
    std::vector<cv::Point2f> src, dst;
    for (size_t k = 0; k < std::min<size_t>(2, pairs.size()); ++k)
        for (const cv::DMatch& d : pairs[k].matches) {
            src.push_back(ff.keypoints[size_t(d.queryIdx)].pt / h.scale);
            dst.push_back(tf.keypoints[size_t(d.trainIdx)].pt / h.scale);
        }
    cv::Mat H;
    const Stat ransac = time([&] { H = cv::findHomography(src, dst, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995); });
    cv::Mat out;
    const Stat warp = time([&] { cv::warpPerspective(frame, out, H, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT); });
    r.setCapture(frame);
    const Stat whole = time([&] { r.engine().HomoTransShape(0); });
    line("detect (SIFT at working scale)", detect);
    line("match (best of two nearest)", match);
    line("RANSAC (findHomography)", ransac);
    line("warp (warpPerspective)", warp);
    line("HomoTransShape, whole", whole);

    // Raw OpenCV: SIFT detect+compute on the scaled frame, BFMatcher with
    // the ratio test, findHomography, warpPerspective.
    cv::Mat small;
    cv::resize(frame, small, cv::Size(), h.scale, h.scale, cv::INTER_LINEAR_EXACT);
    cv::Mat tSmall;
    cv::resize(templ, tSmall, cv::Size(), h.scale, h.scale, cv::INTER_LINEAR_EXACT);
    auto sift = cv::SIFT::create();
    std::vector<cv::KeyPoint> tk, fk;
    cv::Mat td, fd;
    sift->detectAndCompute(tSmall, cv::noArray(), tk, td);
    const Stat rDetect = time([&] {
        cv::Mat s;
        cv::resize(frame, s, cv::Size(), h.scale, h.scale, cv::INTER_LINEAR_EXACT);
        fk.clear();
        sift->detectAndCompute(s, cv::noArray(), fk, fd);
    });
    std::vector<cv::Point2f> rs, rd;
    const Stat rMatch = time([&] {
        cv::BFMatcher bf(cv::NORM_L2);
        std::vector<std::vector<cv::DMatch>> knn;
        bf.knnMatch(fd, td, knn, 2);
        rs.clear();
        rd.clear();
        for (const auto& m : knn)
            if (m.size() == 2 && m[0].distance < 0.8f * m[1].distance) {
                rs.push_back(fk[size_t(m[0].queryIdx)].pt / h.scale);
                rd.push_back(tk[size_t(m[0].trainIdx)].pt / h.scale);
            }
    });
    cv::Mat rH;
    const Stat rRansac = time([&] { rH = cv::findHomography(rs, rd, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995); });
    const Stat rWarp = time([&] { cv::warpPerspective(frame, out, rH, frame.size()); });
    line("reference: SIFT detect+compute", rDetect);
    line("reference: BFMatcher knn + ratio", rMatch);
    line("reference: findHomography", rRansac);
    line("reference: warpPerspective", rWarp);
    const double ref = rDetect.median + rMatch.median + rRansac.median + rWarp.median;
    std::printf("  whole / reference sum of medians: %.2f / %.2f ms = %.2fx (target 1.2x)\n", whole.median, ref,
                whole.median / ref);

    // Accuracy: mean grey difference inside the frame after alignment.
    r.engine().HomoTransShape(0);
    const cv::Rect inner(60, 60, 1160, 904);
    std::printf("  accuracy: mean grey difference %.2f unaligned, %.2f aligned (template vs itself moved by 1 px: %.2f)\n",
                synth::meanDiff(frame, templ, inner), synth::meanDiff(r.work(), templ, inner),
                synth::meanDiff(synth::moved(templ, synth::rigidMotion({0, 0}, 0, {1, 0})), templ, inner));
}

void positioningStages(rig::ViewRig& r, const cv::Mat& templ, int range)
{
    r.words()[186] = range;
    r.engine().CreateShape(0);
    const cv::Point ref(r.engine().refX[0], r.engine().refY[0]);
    std::printf("\nPositioning (grey, model %dx%d, search %dx%d, angle range %d)\n",
                r.engine().findShape[0].modelWidth(), r.engine().findShape[0].modelHeight(),
                r.engine().searchRect[0].width, r.engine().searchRect[0].height, range);
    const double angle = range ? 17.0 : 0.0;
    const cv::Mat frame = synth::moved(templ, synth::rigidMotion(ref, angle, {23, -17}));
    std::memcpy(r.view->workFrame, frame.data, size_t(r.view->frameBytes));
    const cv::Rect sr = r.engine().searchRect[0];
    const cv::Mat cut = frame(sr).clone();
    int x = 0, y = 0;
    double score = 0, a = 0;
    const Stat search = time([&] { r.engine().findShape[0].Find(cut, 0, &x, &y, &score, &a); });
    const int dx = x - sr.x, dy = y - sr.y;
    cv::Mat moved;
    const Stat transform = time([&] {
        if (range)
            TransformImage(frame, moved, cv::Point(dx, dy), ref, a);
        else
            MoveImage(frame, moved, dx, dy);
    });
    r.win->cycleStatus().detectStep = 0;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const Stat whole = time([&] { r.engine().ShapeMatch(); });
    qInstallMessageHandler(nullptr);
    line("search (FindShape::Find)", search);
    line(range ? "transform (TransformImage)" : "transform (MoveImage)", transform);
    line("ShapeMatch, whole", whole, range ? "(target 50 ms)" : "(target 15 ms)");
    const cv::Rect model(ref.x - r.engine().findShape[0].modelWidth() / 2, ref.y - r.engine().findShape[0].modelHeight() / 2,
                         r.engine().findShape[0].modelWidth(), r.engine().findShape[0].modelHeight());
    cv::Mat res;
    const Stat raw = time([&] { cv::matchTemplate(cut, templ(model), res, cv::TM_CCOEFF_NORMED); });
    line("reference: matchTemplate, shift only, one angle", raw);
    std::printf("  accuracy: found shift (%d, %d) angle %.2f for the true (-23, 17) angle %.2f; score %.1f\n", dx, dy, a,
                -angle, score);
    const cv::Rect inner(model.x + 20, model.y + 20, model.width - 40, model.height - 40);
    std::printf("  accuracy: mean grey difference in the part after alignment %.2f\n",
                synth::meanDiff(r.aligned(), templ, inner));
}

void judgingStages(rig::ViewRig& r, const cv::Mat& templ, bool colour)
{
    std::printf("\nJudging (%s, 1280 x 1024)\n", colour ? "colour" : "grey");
    r.setTemplate(0, 0, templ);
    auto noisy = [colour](const cv::Mat& img, std::uint64_t seed) {
        if (!colour)
            return synth::noisy(img, 2.0, seed);
        std::vector<cv::Mat> ch;
        cv::split(img, ch);
        for (auto& c : ch)
            c = synth::noisy(c, 2.0, seed++);
        cv::Mat out;
        cv::merge(ch, out);
        return out;
    };
    r.setTemplate(0, 1, noisy(templ, 3));
    cv::Mat live = noisy(templ, 4);
    struct Method {
        int func;
        const char* name;
        int p1, p2, p3;
    };
    const Method methods[] = {
        {0, "method 0 grey template (filter 3)", 60, 500, 3},
        {0, "method 0 grey template (filter 51)", 60, 500, 51},
        {0, "method 0 grey template (filter 201)", 60, 500, 201},
        {1, "method 1 grey band (filter 3)", 0, 500, 200 | (255 << 8)},
        {4, "method 4 dark pixels", 30, 500, 0},
        {5, "method 5 bright pixels", 220, 500, 0},
        {6, "method 6 feature similarity", 50, 0, 0},
        {7, "method 7 bright blobs (filter 51)", 200, 10 << 16, 25},
        {8, "method 8 dark blobs (filter 21)", 30, 10 << 16, 10},
        {9, "method 9 colour box", 200 | (255 << 16), 80 << 16, 80 << 16},
    };
    // NG pictures: every ROI gets a 30 x 30 square of the opposite grey.
    auto withDefects = [&](const cv::Mat& clean) {
        cv::Mat out = clean.clone();
        for (int i = 0; i < r.rec().roiCount[0]; ++i) {
            const QRect q = r.rec().rect[0][i].imgRect;
            const cv::Rect sq(q.x() + q.width() / 3, q.y() + q.height() / 3, 30, 30);
            const cv::Scalar m = cv::mean(clean(sq));
            out(sq).setTo(m[0] > 128 ? cv::Scalar::all(0) : cv::Scalar::all(255));
        }
        return out;
    };
    for (const Method& m : methods) {
        if (m.func == 9 && !colour)
            continue;
        r.rec().roiCount[0] = 0;
        std::mt19937 rng(5);
        std::uniform_int_distribution<int> px(0, kFrame.width - 201), py(0, kFrame.height - 201);
        for (int i = 0; i < 20; ++i)
            r.addRect(0, cv::Rect(px(rng), py(rng), 120 + (i % 5) * 20, 100 + (i % 4) * 25), m.func, m.p1, m.p2, m.p3);
        r.engine().VarTrain(0);
        for (bool ng : {false, true}) {
            r.setAligned(ng ? withDefects(live) : live);
            const Stat s = time([&] { r.engine().Run(0); });
            char what[96];
            std::snprintf(what, sizeof what, "%s, 20 ROIs, %s", m.name, ng ? "NG" : "clean");
            line(what, s);
        }
    }
    for (int count : {10, 20, 100}) {
        r.rec().roiCount[0] = 0;
        addMix([&](cv::Rect x, int f, int a, int b, int c) { r.addRect(0, x, f, a, b, c); }, count, 11, colour);
        QElapsedTimer t;
        t.start();
        r.engine().VarTrain(0);
        const double train = nowMs(t);
        for (bool ng : {false, true}) {
            r.setAligned(ng ? withDefects(live) : live);
            const Stat s = time([&] { r.engine().Run(0); });
            char what[96];
            std::snprintf(what, sizeof what, "Run, %d mixed ROIs, %s", count, ng ? "NG" : "clean");
            line(what, s, count == 20 ? "(target 10 ms)" : "");
        }
        std::printf("  %-52s %8.2f ms (2 templates)\n", "  VarTrain of that mix", train);
    }
}

void accuracyOfJudging(rig::ViewRig& r, const cv::Mat& templ)
{
    // Injected defects of 6 .. 20 pixels at random places inside grey
    // template ROIs: how many are found; and false alarms on clean pictures.
    r.rec().roiCount[0] = 0;
    r.words()[143] = 1;
    for (int i = 0; i < 20; ++i)
        r.addRect(0, cv::Rect(40 + (i % 5) * 240, 40 + (i / 5) * 240, 200, 200), 0, 70, 20, 3);
    r.setTemplate(0, 0, templ);
    r.setTemplate(0, 1, synth::noisy(templ, 2.0, 3));
    r.engine().VarTrain(0);
    int found = 0, injected = 0, falseAlarms = 0;
    std::mt19937 rng(9);
    for (int trial = 0; trial < 10; ++trial) {
        cv::Mat live = synth::noisy(templ, 2.0, 100 + trial);
        r.judge(0, live);
        for (int i = 0; i < 20; ++i)
            falseAlarms += r.view->roiPassed[0][i] ? 0 : 1;
        for (int i = 0; i < 20; ++i) {
            const int s = 6 + int(rng() % 15);
            const cv::Rect roi(40 + (i % 5) * 240, 40 + (i / 5) * 240, 200, 200);
            const cv::Rect sq(roi.x + 20 + int(rng() % 150), roi.y + 20 + int(rng() % 150), s, s);
            const double mean = cv::mean(templ(sq))[0];
            live(sq).setTo(mean > 128 ? 0 : 255);
            ++injected;
        }
        r.judge(0, live);
        for (int i = 0; i < 20; ++i)
            found += r.view->roiPassed[0][i] ? 0 : 1;
    }
    std::printf("  accuracy: grey template found %d of %d injected defects (6..20 px); %d false alarms in %d clean ROIs\n",
                found, injected, falseAlarms, 200);
    r.words()[143] = 0;
}

void cameras(int n, int rois, bool homography)
{
    rig::Options o;
    o.width = kFrame.width;
    o.height = kFrame.height;
    o.steps = 2;
    rig::ViewRig r(o);
    r.words()[154] = homography ? 1 : 0;
    r.words()[96] = 0;
    r.words()[148] = 100;
    r.words()[143] = 1;
    std::vector<std::unique_ptr<CammerWidget>> views;
    std::vector<CammerWidget*> all{r.view.get()};
    for (int c = 1; c < n; ++c) {
        _cameraInfo info;
        info.pluginName = rig::plugin()->name();
        views.emplace_back(new CammerWidget(r.win.get(), c, info));
        all.push_back(views.back().get());
    }
    for (int c = 0; c < n; ++c) {
        CammerWidget* v = all[size_t(c)];
        const cv::Mat templ = sceneGrey(200 + unsigned(c));
        std::memcpy(v->templates[0][0], templ.data, size_t(v->frameBytes));
        v->savedRecord->roiCount[0] = 0;
        addMix([v](cv::Rect x, int f, int a, int b, int p) { addRectTo(v, x, f, a, b, p); }, rois, 300 + unsigned(c),
               false);
        addRectTo(v, cv::Rect(490, 392, 300, 240), 3, 0, 0, 0);
        v->engine()->CreateHomoShape(0);
        v->engine()->CreateShape(0);
        v->engine()->VarTrain(0);
        const cv::Mat live = synth::moved(synth::noisy(templ, 2.0, 7), synth::rigidMotion({640, 512}, 0, {9, -6}));
        std::memcpy(v->captureFrame, live.data, size_t(v->frameBytes));
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const Stat s = time([&] {
        for (CammerWidget* v : all) {
            r.win->cycleStatus().detectStep = 0;
            v->engine()->HomoTransShape(0);
            v->engine()->ShapeMatch();
            v->engine()->Run(0);
        }
    });
    qInstallMessageHandler(nullptr);
    char what[96];
    std::snprintf(what, sizeof what, "%d grey cameras, %d ROIs each, homography %s", n, rois, homography ? "on" : "off");
    line(what, s, (n == 4 && rois == 50 && !homography) ? "(target 150 ms)" : "");
    views.clear();
}

void varTrain()
{
    rig::Options o;
    o.width = kFrame.width;
    o.height = kFrame.height;
    o.steps = 1;
    o.tempNum = 10;
    rig::ViewRig r(o);
    const cv::Mat templ = sceneGrey(77);
    for (int n = 0; n < 10; ++n)
        r.setTemplate(0, n, synth::noisy(templ, 2.0, 50 + n));
    addMix([&](cv::Rect x, int f, int a, int b, int c) { r.addRect(0, x, f, a, b, c); }, 100, 21, false);
    const Stat s = time([&] { r.engine().VarTrain(0); }, std::max(10, gRuns / 5));
    line("VarTrain, 100 mixed ROIs, 10 templates", s, "(target 1 s)");
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1)
        gRuns = std::max(50, atoi(argv[1]));
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    cv::setNumThreads(cv::getNumberOfCPUs());
    std::printf("Detection engine, %d runs per figure, OpenCV threads %d\n", gRuns, cv::getNumThreads());

    const cv::Mat templ = sceneGrey(1);
    {
        rig::Options o;
        o.width = kFrame.width;
        o.height = kFrame.height;
        o.steps = 1;
        rig::ViewRig r(o);
        r.words()[154] = 1;
        r.setTemplate(0, 0, templ);
        r.engine().CreateHomoShape(0);
        cv::Mat warped;
        cv::warpPerspective(templ, warped, knownWarp(), kFrame, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        homographyStages(r, templ, warped);

        r.words()[154] = 0;
        r.words()[96] = 0;
        r.words()[148] = 100;
        r.addRect(0, cv::Rect(490, 392, 300, 240), 3);
        positioningStages(r, templ, 0);
        positioningStages(r, templ, 30);
        r.words()[148] = 8000;  // the default margin: the whole frame is searched
        positioningStages(r, templ, 0);
        positioningStages(r, templ, 30);
        r.words()[96] = -1;
        r.words()[143] = 1;
        judgingStages(r, templ, false);
        accuracyOfJudging(r, templ);
    }
    {
        rig::Options o;
        o.width = kFrame.width;
        o.height = kFrame.height;
        o.steps = 1;
        o.colour = true;
        rig::ViewRig r(o);
        r.words()[143] = 1;
        cv::Mat colourScene;
        cv::Mat parts[3] = {templ, sceneGrey(2), sceneGrey(3)};
        cv::merge(parts, 3, colourScene);
        judgingStages(r, colourScene, true);
    }
    std::printf("\nCameras as the detection cycle runs them (positioning shift-only, margin 100)\n");
    cameras(1, 50, false);
    cameras(4, 50, false);
    cameras(8, 50, false);
    cameras(4, 50, true);
    std::printf("\nTraining\n");
    varTrain();
    return 0;
}
