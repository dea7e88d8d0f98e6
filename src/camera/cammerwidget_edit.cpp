// Drawing, selecting, moving, resizing, copying and deleting ROIs by touch on
// the template picture of a camera view.
//
// ROI shapes are kept in full-view coordinates (the picture fills a gShowW x
// gShowH view); a pointer position goes through the same transform the
// drawing uses (pan and zoom of the current camera, then the window scale).
// Every shape stays 3 pixels inside the full view: new corners and points
// are clamped, moves of rectangles and circles are pushed back, moves of
// polygons that would leave are refused.
#include "cammerwidget.h"
#include "editsession.h"

#include "cammersingleton.h"
#include "globals.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "numberinput.h"
#include "roifunctions.h"
#include "roishapes.h"
#include "cyclecontrol.h"
#include "screenchrome.h"
#include "viewutil.h"
#include "winstate.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "operatordialogs.h"

#include <QDateTime>
#include <QDebug>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

int word(int n)
{
    return (gpWPara && n >= 0 && n < kParaWords) ? gpWPara->words[n] : 0;
}

int drawMode()
{
    return gpState ? EditSession::get().drawMode() : RoiShape::None;
}

bool handFlag()
{
    return gpState && EditSession::get().handDraw();
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

// The previous press of the double-press check, shared by all views.
struct PressRecord {
    bool seen = false;
    qint64 time = 0;
    QPoint pos;
};

PressRecord& lastPress()
{
    static PressRecord r;
    return r;
}

}  // namespace

std::function<qint64()> CammerWidget::clock = [] { return QDateTime::currentMSecsSinceEpoch(); };

RoiPageLink& CammerWidget::pageLink()
{
    static RoiPageLink link;
    return link;
}

void CammerWidget::setPageLink(const RoiPageLink& link)
{
    pageLink() = link;
}

void CammerWidget::resetDoubleClick()
{
    lastPress() = PressRecord();
}

// ---- State ------------------------------------------------------------------------

void CammerWidget::InitEditing()
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
    moveMode = MoveMode::None;
    if (roiPanel)
        roiPanel->forgetPair();
    connect(this, &CammerWidget::clicked, this, &CammerWidget::SlotCheckDoubleClicked, Qt::UniqueConnection);
}

int CammerWidget::editStep()
{
    const int s = EditSession::get().currentDetect();
    return (s >= 0 && s < kMaxDetect) ? s : 0;
}

bool CammerWidget::StepFull(int step)
{
    return editRecord && editRecord->roiCount[step] >= kMaxRoi;
}

void CammerWidget::setCurRoi(int i)
{
    if (i == curRoi)
        return;
    curRoi = i;
    if (editRecord)
        editRecord->setSelectRoi(EditSession::get().currentDetect(), i);
}

void CammerWidget::RenewRoi(int step, int i)
{
    if (!editRecord || step < 0 || step >= kMaxDetect || i < 0 || i >= kMaxRoi)
        return;
    CammerSingleton& rec = *editRecord;
    const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i);
    if (!shape)
        return;
    editMasks[step][i] = shape->renew(rec, step, i, fullScaleX, fullScaleY);
    QPoint corner;
    if (shape->labelCorner(rec, step, i, &corner))
        labelAnchor = corner - QPoint(0, 26);
}

namespace {
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
}  // namespace

// ---- Hit tests ---------------------------------------------------------------------

bool CammerWidget::GetSelectedRect()
{
    if (!editRecord)
        return false;
    const int g = editStep();
    const int count = std::clamp(editRecord->roiCount[g], 0, kMaxRoi);
    for (int i = 0; i < count; ++i) {
        if (isSelected(*editRecord, g, i)) {
            setCurRoi(i);
            return true;
        }
    }
    return false;
}

bool CammerWidget::PtInRegion(QPoint p)
{
    if (!editRecord)
        return false;
    const int g = editStep();
    if (curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[g], 0, kMaxRoi))
        return false;
    if (contains(*editRecord, g, curRoi, p))
        return true;
    return onHandle(*editRecord, g, curRoi, p, &handleIndex);
}

