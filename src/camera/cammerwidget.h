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
#include "cambuffers.h"
#include "cammersingleton.h"
#include "globals.h"
#include "ngpicturering.h"
#include "roieditor.h"
#include "roipanel.h"
#include "viewpicture.h"

#include <QImage>
#include <QSize>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTransform>
#include <QVector>
#include <QWidget>

#include <opencv2/core.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <vector>

class QTimer;
class QPainter;
class WizardPara;
class CammerRecong;
class QDateTime;

// What a camera view needs of the ROI tool page. The page installs these
// once (CammerWidget::setPageLink); a member left empty does nothing.
struct RoiPageLink {
    // The polygon button shows "end current polygon" (a polygon was begun).
    std::function<void()> startDrawPloygn;
    // A double press ended a shape: the page's drawing buttons decide what
    // happens next (SlotDrawPloygn stores the polygon through the region editor).
    std::function<void()> drawPloygn;
    std::function<void()> drawHand;
    std::function<void()> drawRect;
    std::function<void()> drawCircle;
    // A press on a tiled view during an NG chose this camera: the page's
    // camera combo follows.
    std::function<void(int camera)> selectCamera;
    // The stored OK/NG picture the page shows for sources 3 and 4.
    struct StoredPicture {
        int camera = 0;          // 0-based
        int step = 0;
        int count = 0;           // pictures in the folder
        int index = 0;           // 0-based picture shown
        QString name;            // file name without ".jpg"
        const QImage* picture = nullptr;
    };
    std::function<StoredPicture()> storedPicture;
};

// What the live view overlays on an NG (CammerWidget::blink()): nothing, the
// defect pixels (in their blink phase), or the ignored points.
namespace Blink {
enum : int { Off = 0, Defects = 1, IgnoredPoints = 2 };
}

class CammerWidget : public QWidget, public CamBuffers {
    Q_OBJECT
public:
    static constexpr int kRecentPictures = NgPictureRing::kPictures;   // recent NG pictures per step
    static constexpr int kRoiLabelPixels = 20;   // smallest region label on the screen
    // The region labels the last paint drew: plate (view pixels), text size, text.
    struct DrawnLabel {
        QRect plate;
        int pixels = 0;
        QString text;
    };
    const QVector<DrawnLabel>& drawnLabels() const { return drawnLabels_; }
    static constexpr int kDeviceTextBytes = 100;

    // Builds the view of camera `camera` (0-based) for the listed camera.
    // When the camera cannot be created or opened, construction stops early
    // with `opened` false; the main window then destroys the view, or keeps
    // it for a camera the parameters expect (WaitForCamera).
    CammerWidget(QWidget* parent, int camera, _cameraInfo info);
    ~CammerWidget() override;
    // A camera the parameters expect that did not open: the view is built
    // for pictures of `size` (its templates' size), counts as missing (not
    // alive) and tries to open its camera every second off the GUI thread.
    // The camera is taken once it opens at that size and fast enough.
    void WaitForCamera(QSize size);
    // Waiting for its camera (WaitForCamera), not yet taken.
    bool waitingForCamera() const { return waiting_; }
    // Why a waiting camera is not judged, for the run screen (empty: it is
    // not waiting).
    QString missingWord() const;

