// The operator's screens as the monitor shows them: 1920 x 1080, in the
// language of PARAM.db (VMM_SCREEN_LANGUAGE, 0-3; CTest runs all four).
// The main window comes up through its real start-up with two replay
// cameras; the ROI page is opened in every source, the parameter panel for
// every method, and every shared box and pad as it opens. For each visible
// button, label, combo box and slider: it lies on the screen, its text fits
// at the font it is drawn with, and it overlaps no sibling. The screens are
// written as PNG files to <build>/screens/ for a person to look at.
#include "cammerwidget.h"
#include "ccomp_dialogframe.h"
#include "roifunctions.h"
#include "counted.h"
#include "cameraviews.h"
#include "colorbutton.h"
#include "controlport.h"
#include "customionamewidget.h"
#include "cyclerig.h"
#include "windowtaps.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "editsession.h"
#include "editip.h"
#include "helpwidget.h"
#include "indexbutton.h"
#include "iostatus.h"
#include "iowidget.h"
#include "lanstr.h"
#include "notice.h"
#include "numberinput.h"
#include "operatorrights.h"
#include "passwordbox.h"
#include "platform.h"
#include "publictools_widget.h"
#include "mouldcycle.h"
#include "rivurevezi.h"
#include "screencheck.h"
#include "slider.h"
#include "tapguard.h"
#include "startup.h"
#include "testworkdir.h"
#include "warnbox.h"
#include "widgetchangecamera.h"
#include "wizardpara.h"
#include "wizardparawidget.h"
#include "scripteddialogs.h"

#include <QAbstractItemView>
#include <QDateEdit>
#include <QListWidget>
#include <QLocalSocket>
#include <QPainter>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QLabel>
#include <QtTest>

#include <functional>

namespace {

const QRect kScreen(0, 0, 1920, 1080);
const char* const kLanNames[] = {"zh", "en", "tw", "ja"};

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
    // When the program reads a tap (the guard's reading clock): it moves
    // only while the program is held busy.
    qint64 readMs = 0;
    // The touch screen's clock, on which each tap is made: it runs on
    // QTest's own, which keeps its taps 500 ms apart. `touchSet` is what
    // the last tap made here left QTest's clock at.
    ulong lastLifted = 0;
    int touchSet = -1;
    static constexpr int kApartMs = 10 * tapguard::kGuardMs;

    // The GUI thread busy for `ms` (a judgement): taps made meanwhile are
    // read only afterwards.
    void holdProgram(int ms) { readMs += ms; }

    // The screen as the operator sees it: the main window, then every other
    // shown window at its place, the modal one and the notice on top.
    QImage screenShot()
    {
        QImage shot(kScreen.size(), QImage::Format_RGB32);
        shot.fill(Qt::black);
        QPainter p(&shot);
        p.drawPixmap(0, 0, win->grab());
        QList<QWidget*> over;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (t != win && t->isVisible())
                over << t;
        auto rank = [](QWidget* t) { return qobject_cast<Notice*>(t) ? 2 : t == QApplication::activeModalWidget() ? 1 : 0; };
        std::stable_sort(over.begin(), over.end(), [&](QWidget* a, QWidget* b) { return rank(a) < rank(b); });
        for (QWidget* t : over)
            p.drawPixmap(t->geometry().topLeft(), t->grab());
        return shot;
    }

    // The region labels the camera views drew: large enough, on the view,
    // clear of each other.
    QStringList labelFaults()
    {
        QStringList found;
        for (int c = 0; c < numCamera; ++c) {
            if (!view(c)->isVisible())
                continue;
            QVector<ScreenCheck::Painted> labels;
            for (const CammerWidget::DrawnLabel& l : view(c)->drawnLabels())
                labels.append({l.plate, l.pixels, l.text});
            for (const QString& f : ScreenCheck::paintedFaults(labels, view(c)->rect(), CammerWidget::kRoiLabelPixels))
                found << QStringLiteral("camera %1: %2").arg(c + 1).arg(f);
        }
        return found;
    }

    // What is wrong on `top` as it stands; the screen as it shows `top` goes
    // to the screens folder.
    QStringList look(QWidget* top, const QString& scene)
    {
        settle();
        const QString file = QStringLiteral("%1/%2_%3.png").arg(outDir, QString::fromLatin1(kLanNames[lan]), scene);
        if (top == win || (top->isWindow() && top->isVisible()))
            screenShot().save(file);
        else
            top->grab().save(file);
        const QPoint at = top->isWindow() && top != win ? top->geometry().topLeft() : QPoint();
        QStringList faults = ScreenCheck::faults(top, at, kScreen);
        if (top == win)
            faults << labelFaults();
        for (QString& f : faults)
            f.prepend(scene + QStringLiteral(": "));
        return faults;
    }

    // Once the dialog a tap opens modally is up: looks at it over the screen
    // and runs `then` on it, which closes it.
    void onNextDialog(const QString& scene, std::function<void(QDialog*)> then)
    {
        onNextModal([this, scene, then](QWidget* modal) {
            auto* d = qobject_cast<QDialog*>(modal);
            if (!d) {
                seen << scene + QStringLiteral(": no dialog opened");
                return;
            }
            seen << look(d, scene);
            if (!kScreen.contains(d->geometry()))
                seen << scene + QStringLiteral(": off the screen");
            then(d);
            if (d->isVisible()) {
                seen << scene + QStringLiteral(": still open");
                d->reject();
            }
        });
    }

