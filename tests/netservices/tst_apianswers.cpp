#include "apianswers.h"
#include "clearfold.h"
#include "counted.h"
#include "databases.h"
#include "recordstore.h"
#include "statewindow.h"
#include "support_statewords.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

void touch(const QString& path, const QByteArray& content = "jpeg")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QJsonObject pictureRequest(const QJsonValue& name, int camera = 0, int detect = 0, bool ok = true)
{
    QJsonObject o{{"camera_index", camera}, {"detect_index", detect}, {"detect_result", ok}};
    if (!name.isUndefined())
        o.insert("picture_name", name);
    return o;
}

}  // namespace

class TestApiAnswers : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    StateWindow* win_ = nullptr;

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        win_ = new StateWindow;
        Databases::get().setRecordStore(new RecordStore(QStringLiteral("apianswers")));
        QVERIFY(Databases::get().recordStore()->open(QStringLiteral("./RECORD.db")));
        gpState = win_;
        numCamera = 2;
        gDNum = 2;
        touch("alarmimage/camera1/detect1/OK/a.jpg");
        touch("alarmimage/camera2/detect2/NG/b.jpg");
        touch("secret.txt", "secret");
        QVERIFY(QFile::link(wd_->file("secret.txt"), "alarmimage/camera1/detect1/OK/link.jpg"));
        QDir().mkpath("alarmimage/camera1/detect1/OK/sub.jpg");
    }
    void cleanupTestCase()
    {
        gpState = nullptr;
        delete win_;
        delete wd_;
    }

    void productInfos_data() { addStateWordRows(); }
    void productInfos()
    {
        applyStateRow(win_);
        CounterValues v;
        for (int i = 0; i < kMaxCamera; ++i) {
            v.all[i] = 100 + i;
            v.fail[i] = i;
            v.allCycle[i] = -3;
        }
        v.allCycle[5] = 42;  // counted even beyond the cameras in use
        v.syncNgCycle = 9;
        ProductionCounters::get().restore(v);
        gDeviceID = "SN-9";
        const QJsonObject o = apianswers::productInfos("press-1");
        QCOMPARE(o.value("camera_count").toInt(), 2);
        QCOMPARE(o.value("device_sn").toString(), QString("SN-9"));
        QCOMPARE(o.value("device_id").toString(), QString("press-1"));
        QTEST(o.value("run_status").toInt(), "run");
        QTEST(o.value("detect_status").toInt(), "detect");
        QCOMPARE(o.value("detect_all").toInt(), 42);
        QCOMPARE(o.value("detect_ng").toInt(), 9);
        QCOMPARE(o.value("detect_all_detail").toArray(), (QJsonArray{100, 101}));
        QCOMPARE(o.value("detect_ng_detail").toArray(), (QJsonArray{0, 1}));
    }

    void productInfosEdges()
    {
        CounterValues v;
        v.allCycle.fill(-1);
        ProductionCounters::get().restore(v);
        QCOMPARE(apianswers::productInfos("").value("detect_all").toInt(), 0);
        numCamera = 12;  // a broken count never reads past the counter arrays
        QCOMPARE(apianswers::productInfos("").value("detect_all_detail").toArray().size(), kMaxCamera);
        numCamera = 2;
    }

    void picture_data()
    {
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<QString>("file");   // relative to the work folder; empty: refused
        QTest::addColumn<QString>("error");
        QTest::newRow("OK picture") << pictureRequest("a.jpg") << "alarmimage/camera1/detect1/OK/a.jpg" << "";
        QTest::newRow("NG picture") << pictureRequest("b.jpg", 1, 1, false) << "alarmimage/camera2/detect2/NG/b.jpg" << "";
        QTest::newRow("wrong folder") << pictureRequest("a.jpg", 0, 0, false) << "" << "未查询到图片";
        QTest::newRow("missing name") << pictureRequest(QJsonValue::Undefined) << "" << "未查询到图片";
        QTest::newRow("empty name") << pictureRequest("") << "" << "未查询到图片";
        QTest::newRow("dot dot") << pictureRequest("..") << "" << "未查询到图片";
        QTest::newRow("dot") << pictureRequest(".") << "" << "未查询到图片";
        QTest::newRow("parent path") << pictureRequest("../x") << "" << "未查询到图片";
        QTest::newRow("climbing out") << pictureRequest("../../../../secret.txt") << "" << "未查询到图片";
        QTest::newRow("absolute") << pictureRequest("/etc/passwd") << "" << "未查询到图片";
        QTest::newRow("sub path") << pictureRequest("a/b") << "" << "未查询到图片";
        QTest::newRow("backslash") << pictureRequest("..\\secret.txt") << "" << "未查询到图片";
        QTest::newRow("NUL") << pictureRequest(QString("a.jpg") + QChar(0) + "x") << "" << "未查询到图片";
        QTest::newRow("link out of folder") << pictureRequest("link.jpg") << "" << "未查询到图片";
        QTest::newRow("a folder") << pictureRequest("sub.jpg") << "" << "未查询到图片";
        QTest::newRow("camera = count") << pictureRequest("a.jpg", 2) << "" << "参数错误";
        QTest::newRow("negative camera") << pictureRequest("a.jpg", -1) << "" << "参数错误";
        QTest::newRow("detect = steps") << pictureRequest("a.jpg", 0, 2) << "" << "参数错误";
        QTest::newRow("no indexes") << QJsonObject{{"picture_name", "a.jpg"}} << "" << "参数错误";
        QTest::newRow("index as text") << QJsonObject{{"camera_index", "0"}, {"detect_index", 0}, {"picture_name", "a.jpg"}}
                                       << "" << "参数错误";
    }
    void picture()
    {
        QFETCH(QJsonObject, request);
        QFETCH(QString, file);
        QFETCH(QString, error);
        QString err;
        const QString path = apianswers::detectedPicture(request, &err);
        QCOMPARE(err, error);
        if (file.isEmpty()) {
            QVERIFY(path.isEmpty());
        } else {
            QCOMPARE(path, QFileInfo(file).canonicalFilePath());
            QVERIFY(QFileInfo(path).isAbsolute());
        }
    }

    void clock_data()
    {
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good") << QJsonObject{{"datetime", "2024-01-05 08:00:00"}} << true;
        QTest::newRow("leap day") << QJsonObject{{"datetime", "2024-02-29 23:59:59"}} << true;
        QTest::newRow("30th of February") << QJsonObject{{"datetime", "2024-02-30 10:00:00"}} << false;
        QTest::newRow("no padding") << QJsonObject{{"datetime", "2024-1-5 8:00:00"}} << false;
        QTest::newRow("no seconds") << QJsonObject{{"datetime", "2024-01-05 08:00"}} << false;
        QTest::newRow("hour 24") << QJsonObject{{"datetime", "2024-01-05 24:00:00"}} << false;
        QTest::newRow("trailing space") << QJsonObject{{"datetime", "2024-01-05 08:00:00 "}} << false;
        QTest::newRow("year 1970") << QJsonObject{{"datetime", "1970-01-01 00:00:00"}} << false;
        QTest::newRow("year 2100") << QJsonObject{{"datetime", "2100-01-01 00:00:00"}} << false;
        QTest::newRow("option injection") << QJsonObject{{"datetime", "--help"}} << false;
        QTest::newRow("number") << QJsonObject{{"datetime", 20240105}} << false;
        QTest::newRow("missing") << QJsonObject{} << false;
    }
    void clock()
    {
        QFETCH(QJsonObject, request);
        QFETCH(bool, accepted);
        QDateTime when;
        QCOMPARE(apianswers::clockValue(request, &when), accepted);
        if (accepted)
            QCOMPARE(when.toString("yyyy-MM-dd hh:mm:ss"), request.value("datetime").toString());
    }

    void clearAllCounters()
    {
        CounterValues v;
        for (int i = 0; i < kMaxCamera; ++i)
            v.all[i] = v.fail[i] = v.allCycle[i] = v.failCycle[i] = i + 1;
        v.syncNg = v.syncNgCycle = 5;
        ProductionCounters::get().restore(v);
        apianswers::clearAllCounters();
        for (int i = 0; i < kMaxCamera; ++i) {
            QCOMPARE(counted().all[i], 0);
            QCOMPARE(counted().fail[i], 0);
            QCOMPARE(counted().allCycle[i], 0);
            QCOMPARE(counted().failCycle[i], 0);
        }
        QCOMPARE(counted().syncNg, 0);
        QCOMPARE(counted().syncNgCycle, 0);
        QSettings ini("./count.ini", QSettings::IniFormat);
        QCOMPARE(ini.value("gSyncNGcycleNum").toInt(), 0);
        QCOMPARE(ini.value("list_allcyclenum").toStringList().size(), 8);
        QSqlQuery q(Databases::get().recordStore()->db());
        QVERIFY(q.exec("SELECT remarks, recordtype FROM RECORD"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QString("API: 清除计数"));
        QCOMPARE(q.value(1).toString(), QString("API"));
        QVERIFY(!q.next());
    }

    // After clearAllCounters(): clears from any number of clients are one
    // row with their count once the fold time is over; the held count
    // survives a kill (a fold dropped without writing) and is written by the
    // next start; every clear is in exactly one row's count.
    void clearsAreFolded()
    {
        auto rows = [] {
            QStringList out;
            QSqlQuery q(Databases::get().recordStore()->db());
            if (q.exec("SELECT remarks, recordtype FROM RECORD ORDER BY rowid"))
                while (q.next())
                    out << q.value(0).toString() + "|" + q.value(1).toString();
            return out;
        };
        qint64 now = 1000000;
        QList<int> armed;
        auto made = [&] {
            return std::make_unique<ClearFold>([&now] { return now; }, [&armed](int ms) { armed << ms; });
        };
        auto fold = made();
        const int before = rows().size();
        fold->add();
        QCOMPARE(rows().mid(before), QStringList{"API: 清除计数|API"});
        for (int i = 0; i < 440; ++i) {  // 200 clients clearing at once
            now += 10;
            fold->add();
        }
        QCOMPARE(rows().size(), before + 1);
        QCOMPARE(fold->held(), 440);
        QCOMPARE(armed, QList<int>{ClearFold::kFoldMs - 10});
        fold->due();  // too early: nothing yet, looked at again when due
        QCOMPARE(rows().size(), before + 1);
        QCOMPARE(armed.size(), 2);

        fold.reset();  // killed: nothing written at the end
        fold = made();
        QCOMPARE(fold->held(), 440);
        fold->writeHeld();  // the next start
        QCOMPARE(rows().last(), QStringLiteral("API: 清除计数 ×440|API"));
        QCOMPARE(made()->held(), 0);  // and not again

        // Held ones are written when their time is over, and the time
        // after starts anew with that row.
        now += ClearFold::kFoldMs;
        fold->add();
        fold->add();
        fold->add();
        QCOMPARE(rows().size(), before + 3);
        now += ClearFold::kFoldMs;
        fold->due();
        QCOMPARE(rows().size(), before + 4);
        QCOMPARE(rows().last(), QStringLiteral("API: 清除计数 ×2|API"));
        fold->add();
        QCOMPARE(rows().size(), before + 4);
        // Its time over before the timer came: the clear is a row at once,
        // with the one still held.
        now += ClearFold::kFoldMs;
        fold->add();
        QCOMPARE(rows().size(), before + 5);
        QCOMPARE(rows().last(), QStringLiteral("API: 清除计数 ×2|API"));
        fold->due();
        QCOMPARE(rows().size(), before + 5);
        QCOMPARE(fold->held(), 0);
    }
};

QTEST_MAIN(TestApiAnswers)
#include "tst_apianswers.moc"
