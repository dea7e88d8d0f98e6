// The main window: owner of the detection cycle and of the state that the
// camera views, the ROI page, the widget kit and the network services read
// and write (its WinState base, installed as gpState); it installs itself in
// the roles those call up through (ProgramRoles) when it is built.
#pragma once

#include "databases.h"
#include "globals.h"
#include "winstate.h"

#include <QDir>
#include <QPair>
#include <QPointer>
#include <QRgb>
#include <QSize>
#include <QSqlDatabase>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

class QSqlQuery;
class Edit;
class NumberInput;
class NumCharInput;
class CammerWidget;
class IOStatusWidget;
class IndexButton;
class HelpWidget;
class DrawROIWidget;
class WizardParaWidget;
class RecordStore;
class ProgramRoles;

class RiVuRevezi : public QWidget, public WinState {
    Q_OBJECT
public:
    explicit RiVuRevezi(QWidget* parent = nullptr);
    ~RiVuRevezi() override;
    // Installs the roles below and the settings screen's hooks.
    void InstallLinks();
    // The main window as the lower libraries call up to it.
    std::unique_ptr<ProgramRoles> roles;
    // PARAM.db and the operation record, opened by StartUp, installed while
    // the window exists.
    Databases databases;

    // ---- The moulding cycle -------------------------------------------------
    // Holds every rule of the cycle and writes its status (cycle_); the
    // adapter gives it the board, the cameras, the engines and the record.
    std::unique_ptr<class CycleAdapter> cycleAdapter;
    std::unique_ptr<class MouldCycle> mould;
    void MakeCycle();

    // ---- Camera-view touch support (rivurevezi_zoom.cpp) ------------------
    // While zoomed in (zoom above 1.0), pans the current camera's view by the
    // pointer movement since the last call (or press, lastPressX/Y), keeping
    // the picture over the whole view, and repaints.
    void updateMScale(int x, int y);

    // ---- Rights and screen ----------------------------------------------
    QTimer* logoutTimer = nullptr;
    QTimer* screenOffTimer = nullptr;   // darkens the screen (ScreenLight's timer)

    // ---- Children ---------------------------------------------------------
    IOStatusWidget* ioStatusWidget = nullptr;
    IndexButton* indexButton = nullptr;
    HelpWidget* helpWidget = nullptr;
    DrawROIWidget* drawROIWidget = nullptr;
    WizardParaWidget* wizardParaWidget = nullptr;

    // ---- Widget kit: pads, shared boxes and rights gates (rivurevezi_rights.cpp)
    // Creates the two on-screen pads and the shared boxes (gpWarnBox,
    // gpChooseBox, gpPasswordBox, gpProductAlarmWarnBox, gpLostCameraWarnBox)
    // and installs the filter that puts the pads away on a press on this window.
    void InitWidgetKit();
    // Operator gate: 1 while the password is not in use (Word::PasswordUsed is 0), else
    // the level held, else the level the password box grants (0 = refused).
    int CheckPassword();
    // Factory gate: 1 when level 2 is held or granted by the password box, else 0.
    int CheckRoot();
    // Watches the ROI page's show, move and hide.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // ---- Camera views (rivurevezi_camera.cpp) -------------------------------
    // Called by a camera view when its camera is lost: unless stopped, the
    // hold of a missing camera (clamp, alarm, the open cycle's undecided
    // interlocks) set and flushed; the loss warning shown without waiting,
    // the window repainted.
    void LostCamera();
    // True while the settings screen (wizardParaWidget) is shown; the camera
    // views' setters then read the working copy gpWParaBak.
    bool SettingsVisible() const;

