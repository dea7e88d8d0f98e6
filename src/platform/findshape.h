// Positioning matcher: finds a trained part again in a picture, with its
// displacement and, when asked, its rotation.
//
// The model is a set of sample points of the template cut (grey value and
// offset from the cut's centre), taken on every level of an image pyramid.
// The search is an exhaustive normalised cross-correlation over positions
// and rotated copies of the point set on the coarsest level, followed by a
// refinement level by level down to full resolution.
//
// Results are given the way the detection engine applies them:
//   x = refX - cx, y = refY - cy, where (cx, cy) is the position of the
//   model centre found in the searched picture and (refX, refY) the
//   reference given at training. Shifting the frame by (x - left edge of the
//   searched cut, y - top edge) puts the part back on its trained place.
//   angle is the rotation (degrees, positive counter-clockwise as OpenCV's
//   getRotationMatrix2D turns) that, applied about the reference point after
//   the shift, undoes the part's rotation. It is 0 when no angle range was
//   trained.
//
// No operation throws and no state is shared between objects, so engines of
// several cameras may search at the same time.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

class FindShape {
public:
    FindShape();
    ~FindShape();

    // True once a model has been created successfully.
    bool IsValid() const;
    void Clear();

    // Builds the model from an 8-bit grey template cut.
    //   angleStep    finest angle step in degrees; 0 or less chooses it from
    //                the model size.
    //   angleCentre  nominal angle of the part (degrees); the search covers
    //                angleCentre +- angleRange.
    //   angleRange   0 searches shifts only; clamped to 180.
    //   refX, refY   reference position reported back by Find (usually the
    //                cut's centre in frame coordinates).
    //   ignorePolarity  also accept the part with inverted contrast.
    //   maskLevel    mask pixels at or above this value belong to the model
    //                (taken as 1..255).
    //   mask         empty (whole cut) or 8-bit of the cut's size.
    //   accuracy     0..10: more sample points per level for higher values.
    //   levels       most pyramid levels to use (1 = full resolution only);
    //                fewer are used when the model would get too small.
    // Returns false (and leaves the object invalid) on unusable input: empty,
    // not 8-bit grey, smaller than 8 x 8, a mask of another size or type,
    // fewer than 32 model pixels, or a template without contrast.
    bool CreateShape(const cv::Mat& templ, double angleStep, int angleCentre, int angleRange, int refX,
                     int refY, bool ignorePolarity, int maskLevel, cv::Mat mask, int accuracy, int levels);

    // Searches the model in an 8-bit grey picture at least as large as the
    // template cut. minScore is the acceptance score in percent (1..100);
    // other values take the built-in 50. On success fills x, y and angle as
    // described above and returns true; score (percent) is filled in any
    // case when the search ran. Any output pointer may be null.
    bool Find(const cv::Mat& image, int minScore, int* x, int* y, double* score, double* angle) const;
    // The same search with the displacement to a fraction of a pixel (the
    // correlation peak interpolated at the found angle): shift = (x, y) as
    // above before rounding.
    bool Find(const cv::Mat& image, int minScore, cv::Point2d* shift, double* score, double* angle) const;

    int modelWidth() const { return width_; }
    int modelHeight() const { return height_; }
    int levelCount() const { return static_cast<int>(levels_.size()); }

    struct Point {
        float dx, dy;  // offset from the model centre on its level
        float t;       // template grey value
    };
    struct Level {
        std::vector<Point> points;
        double angleStep = 1.0;  // degrees moving the outermost point by about one pixel
    };

private:
    std::vector<Level> levels_;
    int width_ = 0;
    int height_ = 0;
    int refX_ = 0;
    int refY_ = 0;
    double angleCentre_ = 0.0;
    double angleRange_ = 0.0;
    bool ignorePolarity_ = false;
};
