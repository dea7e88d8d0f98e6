// The SDK against a camera written in Python without our library: every
// request must be valid HTTP/1.1 with its body as JSON, and the fake's
// standard replies (JSON envelope, multipart picture) must be read.
#include "support_netns.h"
#include "zelCameraApi.h"

#include <QProcess>
#include <QtTest>

#include <cstring>

class TstFakeCamera : public QObject {
    Q_OBJECT
    QProcess fake_;
    QStringList lines_;

    void readLines()
    {
        while (fake_.canReadLine())
            lines_ << QString::fromUtf8(fake_.readLine()).trimmed();
    }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        fake_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        fake_.start(QStringLiteral("python3"), {QStringLiteral(FAKECAMERA), QStringLiteral("127.0.0.5")});
        QVERIFY(fake_.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT((readLines(), lines_.contains("ready")), 20000);
    }
    void cleanupTestCase()
    {
        fake_.closeWriteChannel();
        if (!fake_.waitForFinished(5000))
            fake_.kill();
        fake_.waitForFinished(5000);
    }

    void requestsAreValidHttp()
    {
        NETNS_GUARD();
        tZelCameraDevInfo info;
        std::memset(&info, 0, sizeof(info));
        zelSetDeviceTexts(info, "FAKE", "127.0.0.5");
        int h = -1;
        QCOMPARE(ZelCameraInit(&info, 0, 0, h), 0);
        QVariant gain;
        QCOMPARE(ZelCameraGetParam(h, "gain", gain, false), 0);
        QCOMPARE(gain.toInt(), 32);
        QCOMPARE(ZelCameraSetSharpness(h, 3), 0);
        QCOMPARE(ZelCameraSetHDR(h, 1), 0);
        cv::Mat image;
        QJsonObject head;
        QCOMPARE(ZelCameraGetImageBuffer(h, image, head, 2000), 0);
        QCOMPARE(image.cols, 16);
        QCOMPARE(int(image.at<uchar>(1, 2)), 3);
        QCOMPARE(head.value("frame").toInt(), 1);
        QCOMPARE(ZelCameraUnInit(h), 0);

        QTRY_VERIFY_WITH_TIMEOUT((readLines(), lines_.filter(QRegularExpression("^(ok|bad) ")).size() >= 5), 10000);
        QCOMPARE(lines_.filter(QRegularExpression("^bad ")), QStringList());
        QVERIFY(lines_.contains("ok /smon2/camera/setparams {\"sharp\": 3}"));
        QVERIFY(lines_.contains("ok /smon2/camera/commands {\"aiqWorkingMode\": true}"));
        QVERIFY(lines_.contains("ok /smon2/camera/getpic {\"compulsive\": false}"));
        QVERIFY(lines_.contains("ok /smon2/camera/getparams -"));
    }
};

NETNS_TEST_MAIN(TstFakeCamera)
#include "tst_fakecamera.moc"
