#include "zelcameraimage.h"

#include <opencv2/imgproc.hpp>


void CameraImage::setMediaType(const QJsonObject& head)
{
    if (head.contains(QStringLiteral("mediaType")))
        mediaType_ = head.value(QStringLiteral("mediaType")).toInt();
}

void CameraImage::tranImageType(const cv::Mat& source, cv::Mat& target)
{
    // A frame of the wrong shape gives an empty picture, never an exception.
    try {
        cv::cvtColor(source, target, cv::COLOR_YUV2GRAY_420);
    } catch (const cv::Exception&) {
        target.release();
    }
}
