// The camera view's painting: the picture of the current source, defect and
// ignored-point marks, the ROIs with their labels, the verdict, the header,
// the counters, the countdown and the shape being drawn.
//
// The shown picture is the view's ViewPicture: displayFrame expanded to
// 32-bit RGB once per change, at the size it lands on the device where that
// is smaller, with the marks of what is shown written over the marked ROI
// rectangles only; a repaint costs one pass over those, not over the frame.
#include "cammerwidget.h"
#include "editsession.h"
#include "productioncounters.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "globals.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "publictools_widget.h"
#include "roifunctions.h"
#include "roishapes.h"
#include "viewpicture.h"
#include "winstate.h"
#include "viewutil.h"
#include "wizardpara.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
using viewutil::isqrt;
using viewutil::greyTable;

QFont viewFont(int pixels)
{
    QFont f(QStringLiteral("wqy-microhei"));
    f.setWeight(50);
    f.setPixelSize(pixels);
    return f;
}


// Text centred on a point: (centre x - width / 2, centre y + height / 2).
void drawCentred(QPainter& p, QPoint centre, const QString& text)
{
    const QFontMetrics fm(p.font());
    p.drawText(QPoint(centre.x() - fm.horizontalAdvance(text) / 2, centre.y() + fm.height() / 2), text);
}

const QColor kEmbossed(QStringLiteral("#E9967A"));
// Bottom of the two header lines (35 px text at baselines 40 and 80).
constexpr int kHeaderBottom = 90;

// Fills the placeholders %1.. that the text has with `args` in order; args
// left over (a translation with fewer placeholders) follow after a blank.
QString fillArgs(QString text, const QStringList& args)
{
    QStringList rest;
    for (int k = 0; k < args.size(); ++k) {
        const QString mark = QStringLiteral("%") + QString::number(k + 1);
        if (text.contains(mark))
            text.replace(mark, args[k]);
        else if (!args[k].isEmpty())
            rest << args[k];
    }
    if (!rest.isEmpty())
        text += QLatin1Char(' ') + rest.join(QLatin1Char(' '));
    return text;
}

}  // namespace

// ---- Record, step and names -------------------------------------------------

const CammerSingleton* CammerWidget::shownRecord() const
{
    return gSource == PictureSource::Template ? editRecord : savedRecord;
}

int CammerWidget::shownStep() const
{
    int s = 0;
    if (gpState)
        s = gSource == PictureSource::Template ? EditSession::get().currentDetect() : gpState->cycle().runStep;
    return (s >= 0 && s < kMaxDetect) ? s : 0;
}

QString CammerWidget::stepName(int step)
{
    const int mode = liveWord(Word::Mode);
    int row = 263 + step;
    if (mode == DetectMode::TwoColour || mode == DetectMode::Turntable)
        row = 372 + step;
    else if (mode == DetectMode::MultiStep)
        row = 477 + step;
    return lanStr(row);
}

QRect CammerWidget::roiImageRect(const CammerSingleton& rec, int step, int i)
{
    const RoiShapes::Ops* shape = RoiShapes::of(rec, step, i);
    return shape ? shape->imageRect(rec, step, i) : QRect();
}

QString CammerWidget::roiLabel(const CammerSingleton& rec, int step, int i, bool templateMode) const
{
    const QString value = QString::number(roiValue[step][i]);
    const int n = i + 1;
    if (std::clamp(rec.roiCount[step], 0, kMaxRoi) < 11) {
        const int j = step * kMaxRoi + i;
        const QString middle = templateMode ? RoiFunctions::paramText(rec, j) : RoiFunctions::limitText(rec, j);
        return QStringLiteral("%1: %2 / %3 ").arg(n).arg(middle, value);
    }
    return QStringLiteral("%1: %2").arg(n).arg(value);
}

// ---- Coordinates ---------------------------------------------------------------

QTransform CammerWidget::viewTransform() const
{
    QTransform t;
    // Every picture of the current camera's view is zoomed; other views not.
    const EditSession& session = EditSession::get();
    const bool zoomed = session.currentCamera() == cameraIndex;
    if (zoomed && session.zoom() > 0.0 && std::isfinite(session.zoom())) {
        t.translate(session.panX(), session.panY());
        t.scale(session.zoom(), session.zoom());
    }
    const float sx = (scales.winX > 0.0f && std::isfinite(scales.winX)) ? scales.winX : 1.0f;
    const float sy = (scales.winY > 0.0f && std::isfinite(scales.winY)) ? scales.winY : 1.0f;
    t.scale(sx, sy);
    return t;
}

