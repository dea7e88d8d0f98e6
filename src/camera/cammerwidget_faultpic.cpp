// Templates, ignore masks and fault pictures of a camera view: which slots
// and masks the held steps fill from their files (TemplateFiles), and what
// the moulding cycle marks on the view.
#include "cammerwidget.h"
#include "faultpictures.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "globals.h"
#include "miscfunc.h"
#include "roifunctions.h"
#include "templatefiles.h"
#include "winstate.h"
#include "viewutil.h"
#include "wizardpara.h"

#include <QDateTime>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QMutexLocker>
#include <QPainter>
#include <QPolygon>

#include <cstring>

namespace {
QString templatePath(int camera, int step, int slot)
{
    return TemplateFiles::templatePath(camera, step, slot);
}

QString ignorePath(int camera, int step)
{
    return TemplateFiles::ignorePath(camera, step);
}
}  // namespace

void CammerWidget::LoadTemplate()
{
    for (int step = 0; step < stepCount() && step < kMaxDetect; ++step)
        LoadStepTemplates(step);
}

void CammerWidget::LoadStepTemplates(int step)
{
    if (!stepHeld(step) || imageWidth < 1 || imageHeight < 1 || frameBytes < 1)
        return;
    const bool colour = gisColor != 0;
    const int w = imageWidth;
    const int h = imageHeight;
    QVector<uchar*>& buffers = templates[step];
    QVector<int>& used = tempUsed[step];
    if (used.size() < buffers.size())
        used.resize(buffers.size());
    tempCount[step] = 0;
    for (int n = 0; n < buffers.size(); ++n) {
        used[n] = 0;
        const QString path = templatePath(cameraIndex, step, n);
        // A slot without a readable file holds no buffer (slot 0 keeps its
        // own for the stand-in below).
        uchar* buffer = QFile::exists(path) ? templateSlot(step, n) : buffers[n];
        if (buffer && TemplateFiles::readTemplate(path, buffer, w, h, colour)) {
            used[n] = 1;
            ++tempCount[step];
        } else if (n > 0) {
            ReleaseTemplateSlot(step, n);
        } else if (buffer) {
            std::memset(buffer, 0, static_cast<size_t>(frameBytes));
        }
    }
    if (buffers.isEmpty() || !buffers[0] || used[0] == 1)
        return;
    // No usable first template: a white middle half on black stands in.
    used[0] = 1;
    ++tempCount[step];
    const int bpp = colour ? 4 : 1;
    uchar* px = buffers[0];
    for (int y = 0; y < h; ++y) {
        const bool rowIn = y >= h / 4 && y <= 3 * (h / 4);
        for (int x = 0; x < w; ++x) {
            const uchar v = (rowIn && x >= w / 4 && x <= 3 * (w / 4)) ? 255 : 0;
            std::memset(px + (static_cast<size_t>(y) * w + x) * bpp, v, static_cast<size_t>(bpp));
        }
    }
}

void CammerWidget::SaveReTrainImage(int step)
{
    if (step < 0 || step >= stepCount() || !captureFrame || !alignedFrame || !displayFrame ||
        templates[step].isEmpty() || !templates[step][0])
        return;
    const size_t bytes = static_cast<size_t>(frameBytes);
    std::memcpy(alignedFrame, captureFrame, bytes);
    std::memcpy(displayFrame, alignedFrame, bytes);
    std::memcpy(templates[step][0], alignedFrame, bytes);
    DisplayChanged();
    const QString path = templatePath(cameraIndex, step, 0);
    const bool ok = TemplateFiles::writePicture(path, templates[step][0], imageWidth, imageHeight, gisColor != 0);
    if (!ok)
        qWarning("SaveReTrainImage: %s could not be written", qPrintable(path));
}

void CammerWidget::LoadIgnorePoint()
{
    for (int step = 0; step < stepCount() && step < kMaxDetect; ++step)
        LoadStepIgnore(step);
}

void CammerWidget::LoadStepIgnore(int step)
{
    if (imageWidth < 1 || imageHeight < 1 || step < 0 || step >= kMaxDetect)
        return;
    const int w = imageWidth;
    const int h = imageHeight;
    uchar* mask = ignoreMask[step];
    if (!mask)
        return;
    std::memset(mask, 0, static_cast<size_t>(pixelCount));
    TemplateFiles::readIgnore(ignorePath(cameraIndex, step), mask, w, h);
}

void CammerWidget::SaveIgnorePoint(int step)
{
    if (step < 0 || step >= stepCount() || !ignoreMask[step] || imageWidth < 1 || imageHeight < 1)
        return;
    const QString path = ignorePath(cameraIndex, step);
    if (!TemplateFiles::writePicture(path, ignoreMask[step], imageWidth, imageHeight, false))
        qWarning("SaveIgnorePoint: %s could not be written", qPrintable(path));
}

void CammerWidget::SaveFailImage(int step, int which)
{
    if (savedRecord)
        FaultPictures::draw(*this, *savedRecord, step, which, scales.fullX, scales.fullY);
}

int CammerWidget::UpdateFailImage(int step, int which, int code)
{
    return FaultPictures::label(*this, step, which, code);
}

void CammerWidget::revertEdits()
{
    if (!editRecord || !savedRecord)
        return;
    *editRecord = *savedRecord;
    BackMask();
}

// ---- What the moulding cycle marks on the view ------------------------------

bool CammerWidget::takeAsFirstTemplate(int step)
{
    SaveReTrainImage(step);
    if (step < stepCount() && !tempUsed[step].isEmpty()) {
        tempUsed[step][0] = 1;
        if (tempCount[step] < 1)
            tempCount[step] = 1;
    }
    if (engine_) {
        engine_->CreateHomoShape(step);
        engine_->CreateShape(step);
        engine_->VarTrain(step);
    }
    const bool ordered = untrained[step];
    untrained[step] = false;
    stepOk = true;
    settleStep(step);
    return ordered;
}

void CammerWidget::orderRetrain(int step)
{
    if (step < 0 || step >= kMaxDetect)
        return;
    untrained[step] = true;
    if (ignoreMask[step]) {
        std::memset(ignoreMask[step], 0, static_cast<size_t>(pixelCount));
        SaveIgnorePoint(step);
    }
}

void CammerWidget::setVerdict(bool ok)
{
    stepOk = ok;
}

void CammerWidget::resetVerdicts()
{
    stepOk = true;
    // A region's measure goes with its verdict: a region passed unjudged
    // ("do not detect", a new cycle) shows no measure of the judgement
    // that failed it.
    for (int s = 0; s < kMaxDetect; ++s)
        for (int r = 0; r < kMaxRoi; ++r) {
            roiPassed[s][r] = true;
            roiValue[s][r] = 0;
        }
}

void CammerWidget::unsettleSteps()
{
    std::fill(std::begin(settled), std::end(settled), false);
}

void CammerWidget::keepNgPicture(int step, const QDateTime& when)
{
    if (!alignedFrame || step < 0 || step >= kMaxDetect)
        return;
    if (stepHeld(step) && frameBytes > 0)
        recentNg.keep(step, alignedFrame, frameBytes, when.toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")));
}
