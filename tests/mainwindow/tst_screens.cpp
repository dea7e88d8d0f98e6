// The operator's screens as the monitor shows them: 1920 x 1080, in the
// language of PARAM.db (VMM_SCREEN_LANGUAGE, 0-3; CTest runs all four).
// The main window comes up through its real start-up with two replay
// cameras; the ROI page is opened in every source, the parameter panel for
// every method, and every shared box and pad as it opens. For each visible
// button, label, combo box and slider: it lies on the screen, its text fits
// at the font it is drawn with, and it overlaps no sibling. The screens are
// written as PNG files to <build>/screens/ for a person to look at.
#include "boardsim.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "indexbutton.h"
#include "iostatus.h"
#include "lanstr.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "publictools_widget.h"
#include "rivurevezi.h"
#include "screencheck.h"
#include "slider.h"
#include "startup.h"
#include "testworkdir.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QLocalSocket>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {

const QRect kScreen(0, 0, 1920, 1080);
const char* const kLanNames[] = {"zh", "en", "tw", "ja"};

int language()
{
    bool ok = false;
    const int lan = qEnvironmentVariableIntValue("VMM_SCREEN_LANGUAGE", &ok);
    return ok && lan >= 0 && lan <= 3 ? lan : 0;
}

void copyOrFail(const QString& from, const QString& to)
{
    QFile::remove(to);
    QVERIFY2(QFile::copy(from, to), qPrintable(from + " -> " + to));
}

void settle()
{
    for (int k = 0; k < 5; ++k) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
}

}  // namespace

class TestScreens : public QObject {
    Q_OBJECT
    BoardSimulator sim;
    RiVuRevezi* win = nullptr;
    TestWorkDir* wd = nullptr;
    QString outDir;
    int lan = 0;
    QStringList seen;   // every fault of every scene, reported per scene

    void shot(QWidget* w, const QString& scene)
    {
        settle();
        const QString file = QStringLiteral("%1/%2_%3.png").arg(outDir, QString::fromLatin1(kLanNames[lan]), scene);
        QVERIFY2(w->grab().save(file), qPrintable(file));
    }

    void expectClean(QWidget* top, const QString& scene)
    {
        settle();
        const QStringList faults =
            ScreenCheck::faults(top, top->isWindow() && top != win ? top->geometry().topLeft() : QPoint(), kScreen);
        shot(top, scene);
        for (const QString& f : faults)
            qWarning("%s: %s", qPrintable(scene), qPrintable(f));
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1: %2 faults").arg(scene).arg(faults.size())));
    }

    CammerWidget* view(int c) { return win->cammerWidget[c]; }

    void pulseMouldOpen()
    {
        sim.setInputs(0x002);
        QTest::qWait(150);
        sim.setInputs(0x003);
        QTest::qWait(150);
        sim.setInputs(0x002);
    }

    bool cameraCommand(const QString& line)
    {
        QLocalSocket s;
        s.connectToServer(QStringLiteral("vmm-screens-%1").arg(QCoreApplication::applicationPid()));
        if (!s.waitForConnected(3000))
            return false;
        s.write(line.toUtf8() + '\n');
        s.waitForBytesWritten(3000);
        s.waitForReadyRead(3000);
        return true;
    }

