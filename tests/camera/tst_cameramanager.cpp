// Camera manager: stored serial order in SN.db, camera listing and ordering,
// repair of a broken SN.db and the operator's questions on a changed count.
#include "cameramanager.h"
#include "globals.h"
#include "platform.h"
#include "support_camera.h"
#include "testworkdir.h"
#include "viewrig.h"
#include "scripteddialogs.h"

#include <QFile>
#include <QtTest>

namespace {

const QString kP = QStringLiteral("PPPP0001");
const QString kQ = QStringLiteral("QQQQ0002");

// Writes ./SN.db with one row per position; "-" leaves the row out.
void writePositions(const QStringList& values)
{
    QList<QPair<QString, QString>> rows;
    for (int i = 0; i < values.size(); ++i) {
        if (values[i] != QLatin1String("-"))
            rows.append({QStringLiteral("serialNB%1").arg(i), values[i]});
    }
    QVERIFY(writeSnDb(QStringLiteral("SN.db"), rows));
}

QStringList freePositions(int n)
{
    QStringList v;
    for (int i = 0; i < n; ++i)
        v << QStringLiteral("0");
    return v;
}

}  // namespace

class TestCameraManager : public QObject {
    Q_OBJECT

private:
    QStringList asked_;
    QStringList warned_;
    bool answer_ = false;
    ScriptedDialogs dialogs_;
    QList<int> exits_;


private slots:
    void initTestCase()
    {
        qputenv("VMM_TARGET", "0");
        gLan = 1;
        gaLanStr[134][1] = QStringLiteral("ROW134");
        gaLanStr[160][1] = QStringLiteral("ROW160");
        gaLanStr[360][1] = QStringLiteral("ROW360");
        dialogs_.onWarn = [this](const QString& t) { warned_ << t; };
        dialogs_.onChoose = [this](const QString& t) {
            asked_ << t;
            return answer_;
        };
        platform::setExitHandler([this](int code) { exits_ << code; });
    }

    void init()
    {
        asked_.clear();
        warned_.clear();
        exits_.clear();
        answer_ = false;
        platform::runner().clearRecorded();
    }

    void serialBlockIsBounded()
    {
        _cameraInfo info;
        std::memset(info.device, 'A', sizeof(info.device));  // no terminating NUL at all
        QCOMPARE(cameraSerial(info).size(), kCameraDeviceBytes);
        QVERIFY(!setCameraSerial(info, QString(kCameraDeviceBytes, QLatin1Char('x'))));
        QCOMPARE(cameraSerial(info), QString());
        QVERIFY(setCameraSerial(info, QString(kCameraDeviceBytes - 1, QLatin1Char('x'))));
        QCOMPARE(cameraSerial(info).size(), kCameraDeviceBytes - 1);
        QVERIFY(setCameraSerial(info, QStringLiteral("Kamera-äö-01")));
        QCOMPARE(cameraSerial(info), QStringLiteral("Kamera-äö-01"));
    }