bool CammerWidget::PtInRect(QPoint p)
{
    if (!editRecord)
        return false;
    const int g = editStep();
    const int count = std::clamp(editRecord->roiCount[g], 0, kMaxRoi);
    const int start = (curRoi >= 0 && curRoi < count) ? curRoi : 0;
    for (int k = 0; k < count; ++k) {
        const int i = (start + k) % count;
        int handle = -1;
        if (contains(*editRecord, g, i, p) || onHandle(*editRecord, g, i, p, &handle)) {
            setCurRoi(i);
            QPoint corner;
            if (const RoiShapes::Ops* shape = RoiShapes::of(*editRecord, g, i)) {
                if (shape->labelCorner(*editRecord, g, i, &corner))
                    labelAnchor = corner - QPoint(0, 26);
            }
            pickPoint = p;
            return true;
        }
    }
    return false;
}

bool CammerWidget::PtInRectMove(QPoint p)
{
    if (!editRecord)
        return false;
    const int g = editStep();
    const int count = std::clamp(editRecord->roiCount[g], 0, kMaxRoi);
    for (int i = 0; i < count; ++i) {
        if (contains(*editRecord, g, i, p))
            return true;
        const RoiShapes::Ops* shape = RoiShapes::of(*editRecord, g, i);
        const bool hit = shape && shape->touchesHandle(*editRecord, g, i, p);
        if (hit)
            return true;
    }
    return false;
}

void CammerWidget::DeselectROI()
{
    editAction = EditAction::None;
    polygonActive = false;
    if (word(Word::ContinuousArea) == 0) {
        if (gpState)
            EditSession::get().setDrawMode(RoiShape::None);
        polyPointCount = 0;
    }
    if (editRecord && curRoi >= 0 && curRoi < kMaxRoi)
        setSelected(*editRecord, editStep(), curRoi, false);
    curRoi = -1;
}

// ---- Resize and pointer ---------------------------------------------------------------

void CammerWidget::resizeEvent(QResizeEvent* e)
{
    const QRect r = rect();
    const float w = static_cast<float>(r.right() - r.left() + 1);
    const float h = static_cast<float>(r.bottom() - r.top() + 1);
    if (gShowW > 0 && gShowH > 0) {
        winSW = w / static_cast<float>(gShowW);
        winSH = h / static_cast<float>(gShowH);
    }
    if (imageWidth > 0 && imageHeight > 0) {
        showSW = w / static_cast<float>(imageWidth);
        showSH = h / static_cast<float>(imageHeight);
    }
    QWidget::resizeEvent(e);
}

void CammerWidget::MUpdateXYV(int x, int y)
{
    if (!gpState || imageWidth < 1 || imageHeight < 1 || gShowW < 1 || gShowH < 1)
        return;
    bool invertible = false;
    const QTransform inv = viewTransform().inverted(&invertible);
    if (!invertible)
        return;
    const QPointF f = inv.map(QPointF(x, y));
    const double px = f.x() * imageWidth / gShowW;
    const double py = f.y() * imageHeight / gShowH;
    if (!std::isfinite(px) || !std::isfinite(py))
        return;
    const int X = static_cast<int>(std::clamp(px, -1.0e9, 1.0e9));
    const int Y = static_cast<int>(std::clamp(py, -1.0e9, 1.0e9));
    EditSession::get().setPick(X, Y);
    if (X >= 0 && Y >= 0 && X < imageWidth && Y < imageHeight && displayFrame) {
        const size_t at = static_cast<size_t>(Y) * imageWidth + X;
        if (gisColor)
            EditSession::get().setPickValue(static_cast<int>(reinterpret_cast<const quint32*>(displayFrame)[at]));
        else
            EditSession::get().setPickValue(displayFrame[at]);
    }
}

QPoint CammerWidget::getPointsCenter() const
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

void CammerWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    // Qt delivers the second press of a double click as a press and then
    // once more as this event, whose default handling would run the press a
    // second time. Double presses are recognised by SlotCheckDoubleClicked
    // on the presses themselves, so this event has nothing left to do.
    e->accept();
}

