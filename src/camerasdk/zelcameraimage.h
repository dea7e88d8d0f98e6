// The media type of a camera's frames and the YUV 4:2:0 to grey conversion.
#pragma once

#include <QJsonObject>

#include <opencv2/core.hpp>

class CameraImage {
public:
    CameraImage() = default;

    // Takes "mediaType" from a picture's head when it has one.
    void setMediaType(const QJsonObject& head);
    int mediaType() const { return mediaType_; }
    // The luminance plane of a YUV 4:2:0 frame as a one-channel grey picture.
    static void tranImageType(const cv::Mat& source, cv::Mat& target);

private:
    int mediaType_ = -1;  // -1 until a head names one
};
