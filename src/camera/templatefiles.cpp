#include "templatefiles.h"

#include "viewutil.h"

#include <QImage>

#include <cstring>

namespace {

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
    img.setColorTable(viewutil::greyTable());
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

}  // namespace

QString TemplateFiles::stepFolder(int camera, int step)
{
    return QStringLiteral("./cammer%1%2").arg(camera + 1).arg(step + 1);
}

QString TemplateFiles::templatePath(int camera, int step, int slot)
{
    return stepFolder(camera, step) + QStringLiteral("/template%1.bmp").arg(slot);
}

QString TemplateFiles::ignorePath(int camera, int step)
{
    return stepFolder(camera, step) + QStringLiteral("/ignorepoint.bmp");
}

bool TemplateFiles::writePicture(const QString& path, const uchar* pixels, int width, int height, bool colour)
{
    return colour ? writeColourBmp(path, pixels, width, height) : writeGreyBmp(path, pixels, width, height);
}

bool TemplateFiles::readTemplate(const QString& path, uchar* out, int width, int height, bool colour)
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

bool TemplateFiles::readIgnore(const QString& path, uchar* mask, int width, int height)
{
    const int w = width;
    const int h = height;
    QImage img;
    if (!img.load(path))
        return false;
    if (img.width() != w || img.height() != h) {
        qWarning("LoadIgnorePoint: %s is %dx%d, the camera %dx%d; no point is ignored",
                 qPrintable(path), img.width(), img.height(), w, h);
        return false;
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
    return true;
}
