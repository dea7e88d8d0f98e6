#include "roieditor.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "operatordialogs.h"
#include "roifunctions.h"
#include "roishapes.h"
#include "winstate.h"
#include "wizardpara.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

int drawMode()
{
    return gpState ? EditSession::get().drawMode() : RoiShape::None;
}

bool handFlag()
{
    return gpState && EditSession::get().handDraw();
}

// Without tap drawing every shape takes its own press of a drawing button.
void endDrawModeUnlessTapDrawing()
{
    if (liveWord(Word::ContinuousArea) == 0 && gpState)
        EditSession::get().setDrawMode(RoiShape::None);
}

// A point kept 3 pixels inside the full view.
QPoint clampPoint(QPoint p)
{
    int x = p.x();
    int y = p.y();
    CheckInRange(&x, 1, gShowW, gShowH);
    CheckInRange(&y, 0, gShowW, gShowH);
    return QPoint(x, y);
}

// Whether every point moved by d stays inside the 3-pixel margin.
bool polygonFits(const QVector<QPoint>& pts, QPoint d)
{
    for (const QPoint& q : pts) {
        const long long x = static_cast<long long>(q.x()) + d.x();
        const long long y = static_cast<long long>(q.y()) + d.y();
        if (x < 3 || y < 3 || x >= gShowW - 3 || y >= gShowH - 3)
            return false;
    }
    return true;
}

bool isSelected(const CammerSingleton& rec, int step, int i)
{
    const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i);
    return shape && shape->selected(rec, step, i);
}

void setSelected(CammerSingleton& rec, int step, int i, bool on)
{
    if (const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i))
        shape->select(rec, step, i, on);
}

bool contains(const CammerSingleton& rec, int step, int i, QPoint p)
{
    const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i);
    return shape && shape->contains(rec, step, i, p);
}

// Handle hit test of ROI i (only a selected shape answers); the handle goes
// to *handle.
bool onHandle(CammerSingleton& rec, int step, int i, QPoint p, int* handle)
{
    if (const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i))
        return shape->onHandle(rec, step, i, p, handle);
    if (handle)
        *handle = -1;
    return false;
}

int roiCount(const CammerSingleton& rec, int step)
{
    return std::clamp(rec.roiCount[step], 0, kMaxRoi);
}

}  // namespace

RoiEditor::RoiEditor(CamBuffers& buffers, std::function<Scale()> scaleOf, QObject* parent)
    : QObject(parent), buf(buffers), scale(std::move(scaleOf))
{
}

int RoiEditor::editStep()
{
    const int s = EditSession::get().currentDetect();
    return (s >= 0 && s < kMaxDetect) ? s : 0;
}

// ---- State ------------------------------------------------------------------------

void RoiEditor::reset()
{
    curRoi = -1;
    lastRoi = -1;
    editAction = EditAction::None;
    shapeDrag = false;
    polygonActive = false;
    pressSeen = false;
    handleIndex = -1;
    startPoint = lastPoint = dragCorner = QPoint();
    tempRect = ClustomRect();
    tempCircle = Circle();
    polyPointCount = 0;
    polygonClosed = false;
    labelAnchor = pickPoint = QPoint();
    objectIndex = 0;
    moveMode_ = MoveMode::None;
}

bool RoiEditor::stepFull(int step) const
{
    return buf.editRecord && buf.editRecord->roiCount[step] >= kMaxRoi;
}

void RoiEditor::select(int i)
{
    if (i == curRoi)
        return;
    curRoi = i;
    if (buf.editRecord)
        buf.editRecord->setSelectRoi(EditSession::get().currentDetect(), i);
}

void RoiEditor::labelFrom(int step, int i)
{
    QPoint corner;
    const RoiShapes::Ops* shape = RoiShapes::of(*buf.editRecord, step, i);
    if (shape && shape->labelCorner(*buf.editRecord, step, i, &corner))
        labelAnchor = corner - QPoint(0, 26);
}

