// The template and ignore-mask files on their own: pictures whose rows are
// not a multiple of 4 bytes come back pixel for pixel, a file of another
// size or depth is refused, and an ignore mask reads as 0 and 255 only.
#include "templatefiles.h"
#include "testworkdir.h"

#include <QImage>
#include <QtTest>

#include <vector>

namespace {
constexpr int kW = 13;   // odd: BMP rows carry padding
constexpr int kH = 7;

std::vector<uchar> picture(bool colour)
{
    std::vector<uchar> p(size_t(kW) * kH * (colour ? 4 : 1));
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = uchar((i * 37 + 11) % 256);
    if (colour) {
        for (size_t i = 3; i < p.size(); i += 4)
            p[i] = 0xff;   // 0xffRRGGBB words
    }
    return p;
}
}  // namespace

class TestTemplateFiles : public QObject {
    Q_OBJECT

private slots:
    void paths()
    {
        QCOMPARE(TemplateFiles::templatePath(0, 2, 5), QStringLiteral("./cammer13/template5.bmp"));
        QCOMPARE(TemplateFiles::ignorePath(3, 0), QStringLiteral("./cammer41/ignorepoint.bmp"));
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::newRow("grey") << false;
        QTest::newRow("colour") << true;
    }
    void roundTrip()
    {
        QFETCH(bool, colour);
        TestWorkDir wd;
        const std::vector<uchar> in = picture(colour);
        QVERIFY(TemplateFiles::writePicture("t.bmp", in.data(), kW, kH, colour));
        std::vector<uchar> out(in.size(), 0);
        QVERIFY(TemplateFiles::readTemplate("t.bmp", out.data(), kW, kH, colour));
        QVERIFY(out == in);
        // Another size, or a depth the camera does not take, is no template.
        std::vector<uchar> other(size_t(kW + 1) * kH * 4, 0);
        QVERIFY(!TemplateFiles::readTemplate("t.bmp", other.data(), kW + 1, kH, colour));
        QVERIFY(!TemplateFiles::readTemplate("t.bmp", other.data(), kW, kH, !colour));
        QVERIFY(!TemplateFiles::readTemplate("missing.bmp", out.data(), kW, kH, colour));
    }

    void ignoreMask()
    {
        TestWorkDir wd;
        QImage marks(kW, kH, QImage::Format_RGB32);
        marks.fill(Qt::black);
        marks.setPixel(4, 2, qRgb(3, 3, 3));        // faintly marked still counts
        marks.setPixel(12, 6, qRgb(255, 0, 0));
        QVERIFY(marks.save("ignore.bmp", "BMP"));
        std::vector<uchar> mask(size_t(kW) * kH, 7);
        QVERIFY(TemplateFiles::readIgnore("ignore.bmp", mask.data(), kW, kH));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                QCOMPARE(int(mask[size_t(y) * kW + size_t(x)]),
                         (x == 4 && y == 2) || (x == 12 && y == 6) ? 255 : 0);
        // A mask of another size leaves the mask alone.
        std::vector<uchar> small(size_t(kW - 1) * kH, 7);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no point is ignored"));
        QVERIFY(!TemplateFiles::readIgnore("ignore.bmp", small.data(), kW - 1, kH));
        QCOMPARE(int(small[0]), 7);
    }
};

QTEST_MAIN(TestTemplateFiles)
#include "tst_templatefiles.moc"
