// Renders the frames of one camera: a moulded part on a textured mould (or
// the empty cavity) with a small seeded pose and brightness jitter (or the
// whole seeded drift of a moving cell, driftscene.h), or the pictures of a
// folder in name order; injected defects are drawn on top at their size and
// contrast. Used only by the camera's frame thread (and by the accuracy
// benchmark and its test slice, which render frames directly).
#pragma once

#include "cameraconfig.h"
#include "driftscene.h"

#include <opencv2/core.hpp>

#include <QStringList>

namespace mouldcam {

// What a frame depends on besides its number.
struct RenderState {
    Scene scene = Scene::Product;
    unsigned defects = 0;
    double defectSize = 1.0;      // scale of the defects
    double defectContrast = 1.0;  // share of their full contrast
    bool hMirror = false;
    bool vMirror = false;
    double brightness = 1.0;      // exposure and gain
    double wb[3] = {1, 1, 1};     // white-balance gains B, G, R
};

// The colour cast of the simulated colour sensor (B, G, R), which white
// balance removes step by step.
constexpr double kSensorCast[3] = {0.88, 1.0, 1.12};

// The grey of the metal insert, the brightest surface of the scene: the
// flicker of every frame (up to 3 %) keeps it below white at the designed
// exposure (235 * 1.03 is about 242), so that its template is not over-exposed;
// a raised exposure clips it.
constexpr double kInsertGrey = 235;

class SceneRenderer {
public:
    explicit SceneRenderer(const CameraConfig& config);

    // Pictures found for a folder source (empty for a synthesised scene).
    const QStringList& pictures() const { return pictures_; }

    // Renders frame `index` into `out`: width x height bytes (grey) or
    // width x height x 4 bytes in the RGB32 layout (colourOut).
    void render(quint64 index, const RenderState& state, bool colourOut, uchar* out);
    // The pose and lighting frame `index` is rendered with; frames count
    // from the renderer's construction (the camera's open) for settling.
    FramePose poseOf(quint64 index) const { return drift_.pose(index, rendered_); }
    // The pixels of frame `index` (grey) that the defects of `state` take
    // more than `threshold` grey levels beyond what the good frame shows
    // within one pixel, after an opening with an f x f elliptic kernel (255
    // there): what a judge with that tolerance and filter can see at best.
    cv::Mat defectMask(quint64 index, const RenderState& state, int threshold, int f);

private:
    void buildMould();
    const cv::Mat& baseFor(quint64 index, const RenderState& state, cv::Point partOffset);
    void drawScene(cv::Mat& img, Scene scene, unsigned defects, double size, cv::Point partOffset) const;
    void drawPart(cv::Mat& img, unsigned defects, double size, cv::Point offset) const;
    void drawDefects(cv::Mat& img, unsigned defects, bool partPresent, double size, cv::Point offset) const;
    cv::Scalar tone(double b, double g, double r) const;

    CameraConfig config_;
    int channels_;
    cv::Mat mould_;      // textured mould around the cavity
    cv::Mat cavity_;     // the empty cavity scene
    cv::Mat base_;       // scene with defects, cached by key
    bool baseValid_ = false;
    Scene baseScene_ = Scene::Product;
    unsigned baseDefects_ = 0;
    double baseSize_ = 1.0;
    double baseContrast_ = 1.0;
    cv::Point baseOffset_;
    qint64 basePicture_ = -1;
    DriftScene drift_;
    quint64 rendered_ = 0;
    QStringList pictures_;
    cv::Mat lastPicture_;
    cv::Mat work_;
};

}  // namespace mouldcam
