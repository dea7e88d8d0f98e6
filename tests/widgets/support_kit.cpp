#include "support_kit.h"

#include "screenlight.h"
#include "colorbutton.h"
#include "globals.h"
#include "numberinput.h"
#include "operatorrights.h"
#include "passwordbox.h"
#include "statewindow.h"
#include "tapguard.h"
#include "widgetkit.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace kittest {

void fillTexts()
{
    for (int r = 0; r < kLanRows; ++r) {
        gaLanStr[r][0] = QStringLiteral("R%1").arg(r);
        gaLanStr[r][1] = QStringLiteral("R%1").arg(r);
        gaLanStr[r][2] = QStringLiteral("R%1").arg(r);
        gaLanStr[r][3] = QStringLiteral("J%1").arg(r);
    }
}

QString rowText(int row)
{
    return gaLanStr[row][(gLan >= 0 && gLan < 4) ? gLan : 0];
}

platform::CommandResult FakeRunner::runOnTarget(const QString& program, const QStringList& args, int)
{
    const QString text = (QStringList{program} + args).join(QLatin1Char(' '));
    if (onRun)
        onRun(text);
    commands.append(text);
    platform::CommandResult r;
    r.started = true;
    r.exitCode = (program == failProgram) ? 1 : 0;
    return r;
}

KitEnv::KitEnv()
{
    gShowW = 1280;
    gShowH = 800;
    gLan = 1;
    fillTexts();
    platform::setSleeper(&sleeper);
    platform::setRunner(&runner);
    platform::setExitHandler([this](int code) { exitCodes.append(code); });
    CycleControl::install(&roles_);
    MachineOutputs::install(&roles_);
    OperatorDialogs::install(&roles_);
    OperatorRights::get().reset();
    win = new StateWindow;
    ScreenLight::get().reset();
    ScreenLight::get().setScreenOffTimer(new QTimer(win));
    InitWidgetKit(win);
    // The steps of a test are the operator's separate taps, seconds apart:
    // no guard against a double tap holds between them.
    tapguard::setClock([] {
        static qint64 ms = 0;
        return ms += 10 * tapguard::kGuardMs;
    });
    gpState = win;
    win->setGeometry(0, 0, gShowW, gShowH);
}

KitEnv::~KitEnv()
{
    delete win;
    gpState = nullptr;
    CycleControl::install(nullptr);
    MachineOutputs::install(nullptr);
    OperatorDialogs::install(nullptr);
    PasswordBox::setClock(nullptr);
    platform::setExitHandler(nullptr);
    platform::setRunner(nullptr);
    platform::setSleeper(nullptr);
    gLan = 0;
}

static QPoint windowPoint(QWidget* w, QPoint pos)
{
    if (pos == QPoint(-1, -1))
        pos = w->rect().center();
    return w->mapTo(w->window(), pos);
}

void tap(QWidget* w, QPoint pos)
{
    QWindow* window = w->window()->windowHandle();
    Q_ASSERT(window);
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, windowPoint(w, pos));
}

void press(QWidget* w, QPoint pos)
{
    QTest::mousePress(w->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, windowPoint(w, pos));
}

void release(QWidget* w, QPoint pos)
{
    QTest::mouseRelease(w->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, windowPoint(w, pos));
}

bool showWindow(QWidget* w)
{
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowExposed(w) && QTest::qWaitForWindowActive(w);
}

ModalScript::ModalScript(std::function<void(QWidget*)> answer)
{
    auto failed = failed_;
    auto answered = answered_;
    auto alive = alive_;
    auto* poll = new QTimer;
    poll->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        ++*tries;
        QWidget* modal = QApplication::activeModalWidget();
        if (!*answered) {
            if (modal && modal->windowHandle() && modal->windowHandle()->isExposed()) {
                *answered = true;
                *tries = 0;
                answer(modal);
            } else if (*tries > 500) {
                *failed = true;
                poll->deleteLater();
            }
            return;
        }
        // Answered: the dialog should be gone soon; never leave it hanging.
        if (!modal || !*alive) {
            poll->deleteLater();
        } else if (*tries > 300) {
            *failed = true;
            if (auto* dlg = qobject_cast<QDialog*>(modal))
                dlg->reject();
            poll->deleteLater();
        }
    });
    poll->start();
}

ModalScript::~ModalScript()
{
    *alive_ = false;
}

bool tapDigit(char digit)
{
    if (!gpNumPad || !gpNumPad->isVisible())
        return false;
    for (ColorButton* key : gpNumPad->keys) {
        if (key->text() == QString(QLatin1Char(digit))) {
            tap(key);
            return true;
        }
    }
    return false;
}

bool typeDigits(const QString& digits)
{
    for (const QChar c : digits) {
        if (!tapDigit(c.toLatin1()))
            return false;
    }
    return true;
}

}  // namespace kittest