void RoiEditor::renew(int step, int i)
{
    if (!buf.editRecord || step < 0 || step >= kMaxDetect || i < 0 || i >= kMaxRoi)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i);
    if (!shape)
        return;
    const Scale s = scale ? scale() : Scale();
    buf.editMasks[step][i] = shape->renew(rec, step, i, s.x, s.y);
    labelFrom(step, i);
}

QPoint RoiEditor::polygonCentre() const
{
    const int n = std::clamp(polyPointCount, 0, int(kMaxPolyPoints));
    if (n == 0)
        return QPoint();
    int minX = polyPoints[0].x(), maxX = minX, minY = polyPoints[0].y(), maxY = minY;
    for (int k = 1; k < n; ++k) {
        minX = std::min(minX, polyPoints[k].x());
        maxX = std::max(maxX, polyPoints[k].x());
        minY = std::min(minY, polyPoints[k].y());
        maxY = std::max(maxY, polyPoints[k].y());
    }
    return QPoint((minX + maxX) / 2, (minY + maxY) / 2);
}

// ---- Hit tests ---------------------------------------------------------------------

bool RoiEditor::findSelected()
{
    if (!buf.editRecord)
        return false;
    const int g = editStep();
    const int count = roiCount(*buf.editRecord, g);
    for (int i = 0; i < count; ++i) {
        if (isSelected(*buf.editRecord, g, i)) {
            select(i);
            return true;
        }
    }
    return false;
}

// Whether p lies in the current region or on one of its handles (which is
// then the handle taken).
bool RoiEditor::pointInCurrent(QPoint p)
{
    if (!buf.editRecord)
        return false;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= roiCount(*buf.editRecord, g))
        return false;
    if (contains(*buf.editRecord, g, curRoi, p))
        return true;
    return onHandle(*buf.editRecord, g, curRoi, p, &handleIndex);
}

// The first region under p, looking from the current one on, becomes the
// current one.
bool RoiEditor::pick(QPoint p)
{
    if (!buf.editRecord)
        return false;
    const int g = editStep();
    const int count = roiCount(*buf.editRecord, g);
    const int start = (curRoi >= 0 && curRoi < count) ? curRoi : 0;
    for (int k = 0; k < count; ++k) {
        const int i = (start + k) % count;
        int handle = -1;
        if (contains(*buf.editRecord, g, i, p) || onHandle(*buf.editRecord, g, i, p, &handle)) {
            select(i);
            labelFrom(g, i);
            pickPoint = p;
            return true;
        }
    }
    return false;
}

bool RoiEditor::anyUnder(QPoint p) const
{
    if (!buf.editRecord)
        return false;
    const CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    const int count = roiCount(rec, g);
    for (int i = 0; i < count; ++i) {
        if (contains(rec, g, i, p))
            return true;
        const RoiShapes::Ops* shape = RoiShapes::of(rec, g, i);
        if (shape && shape->touchesHandle(rec, g, i, p))
            return true;
    }
    return false;
}

void RoiEditor::deselect()
{
    editAction = EditAction::None;
    polygonActive = false;
    if (liveWord(Word::ContinuousArea) == 0) {
        if (gpState)
            EditSession::get().setDrawMode(RoiShape::None);
        polyPointCount = 0;
    }
    if (buf.editRecord && curRoi >= 0 && curRoi < kMaxRoi)
        setSelected(*buf.editRecord, editStep(), curRoi, false);
    curRoi = -1;
}

// ---- Press ----------------------------------------------------------------------------

bool RoiEditor::press(QPoint p, bool secondOfPair)
{
    editAction = EditAction::None;
    pressSeen = true;
    if (gpState && EditSession::get().copyArea()) {
        if (liveWord(Word::ContinuousCopy) == 0)
            EditSession::get().setCopyArea(false);
        copyTo(p);
        return true;
    }
    pairSecond = secondOfPair;
    pressTemplate(p);
    pairSecond = false;
    return false;
}

void RoiEditor::pressTemplate(QPoint p)
{
    if (!buf.editRecord)
        return;
    const int mode = drawMode();
    if (mode == RoiShape::None) {
        pressToSelect(p);
        emit changed();
        return;
    }
    pressToDraw(p, mode);
}

