// Helpers shared by the network-services tests.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Runs a 10 ms timer on the GUI thread and keeps the worst lateness of its
// ticks: a blocked GUI thread shows as a large value, a slow machine as a
// small one. Tests print it and fail only above 1 s.
class GuiLatenessWatch : public QObject {
public:
    GuiLatenessWatch();
    ~GuiLatenessWatch() override;
    qint64 worstMs() const { return worst_; }
    // Prints the worst lateness under `label`; true while under 1 s.
    bool report(const char* label) const;

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

// Runs `job` on a plain thread while the calling (GUI) thread keeps
// processing events; returns when the job has finished or after `limitMs`
// (then false, and the job is left to finish on its own thread).
bool runBeside(const std::function<void()>& job, int limitMs = 30000);

// A free TCP port on 127.0.0.1 (bound and released again).
quint16 freeLocalPort();
