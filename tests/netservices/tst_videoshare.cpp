// The screen share in System V memory. The test re-runs itself in an IPC
// namespace of its own (and makes its keys from its own folder), so that no
// segment or semaphore of the machine is ever touched.
#include "agentrig.h"
#include "cnt_semaphore.h"
#include "videothread.h"

#include <QImage>

#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include <sys/sem.h>
#include <sys/shm.h>

namespace {

QImage solid(int w, int h, QRgb colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// Attachments of a segment; -1 when it is gone.
int attachments(int shmid)
{
    struct shmid_ds ds{};
    return shmctl(shmid, IPC_STAT, &ds) == 0 ? int(ds.shm_nattch) : -1;
}

}  // namespace

class TestVideoShare : public QObject {
    Q_OBJECT
private slots:
    // The share as announced; the agent reads, under the lock, exactly
    // OpenCV's I420 form of the screen, whatever the screen's own size.
    void readerSeesI420OfTheScreen()
    {
        AgentRig rig(true);
        const QRgb colour = qRgb(200, 40, 90);
        rig.link->screenGrab = [colour] { return solid(1280, 800, colour); };
        QVERIFY(rig.tickUntil(1));
        QTRY_VERIFY(rig.link->videoThread && rig.link->videoThread->framesWritten() > 0);
        const QJsonObject offer =
            rig.messages("offervideomem").last().value("body").toObject().value("memoryinfo").toArray().first().toObject();
        QCOMPARE(offer, (QJsonObject{{"cameraid", 0}, {"size", 3110400}, {"width", 1920}, {"height", 1080}, {"fps", 20},
                                     {"shmid", rig.link->videoShares.value(0).shmid},
                                     {"semid", rig.link->videoShares.value(0).semid}}));

        const QString out = rig.wd.file("frame.i420");
        const QJsonObject answer = rig.control("/agentsim/frame?out=" + out);
        QCOMPARE(answer.value("code").toInt(), 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray frame = f.readAll();
        QCOMPARE(frame.size(), 3110400);

        cv::Mat bgra(1080, 1920, CV_8UC4, cv::Scalar(qBlue(colour), qGreen(colour), qRed(colour), 255));
        cv::Mat i420;
        cv::cvtColor(bgra, i420, cv::COLOR_BGRA2YUV_I420);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(i420.data), int(i420.total())), frame);
    }

    void reinitKeepsOneLockAndOneAttachment()
    {
        AgentRig rig(true);
        rig.mgr->initStart();
        rig.mgr->initStart();
        const VideoShareInfo s = rig.link->videoShares.value(0);
        QVERIFY(s.shmid >= 0);
        QCOMPARE(attachments(s.shmid), 1);
        QCOMPARE(s.sem->value(), 1);
        // Frames taken and given back many times leave it at 1 too.
        for (int i = 0; i < 5; ++i)
            QVERIFY(rig.link->videoThread->UpdateMemory(0, solid(64, 48, qRgb(1, 2, 3))));
        QCOMPARE(s.sem->value(), 1);
    }

    // A reader that takes the lock and never gives it back costs frames,
    // not the GUI thread; stopping the video still ends at once.
    void lockHolderDoesNotStallTheScreen()
    {
        AgentRig rig(true);
        rig.link->screenGrab = [] { return solid(1920, 1080, qRgb(9, 9, 9)); };
        QVERIFY(rig.tickUntil(1));
        QTRY_VERIFY(rig.link->videoThread->framesWritten() > 0);
        QCOMPARE(rig.control("/agentsim/holdlock").value("code").toInt(), 0);
        GuiLatenessWatch watch;
        const int skipped = rig.link->videoThread->framesSkipped();
        QTRY_VERIFY(rig.link->videoThread->framesSkipped() > skipped + 2);
        rig.link->startVideo(false);
        QVERIFY(!rig.link->videoThread);
        QVERIFY(watch.report("GUI thread with the share's lock held by the agent"));
    }

    void destroyLeavesNothing()
    {
        AgentRig rig(true);
        const VideoShareInfo s = rig.link->videoShares.value(0);
        QVERIFY(s.shmid >= 0 && s.semid >= 0);
        rig.mgr->setWorkTask(false, false, false);
        rig.link->init();
        QCOMPARE(attachments(s.shmid), -1);
        QCOMPARE(semctl(s.semid, 0, GETVAL), -1);
        QCOMPARE(errno, EINVAL);
        // Twice is harmless; the map still lists the share.
        rig.link->destoryVideoShare();
        QCOMPARE(rig.link->videoShares.size(), 1);
    }
};

int main(int argc, char* argv[])
{
    // Re-run inside a fresh IPC namespace when the system allows it.
    if (!qEnvironmentVariableIsSet("VMM_IPC_NAMESPACE") && std::system("unshare --ipc true >/dev/null 2>&1") == 0) {
        setenv("VMM_IPC_NAMESPACE", "1", 1);
        std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("--ipc"), const_cast<char*>("--")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("unshare", args.data());
    }
    QApplication app(argc, argv);
    TestVideoShare t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_videoshare.moc"