// No shape to draw: the press picks a region, a handle of the selected one,
// or lets go of the selection.
void RoiEditor::pressToSelect(QPoint p)
{
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (findSelected()) {
        pressSelected(p);
    } else if (pick(p)) {
        const int j = g * kMaxRoi + curRoi;
        setSelected(rec, g, curRoi, true);
        emit cursorWanted(Qt::SizeAllCursor);
        lastPoint = p;
        objectIndex = 0;
        editAction = EditAction::Moving;
        if (rec.kind[j] == RoiShape::Polygon) {
            polygonActive = true;
        } else {
            shapeDrag = true;
            if (rec.kind[j] == RoiShape::Rect)
                tempRect = rec.rect[g][curRoi];
            else
                tempCircle = rec.circle[g][curRoi];
        }
    }
}

// A press while a region is selected: on it a move or, on a handle, a
// resize; elsewhere the selection goes.
void RoiEditor::pressSelected(QPoint p)
{
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    const int j = g * kMaxRoi + curRoi;
    if (pointInCurrent(p)) {
        if (onHandle(rec, g, curRoi, p, &handleIndex)) {
            editAction = EditAction::Resizing;
            if (rec.kind[j] == RoiShape::Rect) {
                tempRect = rec.rect[g][curRoi];
            } else if (rec.kind[j] == RoiShape::Circle) {
                tempCircle = rec.circle[g][curRoi];
                tempCircle.UpdateAll();
            }
        } else {
            emit cursorWanted(Qt::SizeAllCursor);
            editAction = EditAction::Moving;
        }
        lastPoint = p;
        if (rec.kind[j] == RoiShape::Polygon)
            polygonActive = true;
        else
            shapeDrag = true;
        return;
    }
    const int was = curRoi;
    if (was >= 0 && was < kMaxRoi)
        lastRoi = was;
    select(-1);
    emit cursorWanted(Qt::CrossCursor);
    startPoint = lastPoint = p;
    if (was >= 0)
        setSelected(rec, g, was, false);
}

// A press that begins a shape of kind `mode`, or the next polygon point.
void RoiEditor::pressToDraw(QPoint p, int mode)
{
    if (mode != RoiShape::Rect && mode != RoiShape::Polygon && mode != RoiShape::Circle)
        return;
    if (liveWord(Word::ContinuousArea) != 0)
        deselect();
    emit cursorWanted(Qt::CrossCursor);
    const QPoint c = clampPoint(p);
    startPoint = lastPoint = dragCorner = c;
    if (mode == RoiShape::Rect || mode == RoiShape::Circle) {
        if (mode == RoiShape::Rect) {
            tempRect = ClustomRect();
            tempRect.rect = QRect(c, c);
        } else {
            tempCircle = Circle();
            tempCircle.rect = QRect(c, c);
            tempCircle.UpdateAll();
        }
        editAction = EditAction::Pressed;
        shapeDrag = true;
        return;
    }
    pressPolygonPoint(c);
}

void RoiEditor::pressPolygonPoint(QPoint c)
{
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (polygonClosed) {
        const int count = roiCount(rec, g);
        polygonClosed = false;
        if (count > 0) {
            select(count - 1);
            setSelected(rec, g, count - 1, true);
        }
        return;
    }
    editAction = EditAction::Drawing;
    if (!polygonActive) {
        polygonActive = true;
        // A free-hand polygon is drawn by the moves that follow.
        if (handFlag())
            return;
        if (liveWord(Word::ContinuousArea) != 0)
            emit polygonBegun();
    }
    if (handFlag())
        return;
    // A double tap on one spot is one deliberate point: the first tap has
    // added it.
    if (pairSecond && polyPointCount > 0)
        return;
    if (polyPointCount >= kMaxPolyPoints) {
        polyPointCount = kMaxPolyPoints - 1;
        OperatorDialogs::get().warn(lanStr(35));
        return;
    }
    polyPointCount = std::max(0, polyPointCount);
    polyPoints[polyPointCount++] = c;
}

