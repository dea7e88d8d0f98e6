// Each case hands plain (unsynchronised) data from one thread to another
// through Qt only. Under ThreadSanitizer a hand-over the checker cannot see
// is reported as a race and fails the run; the values check the hand-over.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFuture>
#include <QMetaObject>
#include <QObject>
#include <QReadWriteLock>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <memory>
#include <string>

namespace {

// A type Qt copies for a queued signal with the program's own constructor.
struct Parcel {
    std::string text;
};

}  // namespace

Q_DECLARE_METATYPE(Parcel)

class Sender : public QObject {
    Q_OBJECT
signals:
    void parcel(Parcel p);
};

class TstQtHandover : public QObject {
    Q_OBJECT
private slots:
    void queuedSignalCarriesACopy()
    {
        qRegisterMetaType<Parcel>();
        QThread worker;
        worker.start();
        Sender sender;
        sender.moveToThread(&worker);
        std::string got;
        QEventLoop loop;
        connect(&sender, &Sender::parcel, this, [&](Parcel p) { got = p.text; loop.quit(); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(&sender, [&sender] { emit sender.parcel(Parcel{std::string(64, 'x')}); });
        loop.exec();
        worker.quit();
        worker.wait();
        QCOMPARE(got, std::string(64, 'x'));
    }

    void blockingCallAndThreadEnd()
    {
        auto* worker = new QThread;
        worker->start();
        QObject target;
        target.moveToThread(worker);
        auto data = std::make_unique<int>(0);
        QMetaObject::invokeMethod(&target, [&data] { *data = 7; }, Qt::BlockingQueuedConnection);
        QCOMPARE(*data, 7);
        int* lastWrite = data.get();
        QMetaObject::invokeMethod(
            &target,
            [lastWrite] {
                *lastWrite = 8;
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        worker->wait();
        delete worker;
        QCOMPARE(*data, 8);
    }

    void poolJobsAndFutures()
    {
        QThreadPool pool;
        auto counted = std::make_unique<int>(0);
        pool.start([&counted] { *counted = 5; });
        pool.waitForDone();
        QCOMPARE(*counted, 5);

        QFuture<std::string> future = QtConcurrent::run(&pool, [] { return std::string(32, 'y'); });
        QCOMPARE(future.result(), std::string(32, 'y'));
    }

    void readWriteLock()
    {
        QReadWriteLock lock;
        int shared = 0;
        QThreadPool pool;
        for (int i = 0; i < 4; ++i)
            pool.start([&] {
                QWriteLocker w(&lock);
                ++shared;
            });
        while (true) {
            QReadLocker r(&lock);
            if (shared == 4)
                break;
        }
        QCOMPARE(shared, 4);
    }
};

QTEST_MAIN(TstQtHandover)
#include "tst_qthandover.moc"
