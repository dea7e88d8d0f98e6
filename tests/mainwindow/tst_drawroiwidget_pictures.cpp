// The picture side of the ROI page: template slots and files, browsing
// templates, recent NG pictures and stored pictures, and ignored points.
#include "cammerwidget.h"
#include "cameraviews.h"
#include "colorbutton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "lanstr.h"
#include "notice.h"
#include "rivurevezi.h"
#include "support_roipage.h"
#include "scriptedoutputs.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QDateTime>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <chrono>
#include <filesystem>

using namespace pagetest;

namespace {

// Gives `path` a modification time `age` seconds in the past.
void age(const QString& path, int seconds)
{
    namespace fs = std::filesystem;
    const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(seconds);
    std::error_code ec;
    fs::last_write_time(path.toStdString(), when, ec);
    QVERIFY2(!ec, qPrintable(path));
}

void touchFile(const QString& path, int ageSeconds)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    age(path, ageSeconds);
}

QStringList folderFiles(const QString& folder)
{
    QStringList l = QDir(folder).entryList(QDir::Files);
    l.sort();
    return l;
}

// A grey picture of one value as a frame buffer.
void fill(uchar* frame, int value)
{
    std::memset(frame, value, size_t(kWidth) * kHeight);
}

}  // namespace

class TestDrawRoiPictures : public QObject {
    Q_OBJECT

private slots:
    // Which slot a new template takes. Files: name and age in seconds.
    void slotChoice_data()
    {
        QTest::addColumn<QVector<int>>("used");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QVector<int>>("ages");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QStringList>("left");
        const QStringList five{"template0.bmp", "template1.bmp", "template2.bmp", "template3.bmp", "template4.bmp"};
        QTest::newRow("free slot") << QVector<int>{1, 1, 0, 1, 0} << QStringList{} << QVector<int>{} << 2
                                   << QStringList{};
        QTest::newRow("oldest is the first template") << QVector<int>{1, 1, 1, 1, 1} << five
                                                      << QVector<int>{900, 100, 200, 800, 300} << 3 << five;
        QTest::newRow("oldest other") << QVector<int>{1, 1, 1, 1, 1} << five << QVector<int>{100, 150, 700, 200, 300}
                                      << 2 << five;
        QTest::newRow("leftover beyond the slot count")
            << QVector<int>{1, 1, 1, 1, 1} << (QStringList(five) << "template7.bmp")
            << QVector<int>{100, 150, 200, 250, 300, 999} << 4 << five;
        QTest::newRow("foreign names are not slots")
            << QVector<int>{1, 1, 1, 1, 1}
            << QStringList{"template0.bmp", "template00.bmp", "template-1.bmp", "templateX.bmp", "template1.bmp.bak",
                           "template3.bmp", "template2.bmp"}
            << QVector<int>{50, 900, 800, 700, 600, 100, 200} << 2
            << QStringList{"template-1.bmp", "template0.bmp", "template00.bmp", "template1.bmp.bak", "template2.bmp",
                           "template3.bmp", "templateX.bmp"};
        QTest::newRow("no file but the first") << QVector<int>{1, 1, 1, 1, 1} << QStringList{"template0.bmp"}
                                               << QVector<int>{10} << 4 << QStringList{"template0.bmp"};
    }
    void slotChoice()
    {
        QFETCH(QVector<int>, used);
        QFETCH(QStringList, files);
        QFETCH(QVector<int>, ages);
        QFETCH(int, slot);
        QFETCH(QStringList, left);
        RoiEnv env;
        CammerWidget* v = env.view(0);
        const QString folder = QStringLiteral("./cammer12");
        for (const QString& f : QDir(folder).entryList(QDir::Files))
            QFile::remove(folder + "/" + f);
        for (int i = 0; i < files.size(); ++i)
            touchFile(folder + "/" + files[i], ages[i]);
        v->tempUsed[1] = used;
        v->tempCount[1] = int(std::count(used.begin(), used.end(), 1));
        const int before = v->tempCount[1];
        QCOMPARE(env.page->ChooseTempSlot(0, 1), slot);
        QCOMPARE(v->tempUsed[1][slot], 1);
        QCOMPARE(v->tempCount[1], before < gTempNum ? before + 1 : before);
        QCOMPARE(folderFiles(folder), left);
    }

    void addFromLiveDuringNg()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.win->cycleStatus().detectState = 2;
        env.win->cycleStatus().runStep = 1;
        env.win->cycleStatus().alarmCode[1] = 3;
        gSource = 1;
        fill(v->captureFrame, 77);

