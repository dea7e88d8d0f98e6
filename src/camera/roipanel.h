// The ROI parameter panel of a camera view: three sliders for p1-p3, the
// method button, the pair switch, the ROI and object switches, the step
// buttons, the sync button, the output selector and the fine-tuning row.
//
// The panel edits the parameters of the selected region in the edited copy
// of the record; what it needs of its view (the record, the step, the
// selection, where the region lies, the engine's preview) it asks through
// its Host, afresh at each use. What moves regions (the step, move and move
// mode buttons, the ROI and object switches) it hands to the region editor
// through its signals.
//
// Rebuilding the panel only shows values: the sliders' signals are blocked
// while they are reset, so looking at an ROI never changes its parameters,
// even where a stored value lies outside a slider's range.
//
// GUI thread only.
#pragma once

#include "roieditor.h"

#include <QObject>
#include <QRect>

#include <functional>

class CammerSingleton;
class ColorButton;
class ComboBox;
class QLabel;
class QTimer;
class QWidget;
class Slider;

// Side in full-view pixels of the size hint that the main window draws while
// its hint timer runs; set by the ROI parameter sliders.
extern int gDrawHint;

class RoiPanel : public QObject {
    Q_OBJECT
public:
    struct Scales {
        float fullY = 1.0f;   // full view / picture, vertical
        float winX = 1.0f;    // widget / full view
        float winY = 1.0f;
    };
    struct Host {
        std::function<CammerSingleton*()> record;   // the edited copy, or null
        std::function<int()> step;                  // the step being edited
        std::function<int()> roi;                   // the selected region, -1 none
        std::function<int()> moveMode;              // MoveMode
        std::function<int()> object;                // the part the step buttons move
        std::function<Scales()> scales;
        // Whether a preview can run, and the preview of one region.
        std::function<bool()> canPreview;
        std::function<void(int step, int roi)> preview;
    };

    // Builds the panel's widgets on `view`, all hidden.
    RoiPanel(QWidget* view, Host host);

    // Shows the panel for the selected region, or hides it when none is
    // selected; false when hidden. The pair switch starts at the first
    // member again.
    bool rebuild();
    // The pair switch back to the first member (editing starts again).
    void forgetPair() { pairShown = false; }

    // The operator's actions, as the panel's own widgets perform them.
    void changeMethod();
    void togglePair();
    void setP1(int v);
    void setP2(int v);
    void setP3(int v);
    void syncParameters();
    void setOutput(int index);
    void setFineTune(bool checked);

    // A preview is due; coalesced so that held buttons never queue work
    // behind a slow preview.
    void requestPreview();
    // Duration and end (monotonic ms) of the last preview; a test or a
    // benchmark may take the last one as having lasted `ms`.
    qint64 previewCost() const { return previewCostMs; }
    qint64 previewEnd() const { return previewEndMs; }
    void assumePreviewCost(qint64 ms) { previewCostMs = ms; }
    const QTimer* previewTimer() const { return previewDue; }

    // The widgets, for placing checks and pointer-driven tests.
    Slider* slider(int k) const { return sliders[k]; }   // 0..2: p1..p3
    QLabel* methodLabel() const { return funcLabel; }
    ColorButton* methodButton() const { return funcButton; }
    ColorButton* pairButton() const { return halfButton; }
    ComboBox* outputCombo() const { return outCombo; }
    ColorButton* roiButton() const { return roiSwitchButton; }
    ColorButton* objectSwitch() const { return objectButton; }
    ColorButton* stepButton(int k) const { return stepButtons[k]; }
    ColorButton* syncSwitch() const { return syncButton; }
    ColorButton* fineTuneSwitch() const { return fineTuneButton; }
    ColorButton* moveButton(int k) const { return moveButtons[k]; }
    ColorButton* moveModeSwitch() const { return moveModeButton; }

signals:
    void nextRoi();
    void nextObject();
    void nextMoveMode();
    void move(int dx, int dy);
    // Step button k (0..3) pressed: +10 / Y-1, +1 / X-1, -1 / Y+1, -10 / X+1.
    void stepPressed(int k);
    // Something the view paints changed.
    void changed();
    // The panel is to be shown afresh (the method or the fine-tune toggle
    // changed): whoever owns the selection rebuilds it.
    void reshow();

private:
    // Slot of the selected region in the record, or -1.
    int currentSlot() const;
    void hideAll();
    void showRows(const CammerSingleton& rec, int j);
    void showValues(const CammerSingleton& rec, int j);
    void showObjectCaptions(int kind);
    void place(const CammerSingleton& rec, int step, int roi);
    int panelTop(const CammerSingleton& rec, int step, int roi, int height) const;
    void runPreview();

    QWidget* view;
    Host host;
    Slider* sliders[3] = {};
    QLabel* funcLabel = nullptr;
    ColorButton* funcButton = nullptr;
    ColorButton* halfButton = nullptr;
    ComboBox* outCombo = nullptr;
    ColorButton* roiSwitchButton = nullptr;
    ColorButton* objectButton = nullptr;
    ColorButton* stepButtons[4] = {};
    ColorButton* syncButton = nullptr;
    ColorButton* fineTuneButton = nullptr;
    ColorButton* moveButtons[4] = {};
    ColorButton* moveModeButton = nullptr;
    bool pairShown = false;      // the sliders show the second members
    bool fineTune = false;       // the fine-tune toggle is checked
    QTimer* previewDue = nullptr;
    qint64 previewCostMs = 0;
    qint64 previewEndMs = 0;
};
