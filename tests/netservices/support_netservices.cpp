#include "support_netservices.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

GuiLatenessWatch::GuiLatenessWatch()
{
    clock_.start();
    last_ = clock_.elapsed();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        const qint64 now = clock_.elapsed();
        worst_ = std::max(worst_, now - last_ - 10);
        last_ = now;
    });
    timer_.start();
}

GuiLatenessWatch::~GuiLatenessWatch() = default;

bool GuiLatenessWatch::report(const char* label) const
{
    qInfo("%s: worst GUI timer lateness %lld ms", label, static_cast<long long>(worst_));
    return worst_ < 1000;
}

bool runBeside(const std::function<void()>& job, int limitMs)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread t([job, done] {
        job();
        done->store(true);
    });
    QDeadlineTimer deadline(limitMs);
    while (!done->load() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    if (done->load()) {
        t.join();
        return true;
    }
    t.detach();
    return false;
}

quint16 freeLocalPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}
