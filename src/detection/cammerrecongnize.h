// The detection engine of one camera.
//
// It holds what is prepared ahead of detection for the 8 detection steps and
// their up to 100 ROIs each: the homography template of every step, the
// positioning model and search rectangle of every step, the mask of pixels
// that are judged at all, and the trained comparison matchers of each ROI.
// Per detection it aligns the captured frame with the step's template
// (homography, then positioning) and judges every ROI of the step, writing
// the verdicts back into its camera view.
//
// The engine reads the view's saved per-camera record, its frame buffers,
// template slots, ignore masks and ROI masks. Training and previews run on
// the GUI thread. A judgement (HomoTransShape, ShapeMatch(step), Run) may run
// on another thread beside the other cameras' while the GUI thread waits: it
// writes only this engine and its view, reads parameter words and globals
// nobody writes meanwhile, and with heldRecords set keeps its operation-record
// texts for the GUI thread instead of writing them. Nothing throws.
#pragma once

#include "findshape.h"
#include "framevalidity.h"
#include "graymatch.h"
#include "imghomotrans.h"
#include "param_roi.h"
#include "surf.h"

#include <QStringList>
#include <QtGlobal>

#include <opencv2/core.hpp>

#include <functional>

class CammerSingleton;
struct CamBuffers;

class CammerRecong {
public:
    static constexpr int kSteps = 8;
    static constexpr int kRois = 100;
    static constexpr int kMaxDefectRects = 99;

    // ROI function numbers with a role of their own.
    enum Function : int {
        kGreyTemplate = 0,
        kGreyBand = 1,
        kExclusion = 2,
        kPositioning = 3,
        kDarkPixels = 4,
        kBrightPixels = 5,
        kFeature = 6,
        kBrightBlobs = 7,
        kDarkBlobs = 8,
        kColourBox = 9,
        kHomography = 10,
    };

    // Faults of one ROI that keep it from being judged.
    enum Fault : int {
        kFaultMask = -1,      // no shape mask, or one that does not fit the rectangle
        kFaultStepMask = -2,  // the step's judged-pixel mask was never built
        kFaultRect = -3,      // empty rectangle, or one reaching outside the frame
    };

    // Stores both pointers and trains every enabled step (word StepEnabled0 + step):
    // CreateHomoShape, CreateShape, VarTrain.
    CammerRecong(CammerSingleton* rec, CamBuffers* view);
    CammerRecong(const CammerRecong&) = delete;
    CammerRecong& operator=(const CammerRecong&) = delete;

    // ---- Set-up and training ------------------------------------------------
    // The step's homography template from its first template slot and the
    // feature mask of its function-10 ROIs.
    void CreateHomoShape(int step);
    // The step's positioning model, reference point and search rectangle.
    void CreateShape(int step);
    // The step's judged-pixel mask and every GrayMatch / SURF of the step.
    void VarTrain(int step);
    // Drops everything trained for the step (the step is no longer judged).
    void ForgetStep(int step);
    // dst = 255 where lo <= pixel <= hi, else 0 (8-bit grey source).
    void ThresholdFUNC(cv::Mat src, cv::Mat& dst, int lo, int hi);

    // ---- Alignment and judging ----------------------------------------------
    // captureFrame -> workFrame through the step's homography (word 154).
    // Returns 1.
    int HomoTransShape(int step);
    // workFrame -> alignedFrame through the positioning model of the step.
    void ShapeMatch(int step);
    // The same for the main window's current detection step.
    void ShapeMatch();
    // Judges every ROI of the step on alignedFrame.
    void Run(int step);
    // A whole judgement of the step on the captured frame (homography,
    // positioning, ROIs), its operation-record texts appended to `records`
    // for the caller to write (see heldRecords).
    void JudgeHeld(int step, QStringList* records);
    // Preview of one ROI of the edited record on the shown template.
    void RunTest(int step, int roi);

    // How many pixels of the region (inside its shape, less the pixels the
    // step never judges) are saturated in the template pictures it was last
    // trained on: a region compared with its templates (functions 0 and 6)
    // cannot see darkening there, since the true value behind a clipped
    // pixel is unknown. 0 for the other functions and untrained regions.
    int saturatedPixels(int step, int roi) const;