void RoiEditor::doublePress()
{
    const int mode = drawMode();
    if (mode == RoiShape::Polygon && !handFlag()) {
        // The pair's first press added a point where the second one lands;
        // it is dropped. A pair that follows a closed polygon has no point
        // to drop.
        polyPointCount = std::max(0, polyPointCount - 1);
        const int before = buf.editRecord ? buf.editRecord->roiCount[editStep()] : 0;
        polygonClosed = true;
        emit shapeEnded(mode, false);
        // Only a polygon that was stored is selected by the next press.
        if (!buf.editRecord || buf.editRecord->roiCount[editStep()] <= before)
            polygonClosed = false;
    } else if (mode == RoiShape::Polygon || mode == RoiShape::Circle || mode == RoiShape::Rect) {
        emit shapeEnded(mode, handFlag());
    }
}

// ---- Move -----------------------------------------------------------------------------

bool RoiEditor::farEnough(QPoint p) const
{
    const Scale s = scale ? scale() : Scale();
    const float fx = s.x > 0.0f ? s.x : 1.0f;
    const float fy = s.y > 0.0f ? s.y : 1.0f;
    return std::abs(p.x() - lastPoint.x()) / fx >= 3.0f || std::abs(p.y() - lastPoint.y()) / fy >= 3.0f;
}

bool RoiEditor::drag(QPoint p)
{
    if (!buf.editRecord)
        return true;
    const int g = editStep();
    const bool selected = findSelected();
    const int j = selected ? g * kMaxRoi + curRoi : -1;
    if (shapeDrag) {
        dragShape(p, selected, j);
        return true;
    }
    if (polygonActive) {
        dragPolygon(p, selected, j);
        return true;
    }
    return false;
}

void RoiEditor::dragShape(QPoint p, bool selected, int j)
{
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (editAction == EditAction::Resizing) {
        startPoint = p;
        if (selected && rec.kind[j] == RoiShape::Rect) {
            ClustomRect& r = rec.rect[g][curRoi];
            r.Resize(handleIndex, lastPoint, p);
            CheckInRange(&r.rect, gShowW, gShowH, false);
        } else if (selected && rec.kind[j] == RoiShape::Circle) {
            Circle& c = rec.circle[g][curRoi];
            c.Resize(handleIndex, lastPoint, p);
            CheckInRange(&c.rect, gShowW, gShowH, false);
            c.UpdateAll();
        }
        lastPoint = p;
        emit changed();
    } else if (editAction == EditAction::Pressed || editAction == EditAction::Drawing) {
        if (editAction == EditAction::Drawing)
            emit changed();
        editAction = EditAction::Drawing;
        dragCorner = clampPoint(p);
        if (drawMode() == RoiShape::Circle) {
            tempCircle.rect.setCoords(startPoint.x(), startPoint.y(), dragCorner.x(), dragCorner.y());
            tempCircle.UpdateAll();
        } else {
            tempRect.rect.setCoords(startPoint.x(), startPoint.y(), dragCorner.x(), dragCorner.y());
        }
    } else if (editAction == EditAction::Moving && selected && farEnough(p)) {
        const QPoint d = p - lastPoint;
        if (rec.kind[j] == RoiShape::Rect) {
            ClustomRect& r = rec.rect[g][curRoi];
            r.rect.translate(d);
            CheckInRange(&r.rect, gShowW, gShowH, true);
        } else if (rec.kind[j] == RoiShape::Circle) {
            Circle& c = rec.circle[g][curRoi];
            c.rect.translate(d);
            CheckInRange(&c.rect, gShowW, gShowH, true);
            c.UpdateAll();
        }
        lastPoint = p;
        emit changed();
    }
}

