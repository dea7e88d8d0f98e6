#include "copy2movedisk.h"
#include "diskmanager.h"
#include "savefialimagethread.h"
#include "testworkdir.h"

#include <QDate>
#include <QDir>
#include <QImage>
#include <QMutexLocker>
#include <QtTest>

class TestSaveFailImage : public QObject {
    Q_OBJECT
    QVector<QVector<uchar>> buffers;

    void fill(int slot, QRgb colour, int w, int h)
    {
        QMutexLocker l(pMutexSaveFail);
        auto* px = reinterpret_cast<QRgb*>(gpFailImage[slot]);
        for (int i = 0; i < w * h; ++i)
            px[i] = colour;
        gisSaveFail[slot] = true;
    }

private slots:
    void initTestCase()
    {
        pMutexSaveFail = new QMutex;
        buffers.resize(kMaxCamera * kMaxDetect * 2);
        for (int i = 0; i < buffers.size(); ++i) {
            buffers[i].resize(64 * 48 * 4);
            gpFailImage[i] = buffers[i].data();
        }
    }

    void picturesLandInTheirFolders()
    {
        TestWorkDir wd;
        gPicNumNG = 3;
        gPicNumOK = 2;
        SaveFialImageThread t;
        t.setCameraSize(1, 64, 48);
        QList<std::tuple<int, int, bool, QString>> handed;
        t.onSaved = [&](int c, int s, bool ok, const QString& p) { handed.append({c, s, ok, p}); };

        const int step = 1 * kMaxDetect + 2;  // camera 2, detection 3
        fill(0 + 2 * step, qRgb(255, 0, 0), 64, 48);
        fill(1 + 2 * step, qRgb(0, 255, 0), 64, 48);
        {
            QMutexLocker l(pMutexSaveFail);
            gFailIndex[step] = 4;
        }
        QCOMPARE(t.saveWaiting(), 2);
        QCOMPARE(handed.size(), 2);
        const QString ng = std::get<3>(handed[0]);
        QVERIFY(ng.contains("/alarmimage/camera2/detect3/NG/"));
        QVERIFY(ng.endsWith("_4.jpg"));
        QCOMPARE(std::get<2>(handed[0]), false);
        QCOMPARE(std::get<2>(handed[1]), true);
        QVERIFY(QFileInfo::exists(std::get<3>(handed[1])));
        const QImage back(ng);
        QCOMPARE(back.size(), QSize(64, 48));
        QVERIFY(qRed(back.pixel(10, 10)) > 200 && qGreen(back.pixel(10, 10)) < 60);
        QCOMPARE(gFailIndex[step], 0);
        QVERIFY(!gisSaveFail[2 * step] && !gisSaveFail[1 + 2 * step]);
        QCOMPARE(t.saveWaiting(), 0);  // nothing twice
    }

    void onlyTheNewestAreKept()
    {
        TestWorkDir wd;
        const QString dir = SaveFialImageThread::folderFor(0, 0, false);
        QDir().mkpath(dir);
        for (int i = 0; i < 6; ++i) {
            QFile f(QStringLiteral("%1/20260101_00000%2_000_1.jpg").arg(dir).arg(i));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        SaveFialImageThread::pruneFolder(dir, 2);
        const QStringList left = QDir(dir).entryList({"*.jpg"}, QDir::Files, QDir::Name);
        QCOMPARE(left, (QStringList{"20260101_000004_000_1.jpg", "20260101_000005_000_1.jpg"}));
    }

    void unwritableFolderHandsNothingOn()
    {
        TestWorkDir wd;
        QFile blocker("alarmimage");  // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SaveFialImageThread t;
        t.setCameraSize(0, 64, 48);
        int handed = 0;
        t.onSaved = [&](int, int, bool, const QString&) { ++handed; };
        fill(0, qRgb(1, 2, 3), 64, 48);
        QCOMPARE(t.saveWaiting(), 0);
        QCOMPARE(handed, 0);
    }

    // Every saved picture goes to the USB copier; while no disk is there the
    // writer goes on and the names wait.
    void savedPicturesReachTheUsbDisk()
    {
        TestWorkDir wd;
        QVERIFY(QDir().mkpath("stick"));
        Copy2MoveDisk* copier = Copy2MoveDisk::getInstance();
        copier->setDeviceId("dev9");
        copier->start(false);
        SaveFialImageThread t;
        t.setCameraSize(0, 64, 48);
        for (int round = 1; round <= 2; ++round) {
            fill(0, qRgb(200, 0, 0), 64, 48);
            fill(1, qRgb(0, 200, 0), 64, 48);
            {
                QMutexLocker l(pMutexSaveFail);
                gFailIndex[0] = round;
            }
            QCOMPARE(t.saveWaiting(), 2);
            QCOMPARE(copier->copyPending(), 0);
        }
        QCOMPARE(copier->pending().size(), 4);
        DiskManager::Sources s;
        s.mounts = "/nonexistent";
        s.folders = QStringList{"stick"};
        copier->SlotDiskInfoChange(DiskManager::findDisks(s));
        QCOMPARE(copier->copyPending(), 4);
        const QDir day("stick/monitor_dev9/" + QDate::currentDate().toString("yyyy-MM-dd"));
        QCOMPARE(day.entryList({"camera1_detect1_NG_*.jpg", "camera1_detect1_OK_*.jpg"}, QDir::Files).size(), 4);
        QCOMPARE(QImage(day.filePath(day.entryList({"*_NG_*_2.jpg"}).value(0))).size(), QSize(64, 48));
    }
};

QTEST_MAIN(TestSaveFailImage)
#include "tst_savefailimage.moc"
