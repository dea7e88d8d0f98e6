// The settings screens on a camera view over a recording camera, with the
// live record, the working copy and PARAM.db / RECORD.db in a temporary
// working folder. Boxes are answered by the test; reboots are recorded.
#include "cameramanager.h"
#include "colorbutton.h"
#include "customionamewidget.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "helppages.h"
#include "helpwidget.h"
#include "iowidget.h"
#include "kitlinks.h"
#include "lanstr.h"
#include "notice.h"
#include "paragroup.h"
#include "platform.h"
#include "resstatisticsparam.h"
#include "testworkdir.h"
#include "viewrig.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QListWidget>
#include <QSettings>
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

    QString sysRow(const QString& name)
    {
        gpState->paramDb.open();
        QSqlQuery q(gpState->paramDb);
        q.exec(QStringLiteral("select value from sysparam where name='%1'").arg(name));
        return q.next() ? q.value(0).toString() : QString();
    }
    int records(const QString& remark)
    {
        gpState->recordDb.open();   // a reboot closed it
        QSqlQuery q(gpState->recordDb);
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
        delete r->view->camera;
        r->view->camera = cam = new RecordingCamera;
        r->view->opened = true;
        gpState->paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
        gpState->paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
        QVERIFY(gpState->paramDb.open());
        gpState->paramQuery = new QSqlQuery(gpState->paramDb);
        gpState->paramQuery->exec(QStringLiteral("create table sysparam(name text, value text)"));
        w = new WizardParaWidget;
        kitlinks::Links l;
        l.settingsVisible = [this] { return w->isVisible(); };
        kitlinks::install(l);
        warned.clear();
        asked.clear();
        exits.clear();
        answer = true;
        WizardParaWidget::warnBox = [this](const QString& t) { warned << t; };
        WizardParaWidget::chooseBox = [this](const QString& t) { asked << t; return answer; };
        platform::setSleeper(&noSleep);
        platform::setExitHandler([this](int code) { exits << code; });
        platform::runner().clearRecorded();
        w->openScreen();
        cam->calls.clear();
    }

    void cleanup()
    {
        delete w;
        kitlinks::reset();
        delete gpState->paramQuery;
        gpState->paramQuery = nullptr;
        gpState->paramDb.close();
        gpState->paramDb = QSqlDatabase();
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
        QTest::newRow("recheck 11") << 110 << 11 << false;
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

    void stepCountReachesRoiPage()
    {
        DrawROIWidget page(nullptr, gpState);
        w->setRoiPage(&page);
        gpWPara->words[WizardPara::kMode] = 3;
        bak.words[WizardPara::kMode] = 3;
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
        gpState->paramQuery->exec(QStringLiteral("insert into sysparam values('marker', 'A')"));
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
        gAllNum[0] = 40;
        gFailNum[0] = 3;
        gSyncNGNum = 3;
        w->SlotResetCount();
        QCOMPARE(gAllNum[0], 0);
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
