// Feature similarity of one ROI: a score 0..100 of how well a picture shows
// what the template samples show, and a picture of what does not fit.
//
// Samples rich in key points are compared through SIFT features: matches
// that pass the ratio test are checked for one common geometry (a RANSAC
// similarity transform); the sample is then laid over the picture with that
// transform and the score is the normalised correlation of the two inside
// the mask. Samples with few key points are compared by that correlation
// directly, without moving them. The best sample gives the result.
//
// (The maker's matcher of this name used SURF features, which this OpenCV
// build does not offer; SIFT takes their place.)
//
// No operation throws and nothing is shared between objects.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

class SURF {
public:
    SURF();
    ~SURF();

    // True after a successful Train (and until Clear or the next Create).
    bool IsValid() const;
    void Clear();

    // Starts a new model for width x height samples. mask: empty (whole
    // picture) or 8-bit of that size, non-zero where the ROI lies.
    bool Create(int width, int height, const cv::Mat& mask);

    // Adds one 8-bit grey sample of the created size.
    //   scaleDown     features are found on a copy reduced by this factor
    //                 (1 = full size; taken as 1..4).
    // The last sample's scaleDown, minKeyPoints and goodScore apply to all
    // samples; features are found by Train.
    //   minKeyPoints  samples with fewer key points inside the mask are
    //                 compared by correlation alone (taken as 4 at least).
    //   goodScore     a sample scoring at least this ends the comparison
    //                 early when several samples are trained (0: never).
    bool AddTemp(const cv::Mat& sample, int scaleDown, int minKeyPoints, int goodScore);

    // Finishes training. Each argument 0 takes its default:
    //   ratioPercent    Lowe ratio test in percent (75)
    //   reprojPixels    RANSAC reprojection limit in pixels (3)
    //   minInliers      geometric matches needed to trust a placement (6)
    //   diffThreshold   grey difference marked in the output picture (40)
    // False without samples.
    bool Train(int ratioPercent, int reprojPixels, int minInliers, int diffThreshold);

    // Scores an 8-bit grey picture of the created size. output becomes an
    // 8-bit picture of the picture's size: 255 inside the mask where the
    // best sample, laid over the picture, differs by more than the
    // difference threshold, or over the whole mask when no sample could be
    // placed. Untrained, or for a picture of another size or type: score 0
    // and an all-zero output.
    float Match(const cv::Mat& image, cv::Mat& output) const;

    int width() const { return width_; }
    int height() const { return height_; }
    int sampleCount() const { return static_cast<int>(samples_.size()); }
    // Samples compared through features (the others by correlation only).
    int featureSampleCount() const;

    struct Sample {
        cv::Mat picture;  // working scale
        std::vector<cv::Point2f> points;  // key point positions, working scale
        cv::Mat descriptors;
        bool useFeatures = false;
    };

private:
    int width_ = 0;
    int height_ = 0;
    int scaleDown_ = 1;
    int minKeyPoints_ = 4;
    int goodScore_ = 0;
    bool trained_ = false;
    double ratio_ = 0.75;
    double reproj_ = 3.0;
    int minInliers_ = 6;
    int diffThreshold_ = 40;
    cv::Mat mask_;      // full size, 255 inside
    cv::Mat workMask_;  // working scale
    std::vector<cv::Mat> pending_;  // samples as added, full size
    std::vector<Sample> samples_;    // prepared by Train
};