QPoint CammerWidget::mapToFullView(QPoint widgetPos) const
{
    bool invertible = false;
    const QTransform inv = viewTransform().inverted(&invertible);
    if (!invertible)
        return widgetPos;
    const QPointF f = inv.map(QPointF(widgetPos));
    // Truncated toward zero, as the picture read-out is.
    auto trunc = [](double v) {
        if (!std::isfinite(v))
            return 0;
        return static_cast<int>(std::clamp(v, -1.0e9, 1.0e9));
    };
    return QPoint(trunc(f.x()), trunc(f.y()));
}

// ---- The display picture -------------------------------------------------------

void CammerWidget::DisplayChanged()
{
    picture.changed();
}

QRect CammerWidget::shrunkPictureRect(const QPainter& p, const QTransform& t) const
{
    return ViewPicture::shrunkRect(p, t, rect(), QSize(imageWidth, imageHeight));
}

void CammerWidget::DrawDisplay(QPainter& p, const QRect& shrunk)
{
    picture.draw(p, rect(), shrunk);
}

void CammerWidget::PrepareDisplay(bool withMarks, QSize shrunk)
{
    if (!displayFrame || imageWidth < 1 || imageHeight < 1)
        return;
    // What is shown: the source, step, template and NG picture index.
    const qint64 key = (qint64(gSource + 8) << 40) ^ (qint64(shownStep()) << 32) ^ (qint64(tempIndex & 0xffff) << 16) ^
                       qint64(recentNg.shown() & 0xffff);
    picture.prepare(displayFrame, imageWidth, imageHeight, gisColor != 0, key, shrunk);
    if (!withMarks)
        return;

    const CammerSingleton* rec = shownRecord();
    if (!rec)
        return;
    const int step = shownStep();
    const int count = std::clamp(rec->roiCount[step], 0, kMaxRoi);
    const int detectState = gpState ? gpState->cycle().detectState : DetectState::Idle;
    if (detectState == DetectState::NgLatched && gSource == PictureSource::Live && blinkState == Blink::Defects &&
        resultImage) {
        for (int i = 0; i < count; ++i)
            if (!roiPassed[step][i])
                picture.mark(roiImageRect(*rec, step, i), resultImage, qRgb(255, 0, 0));
    }
    // Ignored points: always while editing on the template, and in the live
    // view while the page shows them (Blink::IgnoredPoints).
    const bool ignoredShown = gSource == PictureSource::Live && blinkState == Blink::IgnoredPoints;
    if ((gSource == PictureSource::Template || ignoredShown) && step < stepCount() && ignoreMask[step]) {
        for (int i = 0; i < count; ++i)
            picture.mark(roiImageRect(*rec, step, i), ignoreMask[step], qRgb(0, 255, 255));
    }
    const int curRoi = roiEditor.current();
    if (previewShown && curRoi >= 0 && curRoi < count && resultImage)
        picture.mark(roiImageRect(*rec, step, curRoi), resultImage, qRgb(0, 255, 255));
}

// ---- Painting ------------------------------------------------------------------

void CammerWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintView(painter);
}

void CammerWidget::PaintView(QPainter& p)
{
    // Everything below is placed relative to where the caller's painter
    // already stands (a tile of a bigger picture, for instance).
    paintBase = p.worldTransform();
    drawnLabels_.clear();
    if (gSource == PictureSource::OkRecord || gSource == PictureSource::NgRecord) {
        PaintStoredPicture(p);
        return;
    }
    if (gSource == PictureSource::RecentNg) {
        PaintRecentNg(p);
        return;
    }
    if (cameraIndex < numCamera) {
        PaintLiveOrTemplate(p);
        return;
    }
    // A view the main window does not count (yet) shows its picture only.
    const QRect shrunk = shrunkPictureRect(p, p.worldTransform());
    PrepareDisplay(false, shrunk.size());
    DrawDisplay(p, shrunk);
}