    // ---- Camera control ----------------------------------------------------
    void CameraOpen();
    // Every setting of the live record `gpWPara` in one setting() call.
    void initSetting();
    // What initSetting() sends (`gpWPara` must be loaded).
    QJsonObject liveSettings() const;
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
    // The live view's pull: the camera's newest frame into `captureFrame`,
    // without waiting for the device (through getNewestImage where the
    // camera offers it); true when a frame not pulled before was there. In
    // the live source and free-running mode the frame is also shown; in
    // trigger mode (word ExternalTrigger) nothing is pulled: each triggered
    // frame is left for the cycle's pull.
    bool UpdateImage();
    // UpdateImage in two halves: the pull (the camera's frame into
    // captureFrame) and, later, the copy to the screen of a frame pulled
    // while the view was live. The cycle shows the picture after the outputs,
    // in trigger mode too: there the screen shows each step's judged picture.
    bool PullFrame();
    void ShowPulledFrame();
    // PullFrame in two halves for cameras read at the same time: whether
    // the camera can give a frame now and may be read off the GUI thread
    // (GUI thread); the camera's frame into captureFrame (any thread, while
    // the GUI thread waits); the frame taken as pulled (GUI thread).
    bool CanGrabOffGuiThread() const;
    bool GrabFrame();
    void TakeGrabbedFrame();
    // The cycle's pull of a step's picture: from a camera that tells when
    // its frames came (kImageSinceSignature), the newest frame that came at
    // `sinceNs` (steady clock) or later, waiting up to `waitMs` for one; any
    // other camera is read through getImage(). Threads as GrabFrame.
    bool GrabFrameSince(qint64 sinceNs, int waitMs);
    // Whether the camera tells when its frames came (GUI thread).
    bool framesTimed();
    // When the frame in captureFrame came (steady clock, ns): as the camera
    // tells, else when it was pulled; 0 for a frame of such a camera taken
    // without its time (the live view's).
    qint64 frameCameNs() const { return frameCameNs_; }
    // The camera's frame interval measured when it opened or came back (ms;
    // 0: the camera does not tell).
    int frameIntervalMs() const { return frameIntervalMs_; }
    // The slowest frame interval the cycle can wait for: a camera measured
    // slower at its opening is refused (not opened), at a reconnect it stays
    // lost. The cycle waits for a step's picture up to 1.5 intervals after
    // the countdown, the SDK's pull 1.5 s, a camera's loss watch 3 s.
    static constexpr int kSlowestFrameIntervalMs = 1100;
    // The frame interval of a camera refused as too slow at its latest
    // opening attempt (0: none refused).
    int refusedIntervalMs() const { return refusedIntervalMs_; }
    // GrabFrame that never waits for the device (see kNewestImageSignature);
    // a camera without that operation is read through getImage().
    bool GrabNewestFrame();
    // Software trigger, simulated cameras only.
    void ManualUpdateImage();
    // The camera's defaults into the working copy `gpWParaBak`.
    void RestoreDefaultSettings();
    // Hands the saved record to the camera (updateROI).
    void HotCameraUpdateROI();

    // The record the settings setters read: `gpWParaBak` while the settings
    // screen is visible, else `gpWPara`.
    static WizardPara* SettingSource();

    // ---- Per-step buffers ------------------------------------------------------
    // Only an enabled step holds buffers (template slots, ignore mask, NG
    // ring, fault pictures); a step that is not judged holds none, and a
    // template slot is allocated only while it holds a template.
    // Whether `step` is judged: below gDNum and switched on (word StepEnabled0 + step).
    static bool stepEnabled(int step);
    // Whether `step` holds its buffers.
    bool stepHeld(int step) const { return step >= 0 && step < kMaxDetect && held[step]; }
    // Brings the buffers in line with the enabled steps: a step switched on
    // reads its templates and ignore mask from its files and its engine is
    // trained; a step switched off gives back its buffers, its NG ring, its
    // fault pictures not yet written and its engine models. Files stay.
    void SyncStepBuffers();
    // Template slot `slot` of a held step, allocated zeroed on first use;
    // null for a step without buffers or a slot outside 0..gTempNum-1.
    uchar* templateSlot(int step, int slot);
    // Gives back the buffer of slot 1 upwards (its template was deleted).
    void ReleaseTemplateSlot(int step, int slot);

