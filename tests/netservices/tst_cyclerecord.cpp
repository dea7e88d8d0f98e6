#include "globals.h"
#include "network.h"

#include <QJsonDocument>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

param_roi roi(int cam, int det, int index, int result, int func = 1, int alg = 0, int p1 = 0, int p2 = 0, int p3 = 0)
{
    param_roi r;
    r.camera = cam;
    r.detect = det;
    r.roi = index;
    r.func = func;
    r.algorithm = alg;
    r.param1 = p1;
    r.param2 = p2;
    r.param3 = p3;
    r.result = result;
    return r;
}

QString compact(const QJsonValue& v)
{
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
}

}  // namespace

class TestCycleRecord : public QObject {
    Q_OBJECT
private:
    XAN_NETMN* m_ = nullptr;
    qint64 now_ = 1700000000000;

private slots:
    void init()
    {
        m_ = new XAN_NETMN(QStringLiteral("./nonexistent/config.json"), 0);
        m_->clockMs = [this] { return now_; };
        m_->deviceName = QStringLiteral("press-7");
        m_->setWorkTask(false, false, true);
        gDeviceID = QStringLiteral("SN-1");
    }
    void cleanup()
    {
        delete m_;
        m_ = nullptr;
    }

    void uuidAndStartTime()
    {
        m_->start_PeriodRecord();
        XAN_NETMN::sAPI_LastDetect_Info r;
        QVERIFY(m_->lastDetect.tryGetValue(&r));
        QCOMPARE(r.uuid, QString("V18#press-7@18bcfe56800"));
        QCOMPARE(r.starttime, QDateTime::fromMSecsSinceEpoch(now_).toString("yyyy-MM-dd hh:mm:ss.zzz"));
        QVERIFY(r.json.isEmpty());
        QVERIFY(r.pictures.isEmpty());
    }

    void switchesOff_data()
    {
        QTest::addColumn<bool>("net");
        QTest::addColumn<bool>("api");
        QTest::addColumn<bool>("held");
        QTest::newRow("both off") << false << false << false;
        QTest::newRow("agent only") << true << false << true;
        QTest::newRow("api only") << false << true << true;
    }
    void switchesOff()
    {
        QFETCH(bool, net);
        QFETCH(bool, api);
        QFETCH(bool, held);
        m_->setWorkTask(true, false, true);
        m_->start_PeriodRecord();
        m_->putRoiResult(roi(0, 0, 1, 1));
        m_->setWorkTask(net, false, api);
        m_->start_PeriodRecord();
        QCOMPARE(m_->lastDetect.hasValue(), held);
        m_->putRoiResult(roi(0, 0, 1, 1));
        m_->add_PeriodRecord_Picture(0, 0, true, "/x/a.jpg");
        QCOMPARE(m_->roiCache.isEmpty(), !held);
        m_->finish_PeriodRecord();
        QCOMPARE(m_->lastDetect.hasValue(), held);
        if (held) {
            QCOMPARE(m_->lastDetect.getValue().pictures.size(), 1);
            QCOMPARE(m_->lastDetect.getValue().json.value("detect_result").toBool(), true);
        }
    }

    void picturesOfACycle()
    {
        m_->start_PeriodRecord();
        m_->add_PeriodRecord_Picture(0, 1, true, "/p/one.jpg");
        m_->add_PeriodRecord_Picture(0, 1, true, "/p/two.jpg");  // replaces one.jpg
        m_->add_PeriodRecord_Picture(0, 1, false, "/p/ng.jpg");
        m_->finish_PeriodRecord();
        const QJsonObject closed = m_->lastDetect.getValue().json;
        m_->add_PeriodRecord_Picture(2, 0, true, "/p/late.jpg");  // after the close
        const XAN_NETMN::sAPI_LastDetect_Info r = m_->lastDetect.getValue();
        QCOMPARE(r.pictures.value("0;1;1"), QString("/p/two.jpg"));
        QCOMPARE(r.pictures.value("0;1;0"), QString("/p/ng.jpg"));
        QCOMPARE(r.pictures.value("2;0;1"), QString("/p/late.jpg"));
        QCOMPARE(r.pictures.size(), 3);
        QCOMPARE(r.json, closed);
    }

