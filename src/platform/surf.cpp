#include "surf.h"
#include "matcherinput.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

constexpr double kFlatStd = 2.0;
// Grey-level difference over which a flat sample no longer resembles the picture.
constexpr double kFlatSpan = 32.0;
// Share of the mask that must stay inside the picture once a sample is placed.
constexpr double kMinCoverage = 0.5;

// Similarity 0..100 of two pictures inside a mask.
double maskedSimilarity(const cv::Mat& sample, const cv::Mat& image, const cv::Mat& mask)
{
    if (cv::countNonZero(mask) < 4)
        return 0.0;
    cv::Scalar ma, sa, mb, sb;
    cv::meanStdDev(sample, ma, sa, mask);
    cv::meanStdDev(image, mb, sb, mask);
    if (sa[0] < kFlatStd) {
        // A flat sample: similar while the picture keeps its brightness and
        // shows no structure beyond noise.
        const double off = std::abs(ma[0] - mb[0]) + 2.0 * std::max(0.0, sb[0] - 2.0 * kFlatStd);
        return std::max(0.0, 100.0 * (1.0 - off / kFlatSpan));
    }
    if (sb[0] < kFlatStd)
        return 0.0;
    cv::Mat a, b;
    sample.convertTo(a, CV_32F, 1.0, -ma[0]);
    image.convertTo(b, CV_32F, 1.0, -mb[0]);
    const double cov = cv::mean(a.mul(b), mask)[0];
    return std::clamp(100.0 * cov / (sa[0] * sb[0]), 0.0, 100.0);
}

cv::Mat differences(const cv::Mat& sample, const cv::Mat& image, const cv::Mat& mask, int threshold)
{
    cv::Mat diff;
    cv::absdiff(sample, image, diff);
    cv::compare(diff, threshold, diff, cv::CMP_GT);
    cv::Mat out;
    cv::bitwise_and(diff, mask, out);
    return out;
}

cv::Mat toWorkScale(const cv::Mat& src, int scaleDown, int interpolation)
{
    if (scaleDown <= 1)
        return src.clone();
    const cv::Size sz(std::max(1, (src.cols + scaleDown - 1) / scaleDown),
                      std::max(1, (src.rows + scaleDown - 1) / scaleDown));
    cv::Mat out;
    cv::resize(src, out, sz, 0, 0, interpolation);
    return out;
}

}  // namespace

SURF::SURF() = default;
SURF::~SURF() = default;

bool SURF::IsValid() const
{
    return trained_;
}

void SURF::Clear()
{
    width_ = height_ = 0;
    scaleDown_ = 1;
    minKeyPoints_ = 4;
    goodScore_ = 0;
    trained_ = false;
    mask_.release();
    workMask_.release();
    samples_.clear();
    pending_.clear();
}

int SURF::featureSampleCount() const
{
    int n = 0;
    for (const Sample& s : samples_)
        n += s.useFeatures ? 1 : 0;
    return n;
}

bool SURF::Create(int width, int height, const cv::Mat& mask)
{
    Clear();
    if (!matcherinput::sizeOk("SURF", width, height) ||
        !matcherinput::maskFits("SURF", mask, cv::Size(width, height)))
        return false;
    try {
        mask_ = matcherinput::modelMask(mask, cv::Size(width, height));
        width_ = width;
        height_ = height;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("SURF", "create failed", e);
    }
    Clear();
    return false;
}

bool SURF::AddTemp(const cv::Mat& sample, int scaleDown, int minKeyPoints, int goodScore)
{
    if (width_ < 1) {
        qWarning("SURF: sample added before Create");
        return false;
    }
    if (!matcherinput::pictureFits("SURF", "sample", sample, width_, height_))
        return false;
    try {
        pending_.push_back(sample.clone());
        scaleDown_ = std::clamp(scaleDown, 1, 4);
        minKeyPoints_ = std::max(4, minKeyPoints);
        goodScore_ = std::clamp(goodScore, 0, 100);
        trained_ = false;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("SURF", "sample not added", e);
    }
    return false;
}