    // ---- Templates, ignore masks, fault pictures ---------------------------
    // These fill and write the buffers of the held steps
    // (cammerwidget_faultpic.cpp).
    // Reads ./cammer<c><d>/template<n>.bmp into `templates`, `tempUsed`,
    // `tempCount` of every held step; slot 0 always ends up holding a
    // template.
    void LoadTemplate();
    void SaveReTrainImage(int step);
    void LoadIgnorePoint();
    void SaveIgnorePoint(int step);
    // Draws the fault picture of the step (which: 1 OK, 0 NG) into its slot
    // and lowers the slot's flag (whoever draws raises it when the picture
    // is to be written). Views of different cameras may draw at the same
    // time on worker threads while the GUI thread waits: it reads only this
    // view, the language and the safety-door flag, and takes pMutexSaveFail
    // for the slot and its flag.
    void SaveFailImage(int step, int which);
    // Writes on the held fault picture of `step` (`which`: 0 NG, 1 OK) how
    // its alarm was cleared, `code` (AlarmCode); returns the code the
    // picture then carries (AlarmCode::afterLabel), or `code` when there is
    // no picture to label.
    int UpdateFailImage(int step, int which, int code);

    // Recent NG picture `slot` of `step` (frameBytes bytes), allocated and
    // zeroed on first use; null for an index outside 0..7 / 0..9, a step
    // without buffers or before the camera opened.
    uchar* ngPicture(int step, int slot);
    // The same picture when one was written, else null; never allocates.
    const uchar* recentNgPicture(int step, int slot) const;

    // The edited copy of the record starts again from the saved one (masks
    // included); nothing without both records.
    void revertEdits();

    // ---- What the moulding cycle marks on the view ----------------------------
    // The picture being judged becomes `step`'s first template (slot 0), the
    // engine trains on it, and the step counts as passed in this cycle.
    // Returns whether the operator had ordered the retrain.
    bool takeAsFirstTemplate(int step);
    // The operator ordered a retrain: `step` takes a new template at its
    // next run, its ignore mask cleared (and saved).
    void orderRetrain(int step);
    // The verdict of the current step as the cycle decided it.
    void setVerdict(bool ok);
    // Every verdict back to OK: the step's and each ROI's.
    void resetVerdicts();
    // A new cycle opened: every step is to be judged again.
    void unsettleSteps();
    // The judged picture goes into `step`'s ring of recent NG pictures,
    // captioned with the time of its decision.
    void keepNgPicture(int step, const QDateTime& when);

    // Whether a reconnect is under way (the camera was lost and is not back).
    bool reconnecting() const;
    // The program stops (the waits on devices and peers already abandoned):
    // no reconnect starts any more, an attempt under way is given until
    // `deadline` to end, then the camera is closed. False: the attempt still
    // holds the camera, which is then left to it (never closed or deleted).
    bool closeForStop(std::chrono::steady_clock::time_point deadline);
    // True while a reconnect attempt runs on its worker thread: the view then
    // makes no other call on the camera.
    bool cameraBusy() const { return reconnectRunning; }
    // What a record load borrows from this view: the full-view scale and
    // the engine masks `liveMasks`.
    RoiViewLink roiViewLink();

    // ---- Identity and camera -------------------------------------------------
    // The camera object; null when no plug-in matched.
    PluginCamera* camera() const { return camera_; }
    // The camera opened at construction (else the main window drops the view).
    bool isOpen() const { return opened; }
    // The camera is a simulated one (kind 0): it takes software triggers.
    bool simulated() const { return isSimulated; }
    // False from a loss of the camera until it is back with its settings.
    bool isAlive() const { return alive; }
    // Losses of the camera so far.
    int losses() const { return lossCount; }
    // The camera's frame rate as last polled (TimerFPS).
    int framesPerSecond() const { return fps; }
    // Frames of the camera's size received so far; a step is judged only on
    // a frame counted after its countdown began.
    quint64 frameCount() const { return frameCount_; }
    // Steady-clock time (ns) of the latest PullFrame that got a frame.
    qint64 pulledAtNs() const { return pulledNs; }
    // First bytes of the device block the view was built for: serial first.
    const char* deviceText() const { return deviceBytes; }