void RoiEditor::dragPolygon(QPoint p, bool selected, int j)
{
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    const Scale s = scale ? scale() : Scale();
    if (editAction == EditAction::Moving && pressSeen) {
        if (selected && rec.kind[j] == RoiShape::Polygon && farEnough(p)) {
            RePolygon& poly = rec.polygon[g][curRoi];
            const QPoint d = p - lastPoint;
            if (polygonFits(poly.pts, d)) {
                for (QPoint& q : poly.pts)
                    q += d;
                poly.setShowA(s.x, s.y);
                poly.setImageRect();
                lastPoint = p;
            }
        }
        emit changed();
    } else if (editAction == EditAction::Resizing && pressSeen) {
        if (selected && rec.kind[j] == RoiShape::Polygon)
            rec.polygon[g][curRoi].Resize(handleIndex, lastPoint, p, s.x, s.y);
        lastPoint = p;
        emit changed();
    } else if (editAction == EditAction::Drawing && handFlag()) {
        polyPointCount = std::max(0, polyPointCount);
        if (polyPointCount < kMaxPolyPoints - 1)
            polyPoints[polyPointCount++] = clampPoint(p);
        emit changed();
    }
}

std::optional<Qt::CursorShape> RoiEditor::hoverCursor(QPoint p)
{
    if (buf.editRecord && findSelected()) {
        const int g = editStep();
        const int kind = buf.editRecord->kind[g * kMaxRoi + curRoi];
        int handle = -1;
        if (onHandle(*buf.editRecord, g, curRoi, p, &handle)) {
            if (kind == RoiShape::Polygon)
                return Qt::SizeFDiagCursor;
            // The handles run round the shape from its top-left corner:
            // corners resize both ways, edge middles one way.
            static const Qt::CursorShape byHandle[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                        Qt::SizeBDiagCursor, Qt::SizeHorCursor,
                                                        Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                        Qt::SizeBDiagCursor, Qt::SizeHorCursor};
            return handle >= 0 && handle < 8 ? byHandle[handle] : Qt::SizeHorCursor;
        }
    }
    if (anyUnder(p))
        return Qt::SizeAllCursor;
    return std::nullopt;
}

// ---- Release --------------------------------------------------------------------------

void RoiEditor::newRoiParameters(int step, int i)
{
    CammerSingleton& rec = *buf.editRecord;
    const int j = step * kMaxRoi + i;
    if (i == 0) {
        // The step's first region takes the first of these functions that
        // is switched on, else the grey template.
        using F = CammerRecong::Function;
        static const int preferred[] = {F::kGreyBand,    F::kDarkPixels, F::kBrightPixels, F::kFeature,
                                        F::kBrightBlobs, F::kDarkBlobs,  F::kColourBox};
        int m = F::kGreyTemplate;
        for (int c : preferred) {
            if (RoiFunctions::enabled(c)) {
                m = c;
                break;
            }
        }
        RoiFunctions::startSlot(rec, j, m);
    } else {
        rec.method[j] = rec.method[j - 1];
        rec.p1[j] = rec.p1[j - 1];
        rec.p2[j] = rec.p2[j - 1];
        rec.p3[j] = rec.p3[j - 1];
    }
    buf.roiValue[step][i] = 0;
    if (step == 0)
        rec.outputNo[i] = 0;
}

// The rectangle or circle drawn becomes region i of `step` (a rectangle a
// quadrilateral polygon when rectangles are stored so).
void RoiEditor::storeShape(int step)
{
    CammerSingleton& rec = *buf.editRecord;
    const int mode = drawMode();
    const int i = std::clamp(rec.roiCount[step], 0, kMaxRoi - 1);
    const int j = step * kMaxRoi + i;
    if (curRoi >= 0 && curRoi < kMaxRoi)
        setSelected(rec, step, curRoi, false);
    const QRect r(startPoint, dragCorner);
    if (mode == RoiShape::Rect && liveWord(Word::RectToQuadrilateral) != 0) {
        RePolygon& poly = rec.polygon[step][i];
        poly = RePolygon();
        poly.setPoints({r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()});
        poly.SetHand(false);
        rec.kind[j] = RoiShape::Polygon;
        poly.SetSelected(true);
    } else if (mode == RoiShape::Rect) {
        ClustomRect& cr = rec.rect[step][i];
        cr = ClustomRect();
        cr.rect = r;
        rec.kind[j] = RoiShape::Rect;
        cr.SetSelected(true);
    } else {
        Circle& c = rec.circle[step][i];
        c = tempCircle;
        c.rect = r;
        c.UpdateAll();
        rec.kind[j] = RoiShape::Circle;
        c.SetSelected(true);
    }
    renew(step, i);
    newRoiParameters(step, i);
    rec.roiCount[step] = i + 1;
    select(i);
}

