// The dialog frame, the wait dialog, the splash screen, the zoom slider,
// the text panel and the line-edit styles.
#include "support_kit.h"

#include "ccomp_dialogframe.h"
#include "globals.h"
#include "publictools_widget.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <stdexcept>

using namespace kittest;

namespace {

class CountingFrame : public CComp_DialogFrame {
public:
    using CComp_DialogFrame::CComp_DialogFrame;
    int accepts = 0;
    void accept() override
    {
        ++accepts;
        CComp_DialogFrame::accept();
    }
};

// Runs the dialog; rejects it (and reports) if it is still open after 10 s.
int execGuarded(QDialog& dlg, bool* hung)
{
    *hung = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dlg, [&] {
        *hung = true;
        dlg.reject();
    });
    guard.start(10000);
    return dlg.exec();
}

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void titleBarWidgetsBeforeOk();
    void styleSheetsAppendExtra();
    void okPressAccepts();
    void waitDialogEnds_data();
    void waitDialogEnds();
    void waitDialogNotStarvedByGlobalPool();
    void waitDialogDestructorWaitsForJob();
    void splashSteps_data();
    void splashSteps();
    void zoomSlider();
    void textPanelClose();
    void lineEditStyles_data();
    void lineEditStyles();
};

void TestDialogs::titleBarWidgetsBeforeOk()
{
    CComp_DialogFrame frame(QStringLiteral("Net"));
    auto* first = new QWidget;
    auto* second = new QWidget;
    frame.addTitleWgt(first);
    frame.addTitleWgt(second);
    QLayout* bar = frame.okButton()->parentWidget()->layout();
    QCOMPARE(bar->count(), 5);
    QCOMPARE(bar->itemAt(0)->widget(), frame.titleLabel());
    QVERIFY(bar->itemAt(1)->spacerItem());
    QCOMPARE(bar->itemAt(2)->widget(), first);
    QCOMPARE(bar->itemAt(3)->widget(), second);
    QCOMPARE(bar->itemAt(4)->widget(), frame.okButton());
    QCOMPARE(frame.okButton()->text(), QStringLiteral("确定"));
    QVERIFY(frame.minimumSize() == QSize(1000, 800));
}

void TestDialogs::styleSheetsAppendExtra()
{
    QWidget w;
    CComp_DialogFrame::setDefaultWgt(&w, QString());
    QCOMPARE(w.styleSheet(), CComp_DialogFrame::dialogStyleSheet());
    CComp_DialogFrame::setDefaultWgt(&w, QStringLiteral("QLabel{color:red;}"));
    QCOMPARE(w.styleSheet(), CComp_DialogFrame::dialogStyleSheet() + QStringLiteral("QLabel{color:red;}"));

    QComboBox combo;
    auto* delegate = new QStyledItemDelegate(&combo);
    CComp_DialogFrame::setStyleCombobox(&combo, delegate, QStringLiteral("X{}"));
    QCOMPARE(combo.itemDelegate(), delegate);
    QCOMPARE(combo.styleSheet(), CComp_DialogFrame::comboStyleSheet() + QStringLiteral("X{}"));
    CComp_DialogFrame::setStyleCombobox(nullptr, delegate, QString());   // refused quietly
}

void TestDialogs::okPressAccepts()
{
    QWidget parent;
    parent.setGeometry(0, 0, 1280, 800);
    QVERIFY(showWindow(&parent));
    QTest::ignoreMessage(QtInfoMsg, "open dialog:\"Card\"");
    CountingFrame frame(QStringLiteral("Card"), &parent);
    QVERIFY(frame.isWindow());   // its own window, modal over its parent
    ModalScript pressOk([&frame](QWidget*) { press(frame.okButton(), QPoint(5, 5)); });
    QCOMPARE(frame.exec(), int(QDialog::Accepted));
    QVERIFY(!pressOk.failed());
    QCOMPARE(frame.accepts, 1);
}

void TestDialogs::waitDialogEnds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("job") << "job";
    QTest::newRow("empty job") << "empty";
    QTest::newRow("throwing job") << "throw";
    QTest::newRow("job done before the modal run") << "early";
}

void TestDialogs::waitDialogEnds()
{
    QFETCH(QString, kind);
    std::atomic<bool> ran{false};
    std::function<void()> job;
    if (kind == QLatin1String("job") || kind == QLatin1String("early"))
        job = [&ran] { ran = true; };
    else if (kind == QLatin1String("throw"))
        job = [&ran] {
            ran = true;
            throw std::runtime_error("card script failed");
        };
    if (kind == QLatin1String("empty"))
        QTest::ignoreMessage(QtWarningMsg, "wait dialog: started without a job");
    if (kind == QLatin1String("throw"))
        QTest::ignoreMessage(QtWarningMsg, "wait dialog: the job failed: card script failed");

    CComp_DiaWait wait(job, nullptr);
    if (kind == QLatin1String("early")) {
        QTRY_VERIFY(ran.load());
        // Let the closing call arrive while nothing runs the dialog yet.
        QTest::qWait(50);
    }
    bool hung = false;
    QCOMPARE(execGuarded(wait, &hung), int(QDialog::Accepted));
    QVERIFY(!hung);
    QCOMPARE(ran.load(), kind != QLatin1String("empty"));
}

