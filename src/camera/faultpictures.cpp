#include "faultpictures.h"

#include "cambuffers.h"
#include "cammersingleton.h"
#include "cyclestatus.h"
#include "globals.h"
#include "miscfunc.h"
#include "roifunctions.h"
#include "winstate.h"

#include <QFont>
#include <QImage>
#include <QMutexLocker>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// Region i's outline on the picture; `anchor` moves to the corner its value
// hangs from (it stays where it was for a polygon without points).
void drawRegion(QPainter& painter, const CammerSingleton& rec, int step, int i, float fullScaleX, float fullScaleY,
                QPoint* anchor)
{
    switch (rec.kind[step * kMaxRoi + i]) {
    case RoiShape::Rect:
        painter.drawRect(rec.rect[step][i].imgRect);
        *anchor = rec.rect[step][i].imgRect.topLeft();
        break;
    case RoiShape::Polygon: {
        const RePolygon& poly = rec.polygon[step][i];
        if (!poly.imgPts.isEmpty()) {
            painter.drawPolygon(poly.imgPts.constData(), poly.imgPts.size());
            *anchor = poly.imgPts.first();
        }
        break;
    }
    case RoiShape::Circle: {
        const float sx = fullScaleX > 0.0f ? fullScaleX : 1.0f;
        const float sy = fullScaleY > 0.0f ? fullScaleY : 1.0f;
        painter.save();
        painter.scale(1.0 / sx, 1.0 / sy);
        rec.circle[step][i].Draw(painter);
        painter.restore();
        *anchor = rec.circle[step][i].imgRect.topLeft();
        break;
    }
    default:
        break;
    }
}

}  // namespace