    // ---- Picture geometry ----------------------------------------------------
    // How the picture maps to the screen; the full-view scale is the one the
    // records' screen rectangles use.
    struct Scale {
        float fullX = 1.0f;   // gShowW / imageWidth (full-view scale)
        float fullY = 1.0f;   // gShowH / imageHeight
        float showX = 1.0f;   // widget width / imageWidth
        float showY = 1.0f;
        float winX = 1.0f;    // widget width / gShowW
        float winY = 1.0f;
    };
    const Scale& scale() const { return scales; }

    // ---- Frame buffers -------------------------------------------------------
    // The picture the view paints (frameBytes); null before the camera opened.
    const uchar* shownPicture() const { return displayFrame; }
    // The view's picture becomes `shown` (frameBytes), or black for null;
    // false before the camera opened. The caller then calls DisplayChanged.
    bool showPicture(const uchar* shown);

    // ---- Records and engine --------------------------------------------------
    // The saved and the edited record are the buffers' (savedRecord,
    // editRecord); the view owns both.
    // The detection engine; null before the camera opened.
    CammerRecong* engine() const { return engine_; }
    // `step` trained afresh from its templates; nothing without an engine.
    void retrain(int step);
    // The positioning and region shapes of `step` built afresh from the
    // saved record; nothing without an engine.
    void rebuildShapes(int step);

    // ---- Results (written by the engine and the main window) ------------------
    // A retrain of `step` was ordered (orderRetrain): it captures a new
    // template at its next run.
    bool isUntrained(int step) const { return step >= 0 && step < kMaxDetect && untrained[step]; }
    // Whether `step`'s result needs no judging this cycle; settleStep marks
    // it so (the operator cleared it or took the picture as template).
    bool stepSettled(int step) const { return step >= 0 && step < kMaxDetect && settled[step]; }
    void settleStep(int step)
    {
        if (step >= 0 && step < kMaxDetect)
            settled[step] = true;
    }

    // ---- Templates and ignore masks (per step) ---------------------------------

    // ---- Recent NG pictures (ring per step) -------------------------------------
    NgPictureRing& ngRing() { return recentNg; }
    const NgPictureRing& ngRing() const { return recentNg; }

    // ---- Alarm display ---------------------------------------------------------
    // What the live view overlays on an NG (Blink); the page switches the
    // ignored points on and off, the alarm blink alternates the defects.
    int blink() const { return blinkState; }
    void setBlink(int b) { blinkState = b; }
    // The alarm blink runs every 1000 ms while the step is NG and stops by
    // itself once it is OK (TimerShowAlarm).
    void startAlarmBlink();
    void stopAlarmBlink();
    bool alarmBlinking() const;
    // The timer that polls the frame rate every 1000 ms; null when the
    // camera did not open.
    const QTimer* frameRateTimer() const { return fpsTimer; }

    // ---- The region editor (roieditor.h) --------------------------------------------
    // Selection, drawing, moving and resizing of the edited record's regions;
    // the view hands it the pointer and the panel's buttons.
    RoiEditor* editor() { return &roiEditor; }
    const RoiEditor* editor() const { return &roiEditor; }

    // ---- ROI overlay (cammerwidget_paint.cpp) ---------------------------------
    // Paints the whole view (picture, marks, ROIs, labels, verdict, header,
    // counters, the shape being drawn) on a device of the widget's size.
    void PaintView(QPainter& painter);
    // Whoever writes displayFrame calls this: the shown picture is expanded
    // into 32-bit RGB once per change, not at every repaint. A change of the
    // source, step, template or NG picture index is noticed without it.
    void DisplayChanged();
    // Widget position <-> full-view coordinates, the same for drawing and for
    // the pointer: pan and zoom of the main window (current camera only),
    // then the window scale (scale().winX, winY).
    QTransform viewTransform() const;
    QPoint mapToFullView(QPoint widgetPos) const;
    // The record and step the overlay shows: the edited copy and the
    // main window's current step in template mode, else the saved record and
    // the running step.
    const CammerSingleton* shownRecord() const;
    int shownStep() const;
    // Label text of ROI i of `step` in `rec`: number, limits (template
    // mode: parameters) and measured value.
    QString roiLabel(const CammerSingleton& rec, int step, int i, bool templateMode) const;
    // Name of a detection step in the current detection mode.
    static QString stepName(int step);