    // ---- Start-up and the detection cycle ------------------------------------
    // The whole construction sequence of the running program: databases,
    // parameters, cameras and views, I/O board, pages, timers, picture writer,
    // then detection starts and the cycle timer is armed. Kept apart from the
    // constructor so that the state object can be built alone in tests.
    // Returns false when the program is ending (a database was restored and
    // a reboot requested, or a SIGTERM came before detection started).
    bool StartUp();
    // Its phases, in order: the screen's size and the databases (false: a
    // database was restored, the program is ending), the parameters and the
    // counters, the cameras with their views and picture folders, the I/O
    // board and the screen, the timers and the picture writer, detection
    // (with an NG the previous run left latched).
    bool OpenDatabases();
    void LoadParameters();
    void OpenCameraViews();
    // How many cameras the parameters expect: the stored camera list
    // (`stored` serials), and every camera up to the last with regions drawn
    // on a step that is judged.
    int ExpectedCameras(int stored);
    // The size of camera c's templates (invalid: none).
    static QSize TemplateSize(int camera);
    // A waiting camera's picture size when neither its templates nor an
    // opened camera give one.
    static constexpr QSize kStandInPictureSize{1280, 1024};
    void BuildScreen();
    void StartTimers();
    void StartDetection();
    int RunAlgorithm(int camera, int step);
    void CheckNG(bool manual);
    // The cycle's status, written here alone (and by tests setting a case up).
    CycleStatus& cycleStatus() { return cycle_; }
    void ResetRun();
    void StartDetect();
    void StopDetect();
    int CameraCheck();
    void CameraSetSpeed();
    void ChangeCammer();
    void LoadCount();
    // Interlock output of step k (bit number) for the current mode.
    int StepInterlock(int k) const;
    bool StepActive(int k) const;
    QTimer* runTimer = nullptr;         // single-shot, re-armed by every pass of Run
    QTimer* showTimer = nullptr;        // one-second timer: LED blink, time text
    class SaveFialImageThread* saveThread = nullptr;
    int passCount = 0;
    // A pass pulls a camera's frame only this long after its last one: a pass
    // woken by an input change does not copy pictures again.
    static constexpr qint64 kFramePullMs = 100;
    qint64 framePulledMs[kMaxCamera] = {};  // monotonic time of each camera's last pull
    static constexpr qint64 kWhiteBalanceMs = 5000;
    qint64 lastWhiteBalanceMs = 0;
    int lastOutWord = -1;
    // While an NG could not be kept across a restart (the latch file cannot
    // be written): text row 713; while an NG holds without a judgement: why
    // (the cycle's note). In a strip below the camera pictures that the
    // views give up (beside the ROI page's column when it is open).
    class QLabel* latchWarning = nullptr;
    QString latchWarningShown;   // the text the strip shows (unwrapped)
    // The strip's text: the latch that cannot be kept, the NG's note.
    QString LatchWarningText() const;
    void ShowLatchWarning();
    // Lays the shown warning out at the bottom of `area` (the views' area,
    // in the view area's coordinates); returns what is left for the views.
    QRect PlaceLatchWarning(QRect area);
    static constexpr int kLatchWarningPixels = 28;
    static constexpr int kLatchWarningMargin = 8;
    quint64 frameMark[kMaxCamera][kMaxDetect] = {};  // frame count when the step's countdown began
    qint64 openingNs[kMaxDetect] = {};               // the step's opening (steady clock): its frames came after
    // Result code of a camera whose step could not be judged.
    static constexpr int kCodeCameraLost = AlarmCode::CameraLost;
    // False: the cameras of a step are judged one after the other (the
    // benchmark's comparison); the verdicts are the same either way.
    bool judgeInParallel = true;
    std::unique_ptr<class JudgePool> judgePool;
    // At start-up: an NG latched by the previous run is taken up again
    // (MouldCycle::restoreLatchedNg). True when there was one.
    bool RestoreLatchedNg();
    // Starts the logout timer with Word::AutoLogoutSeconds (0: rights do not expire).
    void StartLogoutTimer();
    QWidget* viewArea = nullptr;

    // ---- ROI tool page: NG resolution and template training (rivurevezi_roipage.cpp)
    // Builds the page (hidden) and wires the button bar's "Area Settings".
    void InitRoiPage();
    // Opens the page over the camera area (button bar and help put away).
    void OpenRoiPage();
    // Opens the page as the cycle or a waiting NG asks, not a tap: taps made
    // as it came up do not reach it.
    void OpenRoiPageByItself();
    // The page asked for while the settings were open, once they close.
    void OpenWaitingRoiPage();
    // The page's column keeps the screen below it free: the I/O panel always,
    // the camera tiles when several cameras show. Follows the page's moves.
    void FitRoiPageColumn();
    // Closing the page brings back the camera view the operator had, with
    // its regions and the verdict of the last decision.
    void RestoreViewAfterRoiPage();
    int cameraBeforeRoiPage = -1;       // -1: the page is not open
    bool roiPageWaiting = false;        // asked for while the settings screen was open
    int detectStateBeforeRoiPage = DetectState::Idle;
    class QBoxLayout* bottomBar = nullptr;
    // After a step's run: when templates were captured and no active step of
    // any camera still lacks one, opens the page in region setting with
    // gFromTrain set (the step's decision waits for the page's return).
    void CheckArea();
    // The page returned from a training run: outputs 0 and 1 released, run
    // state running, the step decided, the engine retrained at the next tick.
    void BackTrain();
    // Every decision ends here: an NG opens the page, a manual decision that
    // cleared the NG closes it.
    void RoiPageAfterDecision(bool ok, bool manual);
    // Retrains every enabled step of every camera once templates were renewed.
    void TrainRenewedTemplates();
    void showhideHelp(bool show);
    void showhideVersion(bool show);
    void MScaleSetToMin();
    bool templatesCaptured = false;     // a step took a new template since the last CheckArea
    bool templatesRenewed = false;      // retrain flag: BackTrain sets it, TimerShow retrains
    QWidget* helpButton = nullptr;      // run screen's help button
    QWidget* versionLabel[2] = {};      // the two version labels
    class QAbstractSlider* zoomSlider = nullptr;

    // ---- Settings, help, version labels and zoom (rivurevezi_settings.cpp)
    // Builds the settings screen and the help pager (hidden) and, in the top
    // right corner, the version labels, the settings and help buttons and
    // the zoom slider.
    void InitSettings();
    QWidget* settingsButton = nullptr;
    // Above the settings' own buttons while an NG waits behind the screen
    // (roiPageWaiting); ShowNgWaitingMark keeps it so.
    class QLabel* ngWaitingMark = nullptr;
    void ShowNgWaitingMark();
    // Holds the version labels, the settings and help buttons and the zoom
    // slider; put away with the help button while a page covers the screen.
    QWidget* settingsCorner = nullptr;

public slots:
    // "Area Settings" on the button bar: region setting (operator gate), or
    // the NG page again while an NG is latched.
    void SlotDrawROI();
    // The settings screen, behind the operator gate.
    void SlotSettings();
    void SlotHelp();
    void TimerLogout();
    void TimerUp(int step);
    void TimerShow();
    void TimerLCD();
    void SlotStartStop();
    // New mould: every active step captures a new template at its next run.
    void SlotReTrain();
    // One pass of the detection cycle (also run, queued, on every input change).
    void Run();
};

// The main window of the running program (null before it is built).
extern RiVuRevezi* gpWin;
