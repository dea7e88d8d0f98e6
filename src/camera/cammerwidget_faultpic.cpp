// Templates, ignore masks and fault pictures of a camera view.
//
// Templates live in ./cammer<c><d>/template<n>.bmp and the ignore mask in
// ./cammer<c><d>/ignorepoint.bmp (c = camera index + 1, d = step + 1). BMP
// rows are padded to 4 bytes, so every picture is copied row by row between
// the file and the view's gap-less buffers.
#include "cammerwidget.h"
#include "faultpictures.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "globals.h"
#include "miscfunc.h"
#include "roifunctions.h"
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
using viewutil::isqrt;
using viewutil::greyTable;

QString stepFolder(int camera, int step)
{
    return QStringLiteral("./cammer%1%2").arg(camera + 1).arg(step + 1);
}

QString templatePath(int camera, int step, int slot)
{
    return stepFolder(camera, step) + QStringLiteral("/template%1.bmp").arg(slot);
}

QString ignorePath(int camera, int step)
{
    return stepFolder(camera, step) + QStringLiteral("/ignorepoint.bmp");
}


// Grey value of every pixel of an 8-bit indexed picture through its colour
// table (an index past the table reads as itself).
void indexedRowToGrey(const QImage& img, int y, uchar* out)
{
    const QVector<QRgb> table = img.colorTable();
    const uchar* row = img.constScanLine(y);
    for (int x = 0; x < img.width(); ++x) {
        const int idx = row[x];
        out[x] = idx < table.size() ? static_cast<uchar>(qGray(table[idx])) : static_cast<uchar>(idx);
    }
}

// Writes a gap-less 8-bit picture as an 8-bit indexed BMP with the grey table.
bool writeGreyBmp(const QString& path, const uchar* pixels, int width, int height)
{
    QImage img(width, height, QImage::Format_Indexed8);
    if (img.isNull())
        return false;
    img.setColorTable(greyTable());
    for (int y = 0; y < height; ++y)
        std::memcpy(img.scanLine(y), pixels + static_cast<size_t>(y) * width, static_cast<size_t>(width));
    return img.save(path, "BMP");
}

// Writes a gap-less 32-bit RGB picture as a 32-bit BMP.
bool writeColourBmp(const QString& path, const uchar* pixels, int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    if (img.isNull())
        return false;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(img.scanLine(y), pixels + static_cast<size_t>(y) * rowBytes, rowBytes);
    return img.save(path, "BMP");
}

// Reads a template file into a frame buffer. Counts only a picture of the
// view's size whose depth fits the camera (8 bits grey, 32 bits colour).
bool readTemplate(const QString& path, uchar* out, int width, int height, bool colour)
{
    QImage img;
    if (!img.load(path))
        return false;
    if (img.width() != width || img.height() != height || img.depth() != (colour ? 32 : 8))
        return false;
    if (colour) {
        const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y)
            std::memcpy(out + static_cast<size_t>(y) * rowBytes, rgb.constScanLine(y), rowBytes);
        return true;
    }
    if (img.format() == QImage::Format_Indexed8) {
        for (int y = 0; y < height; ++y)
            indexedRowToGrey(img, y, out + static_cast<size_t>(y) * width);
        return true;
    }
    const QImage grey = img.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        std::memcpy(out + static_cast<size_t>(y) * width, grey.constScanLine(y), static_cast<size_t>(width));
    return true;
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
        if (buffer && readTemplate(path, buffer, w, h, colour)) {
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
    const bool ok = gisColor ? writeColourBmp(path, templates[step][0], imageWidth, imageHeight)
                             : writeGreyBmp(path, templates[step][0], imageWidth, imageHeight);
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
    QImage img;
    if (!img.load(ignorePath(cameraIndex, step)))
        return;
    if (img.width() != w || img.height() != h) {
        qWarning("LoadIgnorePoint: %s is %dx%d, the camera %dx%d; no point is ignored",
                 qPrintable(ignorePath(cameraIndex, step)), img.width(), img.height(), w, h);
        return;
    }
    QImage grey;
    if (img.format() != QImage::Format_Indexed8)
        grey = img.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* row = mask + static_cast<size_t>(y) * w;
        if (grey.isNull())
            indexedRowToGrey(img, y, row);
        else
            std::memcpy(row, grey.constScanLine(y), static_cast<size_t>(w));
        // Any marked pixel is ignored: the mask holds only 0 and 255.
        for (int x = 0; x < w; ++x)
            row[x] = row[x] ? 255 : 0;
    }
}

void CammerWidget::SaveIgnorePoint(int step)
{
    if (step < 0 || step >= stepCount() || !ignoreMask[step] || imageWidth < 1 || imageHeight < 1)
        return;
    const QString path = ignorePath(cameraIndex, step);
    if (!writeGreyBmp(path, ignoreMask[step], imageWidth, imageHeight))
        qWarning("SaveIgnorePoint: %s could not be written", qPrintable(path));
}

void CammerWidget::SaveFailImage(int step, int which)
{
    if (savedRecord)
        FaultPictures::draw(*this, *savedRecord, step, which, fullScaleX, fullScaleY);
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
    if (engine) {
        engine->CreateHomoShape(step);
        engine->CreateShape(step);
        engine->VarTrain(step);
    }
    const bool ordered = untrained[step];
    untrained[step] = false;
    stepOk = true;
    stepSettled[step] = true;
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
    for (int s = 0; s < kMaxDetect; ++s)
        for (int r = 0; r < kMaxRoi; ++r)
            roiPassed[s][r] = true;
}

void CammerWidget::unsettleSteps()
{
    std::fill(std::begin(stepSettled), std::end(stepSettled), false);
}

void CammerWidget::keepNgPicture(int step, const QDateTime& when)
{
    if (!alignedFrame || step < 0 || step >= kMaxDetect)
        return;
    if (stepHeld(step) && frameBytes > 0)
        recentNg.keep(step, alignedFrame, frameBytes, when.toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")));
}
