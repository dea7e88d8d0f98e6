// The region editor of a camera view: selecting, drawing, moving and
// resizing the regions of the edited record by touch or pointer, the move
// and step buttons of the parameter panel, copying and deleting regions.
//
// It edits the record a view's buffers hold (`CamBuffers::editRecord`) and
// the masks beside it (`editMasks`), on the step the ROI page shows
// (EditSession). Regions are kept in full-view coordinates (the picture
// fills a gShowW x gShowH view) and stay 3 pixels inside it: new corners and
// points are clamped, moves of rectangles and circles are pushed back, moves
// of polygons that would leave are refused.
//
// Positions handed in are full-view positions; the view maps its pointer.
// What the view is to do in return comes by signals. GUI thread only.
#pragma once

#include "cambuffers.h"
#include "roishape.h"

#include <QObject>
#include <QPoint>

#include <functional>
#include <optional>

// What a press on the view is doing to the regions (RoiEditor::action).
namespace EditAction {
enum : int { None = 0, Drawing = 1, Moving = 2, Resizing = 3, Pressed = 5 };
}

// What the move buttons move (the region editor's move mode): nothing (the
// region's parameters are shown), the selected region, or every region of
// the step. The move-mode button steps through them in this order.
namespace MoveMode {
enum : int { None = 0, Selected = 1, All = 2, Count = 3 };
}

class RoiEditor : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPolyPoints = 8096;

    // The view's full-view scale (gShowW / picture width, gShowH / picture
    // height), asked for whenever a region's picture rectangle is renewed.
    struct Scale {
        float x = 1.0f;
        float y = 1.0f;
    };

    RoiEditor(CamBuffers& buffers, std::function<Scale()> scale, QObject* parent = nullptr);

    // The step being edited: the ROI page's current step (0..7).
    static int editStep();

    // ---- What the editor holds ----------------------------------------------------------
    int current() const { return curRoi; }            // selected region, or -1
    int previous() const { return lastRoi; }          // the one selected before, for copying
    int handle() const { return handleIndex; }        // the handle a resize drags
    // A double press stored the tapped polygon: the next press selects it.
    bool polygonJustClosed() const { return polygonClosed; }
    int action() const { return editAction; }         // EditAction
    bool dragging() const { return shapeDrag; }       // a rectangle or circle under the finger
    bool polygonUnderWay() const { return polygonActive; }
    int moveMode() const { return moveMode_; }        // MoveMode
    int object() const { return objectIndex; }        // the part the step buttons move
    // The polygon being drawn (tapped or free-hand), full-view points.
    int polygonPointCount() const { return polyPointCount; }
    const QPoint* polygonPoints() const { return polyPoints; }
    // Middle of the bounding box of the polygon being drawn.
    QPoint polygonCentre() const;
    // The rectangle or circle being drawn.
    const ClustomRect& rectInProgress() const { return tempRect; }
    const Circle& circleInProgress() const { return tempCircle; }

    // ---- Operations -----------------------------------------------------------------------
    // As after construction: nothing selected, drawn or pressed.
    void reset();
    // Region i of the edited step becomes the current one (the record's
    // selection follows); -1 for none. Region flags are left as they are.
    void select(int i);
    // Lets go of the selection and of what is being drawn (the draw mode and
    // the polygon's points too, without tap drawing).
    void deselect();
    // The current region becomes the one the record marks selected; false
    // when none is.
    bool findSelected();
    // Picture rectangle and mask of region i of `step` renewed from its
    // full-view shape.
    void renew(int step, int i);

    // The pointer. A press selects, takes a handle, begins a shape or adds
    // a polygon point (by the draw mode), or places a pending copy; true when
    // it placed a copy (nothing else is to see that press).
    // `secondOfPair`: the press is the second of a double press that ends
    // nothing (tap drawing without continuous drawing); on a polygon being
    // drawn it adds no point beside the first one's.
    bool press(QPoint p, bool secondOfPair = false);
    // True when the move belonged to an edit (or there is nothing to edit);
    // false for a hover, which the view answers (hoverCursor).
    bool drag(QPoint p);
    // The cursor over a handle of the selected region or over a region.
    std::optional<Qt::CursorShape> hoverCursor(QPoint p);
    void release();
    // A double press in tap drawing: the shape being drawn ends (shapeEnded).
    void doublePress();

    // The current region (else the previous one, else the last) copied so
    // that its centre (a polygon: its first point) lands at `p`, after the
    // operator agreed.
    void copyTo(QPoint p);
    // Stores the tapped polygon as a new region of the edited step.
    void savePolygon();
    // The polygon being drawn is given up (its points stay to be shown).
    void abandonPolygon();
    void forgetPolygonPoints() { polyPointCount = 0; }
    // Region `roi` of the edited step removed (its ignored pixels cleared
    // first); those after it move up.
    void deleteRoi(int roi);

    // The panel's buttons.
    void nextRoi();          // the next region under the last pick
    void nextObject();       // the next part for the step buttons
    void nextMoveMode();
    void moveBy(int dx, int dy);
    // Step buttons 0..3 (+10 / Y-1, +1 / X-1, -1 / Y+1, -10 / X+1) move the
    // current part of the selected region.
    void stepButton(int button);
    // The panel hid (nothing selected): move mode and part start afresh.
    void forgetPart();

signals:
    void changed();                       // the overlay is to be repainted
    void selectionChanged();              // the panel is to follow the selection
    void cursorWanted(Qt::CursorShape shape);
    void ignoreMaskCleared(int step);     // the step's ignore mask is to be saved
    void polygonBegun();                  // the first point of a tapped polygon
    // A double press ended the shape of draw mode `shape` (hand: free-hand).
    void shapeEnded(int shape, bool hand);

private:
    void pressTemplate(QPoint p);
    void pressToSelect(QPoint p);
    void pressSelected(QPoint p);
    void pressToDraw(QPoint p, int mode);
    void pressPolygonPoint(QPoint c);
    void dragShape(QPoint p, bool selected, int j);
    void dragPolygon(QPoint p, bool selected, int j);
    void releaseShape();
    void storeShape(int step);
    bool farEnough(QPoint p) const;
    bool pointInCurrent(QPoint p);
    bool pick(QPoint p);
    bool anyUnder(QPoint p) const;
    bool stepFull(int step) const;
    void newRoiParameters(int step, int i);
    void labelFrom(int step, int i);

    CamBuffers& buf;
    std::function<Scale()> scale;

    int curRoi = -1;
    int lastRoi = -1;
    int editAction = EditAction::None;
    bool shapeDrag = false;
    bool polygonActive = false;
    int handleIndex = -1;
    QPoint polyPoints[kMaxPolyPoints];
    int polyPointCount = 0;
    bool polygonClosed = false;
    int objectIndex = 0;
    int moveMode_ = 0;
    // The press being edited with: where it began and last was, the shape it
    // draws (a rectangle or circle until released), the corner it drags,
    // where the selected region's label hangs and where it picked a region.
    bool pressSeen = false;
    bool pairSecond = false;   // the press being handled is the second of a pair
    QPoint startPoint;
    QPoint lastPoint;
    ClustomRect tempRect;
    Circle tempCircle;
    QPoint dragCorner;
    QPoint labelAnchor;
    QPoint pickPoint;
};