void CammerWidget::SlotCheckDoubleClicked(QPoint pos)
{
    PressRecord& prev = lastPress();
    const qint64 now = clock ? clock() : QDateTime::currentMSecsSinceEpoch();
    const qint64 dt = now - prev.time;
    const bool pair = prev.seen && dt >= 0 && dt < 800 && std::abs(pos.x() - prev.pos.x()) < 20 &&
                      std::abs(pos.y() - prev.pos.y()) < 20;
    prev.seen = true;
    prev.time = now;
    prev.pos = pos;
    if (!pair || word(Word::ContinuousArea) == 0 || gSource != PictureSource::Template)
        return;
    const RoiPageLink& page = pageLink();
    switch (drawMode()) {
    case RoiShape::Polygon:
        if (!handFlag()) {
            // The pair's first press added a point where the second one
            // lands; it is dropped. A pair that follows a closed polygon has
            // no point to drop.
            polyPointCount = std::max(0, polyPointCount - 1);
            const int before = editRecord ? editRecord->roiCount[editStep()] : 0;
            polygonClosed = true;
            if (page.drawPloygn)
                page.drawPloygn();
            // Only a polygon that was stored is selected by the next press.
            if (!editRecord || editRecord->roiCount[editStep()] <= before)
                polygonClosed = false;
        } else if (page.drawHand) {
            page.drawHand();
        }
        break;
    case RoiShape::Circle:
        if (page.drawCircle)
            page.drawCircle();
        break;
    case RoiShape::Rect:
        if (page.drawRect)
            page.drawRect();
        break;
    default:
        break;
    }
}

void CammerWidget::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->pos();
    emit clicked(pos);
    if (EditSession::get().currentCamera() == cameraIndex) {
        EditSession::get().setLastPress(pos.x(), pos.y());
        MUpdateXYV(pos.x(), pos.y());
    }
    if (QTimer* barTimer = EditSession::get().buttonBarTimer())
        barTimer->start(120000);
    if (gpState) {
        if (gpState->cycle().detectState < DetectState::NgLatched && ScreenChrome::get().buttonBarPress() && gpNumPad)
            gpNumPad->HideUpdate();
    }
    if (cameraIndex >= numCamera) {
        QWidget::mousePressEvent(e);
        return;
    }
    if (EditSession::get().currentCamera() == numCamera) {
        // All cameras tiled: the press chooses this camera.
        EditSession::get().setCurrentCamera(cameraIndex);
        CycleControl::get().changeCammer();
        const bool ngLatched = gpState && gpState->cycle().detectState == DetectState::NgLatched;
        if (ngLatched && gSource == PictureSource::Live && pageLink().selectCamera)
            pageLink().selectCamera(cameraIndex);
        QWidget::mousePressEvent(e);
        return;
    }
    if (gSource != PictureSource::Template) {
        setCursor(Qt::ArrowCursor);
        QWidget::mousePressEvent(e);
        return;
    }
    editAction = EditAction::None;
    pressSeen = true;
    const QPoint P = mapToFullView(pos);
    if (gpState && EditSession::get().copyArea()) {
        if (word(Word::ContinuousCopy) == 0)
            EditSession::get().setCopyArea(false);
        SlotCopyArea(P);
        return;   // the copy is placed; nothing else sees this press
    }
    PressTemplate(P);
    QWidget::mousePressEvent(e);
}

void CammerWidget::PressTemplate(QPoint P)
{
    if (!editRecord)
        return;
    const int mode = drawMode();
    if (mode == RoiShape::None) {
        PressToSelect(P);
        update();
        return;
    }
    PressToDraw(P, mode);
}