void FaultPictures::draw(const CamBuffers& view, const CammerSingleton& rec, int step, int which, float fullScaleX,
                         float fullScaleY)
{
    const int camera = view.cameraIndex;
    if (step < 0 || step >= kMaxDetect || camera < 0 || camera >= kMaxCamera || !view.alignedFrame ||
        view.imageWidth < 1 || view.imageHeight < 1 || !pMutexSaveFail)
        return;
    const int w = view.imageWidth;
    const int h = view.imageHeight;
    const int failIndex = camera * kMaxDetect + step;
    const int slot = (which != 0 ? 1 : 0) + 2 * failIndex;
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    // The slot is made on the step's first picture (a step never judged
    // holds none). The picture thread takes or copies a slot under the lock
    // only while its flag is up; the flag goes down here (a picture of the
    // slot not written yet would be drawn over all the same) and up again
    // once the result check has drawn every camera's picture. So the
    // picture is drawn without the lock, the views of several cameras at
    // the same time.
    uchar* target = nullptr;
    {
        QMutexLocker lock(pMutexSaveFail);
        gisSaveFail[slot] = false;
        if (!gpFailImage[slot])
            gpFailImage[slot] = new unsigned char[bytes];
        target = gpFailImage[slot];
    }
    if (gisColor)
        std::memcpy(target, view.alignedFrame, bytes);
    else
        Gray2RGBA(view.alignedFrame, reinterpret_cast<unsigned int*>(target), w, h);
    QImage canvas(target, w, h, w * 4, QImage::Format_RGB32);
    int firstFailed = 0;
    {
        QPainter painter(&canvas);
        QFont font(QStringLiteral("wqy-microhei"));
        font.setPixelSize(26);
        painter.setFont(font);
        painter.setPen(which != 0 ? Qt::green : Qt::red);
        painter.drawText(QPointF(5.0, 80.0), which != 0 ? QStringLiteral("OK") : QStringLiteral("NG"));
        const bool safeDoor = gpState && gpState->cycle().safeDoorDetect != 0;
        const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
        painter.drawText(QPointF(5.0, 110.0), safeDoor ? gaLanStr[265][lan] : QString());

        font.setPixelSize(16);
        painter.setFont(font);
        const int count = std::clamp(rec.roiCount[step], 0, kMaxRoi);
        QPoint anchor(5, 80);
        for (int n = 1; n <= count; ++n) {
            const int i = n - 1;
            const int j = step * kMaxRoi + i;
            const bool pass = view.roiPassed[step][i];
            if (pass) {
                painter.setPen(Qt::green);
            } else {
                if (firstFailed == 0)
                    firstFailed = n;
                painter.setPen(Qt::red);
                const int boxes = std::clamp(view.defectRects[step][i][0][0], 0, CamBuffers::kMaxDefectRects);
                for (int k = 1; k <= boxes; ++k) {
                    const int* b = view.defectRects[step][i][k];
                    painter.drawRect(QRect(QPoint(b[0], b[1]), QPoint(b[2] - 1, b[3] - 1)));
                }
            }
            drawRegion(painter, rec, step, i, fullScaleX, fullScaleY, &anchor);
            painter.setPen(pass ? Qt::green : Qt::red);
            const QString value = QString::number(view.roiValue[step][i]);
            const QString limit = RoiFunctions::limitText(rec, j);
            const QString text = count > 10 ? QStringLiteral("%1: %2").arg(n).arg(value)
                                            : QStringLiteral("%1: %2 / %3 ").arg(n).arg(value).arg(limit);
            painter.drawText(QRect(anchor.x(), anchor.y() - 26, 400, 25), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    QMutexLocker lock(pMutexSaveFail);
    if (firstFailed != 0 && gFailIndex[failIndex] == 0)
        gFailIndex[failIndex] = firstFailed;
}

int FaultPictures::label(const CamBuffers& view, int step, int which, int code)
{
    const int camera = view.cameraIndex;
    if (step < 0 || step >= kMaxDetect || camera < 0 || camera >= kMaxCamera || view.imageWidth < 1 ||
        view.imageHeight < 1 || !pMutexSaveFail || !gpState)
        return code;
    const int failIndex = camera * kMaxDetect + step;
    const int slot = (which != 0 ? 1 : 0) + 2 * failIndex;
    const size_t bytes = static_cast<size_t>(view.imageWidth) * static_cast<size_t>(view.imageHeight) * 4;
    QImage picture(view.imageWidth, view.imageHeight, QImage::Format_RGB32);
    {
        QMutexLocker lock(pMutexSaveFail);
        if (!gpFailImage[slot])
            return code;
        std::memcpy(picture.bits(), gpFailImage[slot], bytes);
    }
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    QString first;
    QString second;
    switch (code) {
    case AlarmCode::NotDetected:
        first = gaLanStr[120][lan];
        second = gaLanStr[47][lan];
        break;
    case AlarmCode::AddedAsTemplate:
        first = gaLanStr[120][lan];
        second = gaLanStr[48][lan];
        break;
    case AlarmCode::SwitchedToMould:
        first = gaLanStr[120][lan];
        second = gaLanStr[338][lan];
        break;
    case AlarmCode::ReDetected:
        first = gaLanStr[120][lan];
        second = gaLanStr[61][lan];
        break;
    case AlarmCode::ReDetectedOk:
        first = gaLanStr[143][lan];
        break;
    default:
        break;
    }
    {
        QPainter painter(&picture);
        QFont font(QStringLiteral("wqy-microhei"));
        font.setPixelSize(26);
        painter.setFont(font);
        painter.setPen(Qt::red);
        painter.drawText(QPointF(55.0, 80.0), QStringLiteral("%1%2").arg(first, second));
    }
    QMutexLocker lock(pMutexSaveFail);
    if (gpFailImage[slot])
        std::memcpy(gpFailImage[slot], picture.constBits(), bytes);
    return AlarmCode::afterLabel(code);
}

void FaultPictures::release(int camera, int step)
{
    if (camera < 0 || camera >= kMaxCamera || step < 0 || step >= kMaxDetect || !pMutexSaveFail)
        return;
    // A fault picture the picture thread has not written yet is left to it.
    QMutexLocker lock(pMutexSaveFail);
    for (int which = 0; which < 2; ++which) {
        const int slot = which + 2 * (camera * kMaxDetect + step);
        if (!gisSaveFail[slot]) {
            delete[] gpFailImage[slot];
            gpFailImage[slot] = nullptr;
        }
    }
}