    // Taps the button of `d` captioned with text row `row`.
    void tapIn(QWidget* d, int row, const QString& scene)
    {
        for (ColorButton* b : d->findChildren<ColorButton*>())
            if (b->text() == lanStr(row).trimmed()) {
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        seen << scene + QStringLiteral(": no button \"%1\"").arg(lanStr(row).trimmed());
    }

    // The notice on screen reads `text`.
    void expectNotice(const QString& text, const QString& scene)
    {
        Notice* n = Notice::shown();
        QVERIFY2(n, qPrintable(scene + ": no notice"));
        QCOMPARE(n->text(), text.trimmed());
        QVERIFY(kScreen.contains(n->geometry()));
        QVERIFY(n->font().pixelSize() >= 16 || QFontInfo(n->font()).pixelSize() >= 16);
        expectClean(win, scene);
        n->hide();
    }

    void expectClean(QWidget* top, const QString& scene)
    {
        const QStringList faults = look(top, scene);
        for (const QString& f : faults)
            qWarning("%s", qPrintable(f));
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1: %2 faults").arg(scene).arg(faults.size())));
    }

    CammerWidget* view(int c) { return CameraViews::at(c); }

    QString shotName(const QString& scene) const
    {
        return QStringLiteral("%1/%2_%3.png").arg(outDir, QString::fromLatin1(kLanNames[lan]), scene);
    }

    static QStringList prefixed(const QString& scene, QStringList faults)
    {
        for (QString& f : faults)
            f.prepend(scene + QStringLiteral(": "));
        return faults;
    }

    void expectTouch(QWidget* top, const QString& scene)
    {
        const QStringList faults = prefixed(scene, ScreenCheck::touchFaults(top));
        for (const QString& f : faults)
            qWarning("%s", qPrintable(f));
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1: %2 touch faults").arg(scene).arg(faults.size())));
    }

    // The settings screen's button captioned with text row `row`.
    QAbstractButton* settingsButton(int row)
    {
        for (ColorButton* b : win->wizardParaWidget->findChildren<ColorButton*>())
            if (b->isVisible() && b->text() == lanStr(row).trimmed())
                return b;
        qWarning("no settings button for row %d", row);
        return nullptr;
    }

    // Runs `step` on the next modal window once it is open.
    void onNextModal(std::function<void(QWidget*)> step)
    {
        QTimer::singleShot(50, this, [this, step] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                QTimer::singleShot(50, this, [this, step] {
                    if (QWidget* m = QApplication::activeModalWidget())
                        step(m);
                    else
                        seen << QStringLiteral("no modal window opened");
                });
                return;
            }
            step(modal);
        });
    }

    // Opens the drop-down of `c` by a tap and looks at its rows as shown.
    void lookAtDropDown(ComboBox* c, const QString& scene)
    {
        if (!c || !c->isVisible() || !c->isEnabled() || c->count() == 0)
            return;
        QTest::mouseClick(c, Qt::LeftButton);
        QAbstractItemView* list = c->view();
        if (!list->isVisible()) {
            seen << scene + ": the drop-down did not open";
            return;
        }
        settle();
        list->window()->grab().save(shotName(scene));
        const QRect screenAt(list->window()->geometry());
        if (!kScreen.contains(screenAt))
            seen << scene + QStringLiteral(": the drop-down lies off the screen");
        QFont font = list->font();
        if (auto* d = dynamic_cast<TouchRowDelegate*>(list->itemDelegate()))
            font = d->rowFont();
        for (int r = 0; r < c->count(); ++r) {
            const QRect row = list->visualRect(c->model()->index(r, 0));
            if (row.isValid() && row.height() < ScreenCheck::kTouchHeight)
                seen << scene + QStringLiteral(": row %1 is %2 px high").arg(r).arg(row.height());
            if (row.isValid() && QFontMetrics(font).horizontalAdvance(c->itemText(r)) > row.width() - 8)
                seen << scene + QStringLiteral(": row \"%1\" cut").arg(c->itemText(r));
        }
        if (QFontInfo(font).pixelSize() < ScreenCheck::kControlPixels)
            seen << scene + QStringLiteral(": rows drawn at %1 px").arg(QFontInfo(font).pixelSize());
        c->hidePopup();
        settle();
    }

    // Every slot of the names dialog shows the name its lamp carries.
    void checkNamesShown(CustomIONameWidget* names, const QString& scene)
    {
        const int inputs[] = {1, 3, 4, 5, 6, 7, 8, 9};
        for (int k = 0; k < CustomIONameWidget::kSlots; ++k) {
            const QString lamp = IOStatusWidget::lampName(true, inputs[k] - 1);
            if (names->inputName[k]->currentText() != lamp)
                seen << scene + QStringLiteral(": input %1 shows \"%2\", the panel \"%3\"")
                                    .arg(inputs[k]).arg(names->inputName[k]->currentText(), lamp);
        }
    }

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
        return cyclerig::cameraCommand(QStringLiteral("vmm-screens-%1").arg(QCoreApplication::applicationPid()), line);
    }

    // Answers YES to the choice box that a step opens modally, after looking
    // at it as the operator meets it.
    void answerNextBox(const QString& scene)
    {
        QTimer::singleShot(50, this, [this, scene] {
            auto* choose = qobject_cast<ChooseBox*>(QApplication::activeModalWidget());
            if (!choose) {
                seen << scene + QStringLiteral(": no choice box opened");
                if (QApplication::activeModalWidget())
                    QMetaObject::invokeMethod(QApplication::activeModalWidget(), "reject", Qt::QueuedConnection);
                return;
            }
            seen << look(choose, scene);
            if (choose->yesButton->text() != lanStr(122) || choose->noButton->text() != lanStr(123))
                seen << scene + QStringLiteral(": captions not in the language");
            QTest::mouseClick(choose->yesButton, Qt::LeftButton);
        });
    }

    // A finger at `at` (screen coordinates), put down `afterMs` after the
    // last one was lifted and lifted 60 ms later, on the window shown there
    // as the touch screen delivers it, with the times the taps were made:
    // an open drop-down takes every tap, a modal box holds back the windows
    // under it.
    void tapAt(const QPoint& at, int afterMs = kApartMs)
    {
        // After one of QTest's own taps, the next comes later still.
        const ulong press = (QTest::lastMouseTimestamp == touchSet ? lastLifted : ulong(QTest::lastMouseTimestamp)) + afterMs;
        lastLifted = press + 60;
        tapThroughWindow(win, at, press, lastLifted);
        touchSet = QTest::lastMouseTimestamp = int(lastLifted) + kApartMs;
    }

    static QPoint centreOf(const QWidget* w) { return w->mapToGlobal(w->rect().center()); }

    // The warning that an NG would not be kept across a restart may stand
    // for hours: whole, beside every view (their header lines: state,
    // counters, frame rate), the panel, the button bar and the page.
    void lookAtLatchWarning(const QString& scene)
    {
        win->runTimer->stop();   // the cycle would find the latch file writable again
        win->cycleStatus().ngLatchUnkept = true;
        win->ShowLatchWarning();
        QVERIFY(win->latchWarning->isVisible());
        const QRect at(win->latchWarning->mapTo(win, QPoint()), win->latchWarning->size());
        for (QWidget* w : std::initializer_list<QWidget*>{view(0), view(1), win->ioStatusWidget, win->indexButton,
                                                           win->drawROIWidget, win->settingsCorner})
            QVERIFY2(!w->isVisible() || !at.intersects(QRect(w->mapTo(win, QPoint()), w->size())),
                     qPrintable(scene + ": " + w->metaObject()->className()));
        expectClean(win, scene);
        win->cycleStatus().ngLatchUnkept = false;
        win->ShowLatchWarning();
        win->runTimer->start(5);
    }

    // A word of Chinese or Japanese that `lines` break inside; empty when none.
    QString brokenWordIn(const QString& lines) const
    {
        static const QStringList words[] = {{"容量"}, {}, {"容量"}, {"収まりません", "金型"}};
        for (const QString& w : words[lan])
            for (int k = 1; k < w.size(); ++k)
                if (lines.contains(w.left(k) + QLatin1Char('\n') + w.mid(k)))
                    return w;
        return QString();
    }

    // Notes a box opened meanwhile and answers no.
    void refuseNextBox(QStringList* asked)
    {
        QTimer::singleShot(50, this, [asked] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                *asked << d->metaObject()->className();
                d->reject();
            }
        });
    }

