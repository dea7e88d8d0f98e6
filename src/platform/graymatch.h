// Grey template comparison of one ROI: a per-pixel variation model.
//
// Training collects the darkest and the brightest value every pixel took in
// the template samples, widens that band by a small erosion/dilation (so
// that edges may sit a pixel off) and by the taught variation times the
// amplification, and adds an absolute tolerance that falls as the
// sensitivity rises. Matching marks every pixel inside the training mask
// whose grey value leaves its band. The band follows the lighting: matching
// first measures the picture's overall brightness against the samples (the
// median ratio over the mask, so local defects do not move it) and scales
// the taught values of the band by it, within a factor of 1.6 (darker or
// brighter pictures than that are judged against the band as taught); the
// absolute tolerance stays in grey levels whatever the light.
//
// No operation throws and nothing is shared between objects.
#pragma once

#include <opencv2/core.hpp>

class GrayMatch {
public:
    GrayMatch();
    ~GrayMatch();

    // True after a successful Train (and until Clear or the next Create).
    bool IsValid() const;
    // Forgets size, mask, samples and model.
    void Clear();

    // Starts a new model for width x height samples. mask: empty (every
    // pixel judged) or 8-bit of that size, non-zero where pixels are judged.
    // shiftTolerance: how many pixels an edge may move between the samples
    // and the judged picture beyond the one always allowed (taken as 0..5).
    // False on a bad size or mask; the object is then cleared.
    bool Create(int width, int height, const cv::Mat& mask, int shiftTolerance);

    // Adds one 8-bit grey sample of the created size. False (nothing added)
    // for any other picture or before Create.
    bool AddTemp(const cv::Mat& sample);

    // Builds the model from the samples added since Create.
    //   sensitivity    0..100; higher values tolerate less deviation.
    //   amplify        0..4; widens the variation the samples showed by
    //                  amplify/4 of its width on each side.
    //   tolerancePercent  scales the absolute tolerance (100 = as is).
    //   maxTolerance   absolute tolerance in grey levels at sensitivity 0.
    // False without samples.
    bool Train(int sensitivity, int amplify, int tolerancePercent, int maxTolerance);

    // defects becomes an 8-bit picture of the image's size, 255 where a
    // pixel inside the mask leaves its band. Without a model, or for an
    // image that is not 8-bit grey of the trained size, defects is all zero.
    void Match(const cv::Mat& image, cv::Mat& defects) const;

    int width() const { return width_; }
    int height() const { return height_; }
    int sampleCount() const { return samples_; }
    // Absolute tolerance in grey levels used by the last Train.
    int tolerance() const { return tolerance_; }
    // The brightness of `image` relative to the samples that Match follows
    // (1 without a model or for a picture that does not fit).
    double lightingGain(const cv::Mat& image) const;

private:
    int width_ = 0;
    int height_ = 0;
    int shift_ = 0;
    int samples_ = 0;
    int tolerance_ = 0;
    bool trained_ = false;
    cv::Mat mask_;            // 8-bit, 255 where judged
    cv::Mat minImg_, maxImg_;  // 8-bit running extremes of the samples
    cv::Mat lower_, upper_;    // 16-bit signed acceptance band
    cv::Mat middle_;           // 8-bit middle of the samples' range
    cv::Mat clippedHigh_, clippedLow_;  // 255 where the samples were saturated white / black
};
