// The message and choice boxes: waking a dark screen, the production-alarm
// and lost-camera actions, geometry, and modal answers through the window.
#include "support_kit.h"

#include "databases.h"
#include "screenlight.h"
#include "colorbutton.h"
#include "editip.h"
#include "statewindow.h"
#include "warnbox.h"

#include <QComboBox>
#include <QDateEdit>
#include <QTimeEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace kittest;

class TestBoxes : public QObject {
    Q_OBJECT
private slots:
    void warnBoxWakesADarkScreen_data();
    void warnBoxWakesADarkScreen();
    void productAlarmConfirm();
    void lostCameraPowersOff();
    void chooseBoxGeometry_data();
    void chooseBoxGeometry();
    void modalAnswers_data();
    void modalAnswers();
    void boxTexts();
};

void TestBoxes::warnBoxWakesADarkScreen_data()
{
    QTest::addColumn<int>("screenOff");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("lit");
    QTest::addColumn<int>("timerMs");   // -1: timer untouched

    QTest::newRow("dark, delay 600 s") << 1 << 600 << true << 600000;
    QTest::newRow("dark, no delay") << 1 << 0 << true << -1;
    QTest::newRow("lit") << 0 << 600 << false << -1;
}

void TestBoxes::warnBoxWakesADarkScreen()
{
    QFETCH(int, screenOff);
    QFETCH(int, delay);
    QFETCH(bool, lit);
    QFETCH(int, timerMs);

    KitEnv env;
    ScreenLight::get().setScreenOff(screenOff);
    env.word105 = delay;
    gpWarnBox->setText(QStringLiteral("message"));
    gpWarnBox->show();
    QCOMPARE(env.lcdCalls, lit ? QVector<int>{1} : QVector<int>{});
    if (timerMs < 0) {
        QVERIFY(!ScreenLight::get().screenOffTimer()->isActive());
    } else {
        QVERIFY(ScreenLight::get().screenOffTimer()->isActive());
        QCOMPARE(ScreenLight::get().screenOffTimer()->interval(), timerMs);
    }
    QCOMPARE(gpWarnBox->geometry(), QRect(1280 / 2 - 375, 800 / 2 - 185, 750, 370));
    gpWarnBox->hide();
}

void TestBoxes::productAlarmConfirm()
{
    KitEnv env;
    ModalScript confirm([](QWidget*) { tap(gpProductAlarmWarnBox->okButton); });
    QCOMPARE(gpProductAlarmWarnBox->exec(), int(QDialog::Accepted));
    QVERIFY(!confirm.failed());
    // Both outputs off, then one update of the output word.
    const QVector<QPair<int, int>> expected{{0, 0}, {2, 0}, {-1, -1}};
    QCOMPARE(env.outputs, expected);
    QCOMPARE(gpProductAlarmWarnBox->text, QStringLiteral("生产已达设定次数，请确认后复位"));
}

void TestBoxes::lostCameraPowersOff()
{
    KitEnv env;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("recordTest"));
        db.setDatabaseName(env.dir.file(QStringLiteral("RECORD.db")));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)")));
        Databases::get().setRecordDb(db);
    }
    bool dbOpenAtPowerOff = true;
    env.runner.onRun = [&](const QString& cmd) {
        if (cmd == QLatin1String("init 0"))
            dbOpenAtPowerOff = Databases::get().recordDb().isOpen();
    };

    QCOMPARE(gpLostCameraWarnBox->okButton->text(), rowText(209));
    QCOMPARE(gpLostCameraWarnBox->text, rowText(657));
    ModalScript confirm([](QWidget*) { tap(gpLostCameraWarnBox->okButton); });
    gpLostCameraWarnBox->exec();
    QVERIFY(!confirm.failed());

    QCOMPARE(env.runner.commands, (QStringList{QStringLiteral("sync"), QStringLiteral("init 0")}));
    QVERIFY(!dbOpenAtPowerOff);
    QCOMPARE(env.exitCodes, QVector<int>{platform::kExitPowerOff});
    // StopWTD's second, the flush's half second, one more second.
    QCOMPARE(env.sleeper.slept, (QVector<int>{1000, 500, 1000}));

    QVERIFY(Databases::get().recordDb().open());
    QSqlQuery q(Databases::get().recordDb());
    QVERIFY(q.exec(QStringLiteral("SELECT remarks, recordtype FROM RECORD")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("因丢失相机手动关闭电源"));
    QCOMPARE(q.value(1).toString(), QString());
    Databases::get().recordDb().close();
    Databases::get().setRecordDb(QSqlDatabase());
    QSqlDatabase::removeDatabase(QStringLiteral("recordTest"));

    // A power-off that fails is not taken for done: the box stays up.
    env.runner.failProgram = QStringLiteral("init");
    env.exitCodes.clear();
    gpLostCameraWarnBox->setResult(0);
    gpLostCameraWarnBox->show();
    gpLostCameraWarnBox->accept();
    QVERIFY(gpLostCameraWarnBox->isVisible());
    QCOMPARE(gpLostCameraWarnBox->result(), 0);
    gpLostCameraWarnBox->hide();
}

