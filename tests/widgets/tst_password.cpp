// The password box and the rights gates: which typed text grants which
// level, with the password switched off and on and across an hour boundary;
// the gates run the box modally and are answered through the window.
#include "support_kit.h"
#include "widgetkit.h"

#include "colorbutton.h"
#include "edit.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "statewindow.h"
#include "operatorrights.h"

#include <QTest>

using namespace kittest;

namespace {
const QDateTime kAt(QDate(2024, 3, 7), QTime(10, 59, 59));

QString code(const QDateTime& at)
{
    return QString::fromLatin1(PasswordBox::kFactoryPassword) + at.toString(QStringLiteral("MMddhh"));
}
}  // namespace

class TestPassword : public QObject {
    Q_OBJECT
private slots:
    void levels_data();
    void levels();
    void hourlyCodeAcrossTheHour();
    void placeholderAfterAWrongTry();
    void cancelKeepsTheLevelAWrongTryDoesNot();
    void operatorGateTypedThroughThePad();
    void operatorGateWithoutPasswordOrWithALevel();
    void factoryGate_data();
    void factoryGate();
    void padRecreatedStillChecksThePassword();
    void tapOnEmptyAreaChecks();
    void japaneseLayout();
};

void TestPassword::levels_data()
{
    QTest::addColumn<int>("pswUsed");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("stored");   // the operator password in the record

    const QString fixed = QString::fromLatin1(PasswordBox::kFactoryPassword);
    QTest::newRow("off: fixed factory password") << 0 << fixed << 2 << true << QByteArray("5150");
    QTest::newRow("off: hourly code refused") << 0 << code(kAt) << 0 << false << QByteArray("5150");
    QTest::newRow("off: operator password") << 0 << "5150" << 1 << true << QByteArray("5150");
    QTest::newRow("on: hourly code") << 1 << code(kAt) << 2 << true << QByteArray("5150");
    QTest::newRow("on: previous hour refused") << 1 << code(kAt.addSecs(-3600)) << 0 << false << QByteArray("5150");
    QTest::newRow("on: next day same hour refused") << 1 << code(kAt.addDays(1)) << 0 << false << QByteArray("5150");
    QTest::newRow("on: fixed password alone refused") << 1 << fixed << 0 << false << QByteArray("5150");
    QTest::newRow("on: operator password") << 1 << "5150" << 1 << true << QByteArray("5150");
    QTest::newRow("on: operator password prefix refused") << 1 << "515" << 0 << false << QByteArray("5150");
    QTest::newRow("on: empty refused") << 1 << "" << 0 << false << QByteArray("5150");
    // No operator password set: an empty entry still grants nothing.
    QTest::newRow("on: empty, none set, refused") << 1 << "" << 0 << false << QByteArray();
    QTest::newRow("off: empty, none set, refused") << 0 << "" << 0 << false << QByteArray();
}

void TestPassword::levels()
{
    QFETCH(int, pswUsed);
    QFETCH(QString, typed);
    QFETCH(int, level);
    QFETCH(bool, closed);
    QFETCH(QByteArray, stored);

    KitEnv env;
    env.word98 = pswUsed;
    env.operatorPassword = stored;
    PasswordBox::setClock([] { return kAt; });
    OperatorRights::get().setRightsLevel(1);
    PasswordBox* box = gpPasswordBox;
    box->show();
    box->pwdEdit->setText(typed);
    box->accept();
    QCOMPARE(OperatorRights::get().rightsLevel(), level);
    QCOMPARE(box->isVisible(), !closed);
    QCOMPARE(box->result(), closed ? int(QDialog::Accepted) : 0);
    if (!closed) {
        QCOMPARE(box->pwdEdit->text(), QString());
        QCOMPARE(box->pwdEdit->placeholderText(), rowText(357));
    }
}

