// How a moulding cell moves over a long run, frame by frame: slow lighting
// drift and flicker, sensor noise, slow shifts and rotations of the mould
// with a little vibration, slight blur, a part that sits a little off its
// place on the ejector, and the settling exposure of the first frames after
// the camera was opened. Everything follows from the seed and the frame
// numbers, so a run can be repeated exactly.
#pragma once

#include <QtGlobal>

#include <vector>

namespace mouldcam {

struct DriftSettings {
    bool on = false;
    quint64 start = 0;       // frame number the slow movements start from
    quint64 period = 3000;   // frames of one slow lighting swing
    double lighting = 0.15;  // slow lighting drift, share of the nominal
    double flicker = 0.03;   // frame-to-frame lighting flicker, share
    double noise = 2.0;      // sensor noise, grey levels (standard deviation)
    double shift = 20.0;     // slow mould shift, pixels at 1280 columns
    double rotation = 2.0;   // slow mould rotation, degrees
    double blur = 0.8;       // largest blur (Gaussian sigma, pixels)
    int partOffset = 1;      // the part sits up to this many pixels (at 1280 columns, at least 1) off its place
    int settleFrames = 3;    // frames after opening whose exposure still settles
};

// One frame's pose and lighting.
struct FramePose {
    double gain = 1.0;
    double dx = 0.0, dy = 0.0;  // pixels
    double angle = 0.0;         // degrees, about the picture centre
    double blur = 0.0;          // Gaussian sigma; 0 none
    double noise = 0.0;         // grey levels
    int partDx = 0, partDy = 0;
};

class DriftScene {
public:
    DriftScene(const DriftSettings& settings, quint32 seed, int width);

    // The pose of frame `index` (frames since the camera object was made),
    // the `sinceOpen`-th frame rendered since the last open.
    FramePose pose(quint64 index, quint64 sinceOpen) const;

private:
    DriftSettings s_;
    quint32 seed_;
    double pixelScale_;
    double phase_[5];
};

// One defect of the scene set: its kind (a Defect bit of cameraconfig.h),
// whether it shows on the product (else in the emptied cavity), and its size
// scale and contrast share.
struct DefectCase {
    unsigned defect = 0;
    bool onProduct = true;
    double size = 1.0;
    double contrast = 1.0;
    const char* name = "";
};

// Every defect kind at every given size and contrast, on the scene where it
// shows: short shot, flash, colour blob, spot and missing insert on the
// product, a part left in the mould in the emptied cavity.
std::vector<DefectCase> defectCases(const std::vector<double>& sizes, const std::vector<double>& contrasts);

}  // namespace mouldcam
