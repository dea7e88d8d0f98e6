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

// warpAffine's own view of a transform: the inverse it works out from the
// matrix, and the fixed-point source position it gives every target pixel
// (whole source pixel and a 1/32 fraction, from steps of 1/1024 counted from
// the frame's corner). Working a strip's pixels out the same way gives the
// very values warping the whole frame would; warping the strip alone, its
// corner moved into the matrix, rounds differently at some pixels.
class InverseMap {
public:
    explicit InverseMap(const cv::Mat& motion)
    {
        cv::Mat m;
        motion.convertTo(m, CV_64F);
        const double* r0 = m.ptr<double>(0);
        const double* r1 = m.ptr<double>(1);
        double d = r0[0] * r1[1] - r0[1] * r1[0];
        d = d != 0 ? 1.0 / d : 0.0;
        m_[0] = r1[1] * d;
        m_[1] = -r0[1] * d;
        m_[3] = -r1[0] * d;
        m_[4] = r0[0] * d;
        m_[2] = -m_[0] * r0[2] - m_[1] * r1[2];
        m_[5] = -m_[3] * r0[2] - m_[4] * r1[2];
    }

    // 255 where the warped frame of 255 stays 255 over r, else 0.
    cv::Mat validOver(const cv::Mat& all, const cv::Rect& r) const
    {
        constexpr int kAbBits = 10, kInterBits = 5, kTab = 1 << kInterBits;
        constexpr int kAbScale = 1 << kAbBits, kRoundDelta = kAbScale / kTab / 2;
        cv::Mat xy(r.size(), CV_16SC2), fraction(r.size(), CV_16UC1);
        std::vector<int> dx(r.width), dy(r.width);
        for (int x = 0; x < r.width; ++x) {
            dx[x] = cv::saturate_cast<int>(m_[0] * (r.x + x) * kAbScale);
            dy[x] = cv::saturate_cast<int>(m_[3] * (r.x + x) * kAbScale);
        }
        for (int y = 0; y < r.height; ++y) {
            const int row = r.y + y;
            const int x0 = cv::saturate_cast<int>((m_[1] * row + m_[2]) * kAbScale) + kRoundDelta;
            const int y0 = cv::saturate_cast<int>((m_[4] * row + m_[5]) * kAbScale) + kRoundDelta;
            short* whole = xy.ptr<short>(y);
            ushort* part = fraction.ptr<ushort>(y);
            for (int x = 0; x < r.width; ++x) {
                const int sx = (x0 + dx[x]) >> (kAbBits - kInterBits);
                const int sy = (y0 + dy[x]) >> (kAbBits - kInterBits);
                whole[2 * x] = cv::saturate_cast<short>(sx >> kInterBits);
                whole[2 * x + 1] = cv::saturate_cast<short>(sy >> kInterBits);
                part[x] = static_cast<ushort>((sy & (kTab - 1)) * kTab + (sx & (kTab - 1)));
            }
        }
        cv::Mat moved;
        cv::remap(all, moved, xy, fraction, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
        return moved == 255;
    }

private:
    double m_[6] = {};
};

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
    const InverseMap map(motion);
    for (const cv::Rect& r : strips)
        keepIfNotAllSet(v.parts_, r, map.validOver(all, r));
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
