// The program's application object. Besides Qt's own handling it wakes a
// dark screen on a touch (that touch is swallowed, and so is a second tap
// close after it, so waking the screen never presses a button), and starts the touch calibration after a long press.
#pragma once

#include <QApplication>
#include <QTimer>

class MApplication : public QApplication {
    Q_OBJECT
public:
    MApplication(int& argc, char** argv);
    ~MApplication() override;

    static MApplication* _instance;

    bool notify(QObject* receiver, QEvent* event) override;

    // Stops the long-press timer of the touch calibration.
    void manualStopTscTimeup();
    bool tscPending() const { return tscTimer_.isActive(); }

    static constexpr int kTscPressMs = 10000;

private:
    void TimerTsc();
    QTimer tscTimer_;
};
