// The picture a view paints, on its own: the copy follows the frame in grey
// and colour, at the picture's size or shrunk, marks go on and come off,
// and a frame is copied again only once it changed.
#include "viewpicture.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <vector>

namespace {
constexpr int kW = 40;
constexpr int kH = 30;

// A grey frame with a value per column (x * 5), or the colour frame of the
// same greys.
std::vector<quint32> colourFrame()
{
    std::vector<quint32> f(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            f[size_t(y) * kW + size_t(x)] = quint32(x * 5) * 0x010101u;   // no alpha: the copy makes it opaque
    return f;
}

std::vector<uchar> greyFrame()
{
    std::vector<uchar> f(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            f[size_t(y) * kW + size_t(x)] = uchar(x * 5);
    return f;
}
}  // namespace

class TestViewPicture : public QObject {
    Q_OBJECT

private slots:
    void followsTheFrame_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<QSize>("shrunk");
        QTest::addColumn<QSize>("size");
        QTest::newRow("grey") << false << QSize() << QSize(kW, kH);
        QTest::newRow("colour") << true << QSize() << QSize(kW, kH);
        QTest::newRow("grey shrunk") << false << QSize(20, 15) << QSize(20, 15);
        QTest::newRow("colour shrunk") << true << QSize(20, 15) << QSize(20, 15);
        QTest::newRow("not smaller both ways") << false << QSize(20, kH) << QSize(kW, kH);
    }
    void followsTheFrame()
    {
        QFETCH(bool, colour);
        QFETCH(QSize, shrunk);
        QFETCH(QSize, size);
        const std::vector<uchar> grey = greyFrame();
        const std::vector<quint32> rgb = colourFrame();
        const uchar* frame = colour ? reinterpret_cast<const uchar*>(rgb.data()) : grey.data();
        ViewPicture pic;
        pic.prepare(frame, kW, kH, colour, 1, shrunk);
        QCOMPARE(pic.image().size(), size);
        QCOMPARE(pic.scaled(), size != QSize(kW, kH));
        // Copy column c shows picture column (2c + 1) * kW / (2 * width).
        for (int c : {0, size.width() / 2, size.width() - 1}) {
            const int x = (2 * c + 1) * kW / (2 * size.width());
            QCOMPARE(pic.image().pixel(c, size.height() - 1), qRgb(x * 5, x * 5, x * 5));
        }

        // A mark on the picture pixel a copy pixel shows; it comes off at the
        // next prepare of the same frame and key.
        const QPoint at(size.width() / 2, size.height() / 3);
        const int px = (2 * at.x() + 1) * kW / (2 * size.width());
        const int py = (2 * at.y() + 1) * kH / (2 * size.height());
        std::vector<uchar> defects(size_t(kW) * kH, 0);
        defects[size_t(py) * kW + size_t(px)] = 255;
        pic.mark(QRect(0, 0, kW, kH), defects.data(), qRgb(255, 0, 0));
        QCOMPARE(pic.image().pixel(at), qRgb(255, 0, 0));
        pic.prepare(frame, kW, kH, colour, 1, shrunk);
        QCOMPARE(pic.image().pixel(at), qRgb(px * 5, px * 5, px * 5));
    }

    void copiesAgainOnlyOnChange()
    {
        std::vector<uchar> frame = greyFrame();
        ViewPicture pic;
        pic.prepare(frame.data(), kW, kH, false, 7, QSize());
        frame[0] = 200;
        pic.prepare(frame.data(), kW, kH, false, 7, QSize());
        QCOMPARE(pic.image().pixel(0, 0), qRgb(0, 0, 0));          // unchanged: not copied
        pic.prepare(frame.data(), kW, kH, false, 8, QSize());
        QCOMPARE(pic.image().pixel(0, 0), qRgb(200, 200, 200));    // another key
        frame[0] = 50;
        pic.changed();
        pic.prepare(frame.data(), kW, kH, false, 8, QSize());
        QCOMPARE(pic.image().pixel(0, 0), qRgb(50, 50, 50));       // told of the change
    }

    void shrunkRect_data()
    {
        QTest::addColumn<QTransform>("t");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("half") << QTransform::fromScale(0.5, 0.5) << QRect(0, 0, 20, 15);
        QTest::newRow("moved half") << QTransform(0.5, 0, 0, 0.5, 3, 4) << QRect(3, 4, 20, 15);
        QTest::newRow("full size") << QTransform() << QRect();
        QTest::newRow("enlarged") << QTransform::fromScale(2, 2) << QRect();
        QTest::newRow("mirrored") << QTransform::fromScale(-0.5, 0.5) << QRect();
        QTest::newRow("rotated") << QTransform().rotate(30).scale(0.5, 0.5) << QRect();
    }
    void shrunkRect()
    {
        QFETCH(QTransform, t);
        QFETCH(QRect, expected);
        QImage device(100, 100, QImage::Format_RGB32);
        QPainter p(&device);
        QCOMPARE(ViewPicture::shrunkRect(p, t, QRect(0, 0, kW, kH), QSize(kW, kH)), expected);
    }
};

QTEST_MAIN(TestViewPicture)
#include "tst_viewpicture.moc"
