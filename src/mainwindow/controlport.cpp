#include "controlport.h"

#include "globals.h"
#include "rivurevezi.h"
#include "publictools.h"
#include "sysword.h"

#include <QMutexLocker>

ControlPort* gpControlIO = nullptr;

std::atomic<qint64> gRunStampMs{0};
std::atomic<int> gInputRiseLatch{0};

void touchRunStamp()
{
    gRunStampMs.store(monotonic_ms());
}

IOThread::IOThread(QObject* parent)
    : QThread(parent)
{
}

void IOThread::run()
{
    while (!stop_) {
        if (monotonic_ms() - gRunStampMs.load() >= kWatchdogMs) {
            qWarning("controlport_thread - main_thread > 10s will timeout exit");
            QThread::msleep(1000);
            continue;
        }
        int out = 0;
        int in = 0;
        if (pMutexIO) {
            QMutexLocker lock(pMutexIO);
            out = gDataOut;
            in = gDataIn;
        }
        if (gIOID == 0) {
            QThread::msleep(5);
            continue;
        }
        receiver_.receive();
        const bool resend = receiver_.parse(out, in, [this, &in](int word) {
            const int rising = word & ~in;
            {
                QMutexLocker lock(pMutexIO);
                gDataIn = word;
            }
            if (rising)
                gInputRiseLatch.fetch_or(rising);
            in = word;
            emit sigIOChange();
        });
        if (resend)
            ComSend(1, out);
        ++pass_;
        const int cmd = BoardRequestForPass(pass_);
        if (cmd != 2)
            receiver_.requestSent(cmd);
        ComSend(cmd, 0);
        if (pass_ >= 210)
            pass_ = 0;
        QThread::msleep(5);
    }
}

ControlPort::ControlPort(QObject* parent)
    : QObject(parent)
{
    gIOID = 1;
    ComInit();
    outWord_ = 0;
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        gDataOut = outWord_;
    } else {
        gDataOut = outWord_;
    }
}

ControlPort::~ControlPort()
{
    if (thread_) {
        thread_->stop();
        thread_->wait(3000);
    }
}

void ControlPort::InitIOThread()
{
    if (thread_)
        return;
    thread_ = new IOThread(this);
    if (gpWin)
        connect(thread_, &IOThread::sigIOChange, gpWin, &RiVuRevezi::Run);
    touchRunStamp();
    thread_->start(QThread::InheritPriority);
}

void ControlPort::IOFlashOut()
{
    {
        QMutexLocker lock(pMutexIO);
        gDataOut = outWord_;
    }
    if (outWord_ != lastFlushed_) {
        lastFlushed_ = outWord_;
        emit sigIOChange();
    }
}

void ControlPort::IOSetOut(int n, int on)
{
    if (n < 0 || n > 9)
        return;
    // The wiring sense of outputs 0-8 comes from the inversion words.
    bool level = on != 0;
    if (n <= 8 && sysWord(76 + n) != 0)
        level = !level;
    if (level)
        outWord_ |= (1 << n);
    else
        outWord_ &= ~(1 << n);
    const int follow = sysWord(147);
    if (follow != 0 && n == follow - 1) {
        if (level)
            outWord_ |= (1 << 3);
        else
            outWord_ &= ~(1 << 3);
    }
}
