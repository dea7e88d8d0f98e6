// The per-camera view: owns one camera object, the frame buffers of that
// camera, the camera's two parameter records and its detection engine, and
// shows the camera's picture with the ROI overlay.
//
// A frame travels through three buffers: the camera's picture lands in
// `captureFrame`, the homography step writes `workFrame`, the positioning
// step writes `alignedFrame`, and the engine judges `alignedFrame`. The
// engine writes its verdicts back into the view (`stepOk`, `roiPassed`,
// `roiValue`, `defectRects`, `resultImage`).
//
// Picture buffers are plain byte arrays, rows one after another: 8-bit grey,
// or 32-bit RGB (0xffRRGGBB words) when `gisColor` is set. The view owns
// every buffer below and frees them in its destructor; buffers not yet
// allocated are null.
//
// GUI thread only.
#pragma once

#include "camerainterface.h"
#include "cammersingleton.h"
#include "globals.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

#include <opencv2/core.hpp>

class QTimer;
class RiVuRevezi;
class WizardPara;
class CammerRecong;

// Side of the size hint square the main window draws while its hint timer
// runs (set by the ROI parameter sliders, cleared when the ROI page opens).
extern int gDrawHint;

class CammerWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRecentPictures = 10;   // recent NG pictures per step
    static constexpr int kDeviceTextBytes = 100;
    static constexpr int kMaxDefectRects = 99;   // per ROI; record 0 holds the count
    static constexpr int kMaxPolyPoints = 8096;

    // Builds the view of camera `camera` (0-based) for the listed camera.
    // When the camera cannot be created or opened, construction stops early
    // with `opened` false; the main window then destroys the view.
    CammerWidget(RiVuRevezi* parent, int camera, _cameraInfo info);
    ~CammerWidget() override;

    // ---- Camera control ----------------------------------------------------
    void CameraOpen();
    // Every setting of the live record `gpWPara` in one setting() call.
    void initSetting();
    // Settings screen controls: the source record is `gpWParaBak` while the
    // settings screen is visible, else `gpWPara`.
    void SetExposeTime();
    void SetAdjustPlus();
    void SetSharp();
    void SetContrast();
    void SetGamma();
    void SetWDR();
    void SetHMirror();
    void SetVMirror();
    void SetWB();
    // Always from `gpWPara`.
    void SetSpeed();
    void CameraChangeTrig(bool on);
    int CameraStart();
    void CameraStop();
    void CameraClose();
    // Pulls one frame into `captureFrame`; true when a frame came. In the
    // live source and free-running mode the frame is also shown.
    bool UpdateImage();
    // Software trigger, simulated cameras only.
    void ManualUpdateImage();
    // The camera's defaults into the working copy `gpWParaBak`.
    void RestoreDefaultSettings();
    // Hands the saved record to the camera (updateROI).
    void HotCameraUpdateROI();

    // The record the settings setters read: `gpWParaBak` while the settings
    // screen is visible, else `gpWPara`.
    static WizardPara* SettingSource();

    // ---- Templates, ignore masks, fault pictures ---------------------------
    // The buffers are allocated (zeroed) by the constructor; these fill and
    // write them (cammerwidget_faultpic.cpp).
    // Reads ./cammer<c><d>/template<n>.bmp into `templates`, `tempUsed`,
    // `tempCount` of every step; slot 0 always ends up holding a template.
    void LoadTemplate();
    void SaveReTrainImage(int step);
    void LoadIgnorePoint();
    void SaveIgnorePoint(int step);
    void SaveFailImage(int step, int which);
    void UpdateFailImage(int step, int which);

    // Recent NG picture `slot` of `step` (frameBytes bytes), allocated and
    // zeroed on first use; null for an index outside 0..7 / 0..9 or before
    // the camera opened.
    uchar* ngPicture(int step, int slot);

    // Number of steps the per-step buffers were made for (8 in detection
    // mode 3, else gDNum, at most 8; 0 when nothing per step was made).
    int stepCount() const { return steps; }
    // Whether a reconnect is under way (the camera was lost and is not back).
    bool reconnecting() const;
    // What a record load borrows from this view: the full-view scale and
    // the engine masks `liveMasks`.
    RoiViewLink roiViewLink();

    // ---- Identity and camera -------------------------------------------------
    int cameraIndex = 0;                     // 0-based; files and texts use index + 1
    QString pluginName;
    char deviceText[kDeviceTextBytes] = {};  // first bytes of the device block: serial first
    PluginCamera* camera = nullptr;          // owned; null when no plug-in matched
    bool opened = false;
    bool isSimulated = false;
    bool alive = true;
    int lossCount = 0;
    int fps = 0;

    // ---- Picture geometry ----------------------------------------------------
    int imageWidth = 0;
    int imageHeight = 0;
    int pixelCount = 0;
    int frameBytes = 0;                      // pixelCount x 4 with gisColor, else pixelCount
    float fullScaleX = 1.0f;                 // gShowW / imageWidth (full-view scale)
    float fullScaleY = 1.0f;                 // gShowH / imageHeight
    float showSW = 1.0f;                     // widget width / imageWidth
    float showSH = 1.0f;
    float winSW = 1.0f;                      // widget width / gShowW
    float winSH = 1.0f;

    // ---- Frame buffers -------------------------------------------------------
    uchar* captureFrame = nullptr;           // frameBytes, target of getImage()
    uchar* workFrame = nullptr;              // frameBytes, after homography
    uchar* alignedFrame = nullptr;           // frameBytes, after positioning: the judged picture
    uchar* displayFrame = nullptr;           // frameBytes, the picture the view paints
    uchar* rgbCanvas = nullptr;              // pixelCount x 4: fault pictures and overlay
    QImage viewImage;                        // 32-bit RGB image over rgbCanvas
    uchar* greyScratch = nullptr;            // pixelCount, colour cameras only
    uchar* resultImage = nullptr;            // pixelCount, the engine's defect image

    // ---- Records and engine --------------------------------------------------
    CammerSingleton* savedRecord = nullptr;  // as saved in PARAM.db; the engine judges with it
    CammerSingleton* editRecord = nullptr;   // the copy the ROI page edits
    CammerRecong* engine = nullptr;

    // ---- Results (written by the engine and the main window) ------------------
    bool stepOk = true;                      // the camera's result of the current step
    bool untrained[kMaxDetect] = {};         // capture a new template at the next run
    bool stepSettled[kMaxDetect] = {};       // the step's result needs no judging this cycle
    bool roiPassed[kMaxDetect][kMaxRoi];     // 1 pass
    int roiValue[kMaxDetect][kMaxRoi] = {};  // each ROI's last measured value
    int roiArea[kMaxDetect][kMaxRoi] = {};   // summed defect blob area of each ROI's last judgement
    // Per ROI: record 0's first int is the count n (at most 99); records
    // 1..n hold (x1, y1, x2, y2) in frame pixels.
    int defectRects[kMaxDetect][kMaxRoi][kMaxDefectRects + 1][4] = {};
    bool previewShown = false;               // the engine's preview run is to be painted

    // ---- Templates and ignore masks (per step) ---------------------------------
    QVector<uchar*> templates[kMaxDetect];   // gTempNum slots of frameBytes
    QVector<int> tempUsed[kMaxDetect];       // gTempNum flags, 1 = the slot holds a template
    int tempCount[kMaxDetect] = {};          // slots in use
    int tempIndex = 0;                       // template shown on the ROI page
    uchar* ignoreMask[kMaxDetect] = {};      // pixelCount; 255 = pixel not judged

    // ---- Recent NG pictures (ring per step) -------------------------------------
    uchar* ngPictures[kMaxDetect][kRecentPictures] = {};   // see ngPicture()
    QString ngCaptions[kMaxDetect][kRecentPictures];       // time text per picture
    int ngCount[kMaxDetect] = {};            // pictures written; slot = count mod 10
    int ngIndex = 0;                         // picture shown on the ROI page

    // ---- Alarm display ---------------------------------------------------------
    int blink = 0;                           // 0 off, 1 blink on (defect pixels shown), 2 ignored points shown
    QTimer* alarmTimer = nullptr;            // started by the result check while NG
    QTimer* fpsTimer = nullptr;              // polls the frame rate every 1000 ms

    // ---- ROI masks and editing state ---------------------------------------------
    cv::Mat editMasks[kMaxDetect][kMaxRoi];  // masks of the edited ROIs
    cv::Mat liveMasks[kMaxDetect][kMaxRoi];  // masks the engine uses
    int curRoi = -1;
    int lastRoi = -1;
    int editAction = 0;                      // 0 none, 1 drawing, 2 moving, 3 resizing, 5 pressed
    bool shapeDrag = false;
    bool polygonActive = false;
    bool pressSeen = false;
    int handleIndex = -1;
    QPoint startPoint;
    QPoint lastPoint;
    ClustomRect tempRect;
    Circle tempCircle;
    QPoint polyPoints[kMaxPolyPoints];
    int polyPointCount = 0;
    bool polygonClosed = false;
    QPoint labelAnchor;
    QPoint pickPoint;
    int objectIndex = 0;
    int moveMode = 0;
    bool halfShown = false;

    // ---- ROI editing by touch and the parameter panel ----------------------------
    // (defined with the touch editing and the panel; the ROI page calls them)
    // Makes `roi` of the current step current (-1 none).
    void setCurRoi(int roi);
    // No ROI current, no edit under way.
    void DeselectROI();
    // Removes ROI `roi` of the current step (later ones move down) and the
    // ignored points inside it.
    void DeleteROI(int roi);
    // Stores the polygon being drawn.
    void SavePolygon();
    // editMasks := liveMasks, and liveMasks := editMasks (shared steps kept).
    void BackMask();
    void RestorMask();
    // Copies the ROIs of the shared detections of the saved record.
    void CopyPara();
    // Rebuilds the ROI parameter panel for the current ROI.
    void ShowHideROIPara();

public slots:
    void TimerFPS();
    void TimerShowAlarm();
    // The camera lost its device: warn, log, and reconnect every 1000 ms
    // until it is back (driven by a timer; returns at once).
    void SlotLoss();

protected:
    // The shown frame (`displayFrame`) scaled to the widget.
    void paintEvent(QPaintEvent* event) override;

private slots:
    void TryReconnect();

private:
    void AllocateFrameBuffers();
    void AllocateStepBuffers();
    void FreeBuffers();

    int steps = 0;
    QTimer* reconnectTimer = nullptr;
};