    void noRecordNoPicture()
    {
        m_->add_PeriodRecord_Picture(0, 0, true, "/p/x.jpg");
        m_->finish_PeriodRecord();
        QVERIFY(!m_->lastDetect.hasValue());
    }

    void summary()
    {
        m_->start_PeriodRecord();
        m_->putRoiResult(roi(0, 0, 1, 1));
        m_->putRoiResult(roi(1, 0, 3, 0));
        now_ += 1234;
        m_->finish_PeriodRecord();
        const QJsonObject s = m_->lastDetect.getValue().json;
        QCOMPARE(s.keys(), (QStringList{"detail", "detect_result", "device_id", "device_sn", "finishtime", "starttime", "uuid"}));
        QCOMPARE(s.value("device_id").toString(), QString("press-7"));
        QCOMPARE(s.value("device_sn").toString(), QString("SN-1"));
        QCOMPARE(s.value("detect_result").toBool(), false);
        QCOMPARE(s.value("uuid").toString(), QString("V18#press-7@18bcfe56800"));
        QCOMPARE(s.value("finishtime").toString(), QDateTime::fromMSecsSinceEpoch(now_).toString("yyyy-MM-dd hh:mm:ss.zzz"));
        QCOMPARE(s.value("detail").toArray().size(), 2);
        // Closing does not empty the cache.
        QCOMPARE(m_->roiCache.size(), 2);
    }

    void emptyCacheAtClose()
    {
        m_->start_PeriodRecord();
        m_->finish_PeriodRecord();
        const QJsonObject s = m_->lastDetect.getValue().json;
        QCOMPARE(s.value("detail").toArray(), QJsonArray());
        QCOMPARE(s.value("detect_result").toBool(), true);
    }

    void parseCache_data()
    {
        QTest::addColumn<QList<param_roi>>("rois");
        QTest::addColumn<QString>("json");
        QTest::newRow("empty") << QList<param_roi>{} << "[]";
        QTest::newRow("group and roi order")
            << QList<param_roi>{roi(0, 2, 10, 1), roi(0, 2, 2, 1), roi(0, 10, 0, 0)}
            << R"([{"camera_index":0,"detect_index":10,"detect_result":false,"rois":[{"roi_algorithm":[0,0,0,0,0,0,0],"roi_func":1,"roi_index":0,"roi_result":false}]},)"
               R"({"camera_index":0,"detect_index":2,"detect_result":true,"rois":[{"roi_algorithm":[0,0,0,0,0,0,0],"roi_func":1,"roi_index":2,"roi_result":true},{"roi_algorithm":[0,0,0,0,0,0,0],"roi_func":1,"roi_index":10,"roi_result":true}]}])";
        QTest::newRow("algorithm bytes")
            << QList<param_roi>{roi(3, 1, 4, 1, 7, 9, 0x0102, 0x0304, 0x05ff)}
            << R"([{"camera_index":3,"detect_index":1,"detect_result":true,"rois":[{"roi_algorithm":[9,2,4,255,1,3,5],"roi_func":7,"roi_index":4,"roi_result":true}]}])";
        QTest::newRow("negative words")
            << QList<param_roi>{roi(0, 0, 0, 1, 0, -1, -1, -2, -256)}
            << R"([{"camera_index":0,"detect_index":0,"detect_result":true,"rois":[{"roi_algorithm":[-1,255,254,0,255,255,255],"roi_func":0,"roi_index":0,"roi_result":true}]}])";
        QTest::newRow("result 5 passes its group")
            << QList<param_roi>{roi(1, 0, 0, 5)}
            << R"([{"camera_index":1,"detect_index":0,"detect_result":true,"rois":[{"roi_algorithm":[0,0,0,0,0,0,0],"roi_func":1,"roi_index":0,"roi_result":true}]}])";
    }
    void parseCache()
    {
        QFETCH(QList<param_roi>, rois);
        QFETCH(QString, json);
        QMap<QString, param_roi> cache;
        for (const param_roi& r : rois)
            cache.insert(XAN_NETMN::roiKey(r), r);
        QCOMPARE(compact(m_->Parse_CacheDetectedRoiInfos_2_QJsonArray(cache)), json);
    }

