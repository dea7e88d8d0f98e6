// The camera view's side of editing by touch on the template picture: the
// pointer mapped to the full view and handed to the region editor
// (roieditor.h), the double-press check, the picture read-out, and the masks
// between the edited and the live record.
#include "cammerwidget.h"
#include "editsession.h"

#include "cammersingleton.h"
#include "globals.h"
#include "numberinput.h"
#include "cyclecontrol.h"
#include "screenchrome.h"
#include "viewutil.h"
#include "winstate.h"
#include "wizardpara.h"

#include <QDateTime>
#include <QDebug>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

// The previous press of the double-press check, shared by all views.
struct PressRecord {
    bool seen = false;
    qint64 time = 0;   // when it was read (the check's clock)
    ulong made = 0;    // when it was made (the event's timestamp, 0: none)
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
    roiEditor.reset();
    if (roiPanel)
        roiPanel->forgetPair();
    connect(this, &CammerWidget::clicked, this, &CammerWidget::SlotCheckDoubleClicked, Qt::UniqueConnection);
}

// What the editor asks of its view: repaints, the panel, the cursor, the
// ignore mask file, and the ROI page's drawing buttons.
void CammerWidget::ConnectEditor()
{
    connect(&roiEditor, &RoiEditor::changed, this, QOverload<>::of(&QWidget::update));
    connect(&roiEditor, &RoiEditor::selectionChanged, this, &CammerWidget::ShowHideROIPara);
    connect(&roiEditor, &RoiEditor::cursorWanted, this, [this](Qt::CursorShape c) { setCursor(c); });
    connect(&roiEditor, &RoiEditor::ignoreMaskCleared, this, &CammerWidget::SaveIgnorePoint);
    connect(&roiEditor, &RoiEditor::polygonBegun, this, [] {
        if (pageLink().startDrawPloygn)
            pageLink().startDrawPloygn();
    });
    connect(&roiEditor, &RoiEditor::shapeEnded, this, [](int shape, bool hand) {
        const RoiPageLink& page = pageLink();
        const std::function<void()>& end = shape == RoiShape::Circle ? page.drawCircle
                                           : shape == RoiShape::Rect ? page.drawRect
                                           : hand                    ? page.drawHand
                                                                     : page.drawPloygn;
        if (end)
            end();
    });
}

// ---- Resize and pointer ---------------------------------------------------------------

void CammerWidget::resizeEvent(QResizeEvent* e)
{
    const QRect r = rect();
    const float w = static_cast<float>(r.right() - r.left() + 1);
    const float h = static_cast<float>(r.bottom() - r.top() + 1);
    if (gShowW > 0 && gShowH > 0) {
        scales.winX = w / static_cast<float>(gShowW);
        scales.winY = h / static_cast<float>(gShowH);
    }
    if (imageWidth > 0 && imageHeight > 0) {
        scales.showX = w / static_cast<float>(imageWidth);
        scales.showY = h / static_cast<float>(imageHeight);
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
void CammerWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    // Through the window, Qt delivers the second press of a quick double
    // tap as this event alone, with no press: it is that press.
    mousePressEvent(e);
}
void CammerWidget::SlotCheckDoubleClicked(QPoint pos)
{
    PressRecord& prev = lastPress();
    const qint64 now = clock ? clock() : QDateTime::currentMSecsSinceEpoch();
    // Timed by when the taps were made: a busy program reads a double tap's
    // presses far apart, and two taps made apart close together. The
    // reading time serves only when a press carries no time on the clock
    // of the one before.
    const ulong made = pressMade;
    pressMade = 0;
    const qint64 dt = made != 0 && prev.made != 0 && made >= prev.made ? qint64(made - prev.made) : now - prev.time;
    const bool pair = prev.seen && dt >= 0 && dt < 800 && std::abs(pos.x() - prev.pos.x()) < 20 &&
                      std::abs(pos.y() - prev.pos.y()) < 20;
    prev.seen = true;
    prev.time = now;
    prev.made = made;
    prev.pos = pos;
    pairedPress = pair && gSource == PictureSource::Template;
    if (!pairedPress || liveWord(Word::ContinuousArea) == 0)
        return;
    roiEditor.doublePress();
    // The pair ended the shape; the press goes on as documented.
    pairedPress = false;
}

void CammerWidget::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->pos();
    pressMade = e->timestamp();
    pairedPress = false;
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
    if (roiEditor.press(mapToFullView(pos), pairedPress))
        return;   // the copy is placed; nothing else sees this press
    QWidget::mousePressEvent(e);
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
    if (roiEditor.drag(P))
        return;
    // A hover: the cursor tells what a press would take; a drag past the
    // regions pans the zoomed picture.
    if (const std::optional<Qt::CursorShape> c = roiEditor.hoverCursor(P)) {
        setCursor(*c);
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
        roiEditor.release();
    QWidget::mouseReleaseEvent(e);
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
    const int mode = liveWord(Word::Mode);
    const bool shared = liveWord(Word::SameParameters) != 0;
    for (int g = 0; g < steps; ++g) {
        if (shared && mode == DetectMode::Standard && liveWord(Word::StepEnabled0) != 0 && (g % 2) == 1)
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
    const int mode = liveWord(Word::Mode);
    if (mode == DetectMode::Standard) {
        copyStep(1, 0);
    } else if (mode == DetectMode::TwoColour || mode == DetectMode::Turntable) {
        copyStep(2, 0);
        copyStep(3, 1);
    }
}