void CammerWidget::PaintStoredPicture(QPainter& p)
{
    RoiPageLink::StoredPicture info;
    if (pageLink().storedPicture)
        info = pageLink().storedPicture();
    const QString title = lanStr(gSource == PictureSource::OkRecord ? 216 : 217);
    if (info.count > 0 && info.picture && !info.picture->isNull()) {
        p.save();
        if (EditSession::get().currentCamera() == cameraIndex) {
            const EditSession& session = EditSession::get();
            p.translate(session.panX(), session.panY());
            p.scale(session.zoom(), session.zoom());
        }
        p.drawImage(rect(), *info.picture);
        p.restore();
    }
    p.save();
    p.setWorldTransform(QTransform::fromScale(scales.winX, scales.winY) * paintBase);
    p.setFont(viewFont(35));
    p.setPen(Qt::green);
    const QString okNg = gSource == PictureSource::OkRecord ? QStringLiteral("OK") : QStringLiteral("NG");
    if (gLan == kLanJapanese) {
        p.drawText(QPoint(5, 40), fillArgs(lanStr(218), {QString::number(info.camera + 1), stepName(info.step), title,
                                                         QString::number(info.count),
                                                         QString::number(info.index + 1), QString()}));
        p.drawText(QPoint(655, 85), info.name);
    } else {
        p.drawText(QPoint(5, 40), lanStr(218).arg(info.camera + 1).arg(stepName(info.step)));
        p.drawText(QPoint(705, 40), tr("%1图片数 %2 / %3").arg(okNg).arg(info.index + 1).arg(info.count));
        p.drawText(QPoint(1205, 40), info.name);
    }
    p.restore();
}

namespace {
// The state word of the header: text and colour.
QString stateText(bool countState, QColor* colour)
{
    if (gpState && gpState->cycle().runState == RunState::Stopped) {
        *colour = Qt::red;
        return lanStr(311);
    }
    *colour = Qt::green;
    if (!countState)
        return lanStr(312);
    switch (gpState ? gpState->cycle().countState : 0) {
    case CountState::Detecting:
        return lanStr(312);
    case CountState::Detected:
        return lanStr(528);
    case CountState::Waiting:
        return lanStr(529);
    default:
        return QString();
    }
}
}  // namespace

void CammerWidget::PaintRecentNg(QPainter& p)
{
    p.save();
    const EditSession& session = EditSession::get();
    if (session.currentCamera() == cameraIndex) {
        p.translate(session.panX(), session.panY());
        p.scale(session.zoom(), session.zoom());
    }
    const QRect shrunk = shrunkPictureRect(p, p.worldTransform());
    PrepareDisplay(false, shrunk.size());
    DrawDisplay(p, shrunk);
    p.restore();
    const int shownDetect = session.currentDetect();
    const int step = (shownDetect >= 0 && shownDetect < kMaxDetect) ? shownDetect : 0;
    p.save();
    p.setWorldTransform(QTransform::fromScale(scales.winX, scales.winY) * paintBase);
    p.setFont(viewFont(35));
    QColor colour;
    const QString state = stateText(false, &colour);
    p.setPen(colour);
    p.drawText(QPoint(5, 40), lanStr(313).arg(cameraIndex + 1).arg(stepName(step), state));
    p.setPen(Qt::green);
    const int shown = recentNg.shown();
    p.drawText(QPoint(700, 40), lanStr(314).arg(stepName(step)).arg(shown + 1).arg(recentNg.held(step)));
    if (shown >= 0 && shown < kRecentPictures)
        p.drawText(QPoint(5, 80), recentNg.caption(step, shown));
    p.restore();
}

namespace {
// What the live or template view overlays in the cycle's detection state:
// the regions, and the step's verdict.
void overlayPlan(int detectState, bool templateMode, bool* drawRois, bool* verdict)
{
    switch (detectState) {
    case DetectState::Idle:
        if (liveWord(Word::LiveRoiDisplay) == 0) {
            *drawRois = templateMode;
        } else {
            *drawRois = true;
            *verdict = gSource == PictureSource::Live;
        }
        break;
    case DetectState::Ok:
        *drawRois = *verdict = true;
        break;
    case DetectState::NgLatched:
        *drawRois = gSource == PictureSource::Live || templateMode;
        *verdict = gSource == PictureSource::Live;
        break;
    default:
        *drawRois = templateMode;
        break;
    }
}
}  // namespace