void RoiEditor::releaseShape()
{
    const int g = editStep();
    const int mode = drawMode();
    if (editAction == EditAction::Drawing && (mode == RoiShape::Rect || mode == RoiShape::Circle)) {
        const bool bigEnough = dragCorner.x() - startPoint.x() >= 10 && dragCorner.y() - startPoint.y() >= 10;
        if (bigEnough && stepFull(g))
            OperatorDialogs::get().warn(lanStr(36));
        else if (bigEnough)
            storeShape(g);
    }
    endDrawModeUnlessTapDrawing();
    editAction = EditAction::None;
    shapeDrag = false;
}

void RoiEditor::release()
{
    if (!buf.editRecord) {
        pressSeen = false;
        return;
    }
    const int g = editStep();
    if (shapeDrag && (editAction == EditAction::Drawing || editAction == EditAction::Pressed)) {
        releaseShape();
    } else if ((shapeDrag || polygonActive) &&
               (editAction == EditAction::Moving || editAction == EditAction::Resizing)) {
        if (findSelected())
            renew(g, curRoi);
        polygonActive = false;
        editAction = EditAction::None;
        shapeDrag = false;
    } else if (polygonActive && editAction == EditAction::Drawing && handFlag()) {
        if (polyPointCount < 6) {
            polygonActive = false;
            editAction = EditAction::None;
            endDrawModeUnlessTapDrawing();
            polyPointCount = 0;
            emit selectionChanged();
            emit changed();
        } else {
            savePolygon();
        }
    }
    emit selectionChanged();
    pressSeen = false;
    emit changed();
}

// ---- Storing, copying, deleting ----------------------------------------------------

void RoiEditor::savePolygon()
{
    if (!buf.editRecord || editAction != EditAction::Drawing || drawMode() != RoiShape::Polygon)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (stepFull(g)) {
        OperatorDialogs::get().warn(lanStr(36));
        return;
    }
    const int n = std::clamp(polyPointCount, 0, int(RePolygon::kMaxPoints) - 1);
    if (n <= 2) {
        polyPointCount = 0;
        return;
    }
    const int i = std::clamp(rec.roiCount[g], 0, kMaxRoi - 1);
    const int j = g * kMaxRoi + i;
    if (curRoi >= 0 && curRoi < kMaxRoi)
        setSelected(rec, g, curRoi, false);
    const bool hand = handFlag();
    RePolygon& poly = rec.polygon[g][i];
    poly = RePolygon(n, polyPoints);
    poly.SetHand(hand);
    poly.SetSelected(true);
    rec.kind[j] = RoiShape::Polygon;
    renew(g, i);
    newRoiParameters(g, i);
    rec.roiCount[g] = i + 1;
    select(i);
    labelAnchor = poly.pts.first() - QPoint(0, 26);
    polygonActive = false;
    editAction = EditAction::None;
    if (!(liveWord(Word::ContinuousArea) != 0 && hand) && gpState)
        EditSession::get().setDrawMode(RoiShape::None);
    polyPointCount = 0;
    emit selectionChanged();
    emit changed();
}

void RoiEditor::abandonPolygon()
{
    polygonActive = false;
    editAction = EditAction::None;
}