    void overallResultNeedsEveryRoiAtOne()
    {
        // A group judges "not 0" as passed; the whole cycle wants exactly 1.
        m_->start_PeriodRecord();
        m_->putRoiResult(roi(1, 0, 0, 5));
        m_->finish_PeriodRecord();
        const QJsonObject s = m_->lastDetect.getValue().json;
        QCOMPARE(s.value("detect_result").toBool(), false);
        QCOMPARE(s.value("detail").toArray().first().toObject().value("detect_result").toBool(), true);
    }

    void sameKeyReplaces()
    {
        m_->putRoiResult(roi(0, 0, 1, 0));
        m_->putRoiResult(roi(0, 0, 1, 1));
        QCOMPARE(m_->roiCache.size(), 1);
        QCOMPARE(m_->roiCache.value("0;0;1").result, 1);
    }

    void alarmBookkeeping_data()
    {
        QTest::addColumn<QList<int>>("results");  // ROI result of each closed cycle
        QTest::addColumn<bool>("firstHeld");
        QTest::addColumn<bool>("alarmHeld");
        QTest::newRow("first fails") << QList<int>{0} << false << true;
        QTest::newRow("first fails, then passes") << QList<int>{0, 1} << false << true;
        QTest::newRow("first passes") << QList<int>{1} << true << true;
        QTest::newRow("first passes, second closes") << QList<int>{1, 0} << true << false;
    }
    void alarmBookkeeping()
    {
        QFETCH(QList<int>, results);
        QFETCH(bool, firstHeld);
        QFETCH(bool, alarmHeld);
        for (int r : results) {
            m_->start_PeriodRecord();
            m_->putRoiResult(roi(0, 0, 0, r));
            m_->finish_PeriodRecord();
        }
        QVERIFY(m_->firstResult.hasValue());
        QCOMPARE(m_->firstResult.getValue(), firstHeld);
        QCOMPARE(m_->alarmTimeMs.hasValue(), alarmHeld);
        if (alarmHeld)
            QCOMPARE(m_->alarmTimeMs.getValue(), 0);
    }

    void clearCycleEmptiesBoth()
    {
        m_->start_PeriodRecord();
        m_->putRoiResult(roi(0, 0, 0, 1));
        m_->clearCycle();
        QVERIFY(!m_->lastDetect.hasValue());
        QVERIFY(m_->roiCache.isEmpty());
    }

    void lastDetectJson()
    {
        XAN_NETMN::sAPI_LastDetect_Info r;
        r.json = QJsonObject{{"uuid", "u"}};
        r.pictures.insert("0;1;0", "/a/b/c.jpg");
        r.pictures.insert("1;0;1", "rel.jpg");
        r.pictures.insert("1;0", "/two/parts.jpg");
        r.pictures.insert("1;0;1;2", "/four/parts.jpg");
        const QJsonObject o = XAN_NETMN::lastDetectJson(r);
        QCOMPARE(compact(o),
                 QString(R"({"pictures":[{"camera_index":0,"detect_index":1,"detect_result":false,"picture_name":"c.jpg"},)"
                         R"({"camera_index":1,"detect_index":0,"detect_result":true,"picture_name":"rel.jpg"}],"uuid":"u"})"));
    }

    void pictureThreadNeverReplacesANewRecord()
    {
        std::atomic<qint64> clock{1};
        m_->clockMs = [&clock] { return clock.load(); };
        std::atomic<bool> stop{false};
        std::thread pictures([this, &stop] {
            for (int i = 0; !stop.load(); ++i)
                m_->add_PeriodRecord_Picture(i % 8, 0, (i & 1) != 0, QStringLiteral("/p/%1.jpg").arg(i));
        });
        int mismatches = 0;
        for (int cycle = 0; cycle < 2000; ++cycle) {
            clock.store(cycle + 16);
            m_->start_PeriodRecord();
            const QString expected = QStringLiteral("V18#press-7@") + QString::number(cycle + 16, 16);
            for (int k = 0; k < 20; ++k)
                if (m_->lastDetect.getValue().uuid != expected)
                    ++mismatches;
            m_->putRoiResult(roi(0, 0, cycle % 100, 1));
            m_->finish_PeriodRecord();
            if (m_->lastDetect.getValue().json.value("uuid").toString() != expected)
                ++mismatches;
        }
        stop.store(true);
        pictures.join();
        QCOMPARE(mismatches, 0);
    }
};

QTEST_GUILESS_MAIN(TestCycleRecord)
#include "tst_cyclerecord.moc"