bool SURF::Train(int ratioPercent, int reprojPixels, int minInliers, int diffThreshold)
{
    trained_ = false;
    samples_.clear();
    if (pending_.empty()) {
        qWarning("SURF: no samples to train with");
        return false;
    }
    ratio_ = ratioPercent > 0 ? std::clamp(ratioPercent, 1, 99) / 100.0 : 0.75;
    reproj_ = reprojPixels > 0 ? std::clamp(reprojPixels, 1, 50) : 3.0;
    minInliers_ = minInliers > 0 ? std::max(3, minInliers) : 6;
    diffThreshold_ = diffThreshold > 0 ? std::clamp(diffThreshold, 1, 254) : 40;
    try {
        workMask_ = toWorkScale(mask_, scaleDown_, cv::INTER_NEAREST);
        cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
        for (const cv::Mat& p : pending_) {
            Sample s;
            s.picture = toWorkScale(p, scaleDown_, cv::INTER_AREA);
            std::vector<cv::KeyPoint> kps;
            sift->detectAndCompute(s.picture, workMask_, kps, s.descriptors);
            s.useFeatures = static_cast<int>(kps.size()) >= minKeyPoints_;
            if (s.useFeatures) {
                cv::KeyPoint::convert(kps, s.points);
            } else {
                s.descriptors.release();
            }
            samples_.push_back(std::move(s));
        }
        trained_ = true;
        return true;
    } catch (const std::exception& e) {
        matcherinput::warnFailed("SURF", "training failed", e);
    }
    samples_.clear();
    return false;
}

float SURF::Match(const cv::Mat& image, cv::Mat& output) const
{
    try {
        if (image.empty()) {
            output.release();
            return 0.0f;
        }
        // Untaught: no warning, an empty verdict.
        if (!trained_ || !matcherinput::pictureFits("SURF", "picture", image, width_, height_, "the model ")) {
            output.create(image.size(), CV_8UC1);
            output.setTo(0);
            return 0.0f;
        }
        // A copy: the caller's output picture may share its data with the picture.
        const cv::Mat work = toWorkScale(image, scaleDown_, cv::INTER_AREA);

        std::vector<cv::KeyPoint> imgKps;
        cv::Mat imgDesc;
        if (featureSampleCount() > 0) {
            cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
            sift->detectAndCompute(work, cv::noArray(), imgKps, imgDesc);
        }

        double bestScore = -1.0;
        cv::Mat bestDiff;
        cv::BFMatcher matcher(cv::NORM_L2);
        for (const Sample& s : samples_) {
            double score = 0.0;
            cv::Mat diff;
            if (!s.useFeatures) {
                score = maskedSimilarity(s.picture, work, workMask_);
                diff = differences(s.picture, work, workMask_, diffThreshold_);
            } else {
                diff = workMask_.clone();  // nothing explained unless placed
                if (imgDesc.rows >= 2) {
                    std::vector<std::vector<cv::DMatch>> knn;
                    matcher.knnMatch(s.descriptors, imgDesc, knn, 2);
                    std::vector<cv::Point2f> from, to;
                    for (const auto& m : knn) {
                        if (m.size() == 2 && m[0].distance < ratio_ * m[1].distance) {
                            from.push_back(s.points[static_cast<size_t>(m[0].queryIdx)]);
                            to.push_back(imgKps[static_cast<size_t>(m[0].trainIdx)].pt);
                        }
                    }
                    if (static_cast<int>(from.size()) >= minInliers_) {
                        std::vector<uchar> inl;
                        const cv::Mat t =
                            cv::estimateAffinePartial2D(from, to, inl, cv::RANSAC, reproj_, 2000, 0.99, 10);
                        const int inliers = static_cast<int>(std::count(inl.begin(), inl.end(), 1));
                        const double sc = t.empty() ? 0.0 : std::hypot(t.at<double>(0, 0), t.at<double>(1, 0));
                        if (!t.empty() && inliers >= minInliers_ && sc > 0.5 && sc < 2.0) {
                            cv::Mat placed, placedMask;
                            cv::warpAffine(s.picture, placed, t, work.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
                            cv::warpAffine(workMask_, placedMask, t, work.size(), cv::INTER_NEAREST,
                                           cv::BORDER_CONSTANT);
                            const int before = cv::countNonZero(workMask_);
                            const int after = cv::countNonZero(placedMask);
                            if (before > 0 && after >= kMinCoverage * before) {
                                score = maskedSimilarity(placed, work, placedMask);
                                diff = differences(placed, work, placedMask, diffThreshold_);
                                cv::bitwise_and(diff, workMask_, diff);
                            }
                        }
                    }
                }
            }
            if (score > bestScore) {
                bestScore = score;
                bestDiff = diff;
            }
            if (goodScore_ > 0 && score >= goodScore_)
                break;
        }
        output.create(image.size(), CV_8UC1);
        if (bestDiff.empty())
            output.setTo(0);
        else if (bestDiff.size() != image.size())
            cv::resize(bestDiff, output, image.size(), 0, 0, cv::INTER_NEAREST);
        else
            bestDiff.copyTo(output);
        return static_cast<float>(std::max(0.0, bestScore));
    } catch (const std::exception& e) {
        matcherinput::warnFailed("SURF", "match failed", e);
    }
    try {
        output.create(image.size(), CV_8UC1);
        output.setTo(0);
    } catch (const std::exception&) {
        output.release();
    }
    return 0.0f;
}
