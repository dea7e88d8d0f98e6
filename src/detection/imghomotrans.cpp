#include "imghomotrans.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <cmath>
#include <exception>
#include <limits>

namespace {

constexpr float kWorkPixels = 500000.0f;

// The matcher's search trees are built with OpenCV's random numbers of the
// calling thread, so that a frame's alignment would depend on what that
// thread did before (and on which thread judges it). Every alignment starts
// from the same numbers instead, and the thread's own are given back after.
class FixedRandom {
public:
    FixedRandom() : saved_(cv::theRNG()) { cv::theRNG() = cv::RNG(0x5eed); }
    ~FixedRandom() { cv::theRNG() = saved_; }
    FixedRandom(const FixedRandom&) = delete;
    FixedRandom& operator=(const FixedRandom&) = delete;

private:
    cv::RNG saved_;
};

bool usablePicture(const cv::Mat& m)
{
    return !m.empty() && m.depth() == CV_8U && (m.channels() == 1 || m.channels() == 3 || m.channels() == 4);
}

// SIFT features of picture at the given working scale. False (out
// untouched) when the picture cannot be used or OpenCV fails.
bool computeFeatures(const cv::Mat& picture, float scale, const cv::Mat& mask, cv::detail::ImageFeatures& out,
                     int index)
{
    if (picture.empty())
        return false;
    if (!usablePicture(picture)) {
        qWarning("ImgHomoTrans: picture type %d cannot be used for features", picture.type());
        return false;
    }
    try {
        cv::Ptr<cv::SIFT> detector = cv::SIFT::create(0, 3, 0.04, 10.0, 1.6);
        cv::Mat grey;
        if (picture.channels() == 3)
            cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
        else if (picture.channels() == 4)
            cv::cvtColor(picture, grey, cv::COLOR_BGRA2GRAY);
        else
            grey = picture;
        cv::Mat work;
        cv::resize(grey, work, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
        cv::detail::ImageFeatures f;
        if (!mask.empty() && mask.type() == CV_8UC1 && mask.size() == work.size())
            cv::detail::computeImageFeatures(detector, work, f, mask);
        else
            cv::detail::computeImageFeatures(detector, work, f);
        f.img_idx = index;
        out = std::move(f);
        return true;
    } catch (const cv::Exception& e) {
        qWarning("ImgHomoTrans: features not found: %s", e.what());
    } catch (const std::exception& e) {
        qWarning("ImgHomoTrans: features not found: %s", e.what());
    }
    return false;
}

bool overlaps(const cv::Mat& a, const cv::Mat& b)
{
    return !a.empty() && !b.empty() && a.datastart < b.dataend && b.datastart < a.dataend;
}

}  // namespace

ImgHomoTrans::ImgHomoTrans() : features(2), scale(1.0f) {}

bool ImgHomoTrans::setTemplate(const cv::Mat& templ, const cv::Mat& mask, int minKeyPoints)
{
    features.resize(2);
    const float area = static_cast<float>(templ.rows * templ.cols);
    if (area <= 0.0f)
        return false;
    if (!usablePicture(templ)) {
        qWarning("ImgHomoTrans: template type %d cannot be used", templ.type());
        return false;
    }
    // The mask is checked before anything changes: the stored template
    // features must always belong to the stored scale and mask.
    if (!mask.empty() && (mask.type() != CV_8UC1 || mask.size() != templ.size())) {
        qWarning("ImgHomoTrans: mask %dx%d (type %d) does not fit the template %dx%d", mask.cols, mask.rows,
                 mask.type(), templ.cols, templ.rows);
        return false;
    }
    try {
        const float newScale = std::min(1.0f, std::sqrt(kWorkPixels / area));
        cv::Mat newMask;
        if (!mask.empty())
            cv::resize(mask, newMask, cv::Size(), newScale, newScale, cv::INTER_LINEAR_EXACT);
        cv::detail::ImageFeatures f;
        if (!computeFeatures(templ, newScale, newMask, f, 1))
            return false;
        scale = newScale;
        this->mask = newMask;
        features[1] = std::move(f);
        return static_cast<int>(features[1].keypoints.size()) >= minKeyPoints;
    } catch (const cv::Exception& e) {
        qWarning("ImgHomoTrans: template not set: %s", e.what());
    } catch (const std::exception& e) {
        qWarning("ImgHomoTrans: template not set: %s", e.what());
    }
    return false;
}

void ImgHomoTrans::findFeature(const cv::Mat& picture, cv::detail::ImageFeatures& out, int index)
{
    computeFeatures(picture, scale, mask, out, index);
}

bool ImgHomoTrans::transImageHomo(cv::Mat frame, cv::Mat& out, float matchConf)
{
    lastTransform.release();
    if (frame.empty())
        return false;
    if (!usablePicture(frame)) {
        qWarning("ImgHomoTrans: frame type %d cannot be aligned", frame.type());
        return false;
    }
    features.resize(2);
    if (features[1].keypoints.size() < 4)
        return false;  // no usable template
    try {
        // Never match against the features of an earlier frame.
        features[0] = cv::detail::ImageFeatures();
        findFeature(frame, features[0], 0);
        if (features[0].keypoints.size() < 4 || features[0].descriptors.type() != features[1].descriptors.type())
            return false;

        std::vector<cv::detail::MatchesInfo> pairwise;
        {
            const FixedRandom sameNumbers;
            cv::detail::BestOf2NearestMatcher matcher(false, matchConf, 6, 6);
            matcher(features, pairwise);
            matcher.collectGarbage();
        }

        std::vector<cv::Point2f> src, dst;
        const auto& fk = features[0].keypoints;
        const auto& tk = features[1].keypoints;
        for (size_t p = 0; p < pairwise.size() && p < 2; ++p) {
            for (const cv::DMatch& m : pairwise[p].matches) {
                if (m.queryIdx < 0 || m.trainIdx < 0 || static_cast<size_t>(m.queryIdx) >= fk.size() ||
                    static_cast<size_t>(m.trainIdx) >= tk.size())
                    continue;
                src.push_back(fk[static_cast<size_t>(m.queryIdx)].pt / scale);
                dst.push_back(tk[static_cast<size_t>(m.trainIdx)].pt / scale);
            }
        }
        if (src.size() < 4)
            return false;

        const cv::Mat h = cv::findHomography(src, dst, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
        if (h.empty())
            return false;
        // A (nearly) singular transform would squash the frame to a line.
        if (std::abs(cv::determinant(h)) < std::numeric_limits<double>::epsilon())
            return false;

        if (overlaps(frame, out)) {
            cv::Mat warped;
            cv::warpPerspective(frame, warped, h, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
            warped.copyTo(out);
        } else {
            cv::warpPerspective(frame, out, h, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
        }
        lastTransform = h;
        return true;
    } catch (const cv::Exception& e) {
        qWarning("ImgHomoTrans: alignment failed: %s", e.what());
    } catch (const std::exception& e) {
        qWarning("ImgHomoTrans: alignment failed: %s", e.what());
    }
    return false;
}