void TestBoxes::chooseBoxGeometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("yes");
    QTest::addColumn<QPoint>("no");
    QTest::newRow("600 x 300") << QSize(600, 300) << QPoint(30, 200) << QPoint(350, 200);
    QTest::newRow("750 x 370") << QSize(750, 370) << QPoint(105, 235) << QPoint(425, 235);
}

void TestBoxes::chooseBoxGeometry()
{
    QFETCH(QSize, size);
    QFETCH(QPoint, yes);
    QFETCH(QPoint, no);
    gShowW = 1280;
    gShowH = 800;
    ChooseBox box(nullptr, size.width(), size.height());
    QCOMPARE(box.yesButton->geometry(), QRect(yes, QSize(220, 100)));
    QCOMPARE(box.noButton->geometry(), QRect(no, QSize(220, 100)));
    QCOMPARE(box.geometry(), QRect(640 - size.width() / 2, 400 - size.height() / 2, size.width(), size.height()));
    QVERIFY(box.isWindow());
    QVERIFY(!box.isVisible());
}

void TestBoxes::modalAnswers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("YES") << true;
    QTest::newRow("NO") << false;
}

void TestBoxes::modalAnswers()
{
    QFETCH(bool, yes);
    KitEnv env;
    auto* below = new ColorButton(QStringLiteral("below"), env.win, 3);
    below->setGeometry(0, 0, 200, 100);
    int belowClicks = 0;
    connect(below, &QPushButton::clicked, [&belowClicks] { ++belowClicks; });
    QVERIFY(showWindow(env.win));
    tap(below);
    QCOMPARE(belowClicks, 1);

    gpChooseBox->setText(QStringLiteral("question"));
    ModalScript answer([&](QWidget* modal) {
        QCOMPARE(modal, static_cast<QWidget*>(gpChooseBox));
        tap(below);   // the window below the box does not take taps
        tap(yes ? gpChooseBox->yesButton : gpChooseBox->noButton);
    });
    const int result = gpChooseBox->exec();
    QVERIFY(!answer.failed());
    QVERIFY(answer.answered());
    QCOMPARE(belowClicks, 1);
    QCOMPARE(result, yes ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

void TestBoxes::boxTexts()
{
    KitEnv env;
    ModifyTimeWidget time;
    QCOMPARE(time.yesButton->text(), rowText(121));
    QCOMPARE(time.noButton->text(), rowText(124));
    QVERIFY(time.dateTimeEdit);
    // Centred above the buttons; it opens on the current date and time.
    const QRect editors = time.dateTimeEdit->geometry();
    QVERIFY(qAbs(editors.center().x() - time.width() / 2) <= 1);
    QVERIFY(editors.bottom() < time.yesButton->y());
    time.dateTimeEdit->dateEdit->setDate(QDate(2000, 1, 1));
    time.show();
    const QDateTime shown(time.dateTimeEdit->dateEdit->date(), time.dateTimeEdit->timeEdit->time());
    QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) < 3600);
    time.hide();

    ChooseCaliNumWidget cali;
    QCOMPARE(cali.yesButton->text(), rowText(122));
    QCOMPARE(cali.noButton->text(), rowText(123));
    QCOMPARE(cali.comboBox->count(), 3);
    QCOMPARE(cali.comboBox->itemText(2), QStringLiteral(" 25 "));
    QCOMPARE(cali.comboBox->geometry(), QRect(275, 122, 200, 50));

    QCOMPARE(gpWarnBox->okButton->text(), rowText(121));
    QCOMPARE(gpWarnBox->okButton->size(), QSize(220, 100));
}

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
