// The per-camera buffers and verdicts the detection engine works on: the
// frame buffers a picture travels through, the template slots, ignore masks
// and ROI masks it trains from, and the results it writes back.
//
// The camera view derives from it and owns (allocates and frees) every
// buffer; the engine only reads and writes them. Buffers not yet allocated
// are null. Picture buffers are plain byte arrays, rows one after another:
// 8-bit grey, or 32-bit RGB (0xffRRGGBB words) when `gisColor` is set.
#pragma once

#include "cammersingleton.h"
#include "globals.h"

#include <QVector>

#include <opencv2/core.hpp>

#include <functional>

struct CamBuffers {
    static constexpr int kMaxDefectRects = 99;   // per ROI; record 0 holds the count

    CamBuffers() = default;
    CamBuffers(const CamBuffers&) = delete;
    CamBuffers& operator=(const CamBuffers&) = delete;

    int cameraIndex = 0;                     // 0-based; files and texts use index + 1
    int imageWidth = 0;
    int imageHeight = 0;
    int pixelCount = 0;                      // imageWidth x imageHeight
    int frameBytes = 0;                      // pixel count x 4 with gisColor, else pixel count

    // ---- Frame buffers -------------------------------------------------------
    uchar* captureFrame = nullptr;           // frameBytes, target of the camera's getImage()
    uchar* workFrame = nullptr;              // frameBytes, after homography
    uchar* alignedFrame = nullptr;           // frameBytes, after positioning: the judged picture
    uchar* greyScratch = nullptr;            // pixel count, colour cameras only
    uchar* resultImage = nullptr;            // pixel count, the engine's defect image

    CammerSingleton* savedRecord = nullptr;  // as saved in PARAM.db; the engine judges with it
    CammerSingleton* editRecord = nullptr;   // the copy the ROI page edits

    // ---- Results ----------------------------------------------------------------
    bool stepOk = true;                      // the camera's result of the current step
    bool roiPassed[kMaxDetect][kMaxRoi];     // 1 pass
    int roiValue[kMaxDetect][kMaxRoi] = {};  // each ROI's last measured value
    int roiArea[kMaxDetect][kMaxRoi] = {};   // summed defect blob area of each ROI's last judgement
    // Per ROI: record 0's first int is the count n (at most 99); records
    // 1..n hold (x1, y1, x2, y2) in frame pixels.
    int defectRects[kMaxDetect][kMaxRoi][kMaxDefectRects + 1][4] = {};
    bool previewShown = false;               // the engine's preview run is to be painted

    // ---- Templates and ignore masks (per step) ---------------------------------
    // Only a step that is judged has them (a step switched off has no slots
    // and no mask); a slot's buffer exists while it holds a template, slot 0
    // always.
    QVector<uchar*> templates[kMaxDetect];   // gTempNum slots of frameBytes, or null
    QVector<int> tempUsed[kMaxDetect];       // gTempNum flags, 1 = the slot holds a template
    int tempCount[kMaxDetect] = {};          // slots in use
    int tempIndex = 0;                       // template shown on the ROI page
    uchar* ignoreMask[kMaxDetect] = {};      // pixel count; 255 = pixel not judged

    // ---- ROI masks ---------------------------------------------------------------
    cv::Mat editMasks[kMaxDetect][kMaxRoi];  // masks of the edited ROIs
    cv::Mat liveMasks[kMaxDetect][kMaxRoi];  // masks the engine uses

    // Number of steps the per-step buffers were made for (8 in detection
    // mode 3, else gDNum, at most 8; 0 when nothing per step was made).
    int stepCount() const { return steps; }

    // The view's repaint, installed by the view; the engine asks for it after
    // a preview or a judgement.
    std::function<void()> onRepaint;
    void requestRepaint() const
    {
        if (onRepaint)
            onRepaint();
    }

protected:
    int steps = 0;
};
