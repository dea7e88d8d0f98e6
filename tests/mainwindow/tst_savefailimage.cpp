#include "copy2movedisk.h"
#include "diskmanager.h"
#include "savefialimagethread.h"
#include "testworkdir.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QMutexLocker>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>

#include <unistd.h>

class TestSaveFailImage : public QObject {
    Q_OBJECT
    // Slots are made as the result check makes them (the writer frees the
    // buffer of an OK picture it took), with room for the largest picture below.
    void fill(int slot, QRgb colour, int w, int h)
    {
        QMutexLocker l(pMutexSaveFail);
        if (!gpFailImage[slot])
            gpFailImage[slot] = new uchar[160 * 160 * 4]();
        auto* px = reinterpret_cast<QRgb*>(gpFailImage[slot]);
        for (int i = 0; i < w * h; ++i)
            px[i] = colour;
        gisSaveFail[slot] = true;
    }

private slots:
    void initTestCase()
    {
        pMutexSaveFail = new QMutex;
        for (unsigned char*& p : gpFailImage)
            p = new uchar[160 * 160 * 4]();
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
            f.write("picture");
        }
        // An empty picture and a temporary file of a write that never ended
        // are no pictures: they go and push no picture out.
        QFile empty(dir + "/20260101_000009_000_1.jpg");
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QFile temp(dir + "/20260101_000008_000_1.jpg.AbC123");
        QVERIFY(temp.open(QIODevice::WriteOnly));
        temp.close();
        SaveFialImageThread::pruneFolder(dir, 2);
        const QStringList left = QDir(dir).entryList(QDir::Files, QDir::Name);
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

    // A disk that fills up: a 1 MB tmpfs in a mount namespace that this test
    // makes by running itself again under `unshare -m`; the machine's own
    // mounts are never touched.
    void fullDiskLeavesOnlyWholePictures()
    {
        if (!qEnvironmentVariableIsSet("VMM_IN_OWN_MOUNT_NS")) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VMM_IN_OWN_MOUNT_NS", "1");
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            QStringList args{"--propagation", "private", QCoreApplication::applicationFilePath(),
                             "fullDiskLeavesOnlyWholePictures"};
            args.prepend(geteuid() == 0 ? "-m" : "-rm");
            child.start("unshare", args);
            if (!child.waitForStarted())
                QSKIP("unshare is not available");
            QVERIFY(child.waitForFinished(120000));
            const QByteArray out = child.readAll();
            if (out.contains("SKIP   : TestSaveFailImage::fullDisk"))
                QSKIP("no tmpfs can be mounted in a mount namespace here");
            if (child.exitCode() != 0 && out.contains("unshare:"))
                QSKIP("mount namespaces are not permitted here");
            QVERIFY2(child.exitCode() == 0, out.constData());
            return;
        }
        const struct {
            const char* name;
            qint64 lowBytes;     // 0: the low-disk pruning never runs
            bool foreign;        // after the first half, a foreign file fills the disk
            int rounds;          // an NG and an OK picture each
        } cases[] = {{"pruned for space", 400 * 1024, false, 24},
                     {"a foreign file fills the disk", 400 * 1024, true, 20},
                     {"writes fail", 0, false, 40}};
        for (const auto& c : cases) {
            QTemporaryDir mountPoint;
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "vmmtest", mountPoint.path()}) != 0)
                QSKIP("tmpfs cannot be mounted");
            const QString old = QDir::currentPath();
            QDir::setCurrent(mountPoint.path());
            SaveFialImageThread::setLowDiskLimits(c.lowBytes > 0 ? 5 : 0, c.lowBytes);
            gPicNumNG = gPicNumOK = 0;   // the keep counts prune nothing
            SaveFialImageThread t;
            t.setCameraSize(0, 160, 160);
            QStringList handed, handedNg, handedOk;
            t.onSaved = [&](int, int, bool ok, const QString& p) {
                handed << p;
                (ok ? handedOk : handedNg) << p;
            };
            // How often pruning said it cannot make room (once per low spell).
            static std::atomic<int> cannot{0};
            cannot = 0;
            const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
                if (m.contains("removing pictures cannot make room"))
                    ++cannot;
            });
            int written = 0;
            for (int i = 0; i < c.rounds; ++i) {
                if (c.foreign && i == c.rounds / 2) {
                    QFile filler("foreign");
                    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
                    while (filler.write(QByteArray(4096, 'f')) == 4096) {
                    }
                }
                for (int slot = 0; slot < 2; ++slot) {
                    // Noise does not compress: every picture takes its room.
                    QMutexLocker l(pMutexSaveFail);
                    if (!gpFailImage[slot])
                        gpFailImage[slot] = new uchar[160 * 160 * 4]();
                    auto* px = reinterpret_cast<quint32*>(gpFailImage[slot]);
                    for (int k = 0; k < 160 * 160; ++k)
                        px[k] = QRandomGenerator::global()->generate() | 0xff000000u;
                    gisSaveFail[slot] = true;
                }
                written += t.saveWaiting();
                QThread::msleep(2);   // names carry the millisecond
            }
            qInstallMessageHandler(previous);
            QCOMPARE(cannot.load(), c.foreign ? 1 : 0);
            QCOMPARE(written, handed.size());
            QStringList present;
            for (QDirIterator it("alarmimage", QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
                present << QFileInfo(it.next()).absoluteFilePath();
            for (const QString& f : qAsConst(present))
                QVERIFY2(f.endsWith(".jpg") && !QImage(f).isNull(), qPrintable(QString("%1: %2").arg(c.name, f)));
            if (c.lowBytes > 0) {
                // Every NG picture written stays (fewer than the newest 100);
                // the oldest OK pictures made the room.
                for (const QString& ng : qAsConst(handedNg))
                    QVERIFY2(present.contains(ng), qPrintable(QString("%1: %2").arg(c.name, ng)));
                QVERIFY(!present.contains(handedOk.first()));
                QVERIFY(present.contains(handed.last()));
                if (!c.foreign)
                    QCOMPARE(written, 2 * c.rounds);       // room was made every time
                else
                    QVERIFY2(handedNg.size() > c.rounds / 2, c.name);   // some after the disk filled
            } else {
                QVERIFY2(written < 2 * c.rounds, c.name);  // the disk did fill
                QCOMPARE(present.size(), written);      // and no failed picture was left
            }
            QDir::setCurrent(old);
            QCOMPARE(QProcess::execute("umount", {mountPoint.path()}), 0);
        }
        SaveFialImageThread::setLowDiskLimits(5, qint64(1) << 30);
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