    void loadSerials_data()
    {
        QTest::addColumn<QStringList>("positions");
        QTest::addColumn<QStringList>("expected");
        QStringList v = freePositions(8);
        v[0] = kP;
        v[2] = kQ;
        QTest::newRow("free position skipped") << v << QStringList{kP, kQ};
        v = freePositions(8);
        v[0] = QStringLiteral("1234567");
        v[1] = QStringLiteral("12345678");
        v[2] = QString(256, QLatin1Char('s'));
        v[3] = QString(257, QLatin1Char('l'));
        QTest::newRow("length 8 to 256 only") << v << QStringList{v[1], v[2]};
        v = freePositions(8);
        v[5] = QStringLiteral("AB'CD\"EF'; drop table sysparam; --");
        QTest::newRow("serial with quotes") << v << QStringList{v[5]};
        v = QStringList{QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), kQ};
        QTest::newRow("missing rows") << v << QStringList{kQ};
        QTest::newRow("all free") << freePositions(8) << QStringList{};
    }

    void loadSerials()
    {
        QFETCH(QStringList, positions);
        QFETCH(QStringList, expected);
        TestWorkDir wd;
        writePositions(positions);
        CameraManager m;
        QVERIFY(m.loadCameraSN());
        QCOMPARE(toList(m.serials), expected);
        QVERIFY(warned_.isEmpty());
        // Every position exists afterwards; the stored values are untouched.
        const QMap<QString, QString> rows = readSnDb(QStringLiteral("SN.db"));
        QCOMPARE(rows.size(), 8);
        for (int i = 0; i < positions.size(); ++i) {
            const QString want = positions[i] == QLatin1String("-") ? QStringLiteral("0") : positions[i];
            QCOMPARE(rows.value(QStringLiteral("serialNB%1").arg(i)), want);
        }
        // Loading twice does not duplicate the order.
        QVERIFY(m.loadCameraSN());
        QCOMPARE(toList(m.serials), expected);
    }

    void sortByStoredOrder_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("known first, rest in found order")
            << QStringList{"ZZZZ0003", "XXXX0001"} << QStringList{"XXXX0001", "YYYY0002", "ZZZZ0003"}
            << QStringList{"ZZZZ0003", "XXXX0001", "YYYY0002"};
        QTest::newRow("free position between")
            << QStringList{kP, "0", kQ} << QStringList{"AAAA0001", kQ, kP} << QStringList{kP, kQ, "AAAA0001"};
        QTest::newRow("nothing stored")
            << QStringList{} << QStringList{"CCCC0001", "AAAA0001", "BBBB0001"}
            << QStringList{"CCCC0001", "AAAA0001", "BBBB0001"};
        QTest::newRow("stored camera missing")
            << QStringList{"GONE0001", "BBBB0001"} << QStringList{"AAAA0001", "BBBB0001"}
            << QStringList{"BBBB0001", "AAAA0001"};
        QTest::newRow("serials are case-sensitive")
            << QStringList{"bbbb0001"} << QStringList{"AAAA0001", "BBBB0001"} << QStringList{"AAAA0001", "BBBB0001"};
    }

    void sortByStoredOrder()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, found);
        QFETCH(QStringList, expected);
        TestWorkDir wd;
        QStringList positions = freePositions(8);
        for (int i = 0; i < stored.size(); ++i)
            positions[i] = stored[i];
        writePositions(positions);
        CameraManager m;
        FakePlugin plugin(QStringLiteral("Fake"), 1, found);
        m.interfaces.append(&plugin);
        QVERIFY(m.loadCameraSN());
        m.findCameras();
        m.sortCamera();
        QCOMPARE(serialsOf(m.cameras), expected);
        QVERIFY(!m.simulated);
    }

    void saveWritesEveryPosition_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("three") << 3;
        QTest::newRow("eight") << 8;
        QTest::newRow("ten: only eight are kept") << 10;
        QTest::newRow("none") << 0;
    }

    void saveWritesEveryPosition()
    {
        QFETCH(int, count);
        TestWorkDir wd;
        QStringList v = freePositions(8);
        v[6] = QStringLiteral("OLDSERIAL");
        writePositions(v);
        rig::RecordWindow record(wd.file("RECORD.db"), "testrecord");
        QVector<QString> saved;
        {
            CameraManager m;
            QVERIFY(m.loadCameraSN());
            m.serials.clear();
            for (int i = 0; i < count; ++i)
                m.serials.append(QStringLiteral("CAM'%1-SERIAL").arg(i));
            QVERIFY(m.saveCameraSN());
            saved = m.serials;
        }
        const QMap<QString, QString> rows = readSnDb(QStringLiteral("SN.db"));
        QCOMPARE(rows.size(), 8);
        QStringList logs;
        for (int i = 0; i < 8; ++i) {
            const QString want = i < count ? QStringLiteral("CAM'%1-SERIAL").arg(i) : QStringLiteral("0");
            QCOMPARE(rows.value(QStringLiteral("serialNB%1").arg(i)), want);
            if (i < count)
                logs << QStringLiteral("Save SN %1: %2").arg(i + 1).arg(want);
        }
        QCOMPARE(record.remarks(), logs);
        // What was saved is what the next start reads.
        CameraManager again;
        QVERIFY(again.loadCameraSN());
        QCOMPARE(again.serials.size(), qMin(count, 8));
        for (int i = 0; i < again.serials.size(); ++i)
            QCOMPARE(again.serials[i], saved[i]);
    }

    void saveRestoresDeletedPosition()
    {
        TestWorkDir wd;
        writePositions(freePositions(8));
        CameraManager m;
        QVERIFY(m.loadCameraSN());
        QVERIFY(m.query.exec(QStringLiteral("delete from sysparam where name='serialNB1'")));
        m.serials = {kP, kQ};
        QVERIFY(m.saveCameraSN());
        const QMap<QString, QString> rows = readSnDb(QStringLiteral("SN.db"));
        QCOMPARE(rows.size(), 8);
        QCOMPARE(rows.value(QStringLiteral("serialNB1")), kQ);
    }

    void unusableFile_data()
    {
        QTest::addColumn<QString>("file");     // "missing", "notable", "ok"
        QTest::addColumn<QString>("deflt");    // same
        QTest::addColumn<bool>("rebooted");
        QTest::newRow("missing, default restores") << "missing" << "ok" << true;
        QTest::newRow("no table, default restores") << "notable" << "ok" << true;
        QTest::newRow("missing, default missing") << "missing" << "missing" << false;
        QTest::newRow("no table, default without table") << "notable" << "notable" << false;
    }

    void unusableFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, deflt);
        QFETCH(bool, rebooted);
        TestWorkDir wd;
        const QString defPath = QStringLiteral("paraGroup/default/SN.db");
        if (deflt == QLatin1String("ok"))
            QVERIFY(QFile::copy(QStringLiteral(VMM_DEFAULT_SN), defPath));
        else if (deflt == QLatin1String("notable"))
            QVERIFY(writeSnDb(defPath, {}, false));
        if (file == QLatin1String("notable"))
            QVERIFY(writeSnDb(QStringLiteral("SN.db"), {}, false));
        const QByteArray before = fileBytes(QStringLiteral("SN.db"));

        CameraManager m;
        QVERIFY(!m.loadCameraSN());
        QCOMPARE(warned_, QStringList{QStringLiteral("ROW160")});
        QVERIFY(m.serials.isEmpty());
        if (rebooted) {
            QCOMPARE(platform::runner().recorded(), (QStringList{"sync", "reboot"}));
            QCOMPARE(exits_, QList<int>{platform::kExitReboot});
            QCOMPARE(fileBytes(QStringLiteral("SN.db")), fileBytes(defPath));
        } else {
            QVERIFY(platform::runner().recorded().isEmpty());
            QVERIFY(exits_.isEmpty());
            // Never an empty file made by the database driver.
            QCOMPARE(QFile::exists(QStringLiteral("SN.db")), file != QLatin1String("missing"));
            QCOMPARE(fileBytes(QStringLiteral("SN.db")), before);
            QVERIFY(!m.saveCameraSN());
        }
    }

    void findCameras_data()
    {
        QTest::addColumn<QStringList>("physical1");
        QTest::addColumn<QStringList>("simulatedList");
        QTest::addColumn<QStringList>("physical2");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("simulated");
        QTest::newRow("physical in load order")
            << QStringList{"PHYS0001", "PHYS0002"} << QStringList{"SIMU0001"} << QStringList{"PHYS0003"}
            << QStringList{"PHYS0001", "PHYS0002", "PHYS0003"} << false;
        QTest::newRow("no physical camera")
            << QStringList{} << QStringList{"SIMU0001", "SIMU0002"} << QStringList{}
            << QStringList{"SIMU0001", "SIMU0002"} << true;
        QTest::newRow("nothing at all") << QStringList{} << QStringList{} << QStringList{} << QStringList{} << true;
    }

    void findCameras()
    {
        QFETCH(QStringList, physical1);
        QFETCH(QStringList, simulatedList);
        QFETCH(QStringList, physical2);
        QFETCH(QStringList, expected);
        QFETCH(bool, simulated);
        FakePlugin a(QStringLiteral("A"), 1, physical1);
        FakePlugin s(QStringLiteral("S"), 0, simulatedList);
        FakePlugin b(QStringLiteral("B"), 2, physical2);
        CameraManager m;
        m.interfaces = {&a, &s, &b};
        m.findCameras();
        QCOMPARE(serialsOf(m.cameras), expected);
        QCOMPARE(m.simulated, simulated);
        m.findSumulateCameras();
        QCOMPARE(serialsOf(m.cameras), simulatedList);
        QVERIFY(m.simulated);
    }

    void createCameraByPluginName()
    {
        FakePlugin a(QStringLiteral("A"), 1, {"AAAA0001"});
        FakePlugin b1(QStringLiteral("B"), 1, {"BBBB0001"});
        FakePlugin b2(QStringLiteral("B"), 1, {});
        CameraManager m;
        m.interfaces = {&a, &b1, &b2};
        _cameraInfo info;
        info.pluginName = QStringLiteral("A");
        std::unique_ptr<PluginCamera> cam(m.createCamera(info));
        QVERIFY(cam);
        QCOMPARE(a.created.size(), 1);
        info.pluginName = QStringLiteral("nobody");
        QVERIFY(!m.createCamera(info));
        // Two plug-ins of one name: the last one's camera; the other is not leaked.
        info.pluginName = QStringLiteral("B");
        std::unique_ptr<PluginCamera> last(m.createCamera(info));
        QCOMPARE(b1.created.size(), 1);
        QCOMPARE(b2.created.size(), 1);
        QVERIFY(b1.created[0].isNull());
        QCOMPARE(last.get(), static_cast<PluginCamera*>(b2.created[0].data()));
        b2.refuse = true;
        QVERIFY(!m.createCamera(info));
        QCOMPARE(b1.created.size(), 2);
        QVERIFY(b1.created[1].isNull());
    }

    void resort_data()
    {
        QTest::addColumn<QVector<int>>("order");
        QTest::addColumn<QStringList>("expected");  // empty: refused
        QTest::newRow("permutation") << QVector<int>{2, 0, 1} << QStringList{"CCCC0003", "AAAA0001", "BBBB0002"};
        QTest::newRow("identity") << QVector<int>{0, 1, 2} << QStringList{"AAAA0001", "BBBB0002", "CCCC0003"};
        QTest::newRow("position twice") << QVector<int>{0, 0, 1} << QStringList{};
        QTest::newRow("out of range") << QVector<int>{0, 1, 3} << QStringList{};
        QTest::newRow("negative") << QVector<int>{-1, 0, 1} << QStringList{};
        QTest::newRow("too short") << QVector<int>{1, 0} << QStringList{};
        QTest::newRow("too long") << QVector<int>{0, 1, 2, 0} << QStringList{};
    }

    void resort()
    {
        QFETCH(QVector<int>, order);
        QFETCH(QStringList, expected);
        TestWorkDir wd;
        QStringList v = freePositions(8);
        v[0] = QStringLiteral("AAAA0001");
        writePositions(v);
        FakePlugin p(QStringLiteral("P"), 1, {"AAAA0001", "BBBB0002", "CCCC0003"});
        CameraManager m;
        m.interfaces = {&p};
        QVERIFY(m.loadCameraSN());
        m.findCameras();
        m.sortCamera();
        const QByteArray before = fileBytes(QStringLiteral("SN.db"));
        QCOMPARE(m.resortCameraSN(order), !expected.isEmpty());
        if (expected.isEmpty()) {
            QCOMPARE(toList(m.serials), QStringList{"AAAA0001"});
            QCOMPARE(fileBytes(QStringLiteral("SN.db")), before);
            return;
        }
        QCOMPARE(toList(m.serials), expected);
        const QMap<QString, QString> rows = readSnDb(QStringLiteral("SN.db"));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rows.value(QStringLiteral("serialNB%1").arg(i)), expected[i]);
        QCOMPARE(rows.value(QStringLiteral("serialNB3")), QStringLiteral("0"));
    }

    void countCheck_data()
    {
        QTest::addColumn<int>("stored");       // serials stored
        QTest::addColumn<int>("physical");     // physical cameras found
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question"); // empty: none asked
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("reboot");
        QTest::newRow("same count") << 3 << 3 << true << QString() << false << false;
        QTest::newRow("nothing stored") << 0 << 3 << true << QString() << false << false;
        QTest::newRow("changed, keep") << 5 << 4 << false << "ROW360" << false << false;
        QTest::newRow("changed, clear") << 5 << 4 << true << "ROW360" << true << true;
        QTest::newRow("more cameras, clear") << 1 << 2 << true << "ROW360" << true << true;
        QTest::newRow("simulated, keep") << 2 << 0 << false << "ROW134" << false << false;
        QTest::newRow("simulated, clear") << 2 << 0 << true << "ROW134" << true << false;
    }

    void countCheck()
    {
        QFETCH(int, stored);
        QFETCH(int, physical);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(bool, saved);
        QFETCH(bool, reboot);
        TestWorkDir wd;
        QStringList positions = freePositions(8);
        QStringList found, sims{"SIMU0001", "SIMU0002"};
        for (int i = 0; i < stored; ++i)
            positions[i] = QStringLiteral("CAMERA%1X").arg(i);
        for (int i = 0; i < physical; ++i)
            found << QStringLiteral("CAMERA%1X").arg(i);
        writePositions(positions);
        rig::RecordWindow record(wd.file("RECORD.db"), "testrecord");
        FakePlugin p(QStringLiteral("P"), 1, found);
        FakePlugin s(QStringLiteral("S"), 0, sims);
        CameraManager m;
        m.interfaces = {&p, &s};
        QVERIFY(m.loadCameraSN());
        m.findCameras();
        m.sortCamera();
        const QByteArray before = fileBytes(QStringLiteral("SN.db"));
        answer_ = answer;
        m.checkCameraCount();
        QCOMPARE(asked_, question.isEmpty() ? QStringList{} : QStringList{question});
        if (saved) {
            const QStringList now = serialsOf(m.cameras);
            QCOMPARE(toList(m.serials), now);
            const QMap<QString, QString> rows = readSnDb(QStringLiteral("SN.db"));
            for (int i = 0; i < 8; ++i)
                QCOMPARE(rows.value(QStringLiteral("serialNB%1").arg(i)), i < now.size() ? now[i] : QStringLiteral("0"));
        } else {
            QCOMPARE(fileBytes(QStringLiteral("SN.db")), before);
            QCOMPARE(m.serials.size(), stored);
        }
        if (reboot) {
            QCOMPARE(platform::runner().recorded(), (QStringList{"sync", "reboot"}));
            QCOMPARE(exits_, QList<int>{platform::kExitReboot});
        } else {
            QVERIFY(platform::runner().recorded().isEmpty());
            QVERIFY(exits_.isEmpty());
        }
    }

    void singleInstance()
    {
        CameraManager* a = CameraManager::getInstance();
        QVERIFY(a);
        QCOMPARE(CameraManager::getInstance(), a);
        QCOMPARE(CameraManager::_instance, a);
    }
};

QTEST_MAIN(TestCameraManager)
#include "tst_cameramanager.moc"