void CammerWidget::PaintLiveOrTemplate(QPainter& p)
{
    const bool templateMode = gSource == PictureSource::Template;
    const CammerSingleton* rec = shownRecord();
    const int step = shownStep();

    const QTransform full = viewTransform();
    QTransform zoomOnly;
    const EditSession& session = EditSession::get();
    if (session.currentCamera() == cameraIndex && session.zoom() > 0.0) {
        zoomOnly.translate(session.panX(), session.panY());
        zoomOnly.scale(session.zoom(), session.zoom());
    }
    const QRect shrunk = shrunkPictureRect(p, zoomOnly * paintBase);
    PrepareDisplay(true, shrunk.size());

    // Picture, zoomed with the ROIs.
    p.save();
    p.setWorldTransform(zoomOnly * paintBase);
    DrawDisplay(p, shrunk);

    // Which ROIs, and whether the verdict shows.
    const int detectState = gpState ? gpState->cycle().detectState : DetectState::Idle;
    bool drawRois = false;
    bool verdict = false;
    overlayPlan(detectState, templateMode, &drawRois, &verdict);

    if (verdict)
        PaintVerdict(p, full);

    if (templateMode)
        PaintSizeLegend(p);

    QString currentLabel;
    if (drawRois && rec) {
        p.save();
        p.setWorldTransform(full * paintBase);
        PaintRois(p, *rec, step, templateMode, &currentLabel);
        p.restore();
    }
    p.restore();   // the zoom ends

    PaintHeader(p, step, detectState, currentLabel);

    if (roiEditor.action() == EditAction::Drawing && templateMode) {
        p.save();
        p.setWorldTransform(full * paintBase);
        PaintShapeInProgress(p);
        p.restore();
    }
}

void CammerWidget::PaintVerdict(QPainter& p, const QTransform& full)
{
    p.save();
    p.setWorldTransform(full * paintBase);
    p.setFont(viewFont(100));
    // On a dark plate, so that the verdict stays readable over red marks.
    const QString word = stepOk ? QStringLiteral("OK") : QStringLiteral("NG");
    const QFontMetrics fm(p.font());
    const QRect plate(0, 200 - fm.ascent() - 4, fm.horizontalAdvance(word) + 14, fm.ascent() + fm.descent() + 8);
    p.fillRect(plate, QColor(0, 0, 0, 170));
    p.setPen(stepOk ? Qt::green : Qt::red);
    p.drawText(QPoint(5, 200), word);
    p.restore();
}

