// Synthetic test pictures for the matchers and the detection engine.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace synth {

// A grey picture of random filled discs, ellipses and boxes on a mid-grey
// ground, slightly blurred: rich in corners and blobs, the same for the same
// seed.
inline cv::Mat textured(cv::Size size, std::uint64_t seed, int shapes = 0)
{
    cv::RNG rng(seed);
    cv::Mat img(size, CV_8UC1, cv::Scalar(rng.uniform(70, 130)));
    const int n = shapes > 0 ? shapes : std::max(20, size.area() / 300);
    const int maxR = std::max(4, std::min(size.width, size.height) / 10);
    for (int i = 0; i < n; ++i) {
        const cv::Point c(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const int grey = rng.uniform(0, 256);
        const int r = rng.uniform(2, maxR + 1);
        switch (rng.uniform(0, 3)) {
        case 0:
            cv::circle(img, c, r, cv::Scalar(grey), cv::FILLED, cv::LINE_AA);
            break;
        case 1:
            cv::ellipse(img, c, cv::Size(r, std::max(1, r / 2)), rng.uniform(0, 180), 0, 360, cv::Scalar(grey),
                        cv::FILLED, cv::LINE_AA);
            break;
        default:
            cv::rectangle(img, cv::Rect(c.x - r / 2, c.y - r / 3, r, std::max(1, 2 * r / 3)), cv::Scalar(grey),
                          cv::FILLED);
            break;
        }
    }
    cv::GaussianBlur(img, img, cv::Size(0, 0), 1.0);
    return img;
}

// The picture with Gaussian noise of the given standard deviation added.
inline cv::Mat noisy(const cv::Mat& img, double sigma, std::uint64_t seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(img.size(), CV_16S);
    rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::Mat wide;
    img.convertTo(wide, CV_16S);
    wide += noise;
    cv::Mat out;
    wide.convertTo(out, CV_8U);
    return out;
}

// Rotation by angle degrees (OpenCV's sign) about centre, then a shift.
inline cv::Mat rigidMotion(cv::Point2d centre, double angle, cv::Point2d shift)
{
    cv::Mat m = cv::getRotationMatrix2D(centre, angle, 1.0);
    m.at<double>(0, 2) += shift.x;
    m.at<double>(1, 2) += shift.y;
    return m;
}

inline cv::Point2d apply(const cv::Mat& affine, cv::Point2d p)
{
    return {affine.at<double>(0, 0) * p.x + affine.at<double>(0, 1) * p.y + affine.at<double>(0, 2),
            affine.at<double>(1, 0) * p.x + affine.at<double>(1, 1) * p.y + affine.at<double>(1, 2)};
}

inline cv::Mat moved(const cv::Mat& img, const cv::Mat& affine)
{
    cv::Mat out;
    cv::warpAffine(img, out, affine, img.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

// Mean absolute grey difference of two pictures inside a rectangle.
inline double meanDiff(const cv::Mat& a, const cv::Mat& b, cv::Rect r)
{
    cv::Mat d;
    cv::absdiff(a(r), b(r), d);
    return cv::mean(d)[0];
}

}  // namespace synth