private slots:
    void init() { seen.clear(); }

    void initTestCase()
    {
        lan = qBound(0, qEnvironmentVariableIntValue("VMM_SCREEN_LANGUAGE"), 3);
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
        tapguard::setClock([this] { return readMs; });

        wd = new TestWorkDir;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        cyclerig::copyDatabases(build, "libcamera_replay.so");
        QDir().mkpath("images");
        for (const QFileInfo& f : QDir(build + "/resources/images").entryInfoList(QDir::Files))
            QFile::copy(f.absoluteFilePath(), "images/" + f.fileName());
        gAppDirPath = wd->path();
        installFontSubstitutions();
        loadSkinPictures();
        // The language and no operator password, stored as the settings would.
        cyclerig::editWords("PARAM.db", [this](int* w) {
            gLan = lan;
            w[98] = 0;
        });
        if (QTest::currentTestFailed())
            return;

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
        QCOMPARE(EditSession::get().currentCamera(), numCamera);   // both cameras tiled
        expectClean(win, "main");
        IOStatusWidget* io = win->ioStatusWidget;
        QVERIFY(io->height() >= 120);
        // Lamp names stay in their own cells; state and counters share a line.
        for (int row = 0; row < 2; ++row)
            for (int i = 0; i < 10; ++i) {
                const QString name = IOStatusWidget::lampName(row == 0, i);
                const QRect cell = io->lampCell(row, i);
                const QRect room = io->lampTextRect(row, i);
                const QRect need = io->lampTextNeeds(name, io->rowFont(row == 0));
                QVERIFY2(cell.contains(room) && need.width() <= room.width() && need.height() <= room.height(),
                         qPrintable(name));
                QVERIFY2(io->rowFont(row == 0).pixelSize() >= 16, qPrintable(name));
                // No line breaks inside a word: each word (a kana run is one)
                // fits the room on its own line.
                const QFontMetrics fm(io->rowFont(row == 0));
                for (const QString& word : unbreakableWords(name))
                    QVERIFY2(fm.horizontalAdvance(word) <= room.width(), qPrintable(name + ": " + word));
            }
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(26);
        const QFontMetrics fm(f);
        QVERIFY(fm.horizontalAdvance(io->stateLine()) + fm.horizontalAdvance(io->countLine()) + 40 < io->width());
        QVERIFY(io->countLine().contains(QString::number(counted().syncNgCycle)));
        lookAtLatchWarning("main_latch_warning");
    }

    void roiPageInEverySource()
    {
        QTest::mouseClick(win->indexButton->roiButton(), Qt::LeftButton);
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        DrawROIWidget* page = win->drawROIWidget;
        QVERIFY(!page->geometry().intersects(win->ioStatusWidget->geometry()));
        for (int c = 0; c < numCamera; ++c)
            QVERIFY2(!page->geometry().intersects(view(c)->geometry()) || EditSession::get().currentCamera() != numCamera,
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
        QCOMPARE(EditSession::get().currentCamera(), 0);
        CammerWidget* v = view(0);
        CammerSingleton& rec = *v->editRecord;
        const int step = EditSession::get().currentDetect();
        const int i = rec.roiCount[step]++;
        rec.SetDefaultRoi(step, i, v->scale().fullX, v->scale().fullY);
        // On the part, where a short shot shows (picture 640 x 512, part in the middle).
        rec.rect[step][i].rect = QRect(QPoint(510, 316), QPoint(1410, 759));
        const int slot = step * CammerSingleton::kRois + i;
        rec.kind[slot] = 1;
        auto setMethod = [&](int m) {
            RoiFunctions::startParameters(m, rec.p1[slot], rec.p2[slot], rec.p3[slot]);
            rec.method[slot] = m;
            v->editor()->renew(step, i);
        };
        for (int m = 0; m <= 10; ++m) {
            setMethod(m);
            v->editor()->deselect();
            rec.rect[step][i].SetSelected(true);
            v->editor()->select(i);
            v->ShowHideROIPara();
            expectClean(win, QStringLiteral("panel_method%1").arg(m, 2, 10, QLatin1Char('0')));
        }
        setMethod(0);
        // A tap on a slider's value calls up the digit pad, in the language.
        Slider* s = v->panel()->slider(0);
        QVERIFY(s->isVisible());
        QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(170, s->height() / 2));
        QTRY_VERIFY(gpNumPad && gpNumPad->isVisible());
        QCOMPARE(gpNumPad->hideKey->text(), lanStr(121));
        QCOMPARE(gpNumPad->eraseKey->text(), lanStr(157));
        expectClean(gpNumPad, "pad_digits");
        expectTouch(gpNumPad, "pad_digits");
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
        QCOMPARE(EditSession::get().currentCamera(), numCamera);
        QVERIFY(view(0)->isVisible() && view(1)->isVisible());
        QVERIFY(view(0)->savedRecord->roiCount[EditSession::get().currentDetect()] >= 1);
        expectClean(win, "main_after_page");
    }

    // A short shot after the training cycle: the page opens over the NG, and
    // "do not detect" asks through the choice box and releases the cycle.
    void ngClearedThroughTheBox()
    {
        const int base = counted().allCycle[0];
        const qint64 started = win->mould->lastCycleStartMs();
        gpControlIO->InitIOThread();
        pulseMouldOpen();
        // The training cycle closes, and counts as no OK cycle.
        QTRY_VERIFY_WITH_TIMEOUT(win->mould->lastCycleStartMs() != started && !win->cycle().cycleOpen, 15000);
        QCOMPARE(counted().allCycle[0], base);
        QVERIFY(cameraCommand("* defect shortshot"));
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, 15000);
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        expectClean(win, "ng_page");
        lookAtLatchWarning("ng_page_latch_warning");
        // The NG cycle counts when it closes; until then the panel shows it
        // as open, beside the counted ones.
        const QString ngCycles = QString::number(counted().syncNgCycle);
        QVERIFY2(win->ioStatusWidget->countLine().contains(ngCycles + " " + lanStr(712).arg(1)),
                 qPrintable(win->ioStatusWidget->countLine()));
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(26);
        const QFontMetrics fm(f);
        QVERIFY(fm.horizontalAdvance(win->ioStatusWidget->stateLine()) +
                    fm.horizontalAdvance(win->ioStatusWidget->countLine()) + 40 < win->ioStatusWidget->width());
        const int ngStep = win->cycle().detectStep;
        bool measured = false;
        for (int c = 0; c < numCamera; ++c)
            for (int i = 0; i < kMaxRoi; ++i)
                measured = measured || view(c)->roiValue[ngStep][i] != 0;
        QVERIFY(measured);
        answerNextBox("box_do_not_detect");
        QTest::mouseClick(win->drawROIWidget->noCheckButton, Qt::LeftButton);
        QTRY_VERIFY(!win->drawROIWidget->isVisible());
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!win->cycle().ngPresent);
        // Passed unjudged: green, and no measure of the failed judgement.
        for (int c = 0; c < numCamera; ++c)
            for (int i = 0; i < kMaxRoi; ++i) {
                QVERIFY(view(c)->roiPassed[ngStep][i]);
                QCOMPARE(view(c)->roiValue[ngStep][i], 0);
            }
        QCOMPARE(EditSession::get().currentCamera(), numCamera);
        expectClean(win, "main_after_ng");
        QVERIFY(cameraCommand("* defect none"));
    }

    // An NG while the settings screen is open: the settings keep the whole
    // screen (no tool column over them) and say that an NG waits; the NG
    // page opens whole once they are closed, takes no tap meant for the run
    // screen it came up over, and is cleared as any.
    void ngDuringTheSettingsScreen()
    {
        win->indexButton->checkShowHide();
        const QPoint areaSettings = centreOf(win->indexButton->roiButton());
        QTest::mouseClick(win->settingsButton, Qt::LeftButton);
        QTRY_VERIFY(win->SettingsVisible());
        QVERIFY(!win->ngWaitingMark->isVisible());
        QVERIFY(cameraCommand("* defect shortshot"));
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, 15000);
        settle();
        QVERIFY(win->SettingsVisible());
        QVERIFY(!win->drawROIWidget->isVisible());
        QVERIFY(win->ngWaitingMark->isVisible());
        QCOMPARE(win->ngWaitingMark->text(), lanStr(752));
        expectClean(win, "settings_during_ng");
        const int swallowed = tapguard::swallowed();
        tapAt(centreOf(settingsButton(124)));
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        QVERIFY(!win->SettingsVisible() && !win->ngWaitingMark->isVisible());
        expectClean(win, "ng_page_after_settings");

        // Area Settings tapped 0.3 s after Cancel lands on the page that came
        // up in its place: nothing there is pressed, the NG stays.
        QVERIFY(win->drawROIWidget->isAncestorOf(win->childAt(win->mapFromGlobal(areaSettings))));
        QStringList asked;
        refuseNextBox(&asked);
        tapAt(areaSettings, 300);
        settle();
        QCOMPARE(tapguard::swallowed(), swallowed + 1);
        QVERIFY2(asked.isEmpty(), qPrintable(asked.join(", ")));
        QVERIFY(win->drawROIWidget->isVisible());
        QCOMPARE(win->cycle().detectState, int(DetectState::NgLatched));

        // The same tap 1.5 s after Cancel acts: Re-detected, on a clear
        // mould, closes the page; a second tap at the same place, at once,
        // presses nothing of the screen beneath.
        QVERIFY(cameraCommand("* defect none"));
        for (int c = 0; c < numCamera; ++c) {
            const quint64 frames = view(c)->frameCount();
            QTRY_VERIFY_WITH_TIMEOUT(view(c)->frameCount() > frames + 1, 5000);
        }
        ColorButton* reCheck = win->drawROIWidget->reCheckButton;
        const QPoint at = areaSettings;
        QVERIFY(reCheck->rect().contains(reCheck->mapFromGlobal(at)));
        tapAt(at, 1500 - 300 - 60);
        QTRY_VERIFY_WITH_TIMEOUT(!win->drawROIWidget->isVisible(), 15000);
        QVERIFY(!win->cycle().ngPresent);
        QVERIFY(win->childAt(win->mapFromGlobal(at)));
        const bool barShown = win->indexButton->isVisible();
        tapAt(at, 150);
        QCOMPARE(tapguard::swallowed(), swallowed + 2);
        QCOMPARE(win->indexButton->isVisible(), barShown);
        QVERIFY(!win->drawROIWidget->isVisible() && !win->SettingsVisible());
        QCOMPARE(win->cycle().detectState, int(DetectState::Ok));
        expectClean(win, "main_after_second_tap");
    }

    // With "NG image" ticked every region like its template is NG: the NG
    // page says why, whole and readable beside its buttons.
    void ngImageSaysWhy()
    {
        gpWPara->words[Word::AreaIsMinimum] = 1;
        const auto restore = qScopeGuard([] { gpWPara->words[Word::AreaIsMinimum] = 0; });
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, 15000);
        QTRY_VERIFY(win->drawROIWidget->isVisible());
        QLabel* note = win->drawROIWidget->ngImageNote;
        QVERIFY(note->isVisible());
        QCOMPARE(note->text().remove('\n').remove(' '), lanStr(716).arg(lanStr(457).trimmed()).remove(' '));
        QVERIFY(QFontInfo(note->font()).pixelSize() >= 16);
        QVERIFY(win->drawROIWidget->rect().contains(note->geometry()));
        expectClean(win, "ng_page_ng_image");
        gpWPara->words[Word::AreaIsMinimum] = 0;
        answerNextBox("box_do_not_detect_ng_image");
        QTest::mouseClick(win->drawROIWidget->noCheckButton, Qt::LeftButton);
        QTRY_VERIFY(!win->drawROIWidget->isVisible());
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!note->isVisible());
    }

    // Every shared box and the letter pad as it opens: on the screen (the
    // boxes centred), captioned in the language, nothing cut or covered.
    void sharedBoxesAsTheyOpen()
    {
        using Captions = QVector<QPair<QAbstractButton*, int>>;
        gpWarnBox->setText(lanStr(160));
        gpChooseBox->setText(lanStr(102));
        gpNumCharPad->move(kScreen.width() / 2 - gpNumCharPad->width() / 2, kScreen.height() - 320);
        const QVector<std::tuple<QString, QWidget*, Captions>> boxes{
            {"warn", gpWarnBox, {{gpWarnBox->okButton, 121}}},
            {"choose", gpChooseBox, {{gpChooseBox->yesButton, 122}, {gpChooseBox->noButton, 123}}},
            {"password", gpPasswordBox, {{gpPasswordBox->okButton, 121}, {gpPasswordBox->cancelButton, 124}}},
            {"production", gpProductAlarmWarnBox, {{gpProductAlarmWarnBox->okButton, 121}}},
            {"lostcamera", gpLostCameraWarnBox, {{gpLostCameraWarnBox->okButton, 209}}},
            {"letters", gpNumCharPad, {{gpNumCharPad->keys[39], 157}, {gpNumCharPad->keys[40], 121}}},
        };
        for (const auto& [name, box, captions] : boxes) {
            box->show();
            settle();
            for (const auto& c : captions)
                QCOMPARE(c.first->text(), lanStr(c.second));
            QVERIFY2(kScreen.contains(box->geometry()), qPrintable(name));
            if (qobject_cast<QDialog*>(box))
                QCOMPARE(box->geometry().center(), kScreen.center());
            expectClean(box, "box_" + name);
            expectTouch(box, "box_" + name);
            box->hide();
        }
    }

    // The message of every box lies whole inside its frame, above its
    // buttons: the shortest and longest texts the program shows in them,
    // the update question with two long versions and the blocked update with
    // a long path among them.
    void boxTextsInsideTheirFrames()
    {
        const QString longVersion = QStringLiteral("4294967295.4294967295.4294967295.4294967295");
        const QString update = lanStr(323) + QStringLiteral("\r\n") + lanStr(693).arg(longVersion, longVersion + "9");
        struct Case {
            QString scene;
            QDialog* box;
            QString text;
            QWidget* buttons;
        };
        const QVector<Case> cases{
            {"box_update", gpChooseBox, update, gpChooseBox->yesButton},
            {"box_choose_short", gpChooseBox, lanStr(102), gpChooseBox->yesButton},
            {"box_choose_usb", gpChooseBox, lanStr(320), gpChooseBox->yesButton},
            {"box_warn_long", gpWarnBox, update + QStringLiteral("\r\n") + lanStr(657), gpWarnBox->okButton},
            {"box_warn_short", gpWarnBox, lanStr(278), gpWarnBox->okButton},
            {"box_production", gpProductAlarmWarnBox, gpProductAlarmWarnBox->text, gpProductAlarmWarnBox->okButton},
            {"box_lostcamera", gpLostCameraWarnBox, lanStr(657), gpLostCameraWarnBox->okButton},
            {"box_update_too_large", gpWarnBox, lanStr(714), gpWarnBox->okButton},
            {"box_update_blocked", gpWarnBox, lanStr(718).arg(QStringLiteral("/home/operator/vmm-monitor/work-update/swap.journal")),
             gpWarnBox->okButton},
        };
        for (const Case& c : cases) {
            if (auto* w = qobject_cast<WarnBox*>(c.box))
                w->setText(c.text);
            else if (auto* q = qobject_cast<ChooseBox*>(c.box))
                q->setText(c.text);
            c.box->show();
            settle();
            const MessageArea m = qobject_cast<WarnBox*>(c.box) ? static_cast<WarnBox*>(c.box)->message()
                                                                : static_cast<ChooseBox*>(c.box)->message();
            const QRect inside = c.box->rect().adjusted(6, 6, -6, -6);   // within the 5 px frame
            const QRect text = m.needs();
            QVERIFY2(inside.contains(text) && text.bottom() < c.buttons->y(),
                     qPrintable(QStringLiteral("%1: text at (%2,%3 %4x%5), frame %6x%7, buttons at %8")
                                    .arg(c.scene).arg(text.x()).arg(text.y()).arg(text.width()).arg(text.height())
                                    .arg(c.box->width()).arg(c.box->height()).arg(c.buttons->y())));
            QVERIFY2(m.pixels >= 24, qPrintable(c.scene));
            QVERIFY2(brokenWordIn(m.lines).isEmpty(), qPrintable(c.scene + ": " + m.lines));
            QVERIFY2(kScreen.contains(c.box->geometry()), qPrintable(c.scene));
            expectClean(c.box, c.scene);
            c.box->hide();
        }
    }

    // The settings screen page by page, as the technician opens it from the
    // run screen: laid out as every screen, and at touch size (controls 48 px
    // high, 16 px text, drop-down rows 48 px, check boxes that toggle from
    // their caption, the pad of a tapped field fully visible).
    void settingsScreens()
    {
        QTest::mouseClick(win->settingsButton, Qt::LeftButton);
        QTRY_VERIFY(win->SettingsVisible());
        WizardParaWidget* s = win->wizardParaWidget;
        for (int p = 0; p < s->tabs.size(); ++p) {
            for (int tap = 0; tap < 2; ++tap)
                QTest::mouseClick(s->tabs[p], Qt::LeftButton);
            QCOMPARE(s->pages->currentIndex(), p);
            // The open page's tab, and only it, is marked (a second tap too);
            // no two controls of a page carry one label.
            for (int q = 0; q < s->tabs.size(); ++q)
                QCOMPARE(s->tabs[q]->isChecked(), q == p);
            QStringList labels;
            for (QLabel* l : s->pages->widget(p)->findChildren<QLabel*>())
                if (l->isVisible() && !l->text().isEmpty())
                    labels << l->text();
            QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), labels.size());
            const QString scene = QStringLiteral("settings_page%1").arg(p);
            expectClean(win, scene);
            expectTouch(s, scene);
            QWidget* page = s->pages->currentWidget();
            // A tap on a check box's caption toggles it; a second tap restores it.
            for (CheckBox* c : page->findChildren<CheckBox*>()) {
                const QString lines = wrapAtWords(c->text(), QFontMetrics(c->captionFont()), c->captionRect().width());
                QVERIFY2(brokenWordIn(lines).isEmpty(), qPrintable(scene + ": " + lines));
                const bool was = c->isChecked();
                const QPoint caption = c->captionRect().center();
                QTest::mouseClick(c, Qt::LeftButton, {}, caption);
                QVERIFY2(c->isChecked() != was, qPrintable(c->text()));
                QTest::mouseClick(c, Qt::LeftButton, {}, caption);
                QCOMPARE(c->isChecked(), was);
            }
            // The digit pad of the lowest number field lies on the screen, not
            // under anything.
            Edit* lowest = nullptr;
            for (Edit* e : page->findChildren<Edit*>())
                if (e->isVisible() && (!lowest || e->mapTo(win, QPoint()).y() > lowest->mapTo(win, QPoint()).y()))
                    lowest = e;
            if (lowest) {
                QTest::mouseClick(lowest, Qt::LeftButton);
                QWidget* pad = (lowest->flags & Edit::LetterPad) ? static_cast<QWidget*>(gpNumCharPad)
                                                                 : static_cast<QWidget*>(gpNumPad);
                QTRY_VERIFY(pad && pad->isVisible());
                seen << prefixed(scene + "_pad", ScreenCheck::padFaults(pad, kScreen));
                win->grab().save(shotName(scene + "_pad"));
                hidePads();
            }
            // One drop-down opened by a tap: rows at full height, text whole.
            if (ComboBox* c = page->findChild<ComboBox*>())
                lookAtDropDown(c, scene + "_dropdown");
        }
        // Words nothing acts on show no control; the USB copy words and the
        // password setting do.
        QStringList labels;
        for (const QLabel* l : s->pages->findChildren<QLabel*>())
            labels << l->text();
        // A check box carries its own caption.
        for (const CheckBox* c : s->pages->findChildren<CheckBox*>())
            labels << c->text();
        for (int row : {178, 400, 167, 168, 169, 667, 336, 524, 193, 513, 666, 677, 554, 558, 630, 662, 337, 272,
                        254, 623, 166})
            QVERIFY2(!labels.contains(lanStr(row).trimmed()), qPrintable(lanStr(row)));
        for (int row : {704, 705, 125, 706})
            QVERIFY2(labels.contains(lanStr(row).trimmed()), qPrintable(lanStr(row)));
        QCOMPARE(s->passwordButton->text(), lanStr(225).trimmed());
        lookAtDropDown(s->languageBox, "settings_language_dropdown");
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
    }

    // The first tap on a field after any box brings the field's pad: the
    // password setting's two warnings (empty entries, entries that differ),
    // a question answered no, the password box cancelled. The window the
    // box closed over is active again only later (here: never), so the tap
    // comes before its focus does.
    void padAtTheFirstTapAfterEveryBox()
    {
        WizardParaWidget* s = win->wizardParaWidget;
        QVERIFY(s->isVisible());
        int page = -1;
        for (int p = 0; p < s->tabs.size() && page < 0; ++p)
            if (s->pages->widget(p)->isAncestorOf(s->passwordEdit))
                page = p;
        QVERIFY(page >= 0);
        QTest::mouseClick(s->tabs[page], Qt::LeftButton);
        auto tapAndExpectPad = [&](Edit* field, const QString& after) {
            hidePads();
            QTest::mouseClick(field, Qt::LeftButton);
            QVERIFY2(gpNumPad->isVisible() && Edit::currentEdit() == field,
                     qPrintable("no pad at the first tap after " + after));
            seen << prefixed("pad_after_" + after, ScreenCheck::padFaults(gpNumPad, kScreen));
            for (ColorButton* key : gpNumPad->keys)
                if (key->text() == QLatin1String("7"))
                    QTest::mouseClick(key, Qt::LeftButton);
            QCOMPARE(field->text(), QStringLiteral("7"));
            hidePads();
        };
        auto confirmWarning = [this](const QString& scene, int row) {
            onNextDialog(scene, [this, scene, row](QDialog* d) {
                if (d != gpWarnBox || gpWarnBox->text != lanStr(row))
                    seen << scene + ": not the warning expected";
                QTest::mouseClick(gpWarnBox->okButton, Qt::LeftButton);
            });
        };
        s->passwordEdit->clear();
        s->passwordAgain->clear();
        confirmWarning("box_password_empty", 278);
        QTest::mouseClick(s->passwordButton, Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        tapAndExpectPad(s->passwordEdit, "warn_empty");

        s->passwordEdit->setText(QStringLiteral("12"));
        s->passwordAgain->setText(QStringLiteral("34"));
        confirmWarning("box_password_differ", 280);
        QTest::mouseClick(s->passwordButton, Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        tapAndExpectPad(s->passwordAgain, "warn_differ");

        onNextDialog("box_reset_count_no", [](QDialog* d) {
            if (auto* c = qobject_cast<ChooseBox*>(d))
                QTest::mouseClick(c->noButton, Qt::LeftButton);
        });
        QTest::mouseClick(settingsButton(172), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        tapAndExpectPad(s->passwordEdit, "choose");

        onNextDialog("box_password_cancelled", [](QDialog* d) {
            if (d == gpPasswordBox)
                QTest::mouseClick(gpPasswordBox->cancelButton, Qt::LeftButton);
        });
        gpPasswordBox->exec();
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        tapAndExpectPad(s->passwordAgain, "password_box");
        s->passwordEdit->clear();
        s->passwordAgain->clear();
    }

    // Right after a box closes by a tap on its button, a tap on a field that
    // lay under the box, away from that button, brings the field's pad at
    // once; a box the program closes (a wait box whose job ended) holds
    // back no tap, not even one where the last tap fell.
    void tapAwayFromAClosedBoxActsAtOnce()
    {
        WizardParaWidget* s = win->wizardParaWidget;
        QVERIFY(s->isVisible());
        hidePads();
        gpWarnBox->setText(lanStr(278));
        gpWarnBox->show();
        settle();
        const QRect boxAt = gpWarnBox->geometry();
        const QPoint ok = gpWarnBox->okButton->mapToGlobal(gpWarnBox->okButton->rect().center());
        gpWarnBox->hide();
        // A field of the settings under the box's place, well off its button.
        Edit* field = nullptr;
        for (int p = 0; p < s->tabs.size() && !field; ++p) {
            QTest::mouseClick(s->tabs[p], Qt::LeftButton);
            for (Edit* e : s->pages->currentWidget()->findChildren<Edit*>()) {
                const QPoint c = e->mapToGlobal(e->rect().center());
                if (e->isVisible() && boxAt.contains(c) && QLineF(c, ok).length() > 2 * tapguard::kRadiusPx) {
                    field = e;
                    break;
                }
            }
        }
        QVERIFY2(field, "no settings field under the warning's place");
        const QPoint fieldAt = field->mapToGlobal(field->rect().center());
        const int swallowed = tapguard::swallowed();

        onNextDialog("box_warn_before_field", [this, ok](QDialog* d) {
            if (d != gpWarnBox)
                seen << "box_warn_before_field: not the warning";
            tapAt(ok);
        });
        gpWarnBox->exec();
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        tapAt(fieldAt, 100);
        QVERIFY2(gpNumPad->isVisible() || (gpNumCharPad && gpNumCharPad->isVisible()), "no pad at once");
        QCOMPARE(Edit::currentEdit(), field);
        QCOMPARE(tapguard::swallowed(), swallowed);
        hidePads();

        // The last tap on the field, then a wait box the program shows and
        // ends: the next tap on the field, 0.1 s later (Qt makes it a double
        // click), is taken.
        tapAt(fieldAt);
        hidePads();
        CComp_DiaWait wait([] { QThread::msleep(100); }, win);
        QCOMPARE(wait.exec(), int(QDialog::Accepted));
        tapAt(fieldAt, 100);
        QVERIFY2(gpNumPad->isVisible() || (gpNumCharPad && gpNumCharPad->isVisible()), "no pad after a wait box");
        QCOMPARE(tapguard::swallowed(), swallowed);
        hidePads();
    }

    // The dialogs of the settings screen, each opened by its button.
    void settingsDialogs()
    {
        WizardParaWidget* s = win->wizardParaWidget;
        QVERIFY(s->isVisible());
        const QVector<QPair<int, QString>> dialogs{
            {499, "settings_io"}, {498, "settings_ionames"}, {396, "settings_cameraorder"}};
        for (const auto& d : dialogs) {
            const QString scene = d.second;
            onNextModal([this, scene](QWidget* dialog) {
                seen << look(dialog, scene);
                seen << prefixed(scene, ScreenCheck::touchFaults(dialog));
                if (auto* c = dialog->findChild<ComboBox*>())
                    lookAtDropDown(c, scene + "_dropdown");
                if (auto* names = qobject_cast<CustomIONameWidget*>(dialog)) {
                    checkNamesShown(names, scene);
                    // The standard mode chooses no names: the dialog says so
                    // and offers no Confirm that would do nothing.
                    if (!names->reason || !names->reason->isVisible()
                        || !names->reason->text().remove(QLatin1Char('\n')).contains(lanStr(472).trimmed()) || names->okButton->isVisible()
                        || names->inputName[0]->isEnabled())
                        seen << scene + ": the standard mode's names dialog does not say why nothing can be chosen";
                }
                QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            });
            QTest::mouseClick(settingsButton(d.first), Qt::LeftButton);
            QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        }
    }

    // The I/O assignment framed and centred; camera order, Reset Count, a
    // group backup and a saved change each end with a word to the operator.
    void settingsNotices()
    {
        WizardParaWidget* s = win->wizardParaWidget;
        QVERIFY(s->isVisible());
        QTest::mouseClick(s->tabs[0], Qt::LeftButton);

        // The I/O assignment: centred, framed and painted over the settings.
        onNextDialog("settings_io", [this](QDialog* d) {
            if (!qobject_cast<IOWidget*>(d))
                seen << QStringLiteral("settings_io: not the I/O assignment");
            if ((d->geometry().center() - kScreen.center()).manhattanLength() > 2)
                seen << QStringLiteral("settings_io: not centred (%1,%2 %3x%4)")
                            .arg(d->x()).arg(d->y()).arg(d->width()).arg(d->height());
            const QImage img = d->grab().toImage();
            if (img.pixel(1, 1) != IOWidget::kFrame || img.pixel(IOWidget::kFrameWidth + 2, img.height() / 2) != IOWidget::kBackground)
                seen << QStringLiteral("settings_io: no frame or background");
            tapIn(d, 124, "settings_io");
        });
        QTest::mouseClick(settingsButton(499), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        onNextDialog("settings_ionames", [this](QDialog* d) { tapIn(d, 124, "settings_ionames"); });
        QTest::mouseClick(settingsButton(498), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));

        // Camera order confirmed: the operator is told it was saved.
        onNextDialog("settings_cameraorder", [this](QDialog* d) { tapIn(d, 121, "settings_cameraorder"); });
        QTest::mouseClick(settingsButton(396), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        expectNotice(lanStr(709), "settings_cameraorder_saved");

        // Reset Count.
        CounterValues someNg;
        someNg.syncNgCycle = 2;
        ProductionCounters::get().restore(someNg);
        answerNextBox("box_reset_count");
        QTest::mouseClick(settingsButton(172), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QCOMPARE(counted().syncNgCycle, 0);
        expectNotice(lanStr(255), "settings_count_reset");

        // A parameter group backed up.
        QTest::mouseClick(s->tabs[5], Qt::LeftButton);
        s->groupName->setText(QStringLiteral("screens"));
        answerNextBox("box_group_backup");
        QTest::mouseClick(settingsButton(182), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!s->groupList->findItems(QStringLiteral("screens"), Qt::MatchExactly).isEmpty());
        expectNotice(lanStr(711).arg(QStringLiteral("screens")), "settings_group_saved");

        // A changed value confirmed: saved, the screen closes and says so.
        QTest::mouseClick(s->tabs[1], Qt::LeftButton);
        QVERIFY(s->setWord(104, gpWParaBak->words[104] > 0 ? gpWParaBak->words[104] - 1 : 1));
        answerNextBox("box_save_settings");
        QTest::mouseClick(settingsButton(121), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!win->SettingsVisible());
        expectNotice(lanStr(708), "settings_saved");
    }

    // In the multiple-detection mode the I/O names dialog shows the names the
    // panel shows; a name chosen by touch and confirmed reaches the panel.
    void ioNameChangedAndSeenOnThePanel()
    {
        WizardParaWidget* s = win->wizardParaWidget;
        if (win->SettingsVisible())
            s->cancel();
        QVERIFY(!win->SettingsVisible());
        const QString before = IOStatusWidget::lampName(true, 0);
        QCOMPARE(before, lanStr(301));   // the standard mode's own name
        gpWPara->words[Word::Mode] = gpWPara->words[Word::ModeChosen] = 3;
        gpWPara->FillNames();
        QTest::mouseClick(win->settingsButton, Qt::LeftButton);
        QTRY_VERIFY(win->SettingsVisible());
        const int lan = qBound(0, gLan, 3);
        const QString chosen = QString::fromUtf8(gInName[5][lan]);
        QVERIFY(IOStatusWidget::lampName(true, 0) != chosen);
        onNextModal([this, chosen](QWidget* dialog) {
            auto* names = qobject_cast<CustomIONameWidget*>(dialog);
            if (!names) {
                seen << "ionames: no names dialog opened";
                QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
                return;
            }
            checkNamesShown(names, "settings_ionames_mode3");
            seen << look(names, "settings_ionames_mode3");
            seen << prefixed("settings_ionames_mode3", ScreenCheck::touchFaults(names));
            ComboBox* first = names->inputName[0];
            tapAt(centreOf(first));
            if (!first->view()->isVisible()) {
                seen << "ionames: the drop-down did not open";
            } else {
                // The finger comes down on the row, away from where it opened
                // the list: the row is taken at once.
                const QRect row = first->view()->visualRect(first->model()->index(5, 0));
                tapAt(first->view()->viewport()->mapToGlobal(row.center()));
            }
            if (first->currentText() != chosen)
                seen << "ionames: the tapped row was not taken: " + first->currentText();
            tapAt(centreOf(names->okButton));
        });
        QTest::mouseClick(settingsButton(498), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        {
            ScriptedDialogs confirmed;
            confirmed.onChoose = [](const QString&) { return true; };
            QTest::mouseClick(settingsButton(121), Qt::LeftButton);
        }
        QTRY_VERIFY(!win->SettingsVisible());
        QCOMPARE(gpWPara->words[251], 5);
        QCOMPARE(IOStatusWidget::lampName(true, 0), chosen);
        expectClean(win, "main_ionames");
        win->ioStatusWidget->grab().save(shotName("iopanel_ionames"));

        QDir().mkpath("images/help");
        for (const QFileInfo& f : QDir(QStringLiteral(VMM_BUILD_DIR "/resources/images/help")).entryInfoList(QDir::Files))
            QFile::copy(f.absoluteFilePath(), "images/help/" + f.fileName());
        QTest::mouseClick(win->helpButton, Qt::LeftButton);
        QTRY_VERIFY(win->helpWidget->isVisible());
        QVERIFY(win->helpWidget->pictureShown());
        expectClean(win, "help");
        QTest::mouseClick(win->helpWidget->close, Qt::LeftButton);
        QVERIFY(!win->helpWidget->isVisible());
    }

    // A double tap on what closes a page or a box: the second tap, made
    // 200 ms after the first but read only after the program was held busy
    // for 0.6 s, reaches nothing the surface uncovers (Stop Detection, Area
    // Settings, Resample, a camera tile); a tap made 600 ms after the first
    // does. Detection runs on and no template is touched.
    void doubleTapOnAClosingSurfaceTakesNothingBeneath()
    {
        auto templates = [] {
            QStringList files;
            for (const QFileInfo& d : QDir(".").entryInfoList({"cammer*"}, QDir::Dirs))
                for (const QFileInfo& f : QDir(d.filePath()).entryInfoList({"template*"}, QDir::Files, QDir::Name))
                    files << f.filePath() + QString::number(f.lastModified().toMSecsSinceEpoch());
            return files;
        };
        auto state = [this] {
            return QStringList{QString::number(win->drawROIWidget->isVisible()), QString::number(win->SettingsVisible()),
                               QString::number(win->helpWidget->isVisible()),
                               QString::number(EditSession::get().currentCamera()), QString::number(win->cycle().runState),
                               QString::number(qHashBits(gpWParaBak->words, sizeof gpWParaBak->words))};
        };
        const QStringList kept = templates();
        auto settings = [this] {
            QTest::mouseClick(win->settingsButton, Qt::LeftButton);
            QTRY_VERIFY(win->SettingsVisible());
        };
        const struct {
            const char* name;
            std::function<void()> open, ask;   // ask: opens the modal dialog the taps close
            std::function<QWidget*()> closer;
        } cases[] = {
            {"settings_cancel", settings, nullptr, [this] { return settingsButton(124); }},
            {"settings_confirm_unchanged", settings, nullptr, [this] { return settingsButton(121); }},
            {"help_cancel", [this] { QTest::mouseClick(win->helpButton, Qt::LeftButton); }, nullptr,
             [this] { return win->helpWidget->close; }},
            {"box_no", nullptr, [this] { QTest::mouseClick(win->indexButton->startStopButton(), Qt::LeftButton); },
             [] { return gpChooseBox->noButton; }},
        };
        for (const auto& c : cases) {
            win->indexButton->checkShowHide();
            QStringList before = state();
            if (c.open)
                c.open();
            if (c.ask)
                before = state();
            QPoint at;
            QStringList asked;
            const int swallowed = tapguard::swallowed();
            auto firstTap = [&] {
                QWidget* b = c.closer();
                at = b->mapToGlobal(b->rect().center());
                tapAt(at);
            };
            if (c.ask) {
                // Tapped once the box is up.
                QTimer poll;
                connect(&poll, &QTimer::timeout, this, [&] {
                    if (QApplication::activeModalWidget()) {
                        poll.stop();
                        firstTap();
                    }
                });
                poll.start(20);
                c.ask();
                QTRY_VERIFY(!at.isNull() && !QApplication::activeModalWidget());
            } else {
                firstTap();
            }
            refuseNextBox(&asked);
            holdProgram(600);
            tapAt(at, 200);   // the surface is gone
            settle();
            QVERIFY2(asked.isEmpty() && state() == before, qPrintable(c.name + (": " + asked.join(", "))));
            QCOMPARE(tapguard::swallowed(), swallowed + 1);

            refuseNextBox(&asked);
            tapAt(at, 340);
            settle();
            QCOMPARE(tapguard::swallowed(), swallowed + 1);
            QVERIFY2(!asked.isEmpty() || state() != before, c.name);
            if (win->drawROIWidget->isVisible()) {
                refuseNextBox(&asked);
                QTest::mouseClick(win->drawROIWidget->returnButton, Qt::LeftButton);
                QTRY_VERIFY(!win->drawROIWidget->isVisible());
            }
            if (win->SettingsVisible())
                win->wizardParaWidget->cancel();
            win->helpWidget->hide();
            EditSession::get().setCurrentCamera(numCamera);
            win->ChangeCammer();
            QVERIFY(win->cycle().runState != RunState::Stopped);
        }
        QCOMPARE(templates(), kept);
        expectClean(win, "main_after_double_taps");
    }

    // A double tap on what closes over the settings: a drop-down's row
    // lying over a check box (the detection mode's "Two-color"), the
    // digit pad's Confirm (OK-Rec's pad, over Password Settings) and the
    // letter pad's. The first tap acts; the second, made 150 ms later and
    // read after the program was held busy for 0.6 s, changes no setting
    // and presses nothing beneath.
    void doubleTapOnADropDownRowOrAPadConfirmTakesNothingBeneath()
    {
        if (!win->SettingsVisible()) {
            tapAt(centreOf(win->settingsButton));
            QTRY_VERIFY(win->SettingsVisible());
        }
        WizardParaWidget* s = win->wizardParaWidget;
        const auto discard = qScopeGuard([s] { s->cancel(); });
        auto pageOf = [this, s](QWidget* w) {
            for (int p = 0; p < s->tabs.size(); ++p)
                if (s->pages->widget(p)->isAncestorOf(w))
                    tapAt(centreOf(s->tabs[p]));
            return w->isVisible();
        };
        // The detection mode's drop-down, opened from "Standard": its
        // "Two-color" row lies over a check box.
        ComboBox* combo = nullptr;
        for (ComboBox* c : s->pages->findChildren<ComboBox*>())
            if (c->findText(lanStr(385).trimmed()) >= 0)
                combo = c;
        QVERIFY(combo);
        const int row = combo->findText(lanStr(385).trimmed());
        auto padOf = [&](Edit* field, QWidget* pad) -> QPoint {
            if (!field || !pageOf(field))
                return QPoint();
            tapAt(centreOf(field));
            return pad->isVisible() ? centreOf(pad == gpNumPad ? gpNumPad->hideKey : gpNumCharPad->keys[40]) : QPoint();
        };
        const struct {
            const char* name;
            std::function<QPoint()> open;   // the place of the tap that closes
            std::function<bool()> acted;    // what the first tap did
            const char* beneath;            // the kind of control it lay over
        } cases[] = {
            {"dropdown_row",
             [&] {
                 if (!pageOf(combo))
                     return QPoint();
                 combo->setCurrentIndex(0);
                 tapAt(centreOf(combo));
                 QAbstractItemView* list = combo->view();
                 return list->isVisible() ? list->viewport()->mapToGlobal(list->visualRect(combo->model()->index(row, 0)).center())
                                          : QPoint();
             },
             [&] { return !combo->view()->isVisible() && combo->currentIndex() == row; }, "QCheckBox"},
            {"digit_pad_confirm", [&] { return padOf(s->wordField(Word::OkPicturesKept), gpNumPad); },
             [] { return !gpNumPad->isVisible(); }, "QAbstractButton"},
            {"letter_pad_confirm", [&] { return padOf(s->groupName, gpNumCharPad); },
             [] { return !gpNumCharPad->isVisible(); }, "QWidget"},
        };
        for (const auto& c : cases) {
            const QPoint at = c.open();
            QVERIFY2(!at.isNull(), c.name);
            tapAt(at);
            QVERIFY2(c.acted(), c.name);
            // What the surface lay over, as it stands after the first tap.
            QWidget* beneath = win->childAt(win->mapFromGlobal(at));
            QVERIFY2(beneath && beneath->inherits(c.beneath), c.name);
            auto* button = qobject_cast<QAbstractButton*>(beneath);
            const bool checked = button && button->isChecked();
            int pressed = 0;
            QMetaObject::Connection counting;
            if (button)
                counting = connect(button, &QAbstractButton::pressed, this, [&pressed] { ++pressed; });
            const uint words = qHashBits(gpWParaBak->words, sizeof gpWParaBak->words);
            const int swallowed = tapguard::swallowed();
            QStringList asked;
            refuseNextBox(&asked);
            holdProgram(600);
            tapAt(at, 150);
            settle();
            disconnect(counting);
            QVERIFY2(tapguard::swallowed() == swallowed + 1, c.name);
            QVERIFY2(asked.isEmpty() && pressed == 0, qPrintable(c.name + (": " + asked.join(", "))));
            QVERIFY2(!button || button->isChecked() == checked, c.name);
            QVERIFY2(qHashBits(gpWParaBak->words, sizeof gpWParaBak->words) == words, c.name);
        }
    }

    // Deliberate fast work: detection stopped, a check box of the settings
    // changed, Confirm, its question answered no, and Start Detection, far
    // from the tap that closed them, made 0.3 s later while the program was
    // held busy for 0.6 s: it starts.
    void deliberateTapAfterConfirmActs()
    {
        if (win->SettingsVisible())
            win->wizardParaWidget->cancel();
        win->indexButton->checkShowHide();
        QPushButton* startStop = win->indexButton->startStopButton();
        const QPoint startAt = startStop->mapToGlobal(startStop->rect().center());
        QVERIFY(win->cycle().runState != RunState::Stopped);
        answerNextBox("box_stop_detection");
        tapAt(startAt);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QCOMPARE(win->cycle().runState, int(RunState::Stopped));

        tapAt(win->settingsButton->mapToGlobal(win->settingsButton->rect().center()));
        QTRY_VERIFY(win->SettingsVisible());
        WizardParaWidget* s = win->wizardParaWidget;
        tapAt(s->tabs[0]->mapToGlobal(s->tabs[0]->rect().center()));
        CheckBox* box = s->pages->currentWidget()->findChild<CheckBox*>();
        QVERIFY(box);
        const bool was = box->isChecked();
        tapAt(box->mapToGlobal(box->captionRect().center()));
        QVERIFY(box->isChecked() != was);
        const int swallowed = tapguard::swallowed();
        QPoint noAt;
        onNextDialog("box_save_settings_no", [this, &noAt](QDialog* d) {
            if (d != gpChooseBox)
                seen << "box_save_settings_no: not the question";
            noAt = gpChooseBox->noButton->mapToGlobal(gpChooseBox->noButton->rect().center());
            tapAt(noAt);
        });
        QAbstractButton* confirm = settingsButton(121);
        QVERIFY(confirm);
        tapAt(confirm->mapToGlobal(confirm->rect().center()));
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QVERIFY(!win->SettingsVisible());
        QCOMPARE(box->isChecked(), was);
        QVERIFY(QLineF(noAt, startAt).length() > 2 * tapguard::kRadiusPx);

        holdProgram(600);
        win->indexButton->checkShowHide();
        QVERIFY(startStop->isVisible());
        tapAt(startAt, 300);
        settle();
        QCOMPARE(tapguard::swallowed(), swallowed);
        QVERIFY(win->cycle().runState != RunState::Stopped);
        expectClean(win, "main_started_after_confirm");
    }

    // With the password in use, a double tap on the password box's OK
    // before Stop Detection or Resample: the first tap opens their
    // question, whose Yes lies under OK; the second tap is not taken there,
    // and the question waits for its own tap.
    void secondTapOnTheQuestionItOpenedIsNotTaken()
    {
        const auto release = qScopeGuard([] {
            gpWPara->words[Word::PasswordUsed] = gpWParaBak->words[Word::PasswordUsed] = 0;
            gpWPara->words[Word::StopDetectPassword] = gpWParaBak->words[Word::StopDetectPassword] = 0;
            OperatorRights::get().reset();
        });
        if (win->SettingsVisible())
            win->wizardParaWidget->cancel();
        gpWPara->words[Word::PasswordUsed] = gpWParaBak->words[Word::PasswordUsed] = 1;
        gpWPara->words[Word::StopDetectPassword] = gpWParaBak->words[Word::StopDetectPassword] = 1;
        qstrcpy(gpWPara->password, "4711");
        const struct {
            const char* name;
            std::function<QAbstractButton*()> button;
        } cases[] = {
            {"stop_detection", [this] { return win->indexButton->startStopButton(); }},
            {"resample", [this] { return win->indexButton->retrainButton(); }},
        };
        for (const auto& c : cases) {
            OperatorRights::get().reset();
            win->indexButton->checkShowHide();
            QVERIFY(win->cycle().runState != RunState::Stopped);
            QAbstractButton* b = c.button();
            QVERIFY2(b->isVisible(), c.name);
            const int swallowed = tapguard::swallowed();
            int stage = 0;
            bool onYes = false, stillAsked = false;
            int swallowedThen = -1;
            QPoint at;
            QTimer poll;
            connect(&poll, &QTimer::timeout, this, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (stage == 0 && modal == gpPasswordBox) {
                    gpPasswordBox->pwdEdit->setText(QStringLiteral("4711"));
                    at = gpPasswordBox->okButton->mapToGlobal(gpPasswordBox->okButton->rect().center());
                    tapAt(at);
                    stage = 1;
                } else if (stage == 1 && modal == gpChooseBox) {
                    onYes = gpChooseBox->yesButton->rect().contains(gpChooseBox->yesButton->mapFromGlobal(at));
                    tapAt(at, 200);
                    stillAsked = gpChooseBox->isVisible();
                    swallowedThen = tapguard::swallowed();
                    tapAt(gpChooseBox->noButton->mapToGlobal(gpChooseBox->noButton->rect().center()), 400);
                    stage = 2;
                    poll.stop();
                }
            });
            poll.start(20);
            tapAt(b->mapToGlobal(b->rect().center()));
            QTRY_COMPARE(stage, 2);
            QTRY_VERIFY(!QApplication::activeModalWidget());
            QVERIFY2(onYes, c.name);
            QVERIFY2(stillAsked, c.name);
            QCOMPARE(swallowedThen, swallowed + 1);
            QCOMPARE(tapguard::swallowed(), swallowed + 1);
            QVERIFY2(win->cycle().runState != RunState::Stopped, c.name);
        }
    }

    // "Resample" says at once that the tap was taken: its templates come
    // with the next opening, seconds later.
    void resampleSaysSoAtOnce()
    {
        if (win->SettingsVisible())
            win->wizardParaWidget->cancel();
        win->indexButton->checkShowHide();
        QVERIFY(win->indexButton->retrainButton()->isVisible());
        answerNextBox("box_resample");
        QTest::mouseClick(win->indexButton->retrainButton(), Qt::LeftButton);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        expectNotice(lanStr(715), "main_resample");
    }

    // The time dialog opens on today's date and the clock as it stands;
    // confirmed, the clock is set through the platform layer (off the target
    // only recorded) and the run ends as a reboot would.
    void timeSetFromToday()
    {
        // Last: the run "ends" here, with the databases closed.
        QTest::mouseClick(win->settingsButton, Qt::LeftButton);
        QTRY_VERIFY(win->SettingsVisible());
        platform::runner().clearRecorded();
        int exitCode = -1;
        platform::setExitHandler([&exitCode](int code) { exitCode = code; });
        QString shownDate;
        onNextModal([this, &shownDate](QWidget* dialog) {
            auto* box = qobject_cast<ModifyTimeWidget*>(dialog);
            if (!box) {
                seen << "time: no time dialog opened";
                QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
                return;
            }
            seen << look(box, "settings_time");
            seen << prefixed("settings_time", ScreenCheck::touchFaults(box));
            if (!kScreen.contains(box->geometry()) || box->geometry().center() != kScreen.center())
                seen << "settings_time: not centred on the screen";
            shownDate = box->dateTimeEdit->dateEdit->date().toString(Qt::ISODate);
            // One step on by the date editor's right arrow, one back by its left.
            QDateEdit* date = box->dateTimeEdit->dateEdit;
            const QDate today = date->date();
            QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(date->width() - 20, date->height() / 2));
            if (date->date() == today)
                seen << "settings_time: the right arrow changed nothing";
            QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(20, date->height() / 2));
            if (date->date() != today)
                seen << "settings_time: the left arrow did not step back";
            QTest::mouseClick(box->yesButton, Qt::LeftButton);
        });
        QTest::mouseClick(settingsButton(288), Qt::LeftButton);
        platform::setExitHandler(nullptr);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join("\n")));
        QCOMPARE(shownDate, QDate::currentDate().toString(Qt::ISODate));
        QCOMPARE(exitCode, platform::kExitReboot);
        const QStringList recorded = platform::runner().recorded();
        QVERIFY2(!recorded.filter(QRegularExpression("^date -s \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).isEmpty(),
                 qPrintable(recorded.join("; ")));
        const QString set = recorded.filter(QRegularExpression("^date -s ")).first().mid(8, 10);
        QCOMPARE(set, shownDate);
        QVERIFY(recorded.contains("hwclock --systohc"));
        QVERIFY(recorded.contains("reboot"));
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