    // The rectangle and mask of ROI i of the step in `record` with the given
    // masks (index step * 100 + i), checked against a frame of frameSize.
    // Returns 0 when usable, else kFaultMask or kFaultRect.
    static int roiGeometry(const CammerSingleton& record, const cv::Mat* masks, int step, int i,
                           cv::Size frameSize, cv::Rect* rect, cv::Mat* mask);
    // Bounding rectangle of the ROI's shape in picture pixels.
    static cv::Rect boundingRect(const CammerSingleton& record, int step, int i);
    // The step's default rectangle: the frame's middle, reaching the right
    // and bottom edges.
    static cv::Rect defaultRect(cv::Size frame);
    // Opening of a binary defect picture with an f x f elliptic kernel (f
    // taken as 1 at least).
    static void openDefects(const cv::Mat& src, cv::Mat& dst, int f);

    CammerSingleton* rec = nullptr;
    CamBuffers* view = nullptr;
    // While set, the operation-record texts of a judgement are appended here
    // and written by whoever set it (the record table belongs to the GUI
    // thread); while null they are written at once.
    QStringList* heldRecords = nullptr;
    cv::Mat stepMask[kSteps];
    GrayMatch grayMatch[kSteps][kRois];
    SURF surf[kSteps][kRois];
    ImgHomoTrans homo[kSteps];
    double templNorm[kSteps] = {};
    FindShape findShape[kSteps];
    int refX[kSteps] = {};
    int refY[kSteps] = {};
    cv::Rect searchRect[kSteps];

private:
    void trainHomography(int step);
    void trainPositioning(int step);
    void trainMatchers(int step);
    int homography(int step);
    // The positioning of a step in two phases: where the part is (false
    // when no place is believed), then the frame moved there (false when
    // the moved frame fits the template worse than the unmoved one).
    struct Placement;
    void positioning(int g);
    bool findPlacement(int g, const cv::Mat& work, Placement& at);
    bool applyPlacement(int g, const cv::Mat& work, const Placement& at);
    // The judgement of a step in phases: the pictures every region is
    // compared on, each region's comparison (on any worker, writing only
    // its own defect boxes), then its verdict in region order.
    struct StepPictures;
    struct Compared;
    void judgeStep(int step);
    StepPictures stepPictures(int step);
    void compareRoi(int step, int i, const StepPictures& pictures, Compared& out);
    void recordVerdict(int step, int i, const Compared& done, cv::Mat& result);
    void recordFault(int step, int i, int fault, const param_roi& record);
    // The verdict of region j (step * kRois + i) from its comparison; sets
    // the value it is judged by and the record's words the verdict uses.
    bool passes(int j, const Compared& done, param_roi& record, int* value) const;
    void preview(int step, int roi);
    bool stepReady(int step) const;
    int word(int n) const;
    cv::Size frameSize() const;
    bool framesReady() const;
    // The template pictures of the step that training uses, as stored.
    std::vector<const uchar*> usedSlots(int step) const;
    // The same as 8-bit grey.
    std::vector<cv::Mat> usedTemplates(int step);
    // 255 where one of the step's used template pictures is at the top of
    // its range: grey 255, or on a colour camera any channel at 255 (its
    // grey and its hue are both made from the three channels).
    cv::Mat saturatedMask(int step) const;
    // Band or matcher output of one ROI before the opening.
    void fillDefects(int step, int i, int func, int p1, int p2, int p3, const cv::Mat& picture,
                     const cv::Mat& colour, const cv::Mat& judged, cv::Mat& defects, float* score);
    int filterSize(int func, int p3) const;
    bool colourWarned_ = false;
    // Per step and region, saturatedPixels as of the step's last training.
    int saturated_[kSteps][kRois] = {};
    // 255 where the picture after the homography (work) and after the
    // positioning (aligned) shows pixels of the captured frame, 0 where the
    // alignment brought them in from outside it. Empty: every pixel is the
    // frame's own. The aligned mask applies to the next judgement only.
    cv::Mat workValid_;
    FrameValidity alignedValid_;
    // Per step the rectangle the positioning model was cut from.
    cv::Rect positionRect_[kSteps];
    // Whether the template at the step's positioning rectangle looks more
    // like `moved` (with `movedValid`, 255 where it shows the frame's own
    // pixels) than like `unmoved` (coarse, so a pixel or two of vibration
    // does not count).
    bool fitsBetter(int step, const cv::Mat& moved, const FrameValidity& movedValid, const cv::Mat& unmoved) const;
};
