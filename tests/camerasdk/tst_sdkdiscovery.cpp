// The function family's discovery side against two simulated cameras, each
// in a network namespace of its own: camera A inside the monitor's subnet,
// camera B in a foreign one. Enumeration into dirty arrays and short ones,
// the foreign camera moved into the subnet and opened there, frames from a
// camera found by discovery, and a daemon restart addressed by a 32-character
// key.
#include "support_netns.h"
#include "support_nscamera.h"
#include "zelCameraApi.h"

#include <QMutex>
#include <QtTest>

#include <cstring>

namespace {

std::atomic<int> gFrames{0};

void countFrame(cv::Mat frame, void*)
{
    if (!frame.empty())
        ++gFrames;
}

}  // namespace

class TstSdkDiscovery : public QObject {
    Q_OBJECT
    NsCamera a_{NETCAM_HELPER, "vm0", "vc0", "192.168.7.10/24", "192.168.7.21/24"};
    NsCamera b_{NETCAM_HELPER, "vm1", "vc1", "192.168.8.10/24", "10.0.0.5/8"};

    // Enumerates until both cameras are listed (a loaded machine may need another pass).
    int enumerate(tZelCameraDevInfo* list, int capacity, int want)
    {
        int count = 0;
        for (int pass = 0; pass < 5; ++pass) {
            count = capacity;
            if (ZelCameraEnumerateDevice(list, count) != ZEL_OK)
                return -1;
            if (count >= want)
                break;
        }
        return count;
    }

    int indexOf(const tZelCameraDevInfo* list, int count, const QString& key)
    {
        for (int i = 0; i < count; ++i)
            if (zelDeviceKey(list[i]) == key)
                return i;
        return -1;
    }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        qputenv("VMM_TARGET", "0");
        QVERIFY(netns::prepare());
        QVERIFY2(a_.start(), qPrintable(a_.lines.join('|')));
        QVERIFY2(b_.start(), qPrintable(b_.lines.join('|')));
        QCOMPARE(ZelCameraSdkInit(0), 0);
        QCOMPARE(ZelCameraSdkInit(0), 0);  // a second init keeps the first client
    }

    void enumerationFillsOnlyTheTextsAndMovesTheForeignCamera()
    {
        NETNS_GUARD();
        tZelCameraDevInfo list[4];
        std::memset(list, 0xEE, sizeof(list));
        const int count = enumerate(list, 4, 2);
        QCOMPARE(count, 2);
        const int ia = indexOf(list, count, a_.key), ib = indexOf(list, count, b_.key);
        QVERIFY(ia >= 0 && ib >= 0);
        QCOMPARE(a_.key.size(), 32);
        QCOMPARE(zelDeviceIp(list[ia]), QStringLiteral("192.168.7.21"));
        for (int i = 0; i < count; ++i) {
            QCOMPARE(list[i].reserved[0], uchar(0xEE));
            QCOMPARE(list[i].reserved[223], uchar(0xEE));
            QCOMPARE(list[i].tail[0], uchar(0xEE));
            // The rest of the IP field was zeroed before the text was written.
            QCOMPARE(list[i].ip[31], '\0');
        }
        QCOMPARE(list[2].key[0], char(0xEE));  // beyond the cameras found: untouched

        // The foreign camera was given an address in the monitor's subnet.
        QVERIFY(b_.waitLine(QRegularExpression(QStringLiteral("^run: ifconfig vc1 192.168.8.11"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int n = enumerate(list, 4, 2);
                const int i = indexOf(list, n, b_.key);
                return i >= 0 && zelDeviceIp(list[i]) == QLatin1String("192.168.8.11");
            }(),
            20000);
    }

    void aShortArrayIsNeverOverrun()
    {
        NETNS_GUARD();
        tZelCameraDevInfo list[2];
        std::memset(list, 0xEE, sizeof(list));
        int count = 1;
        QCOMPARE(ZelCameraEnumerateDevice(list, count), 0);
        QVERIFY(count <= 1);
        QCOMPARE(list[1].key[0], char(0xEE));
        QCOMPARE(list[1].ip[0], char(0xEE));
        count = 0;
        QCOMPARE(ZelCameraEnumerateDevice(list, count), 0);
        QCOMPARE(count, 0);
        count = -1;
        QCOMPARE(ZelCameraEnumerateDevice(list, count), int(ZEL_BAD_ARGUMENT));
        count = 2;
        QCOMPARE(ZelCameraEnumerateDevice(nullptr, count), int(ZEL_BAD_ARGUMENT));
    }

    void foundCamerasStreamAndRestart()
    {
        NETNS_GUARD();
        tZelCameraDevInfo list[4];
        std::memset(list, 0, sizeof(list));
        const int count = enumerate(list, 4, 2);
        for (NsCamera* cam : {&a_, &b_}) {
            const int i = indexOf(list, count, cam->key);
            QVERIFY(i >= 0);
            int handle = -1;
            QCOMPARE(ZelCameraInit(&list[i], 0, 0, handle), 0);
            gFrames = 0;
            ZelCameraRegisterImageCallBack(handle, &countFrame, nullptr);
            QCOMPARE(ZelCameraPlay(handle), 0);
            QTRY_VERIFY_WITH_TIMEOUT(gFrames.load() >= 3, 15000);
            QCOMPARE(ZelCameraStop(handle), 0);
            // The key fills all 32 bytes: the restart must still find its camera.
            QCOMPARE(ZelCameraRebootProcess(handle), 0);
            QVERIFY(cam->waitLine(QRegularExpression(QStringLiteral("^signal rebootdaemon$"))));
            QCOMPARE(ZelCameraUnInit(handle), 0);
        }
    }
};

NETNS_TEST_MAIN(TstSdkDiscovery)
#include "tst_sdkdiscovery.moc"
