// The ROI tool page: a narrow column of touch buttons and combo boxes laid
// over the right edge of the camera area while the operator edits regions of
// interest, looks at templates or stored pictures, or resolves an NG result.
//
// The page draws nothing on the pictures itself. It chooses the picture
// source `gSource` and the main window's drawing mode, drives the camera
// views of the current camera, and owns the save that turns the views'
// edited records into live ones (with one operation-record row per changed
// region and a retrain of the engine).
//
// Picture sources (`gSource`, PictureSource): None live, page closed;
// Template (the only source in which ROIs are drawn); Live; RecentNg, the NG
// pictures kept in memory; OkRecord and NgRecord, the stored pictures.
//
// Exactly one page exists; the main window builds it and reaches it through
// `drawROIWidget`. GUI thread only.
#pragma once

#include "globals.h"
#include "overexposure.h"

#include <QImage>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>

class ColorButton;
class ComboBox;
class QLabel;
class CammerWidget;
class CammerSingleton;
struct WinState;

// Help picture the help pager shows when it is made visible.
extern int gHelpC;

class DrawROIWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 240;
    static constexpr int kButtonHeight = 76;
    static constexpr int kNoteFontPixels = 20;
    // Largest summed defect area of a region whose alarm points may be ignored.
    static constexpr int kMaxIgnoreArea = 2000;

    // The page works on the main window's state (`state`, usually gpState).
    DrawROIWidget(QWidget* parent, WinState* state);
    ~DrawROIWidget() override;

    // ---- Called by the main window ------------------------------------------
    // Opens the page afresh: edited records from the saved ones, the step to
    // edit, live source during an NG, template source otherwise.
    void Reset();
    // Leaves the page: detect state 0, views deselected, button bar back.
    void Restart();
    // Do-not-detect for all cameras without asking.
    void notCheckcur();
    // Sets the source combo; runs SlotChangeSource when the index changes.
    void setSource(int s);
    // Refills the detection combo with n names of the multi-detection mode.
    void ChangeDetectNum(int n);
    // A camera view began a polygon with tap drawing on.
    void startDrawPloygn();
    // Checkable, checked and enabled states of the drawing buttons.
    void setCheckable();

    // ---- Pictures and templates ------------------------------------------------
    // Loads the stored picture at the current index of the chosen folder.
    void LoadPic();
    // gTempTime := modification time of template `slot` of camera/detection.
    void GetTempTIme(int camera, int detection, int slot);
    // Stores one template of camera `c`, detection `d` from the live picture
    // (source 1) or the shown recent NG picture; true when it was stored.
    // A live picture is trained at once: the regions it leaves blind where
    // it is saturated are recorded and appended to `overExposed`. A recent
    // NG picture is trained, and its regions reported, at the next save.
    bool AddTemp(int c, int d, QVector<OverExposure::Region>* overExposed = nullptr);

    // The slot a new template of camera `c`, detection `d` goes to; marks it
    // used. -1 when the view has no such slot. Files of leftover slots at or
    // beyond gTempNum are removed on the way.
    int ChooseTempSlot(int c, int d);

    // Deleting templates is reported to the local companion program with
    // {"camera": [...], "detect": [...]} (0-based, paired index by index),
    // through MachineOutputs::templateListChanged.

    // ---- Controls, top to bottom --------------------------------------------------
    ColorButton* showHideButton = nullptr;
    ComboBox* sourceCombo = nullptr;
    ComboBox* cameraCombo = nullptr;
    ComboBox* detectCombo = nullptr;
    ColorButton* returnButton = nullptr;
    ColorButton* noCheckButton = nullptr;
    ColorButton* addTempButton = nullptr;
    ColorButton* autoChangeButton = nullptr;
    ColorButton* helpButton = nullptr;
    ColorButton* rectButton = nullptr;
    ColorButton* circleButton = nullptr;
    ColorButton* polygonButton = nullptr;
    ColorButton* handButton = nullptr;
    ColorButton* copyButton = nullptr;
    ColorButton* deleteRoiButton = nullptr;
    ColorButton* deleteAllButton = nullptr;
    ColorButton* lastButton = nullptr;
    ColorButton* nextButton = nullptr;
    ColorButton* tempDeleteButton = nullptr;
    ColorButton* alarmPointButton = nullptr;
    ColorButton* ignorePointButton = nullptr;
    ColorButton* deleteIgnoreButton = nullptr;
    ColorButton* reCheckButton = nullptr;
    // On an NG while "NG image" is ticked: why every region like its
    // template is NG.
    QLabel* ngImageNote = nullptr;

    // ---- Page state ------------------------------------------------------------------
    bool movedAside = false;            // the page sits at the left edge
    bool resetPending = false;          // set by Reset, taken by the first template view
    bool retrainPending[kMaxCamera] = {}; // templates or record changed: retrain at the next save
    unsigned addedPending[kMaxCamera] = {}; // bit d: a template added to detection d awaits that retrain

    // The stored picture shown with sources 3 and 4 (the camera views paint
    // `storedPicture` and `storedName`).
    int storedCamera = 0;
    int storedDetect = 0;
    int storedCount = 0;
    int storedIsOk = 1;                 // 1 OK folder, 0 NG folder
    int storedIndex = 0;
    QString storedName;                 // file name without ".jpg"
    QImage storedPicture;

    // The notes that the mould (or right-side) detection takes the product
    // parameters are shown once per program run, whichever comes first.
    static bool sameParamNotePending;