        v->stepOk = true;   // a camera that passed gets no template
        env.page->AddTemp(0, 1);
        QCOMPARE(v->tempCount[1], 1);

        v->stepOk = false;
        env.page->AddTemp(0, 1);
        QCOMPARE(v->tempCount[1], 2);
        QCOMPARE(v->tempUsed[1][1], 1);
        const cv::Mat stored = readGrey(QStringLiteral("./cammer12/template1.bmp"));
        QCOMPARE(stored.cols, kWidth);
        QCOMPARE(cv::countNonZero(stored != 77), 0);
        QCOMPARE(v->templates[1][1][123], uchar(77));
        QVERIFY(v->stepSettled(1));
        QCOMPARE(env.win->cycle().alarmCode[1], 5);
        QCOMPARE(env.records(), QStringList{"Camera 1 added a template"});
        QVERIFY(!env.page->retrainPending[0]);   // trained at once
    }

    void addFromRecentNg()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.win->cycleStatus().detectState = 3;
        gSource = 2;
        v->ngRing().show(1);
        v->keepNgPicture(0, QDateTime());   // only picture 0 exists
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no recent NG picture 2; no template added"));
        env.page->AddTemp(0, 0);
        QCOMPARE(v->tempCount[0], 1);
        QVERIFY(!QFile::exists(QStringLiteral("./cammer11/template1.bmp")));
        QVERIFY(!env.page->retrainPending[0]);

        fill(v->alignedFrame, 201);
        v->keepNgPicture(0, QDateTime());
        env.page->AddTemp(0, 0);
        QCOMPARE(v->tempCount[0], 2);
        QCOMPARE(cv::countNonZero(readGrey(QStringLiteral("./cammer11/template1.bmp")) != 201), 0);
        QVERIFY(env.page->retrainPending[0]);   // trained at the next save
        QCOMPARE(env.recordCount(), 0);
        BoxScript boxes;
        env.page->SlotSaveData();
        QVERIFY(!env.page->retrainPending[0]);
        QCOMPARE(boxes.texts, QStringList());

        // A clipped picture under a grey-template region is named at the
        // save that trains it.
        env.addSavedRect(0, 0, 150, 100, 80, 60, 0, 50);
        fill(v->alignedFrame, 255);
        v->keepNgPicture(0, QDateTime());
        v->ngRing().show(2);
        env.page->AddTemp(0, 0);
        boxes.answer({false});   // the page's record edits are not saved
        env.page->SlotSaveData();
        QCOMPARE(env.records().filter(QStringLiteral("over-exposed")),
                 QStringList{"Camera 1 step 1 region 1: 4800 saturated template pixels, "
                             "over-exposed: lower the exposure and resample"});
        QVERIFY(Notice::shown());
        QVERIFY(Notice::shown()->text().contains(lanStr(729).arg(1).arg(1).arg(1).arg(4800)));
    }

    void addTemplateRefusals_data()
    {
        QTest::addColumn<int>("tempNum");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("camera");     // 2 = all cameras
        QTest::addColumn<bool>("passed");
        QTest::addColumn<int>("word138");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("one slot only") << 1 << 3 << 2 << 0 << false << 0 << QStringList{lanStr(258)};
        QTest::newRow("NG, camera passed") << 5 << 2 << 1 << 1 << true << 0 << QStringList{lanStr(107)};
        QTest::newRow("NG, all cameras") << 5 << 2 << 1 << 2 << false << 0 << QStringList{lanStr(107)};
        QTest::newRow("NG, safety door closed") << 5 << 2 << 1 << 0 << false << 1 << QStringList{lanStr(195)};
        QTest::newRow("region setting from the template") << 5 << 3 << 0 << 0 << false << 0
                                                          << QStringList{lanStr(108)};
    }
    void addTemplateRefusals()
    {
        QFETCH(int, tempNum);
        QFETCH(int, state);
        QFETCH(int, source);
        QFETCH(int, camera);
        QFETCH(bool, passed);
        QFETCH(int, word138);
        QFETCH(QStringList, texts);
        Options o;
        o.cameras = 2;
        o.tempNum = tempNum;
        RoiEnv env(o);
        env.word(138) = word138;
        env.win->cycleStatus().detectState = state;
        EditSession::get().setCurrentCamera(camera);
        gSource = source;
        for (int c = 0; c < 2; ++c)
            env.view(c)->stepOk = passed;
        BoxScript boxes({true, true});
        env.page->SlotAddTemp();
        QCOMPARE(boxes.texts, texts);
        for (int c = 0; c < 2; ++c)
            QCOMPARE(env.view(c)->tempCount[0], 1);
        QCOMPARE(env.recordCount(), 0);
    }

    void deleteShownTemplate()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        for (int k = 1; k < 5; ++k) {
            v->tempUsed[0][k] = 1;
            QVERIFY(writeGreyBmp(QStringLiteral("./cammer11/template%1.bmp").arg(k), scene(0)));
        }
        v->tempCount[0] = 5;
        {
            BoxScript boxes({true});
            env.page->SlotTempDeleteCur();
            QCOMPARE(boxes.texts, QStringList{lanStr(68)});
            QCOMPARE(v->tempCount[0], 5);
        }
        v->tempIndex = 2;
        BoxScript boxes({true});
        env.page->SlotTempDeleteCur();
        QCOMPARE(boxes.texts, QStringList{lanStr(69)});
        QVERIFY(!QFile::exists(QStringLiteral("./cammer11/template2.bmp")));
        QVERIFY(QFile::exists(QStringLiteral("./cammer11/template3.bmp")));
        QCOMPARE(v->tempUsed[0][2], 0);
        QCOMPARE(v->tempCount[0], 4);
        QCOMPARE(v->tempIndex, 3);
        QVERIFY(env.page->retrainPending[0]);
        QCOMPARE(env.records(), QStringList{"Camera 1 has deleted the 3 template "});
    }

    // Deleting all templates keeps every first template and tells the
    // companion program which camera and detection pairs changed.
    void deleteAllTemplates_data()
    {
        QTest::addColumn<int>("word157");
        QTest::addColumn<QVector<int>>("cameras");
        QTest::newRow("every camera") << 0 << QVector<int>{0, 1};
        QTest::newRow("the current camera only") << 1 << QVector<int>{1};
    }
    void deleteAllTemplates()
    {
        QFETCH(int, word157);
        QFETCH(QVector<int>, cameras);
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        env.word(157) = word157;
        EditSession::get().setCurrentCamera(1);
        for (int c = 0; c < 2; ++c) {
            for (int d = 0; d < 2; ++d) {
                const QString folder = QStringLiteral("./cammer%1%2/").arg(c + 1).arg(d + 1);
                for (const char* name : {"template1.bmp", "template4.bmp", "template0.bmp.keep", "ignorepoint.bmp"})
                    touchFile(folder + name, 10);
                env.view(c)->tempUsed[d] = {1, 1, 0, 0, 1};
                env.view(c)->tempCount[d] = 3;
            }
            env.view(c)->tempIndex = 4;
        }
        QVector<QJsonObject> sent;
        ScriptedOutputs outputs;
        outputs.onTemplateListChanged = [&sent](const QJsonObject& o) { sent << o; };
        env.page->SlotTempDeleteAll();
        QJsonArray wantCameras;
        QJsonArray wantDetects;
        for (int c : cameras)
            for (int d = 0; d < 2; ++d) {
                wantCameras.append(c);
                wantDetects.append(d);
            }
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].value("camera").toArray(), wantCameras);
        QCOMPARE(sent[0].value("detect").toArray(), wantDetects);
        QCOMPARE(env.records(), QStringList{"Delete all templates"});
        for (int c = 0; c < 2; ++c) {
            const bool chosen = cameras.contains(c);
            for (int d = 0; d < 2; ++d) {
                const QString folder = QStringLiteral("./cammer%1%2").arg(c + 1).arg(d + 1);
                QStringList want{"ignorepoint.bmp", "template0.bmp", "template0.bmp.keep"};
                if (!chosen)
                    want = QStringList{"ignorepoint.bmp", "template0.bmp", "template0.bmp.keep", "template1.bmp",
                                       "template4.bmp"};
                QCOMPARE(folderFiles(folder), want);
                QCOMPARE(env.view(c)->tempCount[d], chosen ? 1 : 3);
                QCOMPARE(env.view(c)->tempUsed[d], chosen ? QVector<int>({1, 0, 0, 0, 0}) : QVector<int>({1, 1, 0, 0, 1}));
            }
            QCOMPARE(env.page->retrainPending[c], chosen);
            QCOMPARE(env.view(c)->tempIndex, chosen ? 0 : 4);
        }
    }

    void browseTemplates()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        for (int k : {2, 4}) {
            cv::Mat pic(kHeight, kWidth, CV_8UC1, cv::Scalar(10 * k));
            QVERIFY(writeGreyBmp(QStringLiteral("./cammer11/template%1.bmp").arg(k), pic));
            age(QStringLiteral("./cammer11/template%1.bmp").arg(k), 3600 * k);
            v->tempUsed[0][k] = 1;
            std::memset(v->templateSlot(0, k), 10 * k, size_t(v->frameBytes));
        }
        v->tempCount[0] = 3;
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        QCOMPARE(EditSession::get().currentDetect(), 0);
        QCOMPARE(env.page->lastButton->text(), lanStr(559));
        QCOMPARE(v->tempIndex, 0);
        QCOMPARE(v->shownPicture()[77], uchar(kGround));
        QVector<int> visited;
        for (int i = 0; i < 4; ++i) {
            env.page->SlotTempNext();
            visited << v->tempIndex;
        }
        QCOMPARE(visited, QVector<int>({2, 4, 0, 2}));
        QCOMPARE(v->shownPicture()[77], uchar(20));
        const QDateTime t = QFileInfo(QStringLiteral("./cammer11/template2.bmp")).lastModified();
        QCOMPARE(gTempTime, t.toString("yyyy-MM-dd hh.mm.ss"));
        env.page->SlotTempLast();
        env.page->SlotTempLast();
        QCOMPARE(v->tempIndex, 4);
        // A slot table with nothing in use leaves the walk where it was.
        std::fill(v->tempUsed[0].begin(), v->tempUsed[0].end(), 0);
        env.page->SlotTempNext();
        QCOMPARE(v->tempIndex, 4);
    }

    void browseRecentNg()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        for (int n = 0; n < 12; ++n) {   // more written than kept
            fill(v->alignedFrame, 100 + n % CammerWidget::kRecentPictures);
            v->keepNgPicture(0, QDateTime());
        }
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        env.page->setSource(2);
        QCOMPARE(v->ngRing().shown(), 0);
        QCOMPARE(v->shownPicture()[5], uchar(100));
        env.page->SlotTempLast();
        QCOMPARE(v->ngRing().shown(), 9);
        QCOMPARE(v->shownPicture()[5], uchar(109));
        env.page->SlotTempNext();
        QCOMPARE(v->ngRing().shown(), 0);
        env.page->SlotTempNext();
        QCOMPARE(v->ngRing().shown(), 1);
        QCOMPARE(v->shownPicture()[5], uchar(101));
    }

    void browseStoredPictures()
    {
        RoiEnv env;
        const QDir ok = CameraViews::pictureFolder(0, 1, true);
        QVERIFY(QDir().mkpath(ok.path()));
        for (int i = 0; i < 5; ++i) {
            QImage img(16, 8, QImage::Format_RGB32);
            img.fill(qRgb(i * 40, 0, 0));
            const QString path = ok.filePath(QStringLiteral("pic%1.jpg").arg(i));
            QVERIFY(img.save(path, "JPG"));
            age(path, 100 - i * 10);   // pic4 is the newest
        }
        touchFile(ok.filePath("notes.txt"), 1);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        env.page->detectCombo->setCurrentIndex(1);
        env.page->setSource(3);
        QCOMPARE(env.page->storedIsOk, 1);
        QCOMPARE(env.page->storedDetect, 1);
        QCOMPARE(env.page->storedCount, 5);
        QCOMPARE(env.page->storedName, QStringLiteral("pic4"));
        QCOMPARE(env.page->storedPicture.size(), QSize(16, 8));
        env.page->SlotTempLast();
        QCOMPARE(env.page->storedName, QStringLiteral("pic0"));
        env.page->SlotTempNext();
        env.page->SlotTempNext();
        QCOMPARE(env.page->storedName, QStringLiteral("pic3"));

        // A new picture in the folder is seen at the next step.
        QTest::qWait(20);
        QImage img(16, 8, QImage::Format_RGB32);
        img.fill(Qt::blue);
        QVERIFY(img.save(ok.filePath("pic5.jpg"), "JPG"));
        env.page->SlotTempLast();
        QCOMPARE(env.page->storedCount, 6);
        QCOMPARE(env.page->storedName, QStringLiteral("pic5"));

        // The NG folder is empty: nothing to show, stepping does nothing.
        env.page->setSource(4);
        QCOMPARE(env.page->storedIsOk, 0);
        QCOMPARE(env.page->storedCount, 0);
        QVERIFY(env.page->storedName.isEmpty());
        QVERIFY(env.page->storedPicture.isNull());
        env.page->SlotTempNext();
        QCOMPARE(env.page->storedIndex, 0);
    }

    void ignoreAlarmPoints()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.win->cycleStatus().detectState = 2;
        env.win->cycleStatus().runStep = 0;
        gSource = 1;
        env.addSavedRect(0, 0, 10, 10, 60, 60);
        env.addSavedRect(0, 0, 100, 10, 60, 60);
        v->stepOk = false;
        v->roiPassed[0][0] = false;
        v->roiPassed[0][1] = false;
        v->roiArea[0][0] = 2000;
        v->roiArea[0][1] = 2001;
        // One defect box per region; resultImage marks part of each.
        int box0[4] = {20, 20, 30, 25};
        int box1[4] = {110, 20, 120, 25};
        v->defectRects[0][0][0][0] = 1;
        std::copy(box0, box0 + 4, v->defectRects[0][0][1]);
        v->defectRects[0][1][0][0] = 1;
        std::copy(box1, box1 + 4, v->defectRects[0][1][1]);
        cv::Mat result(kHeight, kWidth, CV_8UC1, v->resultImage);
        result.setTo(0);
        result(cv::Rect(20, 20, 10, 5)).setTo(255);
        result(cv::Rect(110, 20, 10, 5)).setTo(255);
        result.at<uchar>(22, 35) = 255;   // outside every box

        {
            env.word(98) = 1;   // password in use, refused
            BoxScript boxes({false});
            env.page->SlotIgnoreAlarmPoint();
            QCOMPARE(boxes.texts, QStringList{"<password>"});
            QCOMPARE(cv::countNonZero(cv::Mat(kHeight, kWidth, CV_8UC1, v->ignoreMask[0])), 0);
            env.word(98) = 0;
        }
        BoxScript boxes({true, true});
        env.page->SlotIgnoreAlarmPoint();
        QCOMPARE(boxes.texts, QStringList({lanStr(113), lanStr(115).arg(2000)}));
        QVERIFY(boxes.texts[1].contains("2000"));
        boxes.texts.clear();
        const cv::Mat mask(kHeight, kWidth, CV_8UC1, v->ignoreMask[0]);
        QCOMPARE(cv::countNonZero(mask), 50);
        QCOMPARE(cv::countNonZero(mask(cv::Rect(20, 20, 10, 5))), 50);
        QCOMPARE(cv::countNonZero(readGrey("./cammer11/ignorepoint.bmp")), 50);
        QCOMPARE(env.records(), QStringList{"Camera 1 ignoring the current alarm point"});

        // The ignored pixels are no longer judged.
        clearScene(0);
        paintDefect(0, 20, 20, 10);
        env.grab();
        env.win->RunAlgorithm(0, 0);
        QVERIFY(v->roiPassed[0][0]);

        v->stepOk = false;
        boxes.answer({true});
        env.page->SlotDeleteIgnorePoint();
        QCOMPARE(boxes.texts, QStringList{lanStr(116)});
        QCOMPARE(cv::countNonZero(mask), 0);
        QCOMPARE(cv::countNonZero(readGrey("./cammer11/ignorepoint.bmp")), 0);
        QCOMPARE(env.records().last(), QStringLiteral("Camera 1 delete all ignored points"));
    }

    void ignoredPointButtonsNeedAFailedCamera()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        v->stepOk = true;
        BoxScript boxes({true, true, true});
        env.page->SlotShowHideAlarmPoint();
        env.page->SlotIgnoreAlarmPoint();
        env.page->SlotDeleteIgnorePoint();
        QCOMPARE(boxes.texts, QStringList({lanStr(107), lanStr(107), lanStr(107)}));
        QCOMPARE(env.recordCount(), 0);

        v->stepOk = false;
        env.page->SlotShowHideAlarmPoint();
        QCOMPARE(v->blink(), 2);
        QCOMPARE(env.page->alarmPointButton->text(), lanStr(112));
        env.page->SlotShowHideAlarmPoint();
        QCOMPARE(v->blink(), 0);
        QCOMPARE(env.page->alarmPointButton->text(), lanStr(64));
    }
};

QTEST_MAIN(TestDrawRoiPictures)
#include "tst_drawroiwidget_pictures.moc"