// No shape to draw: the press picks a region, a handle of the selected one,
// or lets go of the selection.
void CammerWidget::PressToSelect(QPoint P)
{
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (GetSelectedRect()) {
        const int j = g * kMaxRoi + curRoi;
        if (PtInRegion(P)) {
            if (onHandle(rec, g, curRoi, P, &handleIndex)) {
                editAction = EditAction::Resizing;
                if (rec.kind[j] == RoiShape::Rect) {
                    tempRect = rec.rect[g][curRoi];
                } else if (rec.kind[j] == RoiShape::Circle) {
                    tempCircle = rec.circle[g][curRoi];
                    tempCircle.UpdateAll();
                }
            } else {
                setCursor(Qt::SizeAllCursor);
                editAction = EditAction::Moving;
            }
            lastPoint = P;
            if (rec.kind[j] == RoiShape::Polygon)
                polygonActive = true;
            else
                shapeDrag = true;
        } else {
            const int was = curRoi;
            if (was >= 0 && was < kMaxRoi)
                lastRoi = was;
            setCurRoi(-1);
            setCursor(Qt::CrossCursor);
            startPoint = lastPoint = P;
            if (was >= 0)
                setSelected(rec, g, was, false);
        }
    } else if (PtInRect(P)) {
        const int j = g * kMaxRoi + curRoi;
        setSelected(rec, g, curRoi, true);
        setCursor(Qt::SizeAllCursor);
        lastPoint = P;
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

// A press that begins a shape of kind `mode`, or the next polygon point.
void CammerWidget::PressToDraw(QPoint P, int mode)
{
    if (mode != RoiShape::Rect && mode != RoiShape::Polygon && mode != RoiShape::Circle)
        return;
    if (word(Word::ContinuousArea) != 0)
        DeselectROI();
    setCursor(Qt::CrossCursor);
    const QPoint C = clampPoint(P);
    startPoint = lastPoint = dragCorner = C;
    if (mode == RoiShape::Rect || mode == RoiShape::Circle) {
        if (mode == RoiShape::Rect) {
            tempRect = ClustomRect();
            tempRect.rect = QRect(C, C);
        } else {
            tempCircle = Circle();
            tempCircle.rect = QRect(C, C);
            tempCircle.UpdateAll();
        }
        editAction = EditAction::Pressed;
        shapeDrag = true;
        return;
    }
    PressPolygonPoint(C);
}

void CammerWidget::PressPolygonPoint(QPoint C)
{
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (polygonClosed) {
        const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
        polygonClosed = false;
        if (count > 0) {
            setCurRoi(count - 1);
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
        if (word(Word::ContinuousArea) != 0 && pageLink().startDrawPloygn)
            pageLink().startDrawPloygn();
    }
    if (handFlag())
        return;
    if (polyPointCount >= kMaxPolyPoints) {
        polyPointCount = kMaxPolyPoints - 1;
        OperatorDialogs::get().warn(lanStr(35));
        return;
    }
    polyPointCount = std::max(0, polyPointCount);
    polyPoints[polyPointCount++] = C;
}

void CammerWidget::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->pos();
    if (gSource == PictureSource::Template && cameraIndex < numCamera) {
        MoveTemplate(pos, e);
    } else if ((e->buttons() & Qt::LeftButton) && gpState) {
        viewutil::updateMScale(pos.x(), pos.y());
        setCursor(Qt::ArrowCursor);
        update();
    }
    QWidget::mouseMoveEvent(e);
}

void CammerWidget::MoveTemplate(QPoint pos, QMouseEvent* e)
{
    if (EditSession::get().currentCamera() == cameraIndex)
        MUpdateXYV(pos.x(), pos.y());
    const QPoint P = mapToFullView(pos);
    if (!editRecord)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    const bool selected = GetSelectedRect();
    const int j = selected ? g * kMaxRoi + curRoi : -1;
    const float fx = fullScaleX > 0.0f ? fullScaleX : 1.0f;
    const float fy = fullScaleY > 0.0f ? fullScaleY : 1.0f;
    auto farEnough = [&] {
        return std::abs(P.x() - lastPoint.x()) / fx >= 3.0f || std::abs(P.y() - lastPoint.y()) / fy >= 3.0f;
    };

    if (shapeDrag) {
        switch (editAction) {
        case EditAction::Resizing:
            startPoint = P;
            if (selected && rec.kind[j] == RoiShape::Rect) {
                ClustomRect& r = rec.rect[g][curRoi];
                r.Resize(handleIndex, lastPoint, P);
                CheckInRange(&r.rect, gShowW, gShowH, false);
            } else if (selected && rec.kind[j] == RoiShape::Circle) {
                Circle& c = rec.circle[g][curRoi];
                c.Resize(handleIndex, lastPoint, P);
                CheckInRange(&c.rect, gShowW, gShowH, false);
                c.UpdateAll();
            }
            lastPoint = P;
            update();
            break;
        case EditAction::Pressed:
        case EditAction::Drawing: {
            if (editAction == EditAction::Drawing)
                update();
            editAction = EditAction::Drawing;
            dragCorner = clampPoint(P);
            if (drawMode() == RoiShape::Circle) {
                tempCircle.rect.setCoords(startPoint.x(), startPoint.y(), dragCorner.x(), dragCorner.y());
                tempCircle.UpdateAll();
            } else {
                tempRect.rect.setCoords(startPoint.x(), startPoint.y(), dragCorner.x(), dragCorner.y());
            }
            break;
        }
        case EditAction::Moving:
            if (selected && farEnough()) {
                const QPoint d = P - lastPoint;
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
                lastPoint = P;
                update();
            }
            break;
        default:
            break;
        }
        return;
    }
    if (polygonActive) {
        if (editAction == EditAction::Moving && pressSeen) {
            if (selected && rec.kind[j] == RoiShape::Polygon && farEnough()) {
                RePolygon& poly = rec.polygon[g][curRoi];
                const QPoint d = P - lastPoint;
                if (polygonFits(poly.pts, d)) {
                    for (QPoint& q : poly.pts)
                        q += d;
                    poly.setShowA(fullScaleX, fullScaleY);
                    poly.setImageRect();
                    lastPoint = P;
                }
            }
            update();
        } else if (editAction == EditAction::Resizing && pressSeen) {
            if (selected && rec.kind[j] == RoiShape::Polygon)
                rec.polygon[g][curRoi].Resize(handleIndex, lastPoint, P, fullScaleX, fullScaleY);
            lastPoint = P;
            update();
        } else if (editAction == EditAction::Drawing && handFlag()) {
            polyPointCount = std::max(0, polyPointCount);
            if (polyPointCount < kMaxPolyPoints - 1)
                polyPoints[polyPointCount++] = clampPoint(P);
            update();
        }
        return;
    }
    HoverFeedback(P, e);
}

void CammerWidget::HoverFeedback(QPoint P, QMouseEvent* e)
{
    if (editRecord && GetSelectedRect()) {
        const int g = editStep();
        const int kind = editRecord->kind[g * kMaxRoi + curRoi];
        int handle = -1;
        if (onHandle(*editRecord, g, curRoi, P, &handle)) {
            if (kind == RoiShape::Polygon) {
                setCursor(Qt::SizeFDiagCursor);
            } else {
                // The handles run round the shape from its top-left corner:
                // corners resize both ways, edge middles one way.
                static const Qt::CursorShape byHandle[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                            Qt::SizeBDiagCursor, Qt::SizeHorCursor,
                                                            Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                            Qt::SizeBDiagCursor, Qt::SizeHorCursor};
                setCursor(handle >= 0 && handle < 8 ? byHandle[handle] : Qt::SizeHorCursor);
            }
            return;
        }
    }
    if (PtInRectMove(P)) {
        setCursor(Qt::SizeAllCursor);
        return;
    }
    if ((e->buttons() & Qt::LeftButton) && gpState) {
        viewutil::updateMScale(e->pos().x(), e->pos().y());
        setCursor(Qt::ArrowCursor);
        update();
    }
}

void CammerWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (gSource == PictureSource::Template && cameraIndex < numCamera)
        ReleaseTemplate();
    QWidget::mouseReleaseEvent(e);
}

void CammerWidget::NewRoiParameters(int step, int i)
{
    CammerSingleton& rec = *editRecord;
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
        int a = 0, b = 0, c = 0;
        RoiFunctions::startParameters(m, a, b, c);
        rec.method[j] = m;
        rec.p1[j] = a;
        rec.p2[j] = b;
        rec.p3[j] = c;
    } else {
        rec.method[j] = rec.method[j - 1];
        rec.p1[j] = rec.p1[j - 1];
        rec.p2[j] = rec.p2[j - 1];
        rec.p3[j] = rec.p3[j - 1];
    }
    roiValue[step][i] = 0;
    if (step == 0)
        rec.outputNo[i] = 0;
}

