// Where an aligned picture shows pixels of the captured frame (255) and
// where the alignment brought them in from beyond its edges (0).
//
// After the positioning's small turn and shift only strips along the frame's
// edges can be anything but 255, so only those parts are kept: a judgement
// neither allocates nor fills a frame of 255 per camera, and a region away
// from the edges is not masked at all (masking it with 255 would change
// nothing). Every pixel outside the kept parts is 255.
#pragma once

#include <opencv2/core.hpp>

#include <utility>
#include <vector>

class FrameValidity {
public:
    // Every pixel the frame's own.
    FrameValidity() = default;
    // A mask of the whole frame (8-bit, 255 where valid); one of another
    // size or type, or an empty one, leaves every pixel valid.
    static FrameValidity whole(const cv::Mat& mask, cv::Size frame);
    // Exactly the pixels of warpAffine(255 everywhere, motion, frame,
    // INTER_LINEAR, BORDER_CONSTANT 0) that stay 255: those filled from
    // inside the frame alone.
    static FrameValidity ofAffine(cv::Size frame, const cv::Mat& motion);

    // True when no pixel was brought in.
    bool allValid() const { return parts_.empty(); }
    // The mask over r (which lies inside the frame), or an empty Mat when
    // every pixel of r is valid. It may share pixels with this object.
    cv::Mat over(const cv::Rect& r) const;
    // The kept parts within r: their rectangles relative to r and their
    // masks there (sharing pixels with this object). Every pixel of r
    // outside them is valid.
    std::vector<std::pair<cv::Rect, cv::Mat>> partsOver(const cv::Rect& r) const;

    // A picture of `frame` that is 255 everywhere, shared and never
    // written: the source the validity of a transform is warped from.
    static cv::Mat allSet(cv::Size frame);

private:
    // Disjoint rectangles and their masks (8-bit, of the rectangle's size).
    std::vector<std::pair<cv::Rect, cv::Mat>> parts_;
};