void TestPassword::hourlyCodeAcrossTheHour()
{
    KitEnv env;
    env.word98 = 1;
    QDateTime now = kAt;
    PasswordBox::setClock([&now] { return now; });
    PasswordBox* box = gpPasswordBox;
    const QString before = code(kAt);   // ...030710

    box->show();
    box->pwdEdit->setText(before);
    now = kAt.addSecs(1);               // 11:00:00 when the check runs
    box->accept();
    QCOMPARE(OperatorRights::get().rightsLevel(), 0);
    QVERIFY(box->isVisible());

    box->pwdEdit->setText(code(now));
    box->accept();
    QCOMPARE(OperatorRights::get().rightsLevel(), 2);
    QVERIFY(!box->isVisible());

    // Midnight at the turn of the year.
    now = QDateTime(QDate(2024, 12, 31), QTime(23, 30));
    QCOMPARE(PasswordBox::factoryCode(true, now), QString::fromLatin1(PasswordBox::kFactoryPassword) + "123123");
    now = QDateTime(QDate(2025, 1, 1), QTime(0, 0));
    QCOMPARE(PasswordBox::factoryCode(true, now), QString::fromLatin1(PasswordBox::kFactoryPassword) + "010100");
}

void TestPassword::placeholderAfterAWrongTry()
{
    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "5150";
    PasswordBox* box = gpPasswordBox;
    box->show();
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(125));
    box->pwdEdit->setText(QStringLiteral("99"));
    QCOMPARE(box->pwdEdit->placeholderText(), QString());
    box->accept();
    QCOMPARE(box->pwdEdit->text(), QString());
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(357));

    bool emptied = false;
    box->pwdEdit->addValue(QStringLiteral("1"), false);
    box->pwdEdit->deleteValue(emptied);
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(357));   // once more
    box->pwdEdit->addValue(QStringLiteral("1"), false);
    box->pwdEdit->deleteValue(emptied);
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(125));

    // A new appearance starts clean.
    box->accept();
    box->hide();
    box->show();
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(125));
    box->pwdEdit->addValue(QStringLiteral("1"), false);
    box->pwdEdit->deleteValue(emptied);
    QCOMPARE(box->pwdEdit->placeholderText(), rowText(125));
}

void TestPassword::cancelKeepsTheLevelAWrongTryDoesNot()
{
    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "5150";
    OperatorRights::get().setRightsLevel(2);
    ModalScript cancel([](QWidget*) { tap(gpPasswordBox->cancelButton); });
    QCOMPARE(gpPasswordBox->exec(), int(QDialog::Rejected));
    QVERIFY(!cancel.failed());
    QCOMPARE(OperatorRights::get().rightsLevel(), 2);

    ModalScript wrongThenCancel([](QWidget*) {
        gpPasswordBox->pwdEdit->setText(QStringLiteral("1"));
        tap(gpPasswordBox->okButton);
        tap(gpPasswordBox->cancelButton);
    });
    QCOMPARE(gpPasswordBox->exec(), int(QDialog::Rejected));
    QVERIFY(!wrongThenCancel.failed());
    QCOMPARE(OperatorRights::get().rightsLevel(), 0);
}

void TestPassword::operatorGateTypedThroughThePad()
{
    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "5150";
    QVERIFY(showWindow(env.win));

    bool typed = false;
    ModalScript answer([&typed](QWidget* modal) {
        if (modal != gpPasswordBox)
            return;
        tap(gpPasswordBox->pwdEdit);
        if (!gpNumPad->isVisible() || gpNumPad->parentWidget() != gpPasswordBox)
            return;
        typed = typeDigits(QStringLiteral("7"));   // wrong first
        tap(gpNumPad->hideKey);                    // checks: refused, box stays
        tap(gpPasswordBox->pwdEdit);
        typed = typed && typeDigits(QStringLiteral("5150"));
        tap(gpNumPad->hideKey);                    // checks: level 1
    });
    QCOMPARE(CheckPassword(), 1);
    QVERIFY(!answer.failed());
    QVERIFY(typed);
    QCOMPARE(OperatorRights::get().rightsLevel(), 1);
    QVERIFY(!gpPasswordBox->isVisible());
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!Edit::currentEdit());
}