void RoiEditor::copyTo(QPoint p)
{
    if (!buf.editRecord)
        return;
    const int g = editStep();
    if (buf.editRecord->roiCount[g] <= 0)
        return;
    if (!OperatorDialogs::get().choose(lanStr(38)))
        return;
    // The box ran an event loop: everything is looked at afresh.
    CammerSingleton& rec = *buf.editRecord;
    const int count = roiCount(rec, g);
    if (count <= 0)
        return;
    if (count >= kMaxRoi) {
        OperatorDialogs::get().warn(lanStr(36));
        return;
    }
    int src = count - 1;
    if (curRoi >= 0 && curRoi < count)
        src = curRoi;
    else if (lastRoi >= 0 && lastRoi < count)
        src = lastRoi;
    const int dst = count;
    const int js = g * kMaxRoi + src;
    const int jd = g * kMaxRoi + dst;
    const int kind = rec.kind[js];
    if (kind == RoiShape::Polygon) {
        RePolygon copy = rec.polygon[g][src];
        if (copy.pts.isEmpty()) {
            qWarning("copy: polygon %d of step %d has no points; nothing copied", src + 1, g);
            return;
        }
        const QPoint d = p - copy.pts.first();
        for (QPoint& q : copy.pts)
            q = clampPoint(q + d);
        copy.SetHand(rec.polygon[g][src].getHand());
        copy.SetSelected(true);
        rec.polygon[g][dst] = copy;
    } else if (kind == RoiShape::Rect || kind == RoiShape::Circle) {
        QRect r = kind == RoiShape::Rect ? rec.rect[g][src].rect : rec.circle[g][src].rect;
        const QPoint centre((r.left() + r.right()) / 2, (r.top() + r.bottom()) / 2);
        r.translate(p - centre);
        CheckInRange(&r, gShowW, gShowH, true);
        if (kind == RoiShape::Rect) {
            ClustomRect copy = rec.rect[g][src];
            copy.rect = r;
            copy.SetSelected(true);
            rec.rect[g][dst] = copy;
        } else {
            Circle copy = rec.circle[g][src];
            copy.rect = r;
            copy.UpdateAll();
            copy.SetSelected(true);
            rec.circle[g][dst] = copy;
        }
    } else {
        qWarning("copy: ROI %d of step %d has the unknown kind %d; nothing copied", src + 1, g, kind);
        return;
    }
    rec.kind[jd] = kind;
    renew(g, dst);
    setSelected(rec, g, src, false);
    rec.p1[jd] = rec.p1[js];
    rec.p2[jd] = rec.p2[js];
    rec.p3[jd] = rec.p3[js];
    rec.method[jd] = rec.method[js];
    buf.roiValue[g][dst] = 0;
    if (g == 0)
        rec.outputNo[dst] = rec.outputNo[src];
    rec.roiCount[g] = count + 1;
    select(dst);
    emit selectionChanged();
    emit changed();
}

void RoiEditor::deleteRoi(int roi)
{
    if (!buf.editRecord || roi < 0 || roi >= kMaxRoi)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (g < buf.stepCount() && buf.ignoreMask[g]) {
        const RoiShapes::Ops* shape = RoiShapes::of(rec, g, roi);
        const QRect box = shape ? shape->imageRect(rec, g, roi) : QRect();
        const QRect r = box.normalized().intersected(QRect(0, 0, buf.imageWidth, buf.imageHeight));
        for (int y = r.top(); !r.isEmpty() && y <= r.bottom(); ++y)
            std::fill_n(buf.ignoreMask[g] + static_cast<size_t>(y) * buf.imageWidth + r.left(), r.width(), uchar(0));
        emit ignoreMaskCleared(g);
    }
    const int count = roiCount(rec, g);
    if (roi >= count)
        return;
    for (int i = roi; i + 1 < count; ++i) {
        const int j = g * kMaxRoi + i;
        rec.rect[g][i] = rec.rect[g][i + 1];
        rec.circle[g][i] = rec.circle[g][i + 1];
        rec.polygon[g][i] = rec.polygon[g][i + 1];
        buf.editMasks[g][i] = buf.editMasks[g][i + 1];
        rec.p1[j] = rec.p1[j + 1];
        rec.p2[j] = rec.p2[j + 1];
        rec.p3[j] = rec.p3[j + 1];
        rec.method[j] = rec.method[j + 1];
        rec.kind[j] = rec.kind[j + 1];
        if (g == 0)
            rec.outputNo[i] = rec.outputNo[i + 1];
    }
    rec.roiCount[g] = count - 1;
}