void CammerWidget::ReleaseTemplate()
{
    if (!editRecord) {
        pressSeen = false;
        return;
    }
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (shapeDrag && (editAction == EditAction::Drawing || editAction == EditAction::Pressed)) {
        const int mode = drawMode();
        if (editAction == EditAction::Drawing && (mode == RoiShape::Rect || mode == RoiShape::Circle)) {
            const bool bigEnough = dragCorner.x() - startPoint.x() >= 10 && dragCorner.y() - startPoint.y() >= 10;
            if (bigEnough && StepFull(g)) {
                OperatorDialogs::get().warn(lanStr(36));
            } else if (bigEnough) {
                const int i = std::clamp(rec.roiCount[g], 0, kMaxRoi - 1);
                const int j = g * kMaxRoi + i;
                if (curRoi >= 0 && curRoi < kMaxRoi)
                    setSelected(rec, g, curRoi, false);
                const QRect r(startPoint, dragCorner);
                if (mode == RoiShape::Rect && word(Word::RectToQuadrilateral) != 0) {
                    RePolygon& poly = rec.polygon[g][i];
                    poly = RePolygon();
                    poly.setPoints({r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()});
                    poly.SetHand(false);
                    rec.kind[j] = RoiShape::Polygon;
                    poly.SetSelected(true);
                } else if (mode == RoiShape::Rect) {
                    ClustomRect& cr = rec.rect[g][i];
                    cr = ClustomRect();
                    cr.rect = r;
                    rec.kind[j] = RoiShape::Rect;
                    cr.SetSelected(true);
                } else {
                    Circle& c = rec.circle[g][i];
                    c = tempCircle;
                    c.rect = r;
                    c.UpdateAll();
                    rec.kind[j] = RoiShape::Circle;
                    c.SetSelected(true);
                }
                RenewRoi(g, i);
                NewRoiParameters(g, i);
                rec.roiCount[g] = i + 1;
                setCurRoi(i);
            }
        }
        if (word(Word::ContinuousArea) == 0 && gpState)
            EditSession::get().setDrawMode(RoiShape::None);
        editAction = EditAction::None;
        shapeDrag = false;
    } else if ((shapeDrag || polygonActive) &&
               (editAction == EditAction::Moving || editAction == EditAction::Resizing)) {
        if (GetSelectedRect())
            RenewRoi(g, curRoi);
        polygonActive = false;
        editAction = EditAction::None;
        shapeDrag = false;
    } else if (polygonActive && editAction == EditAction::Drawing && handFlag()) {
        if (polyPointCount < 6) {
            polygonActive = false;
            editAction = EditAction::None;
            if (word(Word::ContinuousArea) == 0 && gpState)
                EditSession::get().setDrawMode(RoiShape::None);
            polyPointCount = 0;
            ShowHideROIPara();
            update();
        } else {
            SavePolygon();
        }
    }
    ShowHideROIPara();
    pressSeen = false;
    update();
}

