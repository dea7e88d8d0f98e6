// The settings screens on a camera view over a recording camera, with the
// live record, the working copy and PARAM.db / RECORD.db in a temporary
// working folder. Boxes are answered by the test; reboots are recorded.
#include "cameramanager.h"
#include "counted.h"
#include "databases.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "colorbutton.h"
#include "cyclecontrol.h"
#include "customionamewidget.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "helppages.h"
#include "helpwidget.h"
#include "iowidget.h"
#include "lanstr.h"
#include "notice.h"
#include "paragroup.h"
#include "platform.h"
#include "resstatisticsparam.h"
#include "screenchrome.h"
#include "settingword.h"
#include "testworkdir.h"
#include "viewrig.h"
#include "cammerwidgetprobe.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"
#include "word.h"
#include "scripteddialogs.h"

#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QSettings>
#include "tapguard.h"

#include <QtTest>

namespace {

class RecordingCamera : public rig::PictureCamera {
public:
    RecordingCamera() : PictureCamera(0, 1, false) {}   // the rig's 160 x 120 picture
    void setExposeTime(int v) override { calls << QStringLiteral("expose %1").arg(v); }
    void setAdjustPlus(int v) override { calls << QStringLiteral("gain %1").arg(v); }
    void setHMirror(bool on) override { calls << QStringLiteral("hmirror %1").arg(on); }
    QJsonObject currentSetting(int) override { return {{"ExposureTime", 12345.6}, {"Gain", 7}}; }
    QStringList calls;
};

class NoSleep : public platform::Sleeper {
public:
    void sleepMs(int) override {}
};

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
    TestWorkDir* wd = nullptr;
    rig::ViewRig* r = nullptr;
    WizardPara bak;
    WizardParaWidget* w = nullptr;
    RecordingCamera* cam = nullptr;
    NoSleep noSleep;
    QStringList warned, asked;
    bool answer = true;
    QList<int> exits;
    // The main window answers whether its settings screen is shown.
    struct Chrome : ScreenChrome {
        QWidget* w = nullptr;
        bool settingsVisible() override { return w && w->isVisible(); }
    } chrome;
    std::unique_ptr<ScriptedDialogs> dialogs;

    QString sysRow(const QString& name)
    {
        Databases::get().paramDb().open();
        QSqlQuery q(Databases::get().paramDb());
        q.exec(QStringLiteral("select value from sysparam where name='%1'").arg(name));
        return q.next() ? q.value(0).toString() : QString();
    }
    int records(const QString& remark)
    {
        Databases::get().recordDb().open();   // a reboot closed it
        QSqlQuery q(Databases::get().recordDb());
        q.exec(QStringLiteral("select count(*) from RECORD where remarks='%1'").arg(remark));
        return q.next() ? q.value(0).toInt() : -1;
    }

private slots:
    void initTestCase() { initLanStr(); }

    void init()
    {
        wd = new TestWorkDir;
        r = new rig::ViewRig;
        gpWParaBak = &bak;
        gLan = 1;
        numCamera = 1;
        CammerWidgetProbe::replaceCamera(*r->view, cam = new RecordingCamera);
        Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
        Databases::get().paramDb().setDatabaseName(QStringLiteral("PARAM.db"));
        QVERIFY(Databases::get().paramDb().open());
        Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
        Databases::get().paramQuery()->exec(QStringLiteral("create table sysparam(name text, value text)"));
        // The steps of a test are the operator's separate taps, seconds
        // apart: no guard against a double tap holds between them.
        tapguard::setClock([] {
            static qint64 ms = 0;
            return ms += 10 * tapguard::kGuardMs;
        });
        w = new WizardParaWidget;
        chrome.w = w;
        ScreenChrome::install(&chrome);
        warned.clear();
        asked.clear();
        exits.clear();
        answer = true;
        dialogs.reset(new ScriptedDialogs);
        dialogs->onWarn = [this](const QString& t) { warned << t; };
        dialogs->onChoose = [this](const QString& t) { asked << t; return answer; };
        platform::setSleeper(&noSleep);
        platform::setExitHandler([this](int code) { exits << code; });
        platform::runner().clearRecorded();
        w->openScreen();
        cam->calls.clear();
    }

