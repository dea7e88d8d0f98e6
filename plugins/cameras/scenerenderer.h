// Renders the frames of one camera: a moulded part on a textured mould (or
// the empty cavity) with a small seeded pose and brightness jitter, or the
// pictures of a folder in name order; injected defects are drawn on top.
// Used only by the camera's frame thread.
#pragma once

#include "cameraconfig.h"

#include <opencv2/core.hpp>

#include <QStringList>

namespace mouldcam {

// What a frame depends on besides its number.
struct RenderState {
    Scene scene = Scene::Product;
    unsigned defects = 0;
    bool hMirror = false;
    bool vMirror = false;
    double brightness = 1.0;      // exposure and gain
    double wb[3] = {1, 1, 1};     // white-balance gains B, G, R
};

// The colour cast of the simulated colour sensor (B, G, R), which white
// balance removes step by step.
constexpr double kSensorCast[3] = {0.88, 1.0, 1.12};

class SceneRenderer {
public:
    explicit SceneRenderer(const CameraConfig& config);

    // Pictures found for a folder source (empty for a synthesised scene).
    const QStringList& pictures() const { return pictures_; }

    // Renders frame `index` into `out`: width x height bytes (grey) or
    // width x height x 4 bytes in the RGB32 layout (colourOut).
    void render(quint64 index, const RenderState& state, bool colourOut, uchar* out);

private:
    void buildMould();
    const cv::Mat& baseFor(quint64 index, const RenderState& state);
    void drawPart(cv::Mat& img, unsigned defects) const;
    void drawDefects(cv::Mat& img, unsigned defects, bool partPresent) const;
    cv::Scalar tone(double b, double g, double r) const;

    CameraConfig config_;
    int channels_;
    cv::Mat mould_;      // textured mould around the cavity
    cv::Mat cavity_;     // the empty cavity scene
    cv::Mat base_;       // scene with defects, cached by key
    bool baseValid_ = false;
    Scene baseScene_ = Scene::Product;
    unsigned baseDefects_ = 0;
    qint64 basePicture_ = -1;
    QStringList pictures_;
    cv::Mat lastPicture_;
    cv::Mat work_;
};

}  // namespace mouldcam