// Legend of the two size marks, in widget pixels along the bottom.
void CammerWidget::PaintSizeLegend(QPainter& p)
{
    const int H = height() - 1;
    const QString filterText = QStringLiteral("%1 :").arg(lanStr(22));
    const QString areaText = QStringLiteral("%1 :").arg(lanStr(24));
    // A caption longer than its 150 px column pushes the marks right by
    // up to 60 px (the sync button follows), and beyond that is drawn
    // smaller, instead of running under the marks.
    QFont legend = viewFont(30);
    const QString longer = QFontMetrics(legend).horizontalAdvance(filterText) >
                                   QFontMetrics(legend).horizontalAdvance(areaText)
                               ? filterText
                               : areaText;
    legend.setPixelSize(fittingPixelSize(legend, longer, QSize(200, 100), 30));   // the width limits
    p.setFont(legend);
    const int shift = qMax(0, QFontMetrics(legend).horizontalAdvance(longer) + 10 - 150);
    p.setPen(Qt::blue);
    p.drawText(QRect(10, H - 89, 150 + shift, 30), Qt::AlignLeft | Qt::AlignVCenter, filterText);
    p.fillRect(QRect(160 + shift, H - 89, 30, 30), Qt::blue);
    if (liveWord(Word::RoiLimits) == 0)
        p.drawText(QRect(205 + shift, H - 89, 150, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(liveWord(Word::GreyFilter)));
    p.setPen(kEmbossed);
    p.drawText(QRect(10, H - 44, 150 + shift, 30), Qt::AlignLeft | Qt::AlignVCenter, areaText);
    p.fillRect(QRect(160 + shift, H - 44, 30, 30), kEmbossed);
    if (liveWord(Word::RoiLimits) == 0)
        p.drawText(QRect(205 + shift, H - 44, 150, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(liveWord(Word::GreyArea)));
}

// The header lines (camera, step, state; the countdown; the template or the
// counters) in the window scale.
void CammerWidget::PaintHeader(QPainter& p, int step, int detectState, const QString& currentLabel)
{
    const bool templateMode = gSource == PictureSource::Template;
    const EditSession& session = EditSession::get();
    p.save();
    p.setWorldTransform(QTransform::fromScale(scales.winX, scales.winY) * paintBase);
    p.setFont(viewFont(35));
    QColor colour;
    const QString state = stateText(true, &colour);
    p.setPen(colour);
    p.drawText(QPoint(5, 40), lanStr(313).arg(cameraIndex + 1).arg(stepName(step), state));

    if (gpState) {
        for (int k = 0; k < kMaxDetect; ++k) {
            if (!gpState->cycle().countdownTimer[k].isActive())
                continue;
            const float left = gpState->cycle().countdownRemain[k];
            if (left > 0.02f) {
                // The template view writes the template's time stamp on the
                // second line: the countdown follows it there.
                const int x = gSource == PictureSource::Template && !gTempTime.isEmpty()
                                  ? 5 + QFontMetrics(viewFont(35)).horizontalAdvance(gTempTime) + 30
                                  : 5;
                p.setFont(viewFont(45));
                p.drawText(QPoint(x, 90), QString::number(double(left), 'g', 3));
            }
            break;
        }
    }

    p.setFont(viewFont(35));
    p.setPen(Qt::green);
    if (templateMode) {
        p.drawText(QPoint(850, 40), lanStr(315).arg(tempIndex + 1).arg(tempCount[step]).arg(currentLabel));
        if (session.currentCamera() == cameraIndex && detectState != DetectState::Ok && gisColor) {
            const QRgb v = static_cast<QRgb>(EditSession::get().pickValue());
            p.drawText(QPoint(800, 80),
                       tr("颜色：") + QStringLiteral("%1, %2, %3").arg(qRed(v)).arg(qGreen(v)).arg(qBlue(v)));
        }
        p.drawText(QPoint(5, 80), gTempTime);
    } else {
        const int c = (cameraIndex >= 0 && cameraIndex < kMaxCamera) ? cameraIndex : 0;
        // The NG of the open cycle counts when the cycle closes; until then
        // it is shown as open, so that the counter agrees with the verdict.
        const int open = gpState ? gpState->cycle().openNgCycles(c) : 0;
        p.drawText(QPoint(750, 40),
                   lanStr(316)
                       .arg(CycleStatus::ngCycleText(ProductionCounters::get().values().failCycle[c], open))
                       .arg(ProductionCounters::get().values().allCycle[c])
                       .arg(fps));
    }
    p.restore();
}

void CammerWidget::PaintRois(QPainter& p, const CammerSingleton& rec, int step, bool templateMode,
                             QString* currentLabel)
{
    const int count = std::clamp(rec.roiCount[step], 0, kMaxRoi);
    const int curRoi = roiEditor.current();
    const bool hasCurrent = curRoi >= 0 && curRoi < count;
    const int detectState = gpState ? gpState->cycle().detectState : DetectState::Idle;
    p.setFont(viewFont(30));
    // The two header lines end at y 90 of the header's scale.
    const int headerBottom = static_cast<int>(
        std::ceil((QTransform::fromScale(scales.winX, scales.winY) * paintBase).map(QPointF(0, kHeaderBottom)).y()));

    for (int i = 0; i < count; ++i) {
        const int j = step * kMaxRoi + i;
        const int method = rec.method[j];
        if (method == CammerRecong::kPositioning && !templateMode)
            continue;
        if (templateMode && hasCurrent && i != curRoi && roiEditor.moveMode() != MoveMode::All)
            continue;

        if (templateMode && (!hasCurrent || i == curRoi))
            PaintSizeMarks(p, rec, step, i, hasCurrent);

        QColor colour;
        if (detectState == DetectState::Idle)
            colour = QColor(0, 0, 128);
        else if (!stepOk && !roiPassed[step][i])
            colour = Qt::red;
        else
            colour = Qt::green;
        if (method == CammerRecong::kExclusion)
            colour = Qt::yellow;
        p.setPen(QPen(colour, 1));
        p.setBrush(Qt::NoBrush);

        const QPoint corner = PaintRoiShape(p, rec, step, i, templateMode);

        const QString label = roiLabel(rec, step, i, templateMode);
        if (templateMode && hasCurrent) {
            if (i == curRoi && currentLabel)
                *currentLabel = label;
            continue;
        }
        p.setPen(colour);
        QRect box = templateMode ? QRect(QPoint(corner.x(), corner.y() - 29), QPoint(corner.x() + 399, corner.y() - 5))
                                 : QRect(QPoint(corner.x(), corner.y() - 26), QPoint(corner.x() + 399, corner.y() - 2));
        // A region near the top of the picture would put its label on the
        // header lines (camera, state, counters, template time): the label
        // goes just inside the region's top edge instead.
        if (p.worldTransform().mapRect(box).top() < headerBottom)
            box.translate(0, corner.y() + 4 - box.top());
        drawRoiLabel(p, box, label, colour);
    }
}

// The filter and area size marks in the middle of region i (template view),
// and the double-press hint while regions are drawn one after another.
void CammerWidget::PaintSizeMarks(QPainter& p, const CammerSingleton& rec, int step, int i, bool hasCurrent)
{
    const int j = step * kMaxRoi + i;
    const int method = rec.method[j];
    const float fx = scales.fullX > 0.0f ? scales.fullX : 1.0f;
    const float fy = scales.fullY > 0.0f ? scales.fullY : 1.0f;
    const int drawMode = gpState ? EditSession::get().drawMode() : RoiShape::None;
    const bool hand = gpState && EditSession::get().handDraw();
    const QRect img = roiImageRect(rec, step, i);
    const int x1 = static_cast<int>(img.left() * fx);
    const int y1 = static_cast<int>(img.top() * fy);
    const int x2 = static_cast<int>((img.right() + 1) * fx);
    const int y2 = static_cast<int>((img.bottom() + 1) * fy);
    const int cy = (y1 + y2) / 2;
    const int left = (x1 + x2) / 2 - (x2 - x1) / 4;
    const int right = (x1 + x2) / 2 + (x2 - x1) / 4;
    int filterSide = 0;
    int areaSide = 0;
    if (liveWord(Word::RoiLimits) == 0) {
        filterSide = liveWord(Word::GreyFilter);
        areaSide = isqrt(liveWord(Word::GreyArea));
    } else if (method == CammerRecong::kGreyTemplate) {
        filterSide = rec.p3[j];
        areaSide = isqrt(rec.p2[j]);
    } else if (method == CammerRecong::kBrightBlobs || method == CammerRecong::kDarkBlobs) {
        const long long side = 2LL * rec.p3[j] + 1;
        filterSide = static_cast<int>(std::clamp<long long>(side, 0, 100000));
    }
    p.save();
    p.setBrush(Qt::NoBrush);
    if (filterSide > 0) {
        p.setPen(QPen(Qt::blue, 1));
        p.drawRect(QRect(left - filterSide / 2, cy - filterSide / 2, filterSide, filterSide));
    }
    if (areaSide > 0) {
        p.setPen(QPen(kEmbossed, 1));
        p.drawRect(QRect(right - areaSide / 2, cy - areaSide / 2, areaSide, areaSide));
    }
    p.restore();
    if (liveWord(Word::ContinuousArea) != 0 && hasCurrent &&
        (drawMode == RoiShape::Rect || drawMode == RoiShape::Circle ||
         (drawMode == RoiShape::Polygon && hand))) {
        p.save();
        p.setPen(Qt::green);
        drawCentred(p, QPoint((x1 + x2) / 2, cy), tr("双击结束"));
        p.restore();
    }
}

// Draws region i's shape; returns the full-view corner its label hangs from.
QPoint CammerWidget::PaintRoiShape(QPainter& p, const CammerSingleton& rec, int step, int i, bool templateMode)
{
    const int kind = rec.kind[step * kMaxRoi + i];
    QPoint corner;
    switch (kind) {
    case RoiShape::Rect:
        rec.rect[step][i].Draw(p);
        corner = rec.rect[step][i].rect.topLeft();
        break;
    case RoiShape::Polygon: {
        const RePolygon& poly = rec.polygon[step][i];
        poly.Draw(p);
        if (!poly.pts.isEmpty())
            corner = poly.pts.first();
        const int objectIndex = roiEditor.object();
        if (templateMode && i == roiEditor.current() && objectIndex >= 0 && objectIndex < poly.count()) {
            p.save();
            p.setPen(QPen(Qt::cyan, 2));
            const QPoint q = poly.pts[objectIndex];
            p.drawEllipse(QRect(QPoint(q.x() - 5, q.y() - 5), QPoint(q.x() + 4, q.y() + 4)));
            p.restore();
        }
        break;
    }
    case RoiShape::Circle:
        rec.circle[step][i].Draw(p);
        corner = rec.circle[step][i].rect.topLeft();
        break;
    default:
        break;
    }
    return corner;
}

void CammerWidget::drawRoiLabel(QPainter& p, const QRect& box, const QString& label, const QColor& colour)
{
    if (label.isEmpty())
        return;
    // The box in the view's own pixels (the caller's painter transform).
    const QRect at = (p.worldTransform() * paintBase.inverted()).mapRect(box);
    // The label is the one statement of why a step is NG: drawn in view
    // pixels, never below kRoiLabelPixels however small the view shows the
    // picture, on a plate that keeps it readable over any picture.
    QFont f = p.font();
    f.setPixelSize(qMax(kRoiLabelPixels, qRound(at.height() * 30.0 / 25.0)));
    const QFontMetrics fm(f);
    QRect plate(0, 0, fm.horizontalAdvance(label) + 12, fm.height() + 4);
    plate.moveTopLeft(QPoint(at.left(), at.center().y() - plate.height() / 2));
    plate.moveLeft(qMax(0, qMin(plate.left(), width() - plate.width())));
    plate.moveTop(qMax(0, qMin(plate.top(), height() - plate.height())));
    // Dark text (the editing colour) on a light plate, bright text on a dark one.
    const bool darkText = qGray(colour.rgb()) < 100;
    p.save();
    p.setWorldTransform(paintBase);
    p.setFont(f);
    p.fillRect(plate, darkText ? QColor(255, 255, 255, 210) : QColor(0, 0, 0, 190));
    p.setPen(colour);
    p.drawText(plate.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter, label);
    p.restore();
    drawnLabels_.append({plate, f.pixelSize(), label});
}

void CammerWidget::PaintShapeInProgress(QPainter& p)
{
    const int drawMode = gpState ? EditSession::get().drawMode() : RoiShape::None;
    p.setPen(Qt::green);
    p.setBrush(Qt::NoBrush);
    if (drawMode == RoiShape::Rect) {
        roiEditor.rectInProgress().Draw(p);
        return;
    }
    if (drawMode == RoiShape::Circle) {
        roiEditor.circleInProgress().Draw(p);
        return;
    }
    const int count = roiEditor.polygonPointCount();
    if (drawMode != RoiShape::Polygon || count <= 0)
        return;
    const QPoint* polyPoints = roiEditor.polygonPoints();
    const int n = std::min(count, int(RoiEditor::kMaxPolyPoints));
    const bool continuous = liveWord(Word::ContinuousArea) != 0;
    p.setPen(QPen(continuous ? Qt::magenta : Qt::green, 2));
    p.drawPolygon(polyPoints, n, Qt::OddEvenFill);
    if (continuous && !(gpState && EditSession::get().handDraw()) && n >= 3) {
        p.save();
        p.setPen(Qt::green);
        p.setFont(viewFont(30));
        drawCentred(p, roiEditor.polygonCentre(), tr("双击结束"));
        p.restore();
    }
    p.setPen(QPen(Qt::cyan, 2));
    const QPoint q = polyPoints[0];
    p.drawEllipse(QRect(QPoint(q.x() - 5, q.y() - 5), QPoint(q.x() + 4, q.y() + 4)));
}