signals:
    // The help button was pressed (gHelpC holds the picture to show).
    void helpRequested();

public slots:
    void SlotShowHide();
    void SlotReturn();
    void SlotChangeSource(int s);
    void SlotChangeCamera(int c);
    void SlotChangeDetect(int d);
    void SlotNoCheckCur();
    void SlotAddTemp();
    void SlotAutoChange();
    void SlotHelp();
    void SlotDrawRect();
    void SlotDrawCircle();
    void SlotDrawPloygn();
    void SlotDrawHand();
    void SlotCopyArea();
    void SlotDeleteROI();
    void SlotDeleteAllROI();
    void SlotTempLast();
    void SlotTempNext();
    void SlotTempDeleteCur();
    void SlotTempDeleteAll();
    void SlotShowHideAlarmPoint();
    void SlotIgnoreAlarmPoint();
    void SlotDeleteIgnorePoint();
    void SlotReCheck();
    void SlotChangePage();
    void showNgImageNote();
    void SlotSaveData();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // What the camera views call on the page (drawing buttons, camera combo,
    // the stored picture they paint).
    void InstallViewLink();
    void LayOutColumn();
    void ConnectControls();
    // The view of the current camera when it is a single camera, else null.
    CammerWidget* currentView() const;
    bool singleCamera() const;
    // Shows the template in the view's current slot of the selected step.
    void ShowTemplate(CammerWidget* v);
    // Previous/next template slot in use, walking down or up with wrap.
    void StepTemplate(int dir);
    void StepPicture(int dir);
    // Normal captions of the four drawing buttons.
    void NormalDrawCaptions();
    // Drawing slots act for a single camera with the template source only.
    bool drawingAllowed() const;
    // Sets a combo's index without running its slot.
    static void setComboQuietly(ComboBox* combo, int index);
    // Operation-record rows of one camera's differences; whether the step
    // shapes need rebuilding.
    bool LogChanges(int camera, const CammerSingleton& before, const CammerSingleton& after);
    // Stored-picture folder listing, newest first, kept until the folder changes.
    const QStringList& listStored(const QString& folder);

    WinState* win_ = nullptr;
    QString listedFolder_;
    qint64 listedStamp_ = -1;   // the folder's modification time in ns
    QStringList listed_;   // names, newest first
};
