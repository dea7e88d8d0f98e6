// Speed and memory of the parameter records.
//   bench_params
// Prints: save and load time of a full camera (8 steps x 100 ROIs of mixed
// kinds, free-hand polygons of 2,000 points), polygon mask time against the
// vertex count, and the peak memory of 16 loaded records.
#include "databases.h"
#include "cammersingleton.h"
#include "globals.h"
#include "rivurevezi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include <sys/resource.h>
#include <malloc.h>

namespace {

constexpr float kScale = 1280.0f / 2592.0f;  // a 2592 x 1620 camera in a 1280 x 800 view

// Heap bytes in use (small and mapped blocks), in kB.
long currentKb()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

QVector<QPoint> wobblyOutline(int n, QPoint centre, int rx, int ry, std::mt19937& rng)
{
    std::uniform_int_distribution<int> wobble(-3, 3);
    QVector<QPoint> pts;
    for (int i = 0; i < n; ++i) {
        const double a = i * 2 * M_PI / n;
        pts.append(QPoint(centre.x() + int(rx * std::cos(a)) + wobble(rng),
                          centre.y() + int(ry * std::sin(a)) + wobble(rng)));
    }
    return pts;
}

void fillCamera(CammerSingleton& rec, std::mt19937& rng)
{
    std::uniform_int_distribution<int> cx(150, 1130), cy(150, 650);
    for (int g = 0; g < CammerSingleton::kSteps; ++g) {
        rec.roiCount[g] = CammerSingleton::kRois;
        for (int i = 0; i < CammerSingleton::kRois; ++i) {
            const int j = g * 100 + i;
            rec.p1[j] = 25;
            rec.p2[j] = 100;
            rec.p3[j] = 3;
            const QPoint c(cx(rng), cy(rng));
            rec.rect[g][i].setShowA(kScale, kScale);
            rec.circle[g][i].setShowA(kScale, kScale);
            rec.polygon[g][i].setShowA(kScale, kScale);
            switch (i % 4) {
            case 0:
                rec.kind[j] = 1;
                rec.rect[g][i].rect.setCoords(c.x() - 60, c.y() - 40, c.x() + 60, c.y() + 40);
                break;
            case 1:
                rec.kind[j] = 4;
                rec.circle[g][i].x = c.x();
                rec.circle[g][i].y = c.y();
                rec.circle[g][i].r = 60;
                rec.circle[g][i].ri = 20;
                rec.circle[g][i].UpdateRect();
                break;
            case 2:
                rec.kind[j] = 2;
                rec.polygon[g][i].setPoints(wobblyOutline(12, c, 80, 60, rng));
                break;
            default:
                rec.kind[j] = 2;
                rec.polygon[g][i].setPoints(wobblyOutline(2000, c, 120, 100, rng));
                rec.polygon[g][i].SetHand(true);
                break;
            }
            rec.rect[g][i].setImageRect();
            rec.circle[g][i].setImageRect();
            rec.polygon[g][i].setImageRect();
        }
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    gShowW = 1280;
    gShowH = 800;

    auto* win = new RiVuRevezi(nullptr);
    gpWin = win;
    Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
    Databases::get().paramDb().setDatabaseName(QStringLiteral("PARAM.db"));
    Databases::get().paramDb().open();
    Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));

    std::mt19937 rng(1);
    auto saved = std::make_unique<CammerSingleton>(0);
    fillCamera(*saved, rng);

    QElapsedTimer t;
    t.start();
    qint64 chars = 0;
    for (int g = 0; g < 8; ++g)
        for (int i = 0; i < 100; ++i)
            chars += saved->roiText(g, i).size();
    std::printf("formatting every ROI row (%lld characters):    %lld ms\n", chars, t.elapsed());
    t.restart();
    saved->SaveDatatoFile();
    std::printf("first save of a full camera (rows inserted): %lld ms\n", t.elapsed());
    t.restart();
    saved->SaveDatatoFile();
    std::printf("save of a full camera (rows updated):        %lld ms\n", t.elapsed());

    auto masks = std::make_unique<std::vector<cv::Mat>>(CammerSingleton::kSlots);
    auto loaded = std::make_unique<CammerSingleton>(0);
    t.restart();
    loaded->LoadDatafromFile(RoiViewLink{kScale, kScale, masks->data()});
    std::printf("load of a full camera, masks included:       %lld ms (%s)\n", t.elapsed(),
                *loaded == *saved ? "equal" : "DIFFERENT");

    std::printf("polygon mask (view 500 x 400, scale %.3f):\n", double(kScale));
    for (int n : {4, 100, 500, 2000, 8096}) {
        RePolygon poly;
        poly.setPoints(wobblyOutline(n, QPoint(600, 400), 250, 200, rng));
        poly.setShowA(kScale, kScale);
        poly.setImageRect();
        t.restart();
        int nonZero = 0;
        for (int k = 0; k < 10; ++k)
            nonZero = cv::countNonZero(poly.UpdateMask());
        std::printf("  %5d vertices: %8.3f ms per mask (%d pixels inside)\n", n, t.nsecsElapsed() / 1e7, nonZero);
    }

    // 8 cameras, each with its saved record and its edited copy.
    masks.reset();
    loaded.reset();
    saved.reset();
    for (int c = 0; c < 8; ++c) {
        auto rec = std::make_unique<CammerSingleton>(c);
        fillCamera(*rec, rng);
        rec->SaveDatatoFile();
    }
    const long beforeRecords = currentKb();
    std::vector<std::unique_ptr<CammerSingleton>> records;
    for (int c = 0; c < 8; ++c) {
        auto live = std::make_unique<CammerSingleton>(c);
        live->LoadDatafromFile(RoiViewLink{kScale, kScale, nullptr});
        auto edit = std::make_unique<CammerSingleton>(c);
        *edit = *live;
        // The edited copy is worked on: every polygon changes.
        for (int g = 0; g < 8; ++g)
            for (int i = 0; i < 100; ++i)
                if (edit->kind[g * 100 + i] == 2) {
                    edit->polygon[g][i].pts[0] += QPoint(1, 0);
                    edit->polygon[g][i].setImageRect();
                }
        records.push_back(std::move(live));
        records.push_back(std::move(edit));
    }
    std::printf("memory of 16 loaded records, every copy edited: %ld MB (peak of the process so far %ld MB)\n",
                (currentKb() - beforeRecords) / 1024, peakKb() / 1024);
    std::printf("size of one record without its polygon points: %zu kB\n", sizeof(CammerSingleton) / 1024);
    const long beforeMasks = currentKb();
    std::vector<std::unique_ptr<std::vector<cv::Mat>>> liveMasks;
    for (int c = 0; c < 8; ++c) {
        liveMasks.push_back(std::make_unique<std::vector<cv::Mat>>(CammerSingleton::kSlots));
        CammerSingleton probe(c);
        probe.LoadDatafromFile(RoiViewLink{kScale, kScale, liveMasks.back()->data()});
    }
    std::printf("and the views' masks of the 8 cameras (picture pixels, not part of the records): %ld MB\n",
                (currentKb() - beforeMasks) / 1024);

    delete Databases::get().paramQuery();
    Databases::get().setParamQuery(nullptr);
    Databases::get().paramDb().close();
    delete win;
    gpWin = nullptr;
    return 0;
}
