// Input checks and failure logging shared by the matchers (GrayMatch, SURF,
// FindShape). Every check logs why it refused, prefixed with the matcher's
// name.
#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>

#include <exception>

namespace matcherinput {

// False, with a warning, unless width x height is a usable picture size.
inline bool sizeOk(const char* who, int width, int height)
{
    if (width >= 1 && height >= 1)
        return true;
    qWarning("%s: invalid size %dx%d", who, width, height);
    return false;
}

// True when mask is empty or an 8-bit grey picture of the given size; else
// warns "<who>: mask WxH does not fit <against>WxH".
inline bool maskFits(const char* who, const cv::Mat& mask, cv::Size size, const char* against = "")
{
    if (mask.empty() || (mask.type() == CV_8UC1 && mask.cols == size.width && mask.rows == size.height))
        return true;
    qWarning("%s: mask %dx%d does not fit %s%dx%d", who, mask.cols, mask.rows, against, size.width, size.height);
    return false;
}

// True when picture is an 8-bit grey picture of width x height; else warns
// "<who>: <what> WxH (type T) does not fit <against>WxH".
inline bool pictureFits(const char* who, const char* what, const cv::Mat& picture, int width, int height,
                        const char* against = "")
{
    if (picture.type() == CV_8UC1 && picture.cols == width && picture.rows == height)
        return true;
    qWarning("%s: %s %dx%d (type %d) does not fit %s%dx%d", who, what, picture.cols, picture.rows, picture.type(),
             against, width, height);
    return false;
}

// The pixels a matcher works on: all of them (255) when mask is empty, else
// those where mask is at least level (255, the rest 0). May throw cv::Exception.
inline cv::Mat modelMask(const cv::Mat& mask, cv::Size size, int level = 1)
{
    if (mask.empty())
        return cv::Mat(size, CV_8UC1, cv::Scalar(255));
    cv::Mat out;
    cv::compare(mask, level, out, cv::CMP_GE);
    return out;
}

// Logs an exception caught in a matcher as "<who>: <what>: <reason>"
// (cv::Exception is a std::exception with the same text).
inline void warnFailed(const char* who, const char* what, const std::exception& e)
{
    qWarning("%s: %s: %s", who, what, e.what());
}

}  // namespace matcherinput
