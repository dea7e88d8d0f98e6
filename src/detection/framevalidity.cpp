#include "framevalidity.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// The mask (8-bit, of rectangle r) is kept unless it is 255 throughout.
void keepIfNotAllSet(std::vector<std::pair<cv::Rect, cv::Mat>>& parts, const cv::Rect& r, const cv::Mat& mask)
{
    double lowest = 255.0;
    if (r.area() > 0)
        cv::minMaxLoc(mask, &lowest);
    if (lowest < 255.0)
        parts.emplace_back(r, mask);
}

}  // namespace

cv::Mat FrameValidity::allSet(cv::Size frame)
{
    // One picture for every camera and thread, grown to the largest frame
    // asked for; a picture handed out stays alive while it is used.
    static std::mutex mutex;
    static cv::Mat shared;
    std::lock_guard<std::mutex> lock(mutex);
    if (shared.cols < frame.width || shared.rows < frame.height)
        shared = cv::Mat(std::max(shared.rows, frame.height), std::max(shared.cols, frame.width), CV_8UC1,
                         cv::Scalar(255));
    return shared(cv::Rect(0, 0, frame.width, frame.height));
}

FrameValidity FrameValidity::whole(const cv::Mat& mask, cv::Size frame)
{
    FrameValidity v;
    if (!mask.empty() && mask.size() == frame && mask.type() == CV_8UC1)
        keepIfNotAllSet(v.parts_, cv::Rect(0, 0, frame.width, frame.height), mask);
    return v;
}

FrameValidity FrameValidity::ofAffine(cv::Size frame, const cv::Mat& motion)
{
    FrameValidity v;
    if (frame.width <= 0 || frame.height <= 0)
        return v;
    // No pixel moves farther than at a corner of the frame (the displacement
    // of an affine map is affine), so inside a margin of that reach every
    // pixel is filled from inside the frame and only four strips are warped.
    cv::Mat inv;
    cv::invertAffineTransform(motion, inv);
    const double* a = inv.ptr<double>(0);
    const double* b = inv.ptr<double>(1);
    double reach = 0.0;
    for (const cv::Point2d p : {cv::Point2d(0, 0), cv::Point2d(frame.width, 0), cv::Point2d(0, frame.height),
                                cv::Point2d(frame.width, frame.height)})
        reach = std::max(reach, std::hypot(a[0] * p.x + a[1] * p.y + a[2] - p.x, b[0] * p.x + b[1] * p.y + b[2] - p.y));
    const cv::Mat all = allSet(frame);
    // A reach of the frame's size or more leaves no middle untouched.
    const bool far = !std::isfinite(reach) || reach >= std::min(frame.width, frame.height);
    const int m = far ? 0 : static_cast<int>(std::ceil(reach)) + 3;
    if (far || 2 * m >= frame.width || 2 * m >= frame.height) {
        cv::Mat moved;
        cv::warpAffine(all, moved, motion, frame, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
        return whole(moved == 255, frame);
    }
    const cv::Rect strips[4] = {{0, 0, frame.width, m},
                                {0, frame.height - m, frame.width, m},
                                {0, m, m, frame.height - 2 * m},
                                {frame.width - m, m, m, frame.height - 2 * m}};
    for (const cv::Rect& r : strips) {
        // The strip's own pixels: the inverse map shifted to its corner.
        cv::Mat shifted = inv.clone();
        shifted.at<double>(0, 2) += a[0] * r.x + a[1] * r.y;
        shifted.at<double>(1, 2) += b[0] * r.x + b[1] * r.y;
        cv::Mat moved;
        cv::warpAffine(all, moved, shifted, r.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT,
                       cv::Scalar());
        keepIfNotAllSet(v.parts_, r, moved == 255);
    }
    return v;
}

std::vector<std::pair<cv::Rect, cv::Mat>> FrameValidity::partsOver(const cv::Rect& r) const
{
    std::vector<std::pair<cv::Rect, cv::Mat>> out;
    for (const auto& part : parts_) {
        const cv::Rect common = part.first & r;
        if (common.area() > 0)
            out.emplace_back(common - r.tl(), part.second(common - part.first.tl()));
    }
    return out;
}

cv::Mat FrameValidity::over(const cv::Rect& r) const
{
    const std::vector<std::pair<cv::Rect, cv::Mat>> parts = partsOver(r);
    if (parts.empty())
        return cv::Mat();
    if (parts.size() == 1 && parts[0].first.size() == r.size())
        return parts[0].second;
    cv::Mat out(r.size(), CV_8UC1, cv::Scalar(255));
    for (const auto& part : parts)
        part.second.copyTo(out(part.first));
    return out;
}