// ---- Panel buttons that edit geometry ---------------------------------------------------

void RoiEditor::nextRoi()
{
    if (!buf.editRecord)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    const int count = roiCount(rec, g);
    if (count > 0) {
        const int from = curRoi;
        for (int k = 1; k <= count; ++k) {
            const int i = ((from + k) % count + count) % count;
            int handle = -1;
            if (contains(rec, g, i, pickPoint) || onHandle(rec, g, i, pickPoint, &handle)) {
                deselect();
                setSelected(rec, g, i, true);
                select(i);
                renew(g, i);
                break;
            }
        }
    }
    emit selectionChanged();
    emit changed();
}

void RoiEditor::nextObject()
{
    if (!buf.editRecord)
        return;
    const int g = editStep();
    const RoiShapes::Ops* shape = RoiShapes::of(*buf.editRecord, g, curRoi);
    const int n = shape ? shape->objects(*buf.editRecord, g, curRoi) : 1;
    objectIndex = n > 0 ? (std::max(0, objectIndex) + 1) % n : 0;
    emit selectionChanged();
    emit changed();
}

void RoiEditor::nextMoveMode()
{
    if (!buf.editRecord || curRoi < 0 || curRoi >= roiCount(*buf.editRecord, editStep()))
        return;
    moveMode_ = (moveMode_ + 1) % MoveMode::Count;
    emit selectionChanged();
}

void RoiEditor::moveBy(int dx, int dy)
{
    if (!buf.editRecord)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    const int count = roiCount(rec, g);
    int first = 0;
    int last = count - 1;
    if (moveMode_ != MoveMode::All) {
        if (curRoi < 0 || curRoi >= count)
            return;
        first = last = curRoi;
    }
    const QPoint d(dx, dy);
    for (int i = first; i <= last; ++i) {
        const RoiShapes::Ops* shape = RoiShapes::of(rec, g, i);
        if (!shape)
            continue;
        // A polygon that would leave the view stops the whole move there.
        if (!shape->moveBy(rec, g, i, d))
            return;
        renew(g, i);
    }
    emit selectionChanged();
    emit changed();
}

void RoiEditor::stepButton(int button)
{
    if (!buf.editRecord || button < 0 || button > 3)
        return;
    CammerSingleton& rec = *buf.editRecord;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= roiCount(rec, g))
        return;
    static const QPoint delta[4] = {QPoint(0, -1), QPoint(-1, 0), QPoint(0, 1), QPoint(1, 0)};
    static const int radiusStep[4] = {10, 1, -1, -10};
    const QPoint d = delta[button];
    const int kind = rec.kind[g * kMaxRoi + curRoi];
    if (kind == RoiShape::Rect) {
        QRect& r = rec.rect[g][curRoi].rect;
        if (objectIndex == 1)
            r.setBottomRight(r.bottomRight() + d);
        else
            r.setTopLeft(r.topLeft() + d);
        CheckInRange(&r, gShowW, gShowH, false);
    } else if (kind == RoiShape::Polygon) {
        RePolygon& poly = rec.polygon[g][curRoi];
        if (objectIndex < 0 || objectIndex >= poly.count())
            return;
        poly.pts[objectIndex] = clampPoint(poly.pts[objectIndex] + d);
    } else if (kind == RoiShape::Circle) {
        Circle& c = rec.circle[g][curRoi];
        if (objectIndex == 2) {
            c.x += d.x();
            c.y += d.y();
        } else if (objectIndex == 1) {
            c.r = RoiFunctions::addPlain(c.r, radiusStep[button]);
        } else {
            c.ri = RoiFunctions::addPlain(c.ri, radiusStep[button]);
        }
        c.UpdateRect();
        CheckInRange(&c.rect, gShowW, gShowH, false);
        c.UpdateAll();
    } else {
        return;
    }
    renew(g, curRoi);
    emit changed();
}

void RoiEditor::forgetPart()
{
    moveMode_ = MoveMode::None;
    objectIndex = 0;
}
