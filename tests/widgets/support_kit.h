// Shared set-up of the widget kit tests: a main window with the pads and
// boxes, marked operator texts, taps through the window system, a scripted
// answer to modal dialogs, and fakes for the clock, waits and commands.
#pragma once

#include "cyclecontrol.h"
#include "machineoutputs.h"
#include "operatordialogs.h"
#include "platform.h"
#include "testworkdir.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QWidget;
class StateWindow;

namespace kittest {

// Row r of every language reads "R<r>" (language 3 reads "J<r>").
void fillTexts();
// The text the kit shows for row r in the current language.
QString rowText(int row);

// Waits that only add up.
class FakeSleeper : public platform::Sleeper {
public:
    void sleepMs(int ms) override { slept.append(ms); }
    QVector<int> slept;
};

// Records machine-changing commands and can make them fail; `onRun` is
// called with the command text before it "runs".
class FakeRunner : public platform::CommandRunner {
public:
    platform::CommandResult runOnTarget(const QString& program, const QStringList& args, int timeoutMs) override;
    bool isTarget() const override { return false; }
    QStringList commands;
    QString failProgram;   // this program exits with 1
    std::function<void(const QString&)> onRun;
};

// A main window (hidden unless shown by the test) with its pads and boxes,
// in a temporary working folder, with fakes installed and the screen size set.
class KitEnv {
public:
    KitEnv();
    ~KitEnv();
    KitEnv(const KitEnv&) = delete;
    KitEnv& operator=(const KitEnv&) = delete;
    TestWorkDir dir;
    StateWindow* win = nullptr;
    FakeSleeper sleeper;
    FakeRunner runner;
    QVector<int> exitCodes;
    QVector<int> lcdCalls;
    QVector<QPair<int, int>> outputs;   // IOSetOut calls; (-1, -1) marks IOFlashOut
    int word98 = 0;
    int word105 = 0;
    QByteArray operatorPassword;

private:
    // The roles the kit calls up through, recorded or answered from above.
    struct Roles : CycleControl, MachineOutputs, OperatorDialogs {
        explicit Roles(KitEnv* e) : env(e) {}
        int paraWord(int n) override { return n == 98 ? env->word98 : n == 105 ? env->word105 : 0; }
        QByteArray operatorPassword() override { return env->operatorPassword; }
        void lcdOnOff(int on) override { env->lcdCalls.append(on); }
        void setOut(int n, int on) override { env->outputs.append({n, on}); }
        void flashOut() override { env->outputs.append({-1, -1}); }
        KitEnv* env;
    } roles_{this};
};

// A press and release at `pos` (default: centre) of `w`, delivered through
// its window as the window system would, so modality and stacking count.
void tap(QWidget* w, QPoint pos = QPoint(-1, -1));
void press(QWidget* w, QPoint pos);
void release(QWidget* w, QPoint pos);

// Shows `w` as a window and waits until it is exposed and active.
bool showWindow(QWidget* w);

// Runs `answer` on the next modal dialog once it is shown and exposed.
// When no modal dialog appears within a few seconds, or it is still open a
// few seconds after the answer, it is rejected so that the test cannot hang,
// and `failed` is set.
class ModalScript {
public:
    explicit ModalScript(std::function<void(QWidget*)> answer);
    ~ModalScript();
    bool failed() const { return *failed_; }
    bool answered() const { return *answered_; }

private:
    std::shared_ptr<bool> failed_ = std::make_shared<bool>(false);
    std::shared_ptr<bool> answered_ = std::make_shared<bool>(false);
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Taps the digit pad's key that shows `digit`; false when none shows it.
bool tapDigit(char digit);
// Types a string of digits with the digit pad.
bool typeDigits(const QString& digits);

}  // namespace kittest