void TestDialogs::waitDialogNotStarvedByGlobalPool()
{
    QThreadPool* global = QThreadPool::globalInstance();
    const int threads = global->maxThreadCount();
    QSemaphore release;
    QSemaphore started;
    for (int i = 0; i < threads; ++i) {
        global->start([&] {
            started.release();
            release.acquire();
        });
    }
    QVERIFY(started.tryAcquire(threads, 10000));

    std::atomic<bool> ran{false};
    CComp_DiaWait wait([&ran] { ran = true; }, nullptr);
    bool hung = false;
    const int result = execGuarded(wait, &hung);
    release.release(threads);
    global->waitForDone();
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(!hung);
    QVERIFY(ran.load());
}

void TestDialogs::waitDialogDestructorWaitsForJob()
{
    std::atomic<bool> done{false};
    {
        CComp_DiaWait wait(
            [&done] {
                QThread::msleep(150);
                done = true;
            },
            nullptr);
    }
    QVERIFY(done.load());
}

void TestDialogs::splashSteps_data()
{
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("dialogGone");

    QTest::newRow("never backwards") << QList<int>{60, 40} << QStringList{"t", ""} << 60 << "t" << false;
    QTest::newRow("negative") << QList<int>{-5} << QStringList{""} << 0 << "程序加载中.." << false;
    QTest::newRow("above 100") << QList<int>{250} << QStringList{"x"} << 100 << "x" << true;
    QTest::newRow("calls after the end")
        << QList<int>{0, 71, 100, 100} << QStringList{"启动...", "a", "", "b"} << 100 << "" << true;
}

void TestDialogs::splashSteps()
{
    QFETCH(QList<int>, steps);
    QFETCH(QStringList, texts);
    QFETCH(int, shown);
    QFETCH(QString, label);
    QFETCH(bool, dialogGone);

    SplashFrame splash;
    auto* bar = splash.findChild<QProgressBar*>(QStringLiteral("progressbar"));
    QVERIFY(bar);
    for (int i = 0; i < steps.size(); ++i)
        splash.flushstep(steps[i], texts[i]);
    QCOMPARE(splash.shownStep(), shown);
    auto* dialog = splash.findChild<QDialog*>(QStringLiteral("progressdialog"));
    QCOMPARE(dialog == nullptr, dialogGone);
    if (!dialogGone) {
        QCOMPARE(bar->value(), shown);
        QCOMPARE(splash.findChild<QLabel*>(QStringLiteral("loadlabel"))->text(), label);
    }
}

void TestDialogs::zoomSlider()
{
    FloatSlider zoom;
    QSignalSpy values(&zoom, &FloatSlider::updateValue);
    zoom.setValue(2.5f);
    QCOMPARE(zoom.slider->value(), 2);
    QCOMPARE(zoom.valueLabel->text(), QStringLiteral("2.50"));
    QCOMPARE(zoom.value(), 2.5f);

    values.clear();
    zoom.slider->setValue(40);
    QCOMPARE(values.count(), 1);
    QCOMPARE(values.at(0).at(0).toFloat(), 40.0f);
    QCOMPARE(zoom.valueLabel->text(), QStringLiteral("40.00"));
    QVERIFY(zoom.idleTimer->isActive());
    QCOMPARE(zoom.idleTimer->interval(), 30000);

    // The idle time runs out: back to the minimum, one more value, once.
    zoom.idleTimer->start(1);
    QTRY_COMPARE(values.count(), 2);
    QCOMPARE(values.at(1).at(0).toFloat(), 0.0f);
    QCOMPARE(zoom.slider->value(), 0);
    zoom.idleTimer->start(1);
    QTest::qWait(30);
    QCOMPARE(values.count(), 2);

    zoom.resize(600, 40);
    zoom.show();
    QVERIFY(zoom.slider->isVisible());
    zoom.showHideButton->click();
    QVERIFY(!zoom.slider->isVisible());
    zoom.showHideButton->click();
    QVERIFY(zoom.slider->isVisible());
}

void TestDialogs::textPanelClose()
{
    QWidget owner;
    auto* panel = new TextShowWidget(&owner);
    owner.show();
    panel->show();
    panel->textBrowser->append(QStringLiteral("eth0 up"));
    QSignalSpy hidden(panel, &TextShowWidget::sigHideWidget);
    panel->closeButton->click();
    QCOMPARE(hidden.count(), 1);
    QVERIFY(!panel->isVisible());
    QCOMPARE(panel->closeButton->geometry(), QRect(500, 0, 60, 60));
    QVERIFY(C_Type_COM::getSlider().startsWith(QStringLiteral("QWidget{background-color:rgb(110,110,110)")));
}

void TestDialogs::lineEditStyles_data()
{
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("focus");
    QTest::newRow("2, the fields' colour") << 2 << "#3498DB";
    QTest::newRow("4 leaves the sheet") << 4 << "";
    QTest::newRow("-1 leaves the sheet") << -1 << "";
}

void TestDialogs::lineEditStyles()
{
    QFETCH(int, color);
    QFETCH(QString, focus);
    QLineEdit e;
    e.setStyleSheet(QStringLiteral("before"));
    C_Type_COM::setTxtQss(&e, color);
    if (focus.isEmpty()) {
        QCOMPARE(e.styleSheet(), QStringLiteral("before"));
    } else {
        QCOMPARE(e.styleSheet(), QStringLiteral("QLineEdit{border-style:none;padding:1px;border-radius:5px;"
                                                "border:2px solid #DCE4EC;}QLineEdit:focus{border:2px solid %1;}")
                                     .arg(focus));
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