void TestPassword::operatorGateWithoutPasswordOrWithALevel()
{
    KitEnv env;
    env.word98 = 0;
    QCOMPARE(CheckPassword(), 1);
    QVERIFY(!gpPasswordBox->isVisible());
    QCOMPARE(OperatorRights::get().rightsLevel(), 0);

    env.word98 = 1;
    OperatorRights::get().setRightsLevel(2);
    QCOMPARE(CheckPassword(), 2);
    QVERIFY(!gpPasswordBox->isVisible());

    OperatorRights::get().setRightsLevel(0);
    ModalScript cancel([](QWidget*) { tap(gpPasswordBox->cancelButton); });
    QCOMPARE(CheckPassword(), 0);
    QVERIFY(!cancel.failed());
}

void TestPassword::factoryGate_data()
{
    QTest::addColumn<int>("startLevel");
    QTest::addColumn<QString>("typed");   // empty: cancel
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("level");

    QTest::newRow("held") << 2 << "-" << 1 << 2;
    QTest::newRow("factory code") << 0 << "code" << 1 << 2;
    QTest::newRow("operator password is not enough") << 0 << "5150" << 0 << 1;
    QTest::newRow("cancel") << 1 << "" << 0 << 1;
}

void TestPassword::factoryGate()
{
    QFETCH(int, startLevel);
    QFETCH(QString, typed);
    QFETCH(int, result);
    QFETCH(int, level);

    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "5150";
    PasswordBox::setClock([] { return kAt; });
    OperatorRights::get().setRightsLevel(startLevel);
    if (typed == QLatin1String("code"))
        typed = code(kAt);

    std::unique_ptr<ModalScript> script;
    if (typed != QLatin1String("-")) {
        script = std::make_unique<ModalScript>([typed](QWidget*) {
            if (typed.isEmpty()) {
                tap(gpPasswordBox->cancelButton);
                return;
            }
            gpPasswordBox->pwdEdit->setText(typed);
            tap(gpPasswordBox->okButton);
        });
    }
    QCOMPARE(CheckRoot(), result);
    QCOMPARE(OperatorRights::get().rightsLevel(), level);
    if (script)
        QVERIFY(!script->failed());
}

void TestPassword::padRecreatedStillChecksThePassword()
{
    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "42";
    QVERIFY(showWindow(env.win));
    NumberInput* old = gpNumPad;
    delete old;   // e.g. it died with a screen it was placed in
    QVERIFY(gpNumPad && gpNumPad != old);

    ModalScript answer([](QWidget*) {
        tap(gpPasswordBox->pwdEdit);
        if (typeDigits(QStringLiteral("42")))
            tap(gpNumPad->hideKey);
    });
    QCOMPARE(CheckPassword(), 1);
    QVERIFY(!answer.failed());
}

void TestPassword::tapOnEmptyAreaChecks()
{
    KitEnv env;
    env.word98 = 1;
    env.operatorPassword = "42";
    ModalScript answer([](QWidget*) {
        gpPasswordBox->pwdEdit->setText(QStringLiteral("42"));
        tap(gpPasswordBox, QPoint(30, 30));
    });
    QCOMPARE(gpPasswordBox->exec(), int(QDialog::Accepted));
    QVERIFY(!answer.failed());
    QCOMPARE(OperatorRights::get().rightsLevel(), 1);
}

void TestPassword::japaneseLayout()
{
    gLan = 3;
    PasswordBox ja;
    QCOMPARE(ja.pwdEdit->width(), 420);
    gLan = 1;
    PasswordBox en;
    QCOMPARE(en.pwdEdit->width(), 350);
    QCOMPARE(en.okButton->geometry(), QRect(100, 220, 220, 100));
    QCOMPARE(en.cancelButton->geometry(), QRect(430, 220, 220, 100));
    QVERIFY(en.isWindow());
    gLan = 0;
}

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
