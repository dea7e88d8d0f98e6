#include "scenerenderer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>

#include <algorithm>
#include <cmath>

#include <dlfcn.h>

namespace mouldcam {

namespace {

// OpenCV's picture reader, looked up on the first picture of a folder source.
// Its library brings in about a hundred more (GDAL and its formats), some 30
// MB of resident memory that a camera drawing its own scenes never needs, so
// the plug-in is not linked against it.
using ImreadFn = cv::Mat (*)(const std::string&, int);
ImreadFn pictureReader()
{
    static const ImreadFn reader = []() -> ImreadFn {
        void* lib = dlopen(VMM_IMGCODECS_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
        void* fn = lib ? dlsym(lib, "_ZN2cv6imreadERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEi") : nullptr;
        if (!fn)
            qWarning("camera pictures: %s: %s", VMM_IMGCODECS_LIBRARY, dlerror());
        return reinterpret_cast<ImreadFn>(fn);
    }();
    return reader;
}

struct Box {
    int x, y, w, h;
    cv::Point at(double fx, double fy) const { return {x + int(fx * w), y + int(fy * h)}; }
    cv::Rect rect() const { return {x, y, w, h}; }
};

void fillRoundedRect(cv::Mat& img, const Box& b, int r, const cv::Scalar& c)
{
    r = std::max(1, std::min(r, std::min(b.w, b.h) / 2));
    cv::rectangle(img, cv::Rect(b.x + r, b.y, b.w - 2 * r, b.h), c, cv::FILLED);
    cv::rectangle(img, cv::Rect(b.x, b.y + r, b.w, b.h - 2 * r), c, cv::FILLED);
    for (const cv::Point& p : {cv::Point(b.x + r, b.y + r), cv::Point(b.x + b.w - r - 1, b.y + r),
                               cv::Point(b.x + r, b.y + b.h - r - 1), cv::Point(b.x + b.w - r - 1, b.y + b.h - r - 1)})
        cv::circle(img, p, r, c, cv::FILLED, cv::LINE_AA);
}

Box cavityBox(int w, int h)
{
    const int cw = int(w * 0.56), ch = int(h * 0.5);
    return {(w - cw) / 2, (h - ch) / 2, cw, ch};
}

Box partBox(int w, int h)
{
    const Box c = cavityBox(w, h);
    const int mx = std::max(1, c.w / 25), my = std::max(1, c.h / 25);
    return {c.x + mx, c.y + my, c.w - 2 * mx, c.h - 2 * my};
}

}  // namespace

SceneRenderer::SceneRenderer(const CameraConfig& config)
    : config_(config), channels_(config.color ? 3 : 1), drift_(config.drift, config.seed, config.width)
{
    if (config_.folderSource) {
        const QStringList filters{QStringLiteral("*.bmp"), QStringLiteral("*.png"), QStringLiteral("*.jpg"),
                                  QStringLiteral("*.jpeg"), QStringLiteral("*.tif"), QStringLiteral("*.tiff")};
        const QDir dir(config_.folder);
        for (const QString& f : dir.entryList(filters, QDir::Files, QDir::Name))
            pictures_.append(dir.absoluteFilePath(f));
    } else {
        buildMould();
    }
}

cv::Scalar SceneRenderer::tone(double b, double g, double r) const
{
    if (channels_ == 1)
        return cv::Scalar(0.114 * b + 0.587 * g + 0.299 * r);
    return cv::Scalar(b, g, r);
}

void SceneRenderer::buildMould()
{
    const int w = config_.width, h = config_.height;
    cv::RNG rng(config_.seed * 2654435761u + 1u);
    cv::Mat blotch(h / 16 + 2, w / 16 + 2, CV_32F);
    rng.fill(blotch, cv::RNG::NORMAL, 0.0, 1.0);
    cv::resize(blotch, blotch, cv::Size(w, h), 0, 0, cv::INTER_CUBIC);
    cv::Mat fine(h, w, CV_32F);
    rng.fill(fine, cv::RNG::NORMAL, 0.0, 1.0);
    cv::Mat steel = blotch * 9.0 + fine * 4.0 + 112.0;
    // Machining marks: faint bright lines across the mould.
    const int step = std::max(4, h / 40);
    for (int y = int(rng.uniform(0, step)); y < h; y += step + int(rng.uniform(0, step / 2 + 1)))
        steel.row(y) += 7.0;
    cv::Mat grey;
    steel.convertTo(grey, CV_8U);
    if (channels_ == 1) {
        mould_ = grey;
    } else {
        cv::Mat bgr[3];
        grey.convertTo(bgr[0], CV_8U, 1.0, 4.0);
        bgr[1] = grey;
        grey.convertTo(bgr[2], CV_8U, 1.0, -3.0);
        cv::merge(bgr, 3, mould_);
    }
    // The cavity: a darker pocket with a dark rim.
    cavity_ = mould_.clone();
    const Box c = cavityBox(w, h);
    const int r = std::max(2, std::min(w, h) / 25);
    cv::Mat pocketMask = cv::Mat::zeros(h, w, CV_8U);
    fillRoundedRect(pocketMask, c, r, cv::Scalar(255));
    cv::Mat darker;
    mould_.convertTo(darker, -1, 0.6, 0.0);
    darker.copyTo(cavity_, pocketMask);
    const int rim = std::max(1, std::min(w, h) / 160);
    cv::Mat rimMask = cv::Mat::zeros(h, w, CV_8U);
    fillRoundedRect(rimMask, c, r, cv::Scalar(255));
    fillRoundedRect(rimMask, {c.x + rim, c.y + rim, c.w - 2 * rim, c.h - 2 * rim}, r, cv::Scalar(0));
    cavity_.setTo(tone(45, 45, 45), rimMask);
}

void SceneRenderer::drawPart(cv::Mat& img, unsigned defects, double size, cv::Point offset) const
{
    const int w = config_.width, h = config_.height, m = std::min(w, h);
    Box p = partBox(w, h);
    p.x += offset.x;
    p.y += offset.y;
    fillRoundedRect(img, p, m / 30, tone(225, 160, 90));
    // Two ribs and a boss in the middle.
    const int rib = std::max(1, p.h / 22);
    for (double fy : {0.25, 0.75})
        cv::rectangle(img, cv::Rect(p.x + p.w / 5, p.y + int(fy * p.h) - rib / 2, p.w * 3 / 5, rib), tone(200, 135, 70),
                      cv::FILLED);
    cv::circle(img, p.at(0.5, 0.5), std::max(2, m / 14), tone(235, 170, 90), cv::FILLED, cv::LINE_AA);
    cv::circle(img, p.at(0.5, 0.5), std::max(1, m / 30), tone(200, 128, 55), cv::FILLED, cv::LINE_AA);
    // A metal insert moulded in near a corner; without it its seat shows.
    const int ins = std::max(2, m / 36);
    if (defects & DefectMissingInsert) {
        cv::circle(img, p.at(0.82, 0.28), ins, tone(70, 50, 30), cv::FILLED, cv::LINE_AA);
    } else {
        cv::circle(img, p.at(0.82, 0.28), ins, tone(kInsertGrey, kInsertGrey, kInsertGrey), cv::FILLED, cv::LINE_AA);
        cv::circle(img, p.at(0.82, 0.28), std::max(1, ins / 3), tone(150, 150, 150), cv::FILLED, cv::LINE_AA);
    }
    if (defects & DefectShortShot) {
        // The melt did not reach the far end: the cavity shows through.
        const int gone = std::clamp(int(p.w / 5 * size), 1, p.w / 2);
        const cv::Rect missing = cv::Rect(p.x + p.w - gone, p.y, gone, p.h) & cv::Rect(0, 0, w, h);
        cavity_(missing).copyTo(img(missing));
    }
    if (defects & DefectFlash) {
        const int t = std::max(2, int(h / 80 * size));
        const double half = std::clamp(0.16 * size, 0.03, 0.45);
        std::vector<cv::Point> sliver{p.at(0.46 - half, 0), p.at(0.46 - half / 2, 0) - cv::Point(0, t),
                                      p.at(0.46, 0) - cv::Point(0, t / 2), p.at(0.46 + half / 2, 0) - cv::Point(0, t),
                                      p.at(0.46 + half, 0)};
        cv::fillPoly(img, std::vector<std::vector<cv::Point>>{sliver}, tone(240, 190, 120), cv::LINE_AA);
    }
}

void SceneRenderer::drawDefects(cv::Mat& img, unsigned defects, bool partPresent, double size, cv::Point offset) const
{
    const int w = config_.width, h = config_.height, m = std::min(w, h);
    Box p = partBox(w, h);
    if (partPresent) {
        p.x += offset.x;
        p.y += offset.y;
    }
    if (defects & DefectSpot)
        cv::circle(img, p.at(0.3, 0.35), std::max(2, int(m / 80 * size)), tone(35, 35, 35), cv::FILLED, cv::LINE_AA);
    if (defects & DefectColorBlob)
        cv::ellipse(img, p.at(0.68, 0.62), cv::Size(std::max(2, int(w / 32 * size)), std::max(2, int(h / 48 * size))),
                    15, 0, 360, tone(40, 40, 200), cv::FILLED, cv::LINE_AA);
    if (defects & DefectLeftPart) {
        const cv::RotatedRect frag(cv::Point2f(float(p.x + 0.22 * p.w), float(p.y + 0.72 * p.h)),
                                   cv::Size2f(float(w * 0.12 * size), float(h * 0.06 * size)), 20.0f);
        cv::Point2f v[4];
        frag.points(v);
        std::vector<cv::Point> poly(v, v + 4);
        cv::fillConvexPoly(img, poly, tone(225, 160, 90), cv::LINE_AA);
    }
    if (!partPresent && (defects & (DefectShortShot | DefectFlash)) && config_.folderSource) {
        // Recorded pictures: a short shot darkens the far end of the middle.
        if (defects & DefectShortShot) {
            const int gone = std::clamp(int(p.w / 5 * size), 1, p.w / 2);
            cv::Mat far = img(cv::Rect(p.x + p.w - gone, p.y, gone, p.h));
            far.convertTo(far, -1, 0.35, 0.0);
        }
        if (defects & DefectFlash)
            cv::rectangle(img, cv::Rect(p.x + p.w * 3 / 10, p.y - std::max(2, h / 80), p.w / 3, std::max(2, h / 80)),
                          tone(240, 190, 120), cv::FILLED);
    }
}

void SceneRenderer::drawScene(cv::Mat& img, Scene scene, unsigned defects, double size, cv::Point partOffset) const
{
    if (config_.folderSource) {
        drawDefects(img, defects, false, size, partOffset);
    } else if (scene == Scene::Product) {
        drawPart(img, defects, size, partOffset);
        drawDefects(img, defects, true, size, partOffset);
    } else {
        drawDefects(img, defects & (DefectSpot | DefectColorBlob | DefectLeftPart), false, size, partOffset);
    }
}

const cv::Mat& SceneRenderer::baseFor(quint64 index, const RenderState& state, cv::Point partOffset)
{
    const qint64 picture = pictures_.isEmpty() ? -1 : qint64(index % quint64(pictures_.size()));
    const Scene scene = config_.folderSource ? Scene::Product : state.scene;
    if (config_.folderSource || scene != Scene::Product)
        partOffset = cv::Point();
    if (baseValid_ && baseScene_ == scene && baseDefects_ == state.defects && basePicture_ == picture &&
        baseSize_ == state.defectSize && baseContrast_ == state.defectContrast && baseOffset_ == partOffset)
        return base_;
    cv::Mat ground;
    if (config_.folderSource) {
        if (picture >= 0) {
            const ImreadFn read = pictureReader();
            cv::Mat pic = read ? read(pictures_[int(picture)].toStdString(),
                                      channels_ == 1 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR)
                               : cv::Mat();
            if (pic.empty()) {
                qWarning("camera %s: picture %s cannot be read, repeating the last one", qPrintable(config_.serial),
                         qPrintable(pictures_[int(picture)]));
            } else {
                if (pic.cols != config_.width || pic.rows != config_.height)
                    cv::resize(pic, pic, cv::Size(config_.width, config_.height), 0, 0, cv::INTER_AREA);
                lastPicture_ = pic;
            }
        }
        if (lastPicture_.empty())
            lastPicture_ = cv::Mat(config_.height, config_.width, channels_ == 1 ? CV_8UC1 : CV_8UC3, cv::Scalar::all(0));
        ground = lastPicture_;
    } else {
        ground = cavity_;
    }
    base_ = ground.clone();
    drawScene(base_, scene, state.defects, state.defectSize, partOffset);
    if (state.defects && state.defectContrast < 1.0) {
        // A fainter defect: the good scene with only a share of the change.
        cv::Mat good = ground.clone();
        drawScene(good, scene, 0, state.defectSize, partOffset);
        cv::addWeighted(good, 1.0 - state.defectContrast, base_, state.defectContrast, 0.0, base_);
    }
    baseValid_ = true;
    baseScene_ = scene;
    baseDefects_ = state.defects;
    baseSize_ = state.defectSize;
    baseContrast_ = state.defectContrast;
    baseOffset_ = partOffset;
    basePicture_ = picture;
    return base_;
}

void SceneRenderer::render(quint64 index, const RenderState& state, bool colourOut, uchar* out)
{
    const int w = config_.width, h = config_.height;
    const FramePose pose = drift_.pose(index, rendered_);
    ++rendered_;
    const cv::Mat& base = baseFor(index, state, cv::Point(pose.partDx, pose.partDy));
    double gain = state.brightness;
    if (!config_.folderSource) {
        // Vibration, flicker and (with drift) the slow movements of the cell,
        // the same for the same frame number.
        gain *= pose.gain;
        cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(w / 2.0f, h / 2.0f), pose.angle, 1.0);
        m.at<double>(0, 2) += pose.dx;
        m.at<double>(1, 2) += pose.dy;
        cv::warpAffine(base, work_, m, base.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        if (pose.blur > 0.05)
            cv::GaussianBlur(work_, work_, cv::Size(0, 0), pose.blur);
    } else {
        base.copyTo(work_);
    }
    if (channels_ == 1)
        work_.convertTo(work_, -1, gain, 0.0);
    else
        cv::multiply(work_, cv::Scalar(kSensorCast[0] * state.wb[0] * gain, kSensorCast[1] * state.wb[1] * gain,
                                       kSensorCast[2] * state.wb[2] * gain),
                     work_);
    if (pose.noise > 0.0 && !config_.folderSource) {
        cv::Mat noise(work_.size(), CV_MAKETYPE(CV_16S, work_.channels()));
        cv::RNG rng(quint64(config_.seed) * 0x94D049BB133111EBull ^ (index + 1));
        rng.fill(noise, cv::RNG::NORMAL, 0.0, pose.noise);
        cv::Mat sum;
        work_.convertTo(sum, noise.type());
        sum += noise;
        sum.convertTo(work_, work_.type());
    }
    if (state.hMirror || state.vMirror)
        cv::flip(work_, work_, state.hMirror && state.vMirror ? -1 : (state.hMirror ? 1 : 0));

    cv::Mat dst(h, w, colourOut ? CV_8UC4 : CV_8UC1, out);
    if (channels_ == 1)
        colourOut ? cv::cvtColor(work_, dst, cv::COLOR_GRAY2BGRA) : work_.copyTo(dst);
    else
        cv::cvtColor(work_, dst, colourOut ? cv::COLOR_BGR2BGRA : cv::COLOR_BGR2GRAY);
}

cv::Mat SceneRenderer::defectMask(quint64 index, const RenderState& state, int threshold, int f)
{
    const quint64 rendered = rendered_;
    RenderState good = state;
    good.defects = 0;
    cv::Mat a(config_.height, config_.width, CV_8UC1), b(a.size(), CV_8UC1);
    // The noise is the same for the same frame and cancels out.
    render(index, state, false, a.data);
    rendered_ = rendered;
    render(index, good, false, b.data);
    rendered_ = rendered;
    // Outside the band the good frame spans within one pixel, widened by
    // the threshold: edges may sit a pixel off.
    const cv::Mat k3 = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    cv::Mat lo, hi, below, above, mask;
    cv::erode(b, lo, k3);
    cv::dilate(b, hi, k3);
    cv::subtract(lo, cv::Scalar(threshold), lo);
    cv::add(hi, cv::Scalar(threshold), hi);
    cv::compare(a, lo, below, cv::CMP_LT);
    cv::compare(a, hi, above, cv::CMP_GT);
    cv::bitwise_or(below, above, mask);
    if (f > 1)
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(f, f)));
    return mask;
}

}  // namespace mouldcam