    void cleanup()
    {
        delete w;
        ScreenChrome::install(nullptr);
        dialogs.reset();
        delete Databases::get().paramQuery();
        Databases::get().setParamQuery(nullptr);
        Databases::get().paramDb().close();
        Databases::get().setParamDb(QSqlDatabase());
        QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
        delete r;
        delete wd;
        gpWParaBak = nullptr;
        platform::setSleeper(nullptr);
        platform::setExitHandler(nullptr);
    }

    void wordRanges_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("taken");
        QTest::newRow("exposure top") << 0 << 10000 << true;
        QTest::newRow("exposure above") << 0 << 10001 << false;
        QTest::newRow("gain negative") << 8 << -1 << false;
        QTest::newRow("screen off 0") << 105 << 0 << true;
        QTest::newRow("screen off 29") << 105 << 29 << false;
        QTest::newRow("motion correction off") << 96 << -1 << true;
        QTest::newRow("motion correction 1") << 96 << 1 << false;
        QTest::newRow("mode multi") << 176 << 3 << true;
        QTest::newRow("mode 4") << 176 << 4 << false;
        QTest::newRow("recheck count: no control") << 110 << 1 << false;
        QTest::newRow("word no screen edits") << 250 << 1 << false;
    }
    void wordRanges()
    {
        QFETCH(int, word);
        QFETCH(int, value);
        QFETCH(bool, taken);
        const int before = bak.words[word];
        QCOMPARE(w->setWord(word, value), taken);
        QCOMPARE(bak.words[word], taken ? value : before);
        QCOMPARE(gpWPara->words[word], before);
    }

    // A word nothing acts on has no control, and the README's list of such
    // words names every one of them (and only words the table does not edit).
    void wordsNotBuilt()
    {
        QFile readme(qEnvironmentVariable("VMM_SOURCE_DIR") + "/README.md");
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(readme.readAll());
        const int from = text.indexOf("- No control on the settings screen for the words the program keeps but does nothing with");
        QVERIFY(from >= 0);
        const int to = text.indexOf("\n- ", from + 1);
        QSet<int> listed;
        // Word numbers, alone or as a range "111-113".
        static const QRegularExpression number(QStringLiteral("\\b(\\d{2,3})(?:-(\\d{2,3}))?\\b"));
        for (auto it = number.globalMatch(text.mid(from, to - from)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const int first = m.captured(1).toInt();
            const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
            for (int word = first; word <= last; ++word)
                listed.insert(word);
        }
        QSet<int> notBuilt;
        for (int word = 0; word < 400; ++word) {
            if (!settingwords::notBuilt(word))
                continue;
            notBuilt.insert(word);
            QVERIFY2(!settingwords::find(word), qPrintable(QString::number(word)));
            QVERIFY2(!w->setWord(word, 1), qPrintable(QString::number(word)));
        }
        QCOMPARE(listed, notBuilt);
    }

    // A value typed on the pad is checked when the field is left; the camera
    // sees an accepted exposure at once and never a refused one.
    void typedValue()
    {
        Edit* field = w->wordField(0);
        field->setText(QStringLiteral("20000"));
        emit field->editingFinished();
        QCOMPARE(warned.size(), 1);
        QCOMPARE(field->text(), QString::number(bak.words[0]));
        QVERIFY(cam->calls.isEmpty());
        field->setText(QStringLiteral("420"));
        emit field->editingFinished();
        QCOMPARE(bak.words[0], 420);
        QCOMPARE(cam->calls, QStringList{"expose 420"});
    }

    void acceptAndCancel_data()
    {
        QTest::addColumn<bool>("change");
        QTest::addColumn<bool>("confirm");
        QTest::newRow("no change") << false << true;
        QTest::newRow("confirmed") << true << true;
        QTest::newRow("refused") << true << false;
    }
    void acceptAndCancel()
    {
        QFETCH(bool, change);
        QFETCH(bool, confirm);
        answer = confirm;
        const int live = gpWPara->words[0];
        if (change)
            QVERIFY(w->setWord(0, live + 5));
        cam->calls.clear();
        w->accept();
        QVERIFY(!w->isVisible());
        QCOMPARE(asked.size(), change ? 1 : 0);
        const bool saved = change && confirm;
        QCOMPARE(gpWPara->words[0], saved ? live + 5 : live);
        QCOMPARE(bak.words[0], gpWPara->words[0]);
        QCOMPARE(sysRow("exposeTime").section(' ', 0, 0), saved ? QString::number(live + 5) : QString());
        QCOMPARE(records(lanStr(235)), saved ? 1 : 0);
        // A save ends with a word to the operator; nothing else does.
        QCOMPARE(Notice::shown() ? Notice::shown()->text() : QString(), saved ? lanStr(708) : QString());
        // A refusal hands the live values back to the camera.
        QCOMPARE(cam->calls.contains(QStringLiteral("expose %1").arg(live)), change && !confirm);
    }

    // A changed judging word is judged with from the next detection on: the
    // same picture passes before and fails after a tighter word is accepted.
    // Inside a cycle the retraining waits until the cycle has closed (the
    // cycle is told of the accept at once), so no countdown overruns.
    void acceptedWordJudgesAtOnce_data()
    {
        QTest::addColumn<bool>("cycleOpen");
        QTest::newRow("no cycle open") << false;
        QTest::newRow("inside a cycle") << true;
    }
    void acceptedWordJudgesAtOnce()
    {
        QFETCH(bool, cycleOpen);
        struct OpenCycle : CycleControl {
            int accepted = 0;
            std::function<void()> waiting;
            void wordsAccepted() override { ++accepted; }
            void afterCycle(std::function<void()> job) override { waiting = std::move(job); }
        } open;
        CycleControl* before = cycleOpen ? CycleControl::install(&open) : nullptr;
        const auto restore = qScopeGuard([&] {
            if (cycleOpen)
                CycleControl::install(before);
        });
        const cv::Rect roiRect(20, 20, 120, 80);
        cv::Mat first(r->size(), CV_8UC1, cv::Scalar(100));
        cv::Mat second = first.clone();
        second(cv::Rect(50, 40, 40, 40)).setTo(140);   // the variation the templates teach
        cv::Mat picture = first.clone();
        picture(cv::Rect(60, 50, 14, 14)).setTo(175);  // beyond it, within the widened band
        gpWPara->words[107] = 4;                        // the taught variation widened fully
        bak.words[107] = 4;
        r->setTemplate(0, 0, first);
        r->setTemplate(0, 1, second);
        const int roi = r->addRect(0, roiRect, 0, 80);
        r->train(0);
        r->judge(0, picture);
        QVERIFY(r->view->roiPassed[0][roi]);

        QVERIFY(w->setWord(107, 0));
        r->judge(0, picture);
        QVERIFY2(r->view->roiPassed[0][roi], "a word only edited is not judged with yet");
        w->accept();
        QCOMPARE(gpWPara->words[107], 0);
        if (cycleOpen) {
            QCOMPARE(open.accepted, 1);
            r->judge(0, picture);
            QVERIFY2(r->view->roiPassed[0][roi], "the open cycle is judged as it began");
            QVERIFY(open.waiting);
            open.waiting();   // the cycle closed
        }
        r->judge(0, picture);
        QVERIFY(!r->view->roiPassed[0][roi]);
        QVERIFY(!r->view->stepOk);
    }

    // With word 94 the regions of the first detection are the second's too:
    // an accept that turns it on copies them, live and stored.
    void sharedRegionsCopiedOnAccept_data()
    {
        QTest::addColumn<int>("word94");
        QTest::newRow("shared") << 1;
        QTest::newRow("separate") << 0;
    }
    void sharedRegionsCopiedOnAccept()
    {
        QFETCH(int, word94);
        gDNum = 2;
        for (WizardPara* p : {gpWPara, &bak}) {
            p->words[Word::Mode] = DetectMode::Standard;
            p->words[100] = 1;   // product detection on: step 0 enabled
            p->words[94] = 0;
        }
        bak.words[94] = word94;
        bak.words[105] = 60;     // something changed in any case
        const int roi = r->addRect(0, cv::Rect(10, 10, 30, 20), 0, 45, 100, 3);
        *r->view->editRecord = r->rec();
        w->accept();
        QCOMPARE(r->rec().roiCount[1], word94 ? 1 : 0);
        CammerSingleton stored(0);
        QVERIFY(stored.LoadRows(Databases::get().paramDb(), *Databases::get().paramQuery(), RoiViewLink{}));
        QCOMPARE(stored.roiCount[1], word94 ? 1 : 0);
        if (!word94)
            return;
        QCOMPARE(stored.rect[1][roi].imgRect, QRect(10, 10, 30, 20));
        QCOMPARE(stored.p1[kMaxRoi + roi], 45);
        QVERIFY(!r->view->liveMasks[1][roi].empty());
    }

    void passwordSetting_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("again");
        QTest::addColumn<int>("message");
        QTest::newRow("empty") << "" << "" << 278;
        QTest::newRow("typed once") << "4321" << "" << 278;
        QTest::newRow("entries differ") << "4321" << "4312" << 280;
        QTest::newRow("set") << "4321" << "4321" << 279;
    }
    // Typed twice on the screen, stored and read back.
    void passwordSetting()
    {
        QFETCH(QString, first);
        QFETCH(QString, again);
        QFETCH(int, message);
        QVERIFY(gpWPara->setPassword(QStringLiteral("77")));
        bak = *gpWPara;
        w->passwordEdit->setText(first);
        w->passwordAgain->setText(again);
        QTest::mouseClick(w->passwordButton, Qt::LeftButton);
        QCOMPARE(warned, QStringList{lanStr(message)});
        const bool set = message == 279;
        QCOMPARE(gpWPara->passwordText(), set ? first : QStringLiteral("77"));
        QCOMPARE(bak.passwordText(), gpWPara->passwordText());
        QCOMPARE(records(lanStr(235) + lanStr(249)), set ? 1 : 0);
        if (!set)
            return;
        QVERIFY(w->passwordEdit->text().isEmpty() && w->passwordAgain->text().isEmpty());
        WizardPara loaded;
        QVERIFY(loaded.LoadRows(Databases::get().paramDb(), *Databases::get().paramQuery()));
        QCOMPARE(loaded.passwordText(), first);
    }

    // The USB copy words reach the copier when accepted.
    void usbCopyWords()
    {
        QList<QPair<int, int>> handed;
        WizardParaWidget::usbCopyHook = [&handed](int days, int on) { handed.append({days, on}); };
        QVERIFY(w->setWord(213, 7) && w->setWord(215, 1) && !w->setWord(213, 0));
        w->accept();
        WizardParaWidget::usbCopyHook = nullptr;
        QCOMPARE(handed, (QList<QPair<int, int>>{{7, 1}}));
    }

    void stepCountReachesRoiPage()
    {
        DrawROIWidget page(nullptr, gpState);
        w->setRoiPage(&page);
        gpWPara->words[Word::Mode] = DetectMode::MultiStep;
        bak.words[Word::Mode] = DetectMode::MultiStep;
        bak.words[217] = 5;
        w->accept();
        QCOMPARE(page.detectCombo->count(), 5);
    }

    void autoExposureAndMirror()
    {
        w->SlotAutoExposure();
        QCOMPARE(bak.words[0], 12);
        QCOMPARE(bak.words[8], 7);
        QVERIFY(w->setWord(317, 1));
        QCOMPARE(cam->calls, (QStringList{"expose 12", "gain 7", "hmirror 1"}));
    }

    void ioAssignment()
    {
        IOWidget io;
        io.stepCount->setCurrentIndex(1);   // three steps
        io.rowStep[0]->setCurrentIndex(1);
        io.rowStep[4]->setCurrentIndex(2);
        io.rowInput[4]->setCurrentIndex(6);
        io.rowCut[4]->setCurrentIndex(2);
        io.notSequential->setChecked(true);
        io.accept();   // the third step has no row
        QCOMPARE(warned, QStringList{lanStr(512)});
        QCOMPARE(bak.words[217], gpWPara->words[217]);
        io.rowStep[2]->setCurrentIndex(1);   // first step twice
        io.rowStep[7]->setCurrentIndex(3);
        io.accept();
        QCOMPARE(warned.size(), 2);
        io.rowStep[2]->setCurrentIndex(0);
        io.accept();
        QCOMPARE(io.result(), int(QDialog::Accepted));
        const int* b = bak.words;
        QCOMPARE(QVector<int>(b + 217, b + 226), (QVector<int>{3, 0, 4, 7, -1, -1, -1, -1, -1}));
        QCOMPARE(b[230], 6);
        QCOMPARE(b[238], 2);
        QCOMPARE(b[268], 0);
    }

    // Outside the multiple-detection mode nothing is chosen: the dialog says
    // why, offers no Confirm, and an accept leaves the words as they were.
    void ioNamesInTheStandardMode()
    {
        bak.words[Word::Mode] = DetectMode::Standard;
        const int before = bak.words[251];
        CustomIONameWidget names;
        QVERIFY(names.reason);
        QVERIFY(names.reason->text().remove('\n').contains(lanStr(472).trimmed()));
        QVERIFY(!names.okButton->isVisibleTo(&names));
        for (int k = 0; k < 8; ++k)
            QVERIFY(!names.inputName[k]->isEnabled() && !names.outputName[k]->isEnabled());
        names.accept();
        QCOMPARE(bak.words[251], before);
    }

    void ioNames()
    {
        CustomIONameWidget names;
        for (int k = 0; k < 8; ++k) {
            names.inputName[k]->setCurrentIndex(15 - k);
            names.outputName[k]->setCurrentIndex(13 - k);
        }
        names.accept();
        for (int k = 0; k < 8; ++k) {
            QCOMPARE(bak.words[251 + k], 15 - k);
            QCOMPARE(bak.words[259 + k], 13 - k);
        }
    }

    void cameraOrder()
    {
        QVERIFY(QFile::copy(QStringLiteral(VMM_DEFAULT_SN), QStringLiteral("SN.db")));
        CameraManager* m = CameraManager::getInstance();
        m->loadCameraSN();
        m->cameras.clear();
        for (const char* sn : {"SNA00001", "SNB00002", "SNC00003"}) {
            _cameraInfo info;
            qstrncpy(info.device, sn, sizeof info.device);
            m->cameras.append(info);
        }
        m->resetCameraSN();
        WidgetChangeCamera order(3);
        order.position[0]->setCurrentIndex(2);   // camera 3 chosen twice
        order.accept();
        QCOMPARE(warned.size(), 1);
        QCOMPARE(m->serials, (QVector<QString>{"SNA00001", "SNB00002", "SNC00003"}));
        order.position[2]->setCurrentIndex(0);
        order.accept();
        QCOMPARE(warned.size(), 1);
        QCOMPARE(m->serials, (QVector<QString>{"SNC00003", "SNB00002", "SNA00001"}));
        QVERIFY(Notice::shown());
        QCOMPARE(Notice::shown()->text(), lanStr(709));
        m->cameras.clear();
        m->query = QSqlQuery();
        m->database.close();
    }

    // Backup, delete and restore through the screen, with names that must
    // never become a folder.
    void groups()
    {
        gDNum = 1;
        QDir().mkpath(QStringLiteral("cammer11"));
        QFile t(QStringLiteral("cammer11/template0.bmp"));
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("mould A");
        t.close();
        Databases::get().paramQuery()->exec(QStringLiteral("insert into sysparam values('marker', 'A')"));
        for (const QString& bad : {QStringLiteral("../x"), QStringLiteral("a/b"), QStringLiteral(".."),
                                   QStringLiteral("x\ny"), QStringLiteral("default"), QString()}) {
            w->groupName->setText(bad);
            w->SlotParaGroupBackup();
        }
        QCOMPARE(warned.size(), 6);
        QCOMPARE(ParaGroup::list(), QStringList{"default"});

        for (const QString& name : {QStringLiteral("mould A"), QStringLiteral("mould B")}) {
            w->groupName->setText(name);
            w->SlotParaGroupBackup();
        }
        QCOMPARE(ParaGroup::list(), (QStringList{"default", "mould A", "mould B"}));
        QVERIFY(Notice::shown());
        QCOMPARE(Notice::shown()->text(), lanStr(711).arg("mould B"));
        QCOMPARE(gpWPara->getCurGroupName(), QStringLiteral("mould B"));
        QCOMPARE(ResStatisticsParam::getInstance()->curGroupName(), QStringLiteral("mould B"));
        w->groupList->setCurrentRow(2);
        w->SlotParaGroupDelete();
        QCOMPARE(ParaGroup::list(), (QStringList{"default", "mould A"}));
        QCOMPARE(gpWPara->getCurGroupName(), QStringLiteral("default"));
        QCOMPARE(ResStatisticsParam::getInstance()->curGroupName(), QStringLiteral("default"));

        QVERIFY(QFile::remove(QStringLiteral("cammer11/template0.bmp")));
        w->groupList->setCurrentRow(1);
        w->SlotParaGroupRestore();
        QVERIFY(QFile::exists(QStringLiteral("cammer11/template0.bmp")));
        QCOMPARE(gpWPara->getCurGroupName(), QStringLiteral("mould A"));
        QCOMPARE(platform::runner().recorded().last(), QStringLiteral("reboot"));
        QCOMPARE(exits, QList<int>{platform::kExitReboot});
        QCOMPARE(records(lanStr(286).arg("mould A")), 1);
    }

    void languageChange()
    {
        answer = false;
        w->SlotChangeLan(3);
        QCOMPARE(gLan, 1);
        QVERIFY(exits.isEmpty());
        answer = true;
        w->SlotChangeLan(3);
        QCOMPARE(gLan, 3);
        QCOMPARE(sysRow("system2").section(' ', 12, 12), QStringLiteral("3"));
        QCOMPARE(exits, QList<int>{platform::kExitReboot});
        gLan = 1;
    }

    void counterReset()
    {
        CounterValues some;
        some.all[0] = 40;
        some.fail[0] = 3;
        some.syncNg = 3;
        ProductionCounters::get().restore(some);
        w->SlotResetCount();
        QCOMPARE(counted().all[0], 0);
        QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("list_allnum")).toStringList().value(0), QStringLiteral("0"));
        QCOMPARE(ini.value(QStringLiteral("gSyncNGNum")).toString(), QStringLiteral("0"));
        QCOMPARE(records(lanStr(255)), 1);
        QVERIFY(Notice::shown());
        QCOMPARE(Notice::shown()->text(), lanStr(255));
    }

    void helpPages()
    {
        QDir().mkpath(QStringLiteral("images"));
        QVERIFY(QFile::link(QStringLiteral(VMM_HELP_DIR), QStringLiteral("images/help")));
        HelpWidget help;
        for (int page : {0, 6, helppages::kPages - 1}) {
            gHelpC = page;
            help.show();
            QCOMPARE(help.page(), page);
            QVERIFY(help.pictureShown());
            QCOMPARE(help.next->isEnabled(), page < helppages::kPages - 1);
            help.hide();
        }
        QVERIFY(QFile::remove(QStringLiteral("images/help")));
        help.showPage(2);
        QVERIFY(!help.pictureShown());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
