#include "graymatch.h"
#include "matcherinput.h"

#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

namespace {
// Sensor noise never counts as a defect, however high the sensitivity.
constexpr int kMinTolerance = 2;
constexpr int kMaxShiftTolerance = 5;
// How far the band follows the lighting, and the smallest change followed.
constexpr double kMaxGain = 1.6;
constexpr double kMinGainStep = 0.01;
// Pixels darker than this in the samples say little about the lighting.
constexpr int kMinLitGrey = 24;
// Every k-th row and column is enough to measure the lighting.
constexpr int kGainStride = 3;
constexpr int kGainBins = 512;
constexpr double kGainBinWidth = 2.0 / kGainBins;
}  // namespace

GrayMatch::GrayMatch() = default;
GrayMatch::~GrayMatch() = default;

bool GrayMatch::IsValid() const
{
    return trained_;
}

void GrayMatch::Clear()
{
    width_ = height_ = shift_ = samples_ = tolerance_ = 0;
    trained_ = false;
    mask_.release();
    minImg_.release();
    maxImg_.release();
    lower_.release();
    upper_.release();
    middle_.release();
    clippedHigh_.release();
    clippedLow_.release();
}

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int shiftTolerance)
{
    Clear();
    if (!matcherinput::sizeOk("GrayMatch", width, height) ||
        !matcherinput::maskFits("GrayMatch", mask, cv::Size(width, height)))
        return false;
    try {
        mask_ = matcherinput::modelMask(mask, cv::Size(width, height));
        width_ = width;
        height_ = height;
        shift_ = std::clamp(shiftTolerance, 0, kMaxShiftTolerance);
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("GrayMatch", "create failed", e);
    }
    Clear();
    return false;
}

bool GrayMatch::AddTemp(const cv::Mat& sample)
{
    if (width_ < 1) {
        qWarning("GrayMatch: sample added before Create");
        return false;
    }
    if (!matcherinput::pictureFits("GrayMatch", "sample", sample, width_, height_))
        return false;
    try {
        if (samples_ == 0) {
            minImg_ = sample.clone();
            maxImg_ = sample.clone();
        } else {
            cv::min(minImg_, sample, minImg_);
            cv::max(maxImg_, sample, maxImg_);
        }
        ++samples_;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("GrayMatch", "sample not added", e);
    }
    return false;
}

bool GrayMatch::Train(int sensitivity, int amplify, int tolerancePercent, int maxTolerance)
{
    trained_ = false;
    if (samples_ < 1) {
        qWarning("GrayMatch: no samples to train with");
        return false;
    }
    try {
        const double s = std::clamp(sensitivity, 0, 100);
        const int amp = std::clamp(amplify, 0, 4);
        const double scale = std::clamp(tolerancePercent, 1, 1000) / 100.0;
        const double maxTol = std::clamp(maxTolerance, 1, 255);
        const double rest = (100.0 - s) / 100.0;
        tolerance_ = std::max(kMinTolerance, static_cast<int>(std::lround(maxTol * rest * rest * scale)));

        const int k = 2 * (1 + shift_) + 1;
        const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(k, k));
        cv::Mat lo, hi;
        cv::erode(minImg_, lo, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
        cv::dilate(maxImg_, hi, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
        // Where the samples were saturated their true value is unknown:
        // under other light the band must not end at the clipped value.
        cv::compare(hi, 255, clippedHigh_, cv::CMP_GE);
        cv::compare(lo, 0, clippedLow_, cv::CMP_LE);
        lo.convertTo(lo, CV_16S);
        hi.convertTo(hi, CV_16S);
        cv::Mat extra;
        cv::subtract(hi, lo, extra);  // taught variation, >= 0
        extra = extra * (amp / 4.0);
        cv::subtract(lo, extra, lower_);
        cv::subtract(lower_, cv::Scalar(tolerance_), lower_);
        cv::add(hi, extra, upper_);
        cv::add(upper_, cv::Scalar(tolerance_), upper_);
        cv::addWeighted(minImg_, 0.5, maxImg_, 0.5, 0.0, middle_);
        trained_ = true;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("GrayMatch", "training failed", e);
    }
    return false;
}

double GrayMatch::lightingGain(const cv::Mat& image) const
{
    if (!trained_ || image.type() != CV_8UC1 || image.cols != width_ || image.rows != height_ ||
        middle_.size() != image.size())
        return 1.0;
    // Median of picture / sample middle over the judged, lit pixels.
    int hist[kGainBins] = {};
    int n = 0;
    for (int y = 0; y < image.rows; y += kGainStride) {
        const uchar* im = image.ptr<uchar>(y);
        const uchar* mid = middle_.ptr<uchar>(y);
        const uchar* m = mask_.ptr<uchar>(y);
        for (int x = 0; x < image.cols; x += kGainStride) {
            if (!m[x] || mid[x] < kMinLitGrey)
                continue;
            const double ratio = static_cast<double>(im[x]) / mid[x];
            ++hist[std::min(kGainBins - 1, static_cast<int>(ratio / kGainBinWidth))];
            ++n;
        }
    }
    if (n == 0)
        return 1.0;
    int seen = 0;
    int bin = 0;
    while (bin < kGainBins - 1 && seen + hist[bin] <= n / 2)
        seen += hist[bin++];
    const double gain = std::clamp((bin + 0.5) * kGainBinWidth, 1.0 / kMaxGain, kMaxGain);
    return std::abs(gain - 1.0) < kMinGainStep ? 1.0 : gain;
}

void GrayMatch::Match(const cv::Mat& image, cv::Mat& defects) const
{
    try {
        if (image.empty()) {
            defects.release();
            return;
        }
        // Worked out aside: the caller's defect picture may share its data
        // with the picture.
        cv::Mat result = cv::Mat::zeros(image.size(), CV_8UC1);
        if (!trained_) {
            // nothing taught: nothing deviates
        } else if (matcherinput::pictureFits("GrayMatch", "picture", image, width_, height_, "the model ")) {
            cv::Mat img16, below, above;
            image.convertTo(img16, CV_16S);
            const double gain = lightingGain(image);
            // Scaled copies: the model itself never changes while matching.
            cv::Mat lower = lower_, upper = upper_;
            if (gain != 1.0) {
                lower = cv::Mat();
                upper = cv::Mat();
                // The taught values follow the light; the tolerance is
                // sensor noise in grey levels and does not: scaled with the
                // band it would hide a faint defect under a picture brighter
                // than the (often darker) first frames the samples came from.
                const double keep = tolerance_ * (gain - 1.0);
                lower_.convertTo(lower, CV_16S, gain, keep);
                upper_.convertTo(upper, CV_16S, gain, -keep);
                // A sensor saturates: near-white (within the tolerance, as
                // noise leaves it) stays acceptable wherever the brighter
                // light would push the band past white, and where the samples
                // were saturated the band stays open on that side.
                cv::min(lower, cv::Scalar(255 - tolerance_), lower);
                upper.setTo(cv::Scalar(SHRT_MAX), clippedHigh_);
                lower.setTo(cv::Scalar(SHRT_MIN), clippedLow_);
            }
            cv::compare(img16, lower, below, cv::CMP_LT);
            cv::compare(img16, upper, above, cv::CMP_GT);
            cv::bitwise_or(below, above, below);
            cv::bitwise_and(below, mask_, result);
        }
        defects.create(image.size(), CV_8UC1);
        result.copyTo(defects);
    } catch (const std::exception& e) {
        matcherinput::warnFailed("GrayMatch", "match failed", e);
    }
}
