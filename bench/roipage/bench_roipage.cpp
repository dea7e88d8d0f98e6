// Speed of the ROI page.
//   bench_roipage [width height]
// Prints, for 8 cameras of width x height grey pixels (default 1280 x 1024)
// with 2 steps of 20 regions each: the time of opening the page (Reset) and
// of saving one changed region (compare, change log, PARAM.db, masks), with
// the retraining of the changed camera given apart; then the first listing
// and the previous/next steps over a folder of 20,000 stored JPEG pictures.
#include "cameraviews.h"
#include "editsession.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "rivurevezi.h"
#include "support_roipage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

using namespace pagetest;

namespace {

double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

void summary(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    std::printf("%-44s n=%-5zu mean %8.2f ms  median %8.2f ms  max %8.2f ms\n", what, v.size(), sum / v.size(),
                v[v.size() / 2], v.back());
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    o.cameras = 8;
    o.width = argc > 2 ? QString(argv[1]).toInt() : 1280;
    o.height = argc > 2 ? QString(argv[2]).toInt() : 1024;
    std::printf("8 cameras of %d x %d, 2 steps of 20 regions each\n", o.width, o.height);
    RoiEnv env(o);
    for (int c = 0; c < 8; ++c)
        for (int g = 0; g < 2; ++g) {
            for (int i = 0; i < 20; ++i)
                env.addSavedRect(c, g, 20 + (i % 5) * (o.width / 6), 20 + (i / 5) * (o.height / 5), o.width / 8,
                                 o.height / 8, i % 3 == 0 ? 0 : 5, 45, 30, 3);
        }
    env.win->cycleStatus().detectState = 3;

    std::vector<double> reset, save, retrain;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer t;
        t.start();
        env.page->Reset();
        reset.push_back(ms(t));

        CammerWidget* v = env.view(round % 8);
        v->editRecord->p1[round % 20] += 1;
        v->editRecord->rect[0][round % 20].rect.translate(1, 0);
        v->editRecord->rect[0][round % 20].setImageRect();
        v->editMasks[0][round % 20] = v->editRecord->rect[0][round % 20].UpdateMask();

        // The retraining of the changed camera, measured on its own.
        QElapsedTimer r;
        r.start();
        for (int g = 0; g < 2; ++g)
            v->engine()->VarTrain(g);
        const double train = ms(r);
        retrain.push_back(train);

        BoxScript yes({true}, 0);
        t.restart();
        env.page->SlotSaveData();
        save.push_back(ms(t) - train);
    }
    summary("Reset (open the page)", reset);
    summary("save one changed region, without retraining", save);
    summary("retraining of that camera (2 steps)", retrain);

    // 20,000 stored pictures: hard links of one full-size JPEG.
    const QDir ok = CameraViews::pictureFolder(0, 0, true);
    QDir().mkpath(ok.path());
    // A picture with some detail, so that decoding costs what a real one does.
    QImage img(o.width, o.height, QImage::Format_Grayscale8);
    for (int y = 0; y < o.height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < o.width; ++x)
            row[x] = uchar((x * 7 + y * 3 + ((x / 16) ^ (y / 16)) * 37 + (x * y) % 23) & 0xff);
    }
    const QString first = ok.filePath("0000000_base.jpg");
    img.save(first, "JPG", 90);
    for (int i = 1; i < 20000; ++i) {
        const QString name = ok.filePath(QStringLiteral("%1_pic.jpg").arg(i, 7, 10, QLatin1Char('0')));
        if (::link(QFile::encodeName(first).constData(), QFile::encodeName(name).constData()) != 0) {
            std::printf("cannot link %s\n", qPrintable(name));
            return 1;
        }
    }
    EditSession::get().setCurrentCamera(0);
    QElapsedTimer t;
    t.start();
    env.page->setSource(3);
    std::printf("%-44s %8.2f ms (%d pictures, %d x %d)\n", "first listing and picture", ms(t), env.page->storedCount,
                env.page->storedPicture.width(), env.page->storedPicture.height());
    std::vector<double> next, last;
    for (int i = 0; i < 200; ++i) {
        t.restart();
        env.page->SlotTempNext();
        next.push_back(ms(t));
    }
    for (int i = 0; i < 200; ++i) {
        t.restart();
        env.page->SlotTempLast();
        last.push_back(ms(t));
    }
    summary("next picture", next);
    summary("previous picture", last);
    return 0;
}
