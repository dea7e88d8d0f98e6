// The picture a camera view paints: a 32-bit RGB copy of the view's shown
// frame with its marks (defect, ignored and preview pixels), made once per
// change of the frame rather than at every repaint, and at the size the
// painter shows it when that is smaller than the picture.
//
// The copy remembers which parts carry marks and puts back only those
// before the next marks, unless the frame or what is shown (the key)
// changed. GUI thread only.
#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <QVector>

#include <vector>

class QPainter;
class QTransform;

class ViewPicture {
public:
    // The shown frame changed: the next prepare copies it afresh.
    void changed() { dirty = true; }

    // Brings the copy up to date with `frame` (width x height; 32-bit RGB
    // words when `colour`, else 8-bit grey), at the size `shrunk` when that
    // is smaller than the picture both ways, else at the picture's size. A
    // different `key` (what is shown) counts as a change; otherwise only
    // the marked parts are put back. Nothing without a frame.
    void prepare(const uchar* frame, int width, int height, bool colour, qint64 key, QSize shrunk);
    // Marks the pixels of `roiRect` (picture pixels) that are set in
    // `source` (8-bit, the picture's size) in `colour`.
    void mark(const QRect& roiRect, const uchar* source, QRgb colour);
    // Draws the copy over `target` under the painter's transform; a shrunk
    // copy pixel for pixel at `shrunk` (device pixels).
    void draw(QPainter& p, const QRect& target, const QRect& shrunk) const;

    // The device rectangle that `target` covers when `p` paints it under the
    // world transform `t`, when that is smaller than a picture of `picture`
    // and lands unrotated on whole device pixels; else an empty rectangle.
    static QRect shrunkRect(const QPainter& p, const QTransform& t, const QRect& target, QSize picture);

    const QImage& image() const { return rgb; }
    bool scaled() const { return isScaled; }

private:
    void expand(const QRect& r);

    const uchar* frame = nullptr;   // the frame last prepared from
    int width = 0;
    int height = 0;
    bool colour = false;
    QImage rgb;                     // the copy, with marks
    bool isScaled = false;          // the copy is smaller than the picture
    std::vector<int> cols;          // picture column of each copy column (when scaled)
    std::vector<int> rows;          // picture row of each copy row (when scaled)
    QVector<QRect> marked;          // parts of the picture whose marks the copy carries
    bool dirty = true;
    qint64 shownKey = -1;
};
