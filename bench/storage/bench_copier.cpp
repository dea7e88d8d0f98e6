// Speed of the USB picture copier.
//   storage_bench_copier [pictures] [kB per picture] [target folder]
// Prints: the copier's throughput into a local folder standing in for the
// disk beside `cp` of the same files into the same folder (the anchor,
// measured in the same run), and the picture writer's time per picture with
// the copier off and on.
#include "copy2movedisk.h"
#include "diskmanager.h"
#include "globals.h"
#include "savefialimagethread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <unistd.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QVector<UPanInfo> folderDisk(const QString& folder)
{
    DiskManager::Sources s;
    s.mounts = QStringLiteral("/nonexistent");
    s.folders = QStringList{folder};
    return DiskManager::findDisks(s);
}

double copierMs(const QStringList& files, const QString& disk, double* flushMs)
{
    Copy2MoveDisk c;
    c.setDeviceId(QStringLiteral("bench"));
    c.start(false);
    c.SlotDiskInfoChange(folderDisk(disk));
    QElapsedTimer t;
    t.start();
    for (const QString& f : files)
        c.addFile(f, QFileInfo(f).fileName());
    const int n = c.copyPending();
    const double ms = t.nsecsElapsed() / 1e6;
    if (n != files.size())
        std::fprintf(stderr, "copier copied %d of %d\n", n, int(files.size()));
    t.restart();
    c.flushDisk();
    *flushMs = t.nsecsElapsed() / 1e6;
    return ms;
}

double cpMs(const QStringList& files, const QString& dest)
{
    QDir().mkpath(dest);
    QElapsedTimer t;
    t.start();
    const int rc = QProcess::execute(QStringLiteral("cp"), QStringList(files) << dest);
    const double ms = t.nsecsElapsed() / 1e6;
    if (rc != 0)
        std::fprintf(stderr, "cp failed\n");
    return ms;
}

// Writer: time per picture over `rounds` sweeps of one camera's two slots.
double writerMsPerPicture(int rounds, int w, int h, std::vector<uchar>& buf)
{
    SaveFialImageThread writer;
    writer.setCameraSize(0, w, h);
    std::mt19937 rng(7);
    double total = 0;
    int pictures = 0;
    for (int r = 0; r < rounds; ++r) {
        {
            QMutexLocker l(pMutexSaveFail);
            for (std::size_t i = 0; i < buf.size(); i += 64)
                buf[i] = static_cast<uchar>(rng());
            // The writer takes the OK slot's buffer and frees it with
            // delete[] once written, as the cycle hands it over: a new one
            // each round, allocated the way the cycle allocates it.
            if (!gpFailImage[1])
                gpFailImage[1] = new uchar[buf.size()];
            std::memcpy(gpFailImage[1], buf.data(), buf.size());
            gisSaveFail[0] = gisSaveFail[1] = true;
        }
        QElapsedTimer t;
        t.start();
        pictures += writer.saveWaiting();
        total += t.nsecsElapsed() / 1e6;
    }
    return pictures ? total / pictures : 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 400;
    const int kb = argc > 2 ? std::atoi(argv[2]) : 200;
    QTemporaryDir base(argc > 3 ? QString::fromLocal8Bit(argv[3]) + QStringLiteral("/vmm-bench-XXXXXX")
                                : QDir::currentPath() + QStringLiteral("/vmm-bench-XXXXXX"));
    if (!base.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString src = base.filePath(QStringLiteral("local"));
    QDir().mkpath(src);
    std::mt19937 rng(1);
    QStringList files;
    QByteArray data(kb * 1024, '\0');
    for (int i = 0; i < count; ++i) {
        for (char& ch : data)
            ch = static_cast<char>(rng());
        const QString p = QStringLiteral("%1/camera1_detect1_NG_%2.jpg").arg(src).arg(i, 5, 10, QLatin1Char('0'));
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        files.append(p);
    }

    // The pictures themselves on the disk first, so that neither side pays
    // for writing them out.
    ::sync();
    std::vector<double> copier, cp, flush;
    for (int round = 0; round < 5; ++round) {
        const QString disk = base.filePath(QStringLiteral("disk%1").arg(round));
        QDir().mkpath(disk);
        double f = 0;
        copier.push_back(copierMs(files, disk, &f));
        flush.push_back(f);
        cp.push_back(cpMs(files, base.filePath(QStringLiteral("cp%1").arg(round))));
        QDir(disk).removeRecursively();
        QDir(base.filePath(QStringLiteral("cp%1").arg(round))).removeRecursively();
    }
    const double mb = double(count) * kb / 1024.0;
    const double copierMBs = mb / (median(copier) / 1000.0);
    const double cpMBs = mb / (median(cp) / 1000.0);
    std::printf("copier: %d pictures of %d kB: %.1f ms (%.0f MB/s)\n", count, kb, median(copier), copierMBs);
    std::printf("anchor cp, same files and folder: %.1f ms (%.0f MB/s)\n", median(cp), cpMBs);
    std::printf("copier / cp throughput: %.2fx (target >= 0.8x)\n", copierMBs / cpMBs);
    std::printf("then the copier writes its copies out to the disk: %.1f ms (cp leaves them in memory)\n",
                median(flush));

    // The writer with the copier off, then on (its own thread copying to a
    // folder disk while the writer saves).
    const int w = 1280, h = 1024;
    pMutexSaveFail = new QMutex;
    // Slot 0 (the NG picture) is only copied by the writer; slot 1 is
    // allocated per round (see writerMsPerPicture).
    std::vector<uchar> slot0(std::size_t(w) * h * 4);
    gpFailImage[0] = slot0.data();
    gPicNumNG = gPicNumOK = 50;
    const QString old = QDir::currentPath();
    QDir::setCurrent(base.path());
    std::vector<double> off, on;
    Copy2MoveDisk* copier2 = Copy2MoveDisk::getInstance();
    const QString disk = base.filePath(QStringLiteral("writerdisk"));
    QDir().mkpath(disk);
    for (int round = 0; round < 3; ++round)
        off.push_back(writerMsPerPicture(20, w, h, slot0));
    copier2->setDeviceId(QStringLiteral("bench"));
    copier2->SlotDiskInfoChange(folderDisk(disk));
    copier2->start();
    for (int round = 0; round < 3; ++round)
        on.push_back(writerMsPerPicture(20, w, h, slot0));
    copier2->stop();
    gpFailImage[0] = nullptr;  // the vector's memory goes with main
    delete[] gpFailImage[1];
    gpFailImage[1] = nullptr;
    QDir::setCurrent(old);
    std::printf("writer per %dx%d picture: copier off %.2f ms, on %.2f ms (adds %.3f ms; target < 1 ms)\n", w, h,
                median(off), median(on), median(on) - median(off));
    return 0;
}
