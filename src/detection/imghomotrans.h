// Aligns a live frame onto a template picture of the same size by a
// perspective transform: SIFT key points of both pictures are matched with
// the stitching module's best-of-two-nearest matcher, a homography is
// estimated with RANSAC and the frame is warped into the template's
// geometry. Feature work runs on a copy scaled down to about 500000 pixels;
// the matched points are scaled back before the homography is estimated.
//
// One object per detection step, used from one thread at a time. Nothing
// throws.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <vector>

class ImgHomoTrans {
public:
    ImgHomoTrans();

    // Prepares the template's features. mask: empty (whole picture) or 8-bit
    // of the template's size, non-zero where key points may lie. Returns true
    // when the template yields at least minKeyPoints key points; the features
    // are kept and used even when it yields fewer. An empty template, or a
    // mask of another size or type, returns false and changes nothing.
    bool setTemplate(const cv::Mat& templ, const cv::Mat& mask, int minKeyPoints);

    // SIFT features of one 8-bit picture (grey, BGR or BGRA) at the working
    // scale, with the feature mask when it fits. An empty or unusable picture
    // leaves out untouched.
    void findFeature(const cv::Mat& picture, cv::detail::ImageFeatures& out, int index);

    // Aligns frame onto the template into out (frame size). False when no
    // transform was found; out is then not written. frame and out may share
    // their data.
    bool transImageHomo(cv::Mat frame, cv::Mat& out, float matchConf);

    // Feature mask at working scale (empty: whole picture).
    cv::Mat mask;
    // Entry 0: the last frame (image index 0); entry 1: the template (index 1).
    std::vector<cv::detail::ImageFeatures> features;
    // Working scale, at most 1.
    float scale;
    // The transform the last successful transImageHomo applied (3 x 3,
    // frame to template); empty after a failed one.
    cv::Mat lastTransform;
};