// ---- Storing, copying, deleting ----------------------------------------------------

void CammerWidget::SavePolygon()
{
    if (!editRecord || editAction != EditAction::Drawing || drawMode() != RoiShape::Polygon)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (StepFull(g)) {
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
    RenewRoi(g, i);
    NewRoiParameters(g, i);
    rec.roiCount[g] = i + 1;
    setCurRoi(i);
    labelAnchor = poly.pts.first() - QPoint(0, 26);
    polygonActive = false;
    editAction = EditAction::None;
    if (!(word(Word::ContinuousArea) != 0 && hand) && gpState)
        EditSession::get().setDrawMode(RoiShape::None);
    polyPointCount = 0;
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotCopyArea(QPoint P)
{
    if (!editRecord)
        return;
    const int g = editStep();
    if (editRecord->roiCount[g] <= 0)
        return;
    if (!OperatorDialogs::get().choose(lanStr(38)))
        return;
    // The box ran an event loop: everything is looked at afresh.
    CammerSingleton& rec = *editRecord;
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
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
        const QPoint d = P - copy.pts.first();
        for (QPoint& q : copy.pts)
            q = clampPoint(q + d);
        copy.SetHand(rec.polygon[g][src].getHand());
        copy.SetSelected(true);
        rec.polygon[g][dst] = copy;
    } else if (kind == RoiShape::Rect || kind == RoiShape::Circle) {
        QRect r = kind == RoiShape::Rect ? rec.rect[g][src].rect : rec.circle[g][src].rect;
        const QPoint centre((r.left() + r.right()) / 2, (r.top() + r.bottom()) / 2);
        r.translate(P - centre);
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
    RenewRoi(g, dst);
    setSelected(rec, g, src, false);
    rec.p1[jd] = rec.p1[js];
    rec.p2[jd] = rec.p2[js];
    rec.p3[jd] = rec.p3[js];
    rec.method[jd] = rec.method[js];
    roiValue[g][dst] = 0;
    if (g == 0)
        rec.outputNo[dst] = rec.outputNo[src];
    rec.roiCount[g] = count + 1;
    setCurRoi(dst);
    ShowHideROIPara();
    update();
}

void CammerWidget::DeleteROI(int roi)
{
    if (!editRecord || roi < 0 || roi >= kMaxRoi)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    if (g < stepCount() && ignoreMask[g]) {
        const QRect r = roiImageRect(rec, g, roi).normalized().intersected(QRect(0, 0, imageWidth, imageHeight));
        for (int y = r.top(); !r.isEmpty() && y <= r.bottom(); ++y)
            std::fill_n(ignoreMask[g] + static_cast<size_t>(y) * imageWidth + r.left(), r.width(), uchar(0));
        SaveIgnorePoint(g);
    }
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
    if (roi >= count)
        return;
    for (int i = roi; i + 1 < count; ++i) {
        const int j = g * kMaxRoi + i;
        rec.rect[g][i] = rec.rect[g][i + 1];
        rec.circle[g][i] = rec.circle[g][i + 1];
        rec.polygon[g][i] = rec.polygon[g][i + 1];
        editMasks[g][i] = editMasks[g][i + 1];
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

void CammerWidget::SlotNextROI()
{
    if (!editRecord)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
    if (count > 0) {
        const int from = curRoi;
        for (int k = 1; k <= count; ++k) {
            const int i = ((from + k) % count + count) % count;
            int handle = -1;
            if (contains(rec, g, i, pickPoint) || onHandle(rec, g, i, pickPoint, &handle)) {
                DeselectROI();
                setSelected(rec, g, i, true);
                setCurRoi(i);
                RenewRoi(g, i);
                break;
            }
        }
    }
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotChangeObject()
{
    if (!editRecord)
        return;
    const int g = editStep();
    const RoiShapes::Ops* shape = RoiShapes::of(*editRecord, g, curRoi);
    const int n = shape ? shape->objects(*editRecord, g, curRoi) : 1;
    objectIndex = n > 0 ? (std::max(0, objectIndex) + 1) % n : 0;
    ShowHideROIPara();
    update();
}

void CammerWidget::SlotMoveAll()
{
    if (!editRecord || curRoi < 0 || curRoi >= std::clamp(editRecord->roiCount[editStep()], 0, kMaxRoi))
        return;
    moveMode = (moveMode + 1) % MoveMode::Count;
    ShowHideROIPara();
}

void CammerWidget::SlotMove(int dx, int dy)
{
    if (!editRecord)
        return;
    CammerSingleton& rec = *editRecord;
    const int g = editStep();
    const int count = std::clamp(rec.roiCount[g], 0, kMaxRoi);
    int first = 0;
    int last = count - 1;
    if (moveMode != MoveMode::All) {
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
        RenewRoi(g, i);
    }
    ShowHideROIPara();
    update();
}

// ---- Masks between the edited and the live record ----------------------------------

void CammerWidget::BackMask()
{
    const int steps = std::clamp(gDNum, 0, int(kMaxDetect));
    for (int g = 0; g < steps; ++g)
        for (int i = 0; i < kMaxRoi; ++i)
            editMasks[g][i] = liveMasks[g][i];
}

void CammerWidget::RestorMask()
{
    const int steps = std::clamp(gDNum, 0, int(kMaxDetect));
    const int mode = word(Word::Mode);
    const bool shared = word(Word::SameParameters) != 0;
    for (int g = 0; g < steps; ++g) {
        if (shared && mode == DetectMode::Standard && word(Word::StepEnabled0) != 0 && (g % 2) == 1)
            continue;
        if (shared && (mode == DetectMode::TwoColour || mode == DetectMode::Turntable) && g >= 2)
            continue;
        // Masks are replaced, never written in place, so sharing is safe.
        for (int i = 0; i < kMaxRoi; ++i)
            liveMasks[g][i] = editMasks[g][i];
    }
}

void CammerWidget::CopyPara()
{
    if (!savedRecord)
        return;
    CammerSingleton& rec = *savedRecord;
    auto copyStep = [&](int to, int from) {
        rec.roiCount[to] = rec.roiCount[from];
        for (int i = 0; i < kMaxRoi; ++i) {
            const int jt = to * kMaxRoi + i;
            const int jf = from * kMaxRoi + i;
            rec.rect[to][i] = rec.rect[from][i];
            rec.rect[to][i].SetSelected(false);
            rec.circle[to][i] = rec.circle[from][i];
            rec.circle[to][i].SetSelected(false);
            rec.polygon[to][i] = rec.polygon[from][i];
            rec.polygon[to][i].SetSelected(false);
            liveMasks[to][i] = liveMasks[from][i];
            rec.kind[jt] = rec.kind[jf];
            rec.p1[jt] = rec.p1[jf];
            rec.p2[jt] = rec.p2[jf];
            rec.p3[jt] = rec.p3[jf];
            rec.method[jt] = rec.method[jf];
        }
    };
    const int mode = word(Word::Mode);
    if (mode == DetectMode::Standard) {
        copyStep(1, 0);
    } else if (mode == DetectMode::TwoColour || mode == DetectMode::Turntable) {
        copyStep(2, 0);
        copyStep(3, 1);
    }
}
