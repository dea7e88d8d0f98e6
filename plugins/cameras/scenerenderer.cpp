#include "scenerenderer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>

#include <algorithm>
#include <cmath>

namespace mouldcam {

namespace {

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
    : config_(config), channels_(config.color ? 3 : 1)
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

void SceneRenderer::drawPart(cv::Mat& img, unsigned defects) const
{
    const int w = config_.width, h = config_.height, m = std::min(w, h);
    const Box p = partBox(w, h);
    fillRoundedRect(img, p, m / 30, tone(225, 160, 90));
    // Two ribs and a boss in the middle.
    const int rib = std::max(1, p.h / 22);
    for (double fy : {0.25, 0.75})
        cv::rectangle(img, cv::Rect(p.x + p.w / 5, p.y + int(fy * p.h) - rib / 2, p.w * 3 / 5, rib), tone(200, 135, 70),
                      cv::FILLED);
    cv::circle(img, p.at(0.5, 0.5), std::max(2, m / 14), tone(235, 170, 90), cv::FILLED, cv::LINE_AA);
    cv::circle(img, p.at(0.5, 0.5), std::max(1, m / 30), tone(200, 128, 55), cv::FILLED, cv::LINE_AA);
    if (defects & DefectShortShot) {
        // The melt did not reach the far end: the cavity shows through.
        const cv::Rect missing(p.x + p.w * 4 / 5, p.y, p.w - p.w * 4 / 5, p.h);
        cavity_(missing).copyTo(img(missing));
    }
    if (defects & DefectFlash) {
        const int t = std::max(2, h / 80);
        std::vector<cv::Point> sliver{p.at(0.3, 0), p.at(0.38, 0) - cv::Point(0, t), p.at(0.5, 0) - cv::Point(0, t / 2),
                                      p.at(0.58, 0) - cv::Point(0, t), p.at(0.62, 0)};
        cv::fillPoly(img, std::vector<std::vector<cv::Point>>{sliver}, tone(240, 190, 120), cv::LINE_AA);
    }
}

void SceneRenderer::drawDefects(cv::Mat& img, unsigned defects, bool partPresent) const
{
    const int w = config_.width, h = config_.height, m = std::min(w, h);
    const Box p = partBox(w, h);
    if (defects & DefectSpot)
        cv::circle(img, p.at(0.3, 0.35), std::max(2, m / 80), tone(35, 35, 35), cv::FILLED, cv::LINE_AA);
    if (defects & DefectColorBlob)
        cv::ellipse(img, p.at(0.68, 0.62), cv::Size(std::max(2, w / 32), std::max(2, h / 48)), 15, 0, 360,
                    tone(40, 40, 200), cv::FILLED, cv::LINE_AA);
    if (defects & DefectLeftPart) {
        const cv::RotatedRect frag(cv::Point2f(float(p.x + 0.22 * p.w), float(p.y + 0.72 * p.h)),
                                   cv::Size2f(float(w) * 0.12f, float(h) * 0.06f), 20.0f);
        cv::Point2f v[4];
        frag.points(v);
        std::vector<cv::Point> poly(v, v + 4);
        cv::fillConvexPoly(img, poly, tone(225, 160, 90), cv::LINE_AA);
    }
    if (!partPresent && (defects & (DefectShortShot | DefectFlash)) && config_.folderSource) {
        // Recorded pictures: a short shot darkens the far end of the middle.
        if (defects & DefectShortShot) {
            cv::Mat far = img(cv::Rect(p.x + p.w * 4 / 5, p.y, p.w - p.w * 4 / 5, p.h));
            far.convertTo(far, -1, 0.35, 0.0);
        }
        if (defects & DefectFlash)
            cv::rectangle(img, cv::Rect(p.x + p.w * 3 / 10, p.y - std::max(2, h / 80), p.w / 3, std::max(2, h / 80)),
                          tone(240, 190, 120), cv::FILLED);
    }
}

const cv::Mat& SceneRenderer::baseFor(quint64 index, const RenderState& state)
{
    const qint64 picture = pictures_.isEmpty() ? -1 : qint64(index % quint64(pictures_.size()));
    const Scene scene = config_.folderSource ? Scene::Product : state.scene;
    if (baseValid_ && baseScene_ == scene && baseDefects_ == state.defects && basePicture_ == picture)
        return base_;
    if (config_.folderSource) {
        if (picture >= 0) {
            cv::Mat pic = cv::imread(pictures_[int(picture)].toStdString(),
                                     channels_ == 1 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
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
        base_ = lastPicture_.clone();
        drawDefects(base_, state.defects, false);
    } else {
        base_ = cavity_.clone();
        if (scene == Scene::Product) {
            drawPart(base_, state.defects);
            drawDefects(base_, state.defects, true);
        } else {
            drawDefects(base_, state.defects & (DefectSpot | DefectColorBlob | DefectLeftPart), false);
        }
    }
    baseValid_ = true;
    baseScene_ = scene;
    baseDefects_ = state.defects;
    basePicture_ = picture;
    return base_;
}

void SceneRenderer::render(quint64 index, const RenderState& state, bool colourOut, uchar* out)
{
    const int w = config_.width, h = config_.height;
    const cv::Mat& base = baseFor(index, state);
    double gain = state.brightness;
    if (!config_.folderSource) {
        // Small camera vibration and flicker, the same for the same frame number.
        cv::RNG rng(quint64(config_.seed) * 0x9E3779B97F4A7C15ull ^ (index * 0xBF58476D1CE4E5B9ull + 7));
        const double scale = w / 1280.0;
        const double dx = rng.uniform(-1.5, 1.5) * scale, dy = rng.uniform(-1.5, 1.5) * scale;
        const double angle = rng.uniform(-0.4, 0.4);
        gain *= rng.uniform(0.97, 1.03);
        cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(w / 2.0f, h / 2.0f), angle, 1.0);
        m.at<double>(0, 2) += dx;
        m.at<double>(1, 2) += dy;
        cv::warpAffine(base, work_, m, base.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    } else {
        base.copyTo(work_);
    }
    if (channels_ == 1)
        work_.convertTo(work_, -1, gain, 0.0);
    else
        cv::multiply(work_, cv::Scalar(kSensorCast[0] * state.wb[0] * gain, kSensorCast[1] * state.wb[1] * gain,
                                       kSensorCast[2] * state.wb[2] * gain),
                     work_);
    if (state.hMirror || state.vMirror)
        cv::flip(work_, work_, state.hMirror && state.vMirror ? -1 : (state.hMirror ? 1 : 0));

    cv::Mat dst(h, w, colourOut ? CV_8UC4 : CV_8UC1, out);
    if (channels_ == 1)
        colourOut ? cv::cvtColor(work_, dst, cv::COLOR_GRAY2BGRA) : work_.copyTo(dst);
    else
        cv::cvtColor(work_, dst, colourOut ? cv::COLOR_BGR2BGRA : cv::COLOR_BGR2GRAY);
}

}  // namespace mouldcam