    // ---- The pointer on the view (cammerwidget_edit.cpp) --------------------------
    // The clock of the double-press check: the system clock; tests install
    // a scripted one.
    static std::function<qint64()> clock;
    static void setPageLink(const RoiPageLink& link);
    static RoiPageLink& pageLink();
    // Forgets the previous press of the double-press check (all views).
    static void resetDoubleClick();
    // The press being handled: when it was made (its event's timestamp), and
    // whether the double-press check found it the second of a pair that
    // ended nothing.
    ulong pressMade = 0;
    bool pairedPress = false;

    // Editing state as after construction.
    void InitEditing();
    // The picture read-out (EditSession's pick) at widget position x, y.
    void MUpdateXYV(int x, int y);
    // Masks between the edited and the live record, and the saved record's
    // regions of a step copied to the steps that share its parameters.
    void BackMask();
    void RestorMask();
    void CopyPara();
    // Picture rectangle of ROI i of `step` in `rec` (by its kind).
    static QRect roiImageRect(const CammerSingleton& rec, int step, int i);

    // ---- ROI parameter panel (roipanel.h) ------------------------------------------
    // The panel; null until the camera opened.
    RoiPanel* panel() const { return roiPanel; }
    // Rebuilds the panel for the current ROI (or hides it).
    void ShowHideROIPara();

signals:
    // First thing in every press, with the widget position.
    void clicked(QPoint pos);

public slots:
    void TimerFPS();
    void TimerShowAlarm();
    // The camera lost its device: warn, log, and reconnect every 1000 ms
    // until it is back (driven by a timer; returns at once).
    void SlotLoss();

    // A press: on the second of a double press in tap drawing the region
    // editor ends its shape (cammerwidget_edit.cpp).
    void SlotCheckDoubleClicked(QPoint pos);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private slots:
    void TryReconnect();
    // The worker's attempt came back (GUI thread); a camera that is back
    // gets its settings on the worker next.
    void ReconnectDone(bool ok, int intervalMs);
    // The settings of a returning camera are out (GUI thread): it shows as
    // back, unless it was lost again meanwhile (the loss count moved).
    void SettingsDone(int lossesBefore);
    // A waiting camera's open attempt came back (GUI thread): taken, or
    // refused with the reason the screen gives, and tried again.
    void OpenDone(bool ok, int intervalMs, QSize size);

private:
    QVector<DrawnLabel> drawnLabels_;
    QTimer* fpsTimer = nullptr;
    // Tests reach states the view's operations cannot through this seam
    // (tests/common only).
    friend struct CammerWidgetProbe;

    QString pluginName;
    char deviceBytes[kDeviceTextBytes] = {};  // deviceText()
    PluginCamera* camera_ = nullptr;          // owned
    bool opened = false;
    bool isSimulated = false;
    bool alive = true;
    int lossCount = 0;
    int fps = 0;
    quint64 frameCount_ = 0;
    qint64 pulledNs = 0;
    Scale scales;
    uchar* displayFrame = nullptr;            // frameBytes, shownPicture()
    CammerRecong* engine_ = nullptr;          // owned
    bool untrained[kMaxDetect] = {};          // isUntrained()