    // Answers the box that a step opens modally, after checking it as the
    // operator meets it: on the screen, captioned in the language, nothing cut.
    void answerNextBox(const QString& scene)
    {
        QTimer::singleShot(50, this, [this, scene] {
            QWidget* box = QApplication::activeModalWidget();
            for (int k = 0; k < 100 && !box; ++k) {
                QTest::qWait(20);
                box = QApplication::activeModalWidget();
            }
            auto* choose = qobject_cast<ChooseBox*>(box);
            if (!choose) {
                seen << scene + QStringLiteral(": no choice box opened");
                if (box)
                    QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
                return;
            }
            settle();
            const QStringList faults = ScreenCheck::faults(choose, choose->geometry().topLeft(), kScreen);
            for (const QString& f : faults)
                seen << scene + ": " + f;
            if (!choose->isVisible() || choose->yesButton->text() != lanStr(122) || choose->noButton->text() != lanStr(123))
                seen << scene + QStringLiteral(": choice box captions not in the language");
            const QString file = QStringLiteral("%1/%2_%3.png").arg(outDir, QString::fromLatin1(kLanNames[lan]), scene);
            choose->grab().save(file);
            QTest::mouseClick(choose->yesButton, Qt::LeftButton);
        });
    }

private slots:
    void initTestCase()
    {
        lan = language();
        outDir = QStringLiteral(VMM_BUILD_DIR) + QStringLiteral("/screens");
        QDir().mkpath(outDir);
        QVERIFY(sim.open());
        sim.setInputs(0x002);
        sim.start();
        qputenv("VMM_COM_PORT", sim.slaveName().toLocal8Bit());
        qputenv("VMM_CAMERA_REPLAY",
                QStringLiteral(R"({"control":"vmm-screens-%1","cameras":[)"
                               R"({"serial":"SCREEN-00001","width":640,"height":512,"seed":3},)"
                               R"({"serial":"SCREEN-00002","width":640,"height":512,"seed":4}]})")
                    .arg(QCoreApplication::applicationPid())
                    .toUtf8());
        qputenv("VMM_CAMERA_SIMULATED", R"({"control":"vmm-screens-sim","cameras":[]})");
        pMutexIO = new QMutex;
        pMutexSaveFail = new QMutex;
        initLanStr();

        wd = new TestWorkDir;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        copyOrFail(build + "/resources/paraGroup/default/PARAM.db", "PARAM.db");
        copyOrFail(build + "/resources/paraGroup/default/SN.db", "SN.db");
        copyOrFail(build + "/resources/workdir/RECORDNULL.db", "RECORD.db");
        QDir().mkpath("Plugins/Cameras");
        copyOrFail(build + "/plugins/libcamera_replay.so", "Plugins/Cameras/libcamera_replay.so");
        QDir().mkpath("images");
        for (const QFileInfo& f : QDir(build + "/resources/images").entryInfoList(QDir::Files))
            QFile::copy(f.absoluteFilePath(), "images/" + f.fileName());
        gAppDirPath = wd->path();
        installFontSubstitutions();
        loadSkinPictures();
        {
            // The language is the 13th value of "system2", as the settings would store it.
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "prep");
            db.setDatabaseName("PARAM.db");
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("select value from sysparam where name='system2'") && q.next());
            QStringList words = q.value(0).toString().split(' ', Qt::SkipEmptyParts);
            QVERIFY(words.size() > 12);
            words[12] = QString::number(lan);
            q.prepare("update sysparam set value=? where name='system2'");
            q.addBindValue(words.join(' '));
            QVERIFY(q.exec());
            QVERIFY(q.exec("update sysparam set value='0' where name='isPswUsed'"));
            db.close();
        }
        QSqlDatabase::removeDatabase("prep");

        // The boxes and pads are made before the screen size and the language
        // are known, as in the program.
        gLan = 0;
        gShowW = gShowH = 0;
        win = new RiVuRevezi(nullptr);
        gShowW = kScreen.width();
        gShowH = kScreen.height();
        QVERIFY(win->StartUp());
        QCOMPARE(gLan, lan);
        QCOMPARE(numCamera, 2);
        win->setGeometry(kScreen);
        win->show();
        QVERIFY(QTest::qWaitForWindowExposed(win));
        settle();
    }

    void mainScreen()
    {
        QCOMPARE(win->currentCamera, numCamera);   // both cameras tiled
        expectClean(win, "main");
        IOStatusWidget* io = win->ioStatusWidget;
        QVERIFY(io->height() >= 120);
        // Lamp names stay in their own cells; state and counters share a line.
        for (int row = 0; row < 2; ++row)
            for (int i = 0; i < 10; ++i) {
                const QString name = IOStatusWidget::lampName(row == 0, i);
                const QRect cell = io->lampCell(row, i);
                QVERIFY2(QFontMetrics(io->lampFont(name)).horizontalAdvance(name) <= cell.width() - 36,
                         qPrintable(name));
            }
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(26);
        const QFontMetrics fm(f);
        QVERIFY(fm.horizontalAdvance(io->stateLine()) + fm.horizontalAdvance(io->countLine()) + 40 < io->width());
        QVERIFY(io->countLine().contains(QString::number(gSyncNGCycleNum)));
    }

    void roiPageInEverySource()
    {
        QTest::mouseClick(win->indexButton->roiButton(), Qt::LeftButton);
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        DrawROIWidget* page = win->drawROIWidget;
        QVERIFY(!page->geometry().intersects(win->ioStatusWidget->geometry()));
        for (int c = 0; c < numCamera; ++c)
            QVERIFY2(!page->geometry().intersects(view(c)->geometry()) || win->currentCamera != numCamera,
                     "the page's column covers a camera tile");
        for (int s = 0; s < page->sourceCombo->count(); ++s) {
            page->sourceCombo->setCurrentIndex(s);
            expectClean(win, QStringLiteral("roi_source%1").arg(s));
        }
        page->sourceCombo->setCurrentIndex(0);
        settle();
    }

    void parameterPanelForEveryMethod()
    {
        DrawROIWidget* page = win->drawROIWidget;
        page->cameraCombo->setCurrentIndex(0);
        settle();
        QCOMPARE(win->currentCamera, 0);
        CammerWidget* v = view(0);
        CammerSingleton& rec = *v->editRecord;
        const int step = win->currentDetect;
        const int i = rec.roiCount[step]++;
        rec.SetDefaultRoi(step, i, v->fullScaleX, v->fullScaleY);
        // On the part, where a short shot shows (picture 640 x 512, part in the middle).
        rec.rect[step][i].rect = QRect(QPoint(510, 316), QPoint(1410, 759));
        const int slot = step * CammerSingleton::kRois + i;
        rec.kind[slot] = 1;
        for (int m = 0; m <= 10; ++m) {
            int p1 = 0, p2 = 0, p3 = 0;
            CammerWidget::GetFuncInitParam(m, p1, p2, p3);
            rec.method[slot] = m;
            rec.p1[slot] = p1;
            rec.p2[slot] = p2;
            rec.p3[slot] = p3;
            v->RenewRoi(step, i);
            v->DeselectROI();
            rec.rect[step][i].SetSelected(true);
            v->setCurRoi(i);
            v->ShowHideROIPara();
            expectClean(win, QStringLiteral("panel_method%1").arg(m, 2, 10, QLatin1Char('0')));
        }
        int p1 = 0, p2 = 0, p3 = 0;
        CammerWidget::GetFuncInitParam(0, p1, p2, p3);
        rec.method[slot] = 0;
        rec.p1[slot] = p1;
        rec.p2[slot] = p2;
        rec.p3[slot] = p3;
        v->RenewRoi(step, i);
        // A tap on a slider's value calls up the digit pad, in the language.
        Slider* s = v->p1Slider;
        QVERIFY(s->isVisible());
        QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(170, s->height() / 2));
        QTRY_VERIFY(gpNumPad && gpNumPad->isVisible());
        QCOMPARE(gpNumPad->hideKey->text(), lanStr(121));
        QCOMPARE(gpNumPad->eraseKey->text(), lanStr(157));
        expectClean(gpNumPad, "pad_digits");
        gpNumPad->HideUpdate();
    }

    void leavingThePageSavesAndRestoresTheView()
    {
        DrawROIWidget* page = win->drawROIWidget;
        // The region drawn above is new: leaving asks whether to save it.
        answerNextBox("box_save");
        QTest::mouseClick(page->returnButton, Qt::LeftButton);
        QTRY_VERIFY(!page->isVisible());
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QCOMPARE(win->currentCamera, numCamera);
        QVERIFY(view(0)->isVisible() && view(1)->isVisible());
        QVERIFY(view(0)->savedRecord->roiCount[win->currentDetect] >= 1);
        expectClean(win, "main_after_page");
    }

    // A short shot after the training cycle: the page opens over the NG, and
    // "do not detect" asks through the choice box and releases the cycle.
    void ngClearedThroughTheBox()
    {
        const int base = gAllCycleNum[0];
        gpControlIO->InitIOThread();
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(gAllCycleNum[0], base + 1, 15000);
        QVERIFY(cameraCommand("* defect shortshot"));
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->detectState, 2, 15000);
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        expectClean(win, "ng_page");
        answerNextBox("box_do_not_detect");
        QTest::mouseClick(win->drawROIWidget->noCheckButton, Qt::LeftButton);
        QTRY_VERIFY(!win->drawROIWidget->isVisible());
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!win->ngPresent);
        QCOMPARE(win->currentCamera, numCamera);
        expectClean(win, "main_after_ng");
        QVERIFY(cameraCommand("* defect none"));
    }

    void sharedBoxesAsTheyOpen_data()
    {
        QTest::addColumn<QString>("which");
        for (const char* b : {"warn", "choose", "password", "production", "lostcamera", "letters"})
            QTest::newRow(b) << QString::fromLatin1(b);
    }

    void sharedBoxesAsTheyOpen()
    {
        QFETCH(QString, which);
        QWidget* box = nullptr;
        QList<QPair<QAbstractButton*, int>> captions;
        if (which == "warn") {
            gpWarnBox->setText(lanStr(160));
            box = gpWarnBox;
            captions << qMakePair<QAbstractButton*, int>(gpWarnBox->okButton, 121);
        } else if (which == "choose") {
            gpChooseBox->setText(lanStr(102));
            box = gpChooseBox;
            captions << qMakePair<QAbstractButton*, int>(gpChooseBox->yesButton, 122)
                     << qMakePair<QAbstractButton*, int>(gpChooseBox->noButton, 123);
        } else if (which == "password") {
            box = gpPasswordBox;
            captions << qMakePair<QAbstractButton*, int>(gpPasswordBox->okButton, 121)
                     << qMakePair<QAbstractButton*, int>(gpPasswordBox->cancelButton, 124);
        } else if (which == "production") {
            box = gpProductAlarmWarnBox;
            captions << qMakePair<QAbstractButton*, int>(gpProductAlarmWarnBox->okButton, 121);
        } else if (which == "lostcamera") {
            box = gpLostCameraWarnBox;
            captions << qMakePair<QAbstractButton*, int>(gpLostCameraWarnBox->okButton, 209);
        } else {
            box = gpNumCharPad;
            box->move(kScreen.width() / 2 - box->width() / 2, kScreen.height() - box->height() - 20);
            captions << qMakePair<QAbstractButton*, int>(gpNumCharPad->keys[39], 157)
                     << qMakePair<QAbstractButton*, int>(gpNumCharPad->keys[40], 121);
        }
        QVERIFY(box);
        box->show();
        settle();
        for (const auto& c : captions)
            QCOMPARE(c.first->text(), lanStr(c.second));
        const QRect r = box->geometry();
        QVERIFY2(kScreen.contains(r), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
        if (qobject_cast<QDialog*>(box))
            QCOMPARE(r.center(), kScreen.center());
        expectClean(box, "box_" + which);
        box->hide();
    }

    void cleanupTestCase()
    {
        delete win;
        win = nullptr;
        gpWin = nullptr;
        gpControlIO = nullptr;
        delete wd;
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
