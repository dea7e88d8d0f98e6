// The files a camera view keeps its templates and ignore masks in:
// ./cammer<c><d>/template<n>.bmp and ./cammer<c><d>/ignorepoint.bmp
// (c = camera index + 1, d = step + 1). BMP rows are padded to 4 bytes, so
// every picture is copied row by row between the file and the view's
// gap-less buffers (8-bit grey, or 32-bit RGB words on a colour camera).
#pragma once

#include <QString>
#include <QtGlobal>

class TemplateFiles {
public:
    static QString stepFolder(int camera, int step);
    static QString templatePath(int camera, int step, int slot);
    static QString ignorePath(int camera, int step);

    // Writes a gap-less picture: as a 32-bit BMP when `colour`, else as an
    // 8-bit indexed BMP with the grey table.
    static bool writePicture(const QString& path, const uchar* pixels, int width, int height, bool colour);
    // Reads a template file into `out`. Counts only a picture of the given
    // size whose depth fits the camera (8 bits grey, 32 bits colour).
    static bool readTemplate(const QString& path, uchar* out, int width, int height, bool colour);
    // Reads an ignore mask into `mask` (width x height, 255 = not judged);
    // any marked pixel is ignored. False, the mask untouched, without a
    // readable file or for a picture of another size (which is reported).
    static bool readIgnore(const QString& path, uchar* mask, int width, int height);
};