    // Overlay helpers (cammerwidget_paint.cpp).
    // Brings the painted picture up to date: at the size `shrunk` when it is
    // smaller than the picture both ways, else at the picture's size, with
    // the marks of what is shown when `withMarks`.
    void PrepareDisplay(bool withMarks, QSize shrunk);
    // The device rectangle the view's picture covers when `p` paints it
    // under the world transform `t`, when it is smaller than the picture and
    // lands unrotated on whole device pixels; else an empty rectangle.
    QRect shrunkPictureRect(const QPainter& p, const QTransform& t) const;
    // Draws the view's picture over rect() under the painter's transform,
    // the shrunk copy pixel for pixel at `shrunk`.
    void DrawDisplay(QPainter& p, const QRect& shrunk);
    void PaintStoredPicture(QPainter& p);
    void PaintRecentNg(QPainter& p);
    void PaintLiveOrTemplate(QPainter& p);
    void PaintRois(QPainter& p, const CammerSingleton& rec, int step, bool templateMode, QString* currentLabel);
    void PaintShapeInProgress(QPainter& p);
    void PaintVerdict(QPainter& p, const QTransform& full);
    void PaintSizeLegend(QPainter& p);
    void PaintHeader(QPainter& p, int step, int detectState, const QString& currentLabel);
    void PaintSizeMarks(QPainter& p, const CammerSingleton& rec, int step, int i, bool hasCurrent);
    QPoint PaintRoiShape(QPainter& p, const CammerSingleton& rec, int step, int i, bool templateMode);
    // A region's label, placed at `box` (picture coordinates of the painter).
    void drawRoiLabel(QPainter& p, const QRect& box, const QString& label, const QColor& colour);
    QTransform paintBase;                    // the caller's painter transform
    ViewPicture picture;                     // displayFrame as painted, with marks
    // Pointer helpers (cammerwidget_edit.cpp).
    void MoveTemplate(QPoint P, QMouseEvent* e);
    void ConnectEditor();
    RoiEditor roiEditor{*this, [this] { return RoiEditor::Scale{scales.fullX, scales.fullY}; }};
    // The panel and the view's side of it (cammerwidget_panel.cpp).
    void BuildRoiPanel();
    RoiPanel* roiPanel = nullptr;

    void AllocateFrameBuffers();
    void AllocateStepBuffers();
    void FreeBuffers();
    void HoldStep(int step);
    void ReleaseStep(int step);
    void LoadStepTemplates(int step);
    void LoadStepIgnore(int step);
    bool held[kMaxDetect] = {};              // the step holds its buffers
    bool showDue = false;                    // PullFrame took a frame the screen is to show
    bool settled[kMaxDetect] = {};           // stepSettled
    int blinkState = Blink::Off;
    QTimer* alarmTimer = nullptr;            // the alarm blink
    NgPictureRing recentNg;

    QTimer* reconnectTimer = nullptr;
    bool reconnectRunning = false;     // GUI thread: an attempt is on its worker
    bool stopping_ = false;            // closeForStop(): no attempt starts any more
    // The lookups of the camera class's optional operations, kept for the
    // class they were made for: the pull runs on every pass.
    const QMetaObject* newestClass_ = nullptr;
    int newestIndex_ = -1;
    const QMetaObject* sinceClass_ = nullptr;
    int sinceIndex_ = -1;
    qint64 grabbedNs_ = 0;             // when the frame GrabFrameSince took came
    qint64 frameCameNs_ = 0;
    int frameIntervalMs_ = 0;
    int refusedIntervalMs_ = 0;
    // The camera's measured frame interval (0: not told), read after an
    // open or a reconnect.
    int measuredInterval();
    // What the constructor builds once the picture size is known.
    void FinishBuild();
    // The picture size, its pixel and byte counts and the full-view scale
    // (checked by the caller).
    void SetPictureSize(int w, int h);
    // The settings of a camera back or newly taken (started first when
    // `startFirst`), on the worker.
    void SendSettingsOffThread(bool startFirst);
    // Why a waiting camera is not taken.
    enum class Missing { None, NotOpened, NotFound, TooSlow, OtherSize };
    void setMissing(Missing why, int intervalMs = 0, QSize size = QSize());
    bool waiting_ = false;
    Missing missing_ = Missing::None;
    QSize missingSize_;                // the size a camera of another size gave
    std::future<void> reconnectJob;    // ends when the worker has let go of the camera
    // The camera, unless a reconnect attempt holds it.
    bool usable() const { return opened && !reconnectRunning; }
};
