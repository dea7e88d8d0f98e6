// Built only with ThreadSanitizer (VMM_TSAN), like qtsync_tsan.cpp. Qt hands
// work between threads inside its own uninstrumented code: a posted event, a
// queued signal or call, a job on a thread pool, the end of a thread that
// QThread::wait joins. The checker sees none of it and reports the data on
// both sides of every such hand-over. These definitions stand in for the Qt
// entry points the program calls, call Qt's own and tell the checker:
//  - whatever a thread did before it posted or emitted is ordered before any
//    event delivered afterwards (one clock for the whole event queue, taken
//    when Qt delivers an event, through Qt's own event-notify hook);
//  - a pool job starts after what its starter did, and waitForDone returns
//    after what the pool's jobs did;
//  - a QThread's run starts after start(), and wait() returns after it ended;
//  - a future's waiter and its last holder come after the work that finished
//    it;
//  - a QReadWriteLock and a contended QMutex order what they guard.
// A queued call copies its arguments inside Qt, after the emit: the copy
// constructors of the program's own types are registered with Qt wrapped so
// that the copy, too, comes before the delivery.
#include <QByteArray>
#include <QCoreApplication>
#include <QFutureInterface>
#include <QMetaType>
#include <QMutex>
#include <QReadWriteLock>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>

#include "qtreal_tsan.h"

#include <sanitizer/tsan_interface.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <utility>

namespace {

using tsanqt::real;

// The one clock of the event queue: released by every post, acquired by every
// delivery.
char eventQueue;

void posting()
{
    __tsan_release(&eventQueue);
}

bool delivering(void**)
{
    __tsan_acquire(&eventQueue);
    return false;  // the event goes on to its receiver
}

const bool hooked = QInternal::registerCallback(QInternal::EventNotifyCallback, delivering);

// Copy constructors handed to Qt for queued arguments, each wrapped so that
// the copy is posted along with the call. A fixed table of wrappers: one
// per registered type, plenty for the program's few.
using Construct = void* (*)(void*, const void*);
constexpr int wrapperCount = 512;
std::array<std::atomic<Construct>, wrapperCount> constructs;
std::atomic<int> constructsUsed{0};

template <int I>
void* constructThenPost(void* where, const void* copy)
{
    void* made = constructs[I].load(std::memory_order_acquire)(where, copy);
    posting();
    return made;
}

template <int... I>
constexpr std::array<Construct, sizeof...(I)> wrappers(std::integer_sequence<int, I...>)
{
    return {{&constructThenPost<I>...}};
}

const std::array<Construct, wrapperCount> constructWrappers = wrappers(std::make_integer_sequence<int, wrapperCount>());

Construct wrapped(Construct construct)
{
    if (!construct)
        return construct;
    const int i = constructsUsed.fetch_add(1);
    if (i >= wrapperCount)
        return construct;  // unwrapped: its copies may be reported
    constructs[i].store(construct, std::memory_order_release);
    return constructWrappers[i];
}

// A function a queued QMetaObject::invokeMethod runs on another thread: it
// starts after the caller's work, and the caller's last drop of it (after a
// blocking call returned) comes after the run.
class OrderedSlot : public QtPrivate::QSlotObjectBase {
public:
    explicit OrderedSlot(QtPrivate::QSlotObjectBase* inner) : QSlotObjectBase(&impl), inner_(inner) {}

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* me = static_cast<OrderedSlot*>(self);
        switch (which) {
        case Call:
            __tsan_acquire(me);
            me->inner_->call(receiver, args);
            __tsan_release(me);
            break;
        case Destroy:
            __tsan_acquire(me);
            me->inner_->destroyIfLastRef();
            delete me;
            break;
        case Compare:
            *ret = false;
            break;
        }
    }

    QSlotObjectBase* inner_;
};

// A job on a pool: starts after its starter's work, ends before waitForDone.
class OrderedJob : public QRunnable {
public:
    OrderedJob(QThreadPool* pool, QRunnable* job) : pool_(pool), job_(job) { setAutoDelete(true); }
    void run() override
    {
        __tsan_acquire(this);
        job_->run();
        // The pool deletes an auto-deleting job after its run; the job is
        // not handed to the pool itself, so this does it.
        if (job_->autoDelete())
            delete job_;
        __tsan_release(pool_);
    }

private:
    QThreadPool* pool_;
    QRunnable* job_;
};

}  // namespace

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority)
{
    static const auto f = real<void (*)(QObject*, QEvent*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    posting();
    f(receiver, event, priority);
}

void QMetaObject::activate(QObject* sender, int signalIndex, void** argv)
{
    static const auto f = real<void (*)(QObject*, int, void**)>("_ZN11QMetaObject8activateEP7QObjectiPPv");
    posting();
    f(sender, signalIndex, argv);
}

void QMetaObject::activate(QObject* sender, const QMetaObject* m, int localIndex, void** argv)
{
    static const auto f = real<void (*)(QObject*, const QMetaObject*, int, void**)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    posting();
    f(sender, m, localIndex, argv);
}

void QMetaObject::activate(QObject* sender, int signalOffset, int localIndex, void** argv)
{
    static const auto f = real<void (*)(QObject*, int, int, void**)>("_ZN11QMetaObject8activateEP7QObjectiiPPv");
    posting();
    f(sender, signalOffset, localIndex, argv);
}

bool QMetaObject::invokeMethod(QObject* obj, const char* member, Qt::ConnectionType type, QGenericReturnArgument ret,
                               QGenericArgument val0, QGenericArgument val1, QGenericArgument val2,
                               QGenericArgument val3, QGenericArgument val4, QGenericArgument val5,
                               QGenericArgument val6, QGenericArgument val7, QGenericArgument val8,
                               QGenericArgument val9)
{
    using Fn = bool (*)(QObject*, const char*, Qt::ConnectionType, QGenericReturnArgument, QGenericArgument,
                        QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                        QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument);
    static const auto f = real<Fn>(
        "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_"
        "S7_S7_S7_S7_S7_S7_S7_S7_");
    posting();
    return f(obj, member, type, ret, val0, val1, val2, val3, val4, val5, val6, val7, val8, val9);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto f = real<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    if (!slot)
        return f(object, slot, type, ret);
    auto* ordered = new OrderedSlot(slot);
    __tsan_release(ordered);
    posting();
    return f(object, ordered, type, ret);
}

void QTimer::singleShotImpl(int msec, Qt::TimerType timerType, const QObject* receiver,
                            QtPrivate::QSlotObjectBase* slotObj)
{
    static const auto f = real<void (*)(int, Qt::TimerType, const QObject*, QtPrivate::QSlotObjectBase*)>(
        "_ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE");
    posting();
    f(msec, timerType, receiver, slotObj);
}

void QObject::deleteLater()
{
    static const auto f = real<void (*)(QObject*)>("_ZN7QObject11deleteLaterEv");
    posting();
    f(this);
}

void QThread::start(Priority priority)
{
    static const auto f = real<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    // Once per thread object (it may be started again): the thread takes the
    // starter's clock when it starts and leaves its own when it finishes,
    // before Qt wakes wait().
    static const char* const marked = "_tsanOrdered";
    if (!property(marked).toBool()) {
        setProperty(marked, true);
        connect(this, &QThread::started, this, [this] { __tsan_acquire(this); }, Qt::DirectConnection);
        connect(this, &QThread::finished, this, [this] { __tsan_release(this); }, Qt::DirectConnection);
    }
    __tsan_release(this);
    f(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto f = real<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = f(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto f = real<bool (*)(QThread*, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = f(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

void QThreadPool::start(QRunnable* runnable, int priority)
{
    static const auto f = real<void (*)(QThreadPool*, QRunnable*, int)>("_ZN11QThreadPool5startEP9QRunnablei");
    if (!runnable)
        return f(this, runnable, priority);
    auto* job = new OrderedJob(this, runnable);
    __tsan_release(job);
    f(this, job, priority);
}

bool QThreadPool::tryStart(QRunnable* runnable)
{
    static const auto f = real<bool (*)(QThreadPool*, QRunnable*)>("_ZN11QThreadPool8tryStartEP9QRunnable");
    if (!runnable)
        return f(this, runnable);
    auto* job = new OrderedJob(this, runnable);
    __tsan_release(job);
    if (f(this, job))
        return true;
    job->setAutoDelete(false);  // the caller keeps its job
    delete job;
    return false;
}

void QThreadPool::start(std::function<void()> functionToRun, int priority)
{
    if (!functionToRun)
        return;
    start(QRunnable::create(std::move(functionToRun)), priority);
}

bool QThreadPool::tryStart(std::function<void()> functionToRun)
{
    if (!functionToRun)
        return false;
    QRunnable* job = QRunnable::create(std::move(functionToRun));
    if (tryStart(job))
        return true;
    delete job;
    return false;
}

bool QThreadPool::waitForDone(int msecs)
{
    static const auto f = real<bool (*)(QThreadPool*, int)>("_ZN11QThreadPool11waitForDoneEi");
    const bool done = f(this, msecs);
    if (done)
        __tsan_acquire(this);
    return done;
}

// Qt counts a job as active until after its run: a count of none orders the
// caller after every job's end, as waitForDone does.
int QThreadPool::activeThreadCount() const
{
    static const auto f = real<int (*)(const QThreadPool*)>("_ZNK11QThreadPool17activeThreadCountEv");
    const int active = f(this);
    if (active == 0)
        __tsan_acquire(const_cast<QThreadPool*>(this));
    return active;
}

void QFutureInterfaceBase::reportFinished()
{
    static const auto f = real<void (*)(QFutureInterfaceBase*)>("_ZN20QFutureInterfaceBase14reportFinishedEv");
    __tsan_release(d);
    f(this);
}

void QFutureInterfaceBase::waitForFinished()
{
    static const auto f = real<void (*)(QFutureInterfaceBase*)>("_ZN20QFutureInterfaceBase15waitForFinishedEv");
    f(this);
    __tsan_acquire(d);
}

bool QFutureInterfaceBase::isFinished() const
{
    static const auto f = real<bool (*)(const QFutureInterfaceBase*)>("_ZNK20QFutureInterfaceBase10isFinishedEv");
    const bool finished = f(this);
    if (finished)
        __tsan_acquire(d);
    return finished;
}

// The last holder of a future's results destroys them.
bool QFutureInterfaceBase::derefT() const
{
    static const auto f = real<bool (*)(const QFutureInterfaceBase*)>("_ZNK20QFutureInterfaceBase6derefTEv");
    const bool held = f(this);
    if (!held)
        __tsan_acquire(d);
    return held;
}

void QReadWriteLock::lockForRead()
{
    static const auto f = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock11lockForReadEv");
    f(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForRead()
{
    static const auto f = real<bool (*)(QReadWriteLock*)>("_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = f(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto f = real<bool (*)(QReadWriteLock*, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::lockForWrite()
{
    static const auto f = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock12lockForWriteEv");
    f(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForWrite()
{
    static const auto f = real<bool (*)(QReadWriteLock*)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = f(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto f = real<bool (*)(QReadWriteLock*, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    static const auto f = real<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    f(this);
}

// QMutexLocker and an inline QMutex::lock take an uncontended mutex with an
// atomic the checker sees; only the contended path goes into Qt.
void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    f(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto f = real<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    f(this);
}

int QMetaType::registerNormalizedType(const ::QByteArray& normalizedTypeName, Destructor destructor,
                                      Constructor constructor, int size, TypeFlags flags,
                                      const QMetaObject* metaObject)
{
    using Fn = int (*)(const ::QByteArray&, Destructor, Constructor, int, TypeFlags, const QMetaObject*);
    static const auto f = real<Fn>(
        "_ZN9QMetaType22registerNormalizedTypeERK10QByteArrayPFvPvEPFS3_S3_PKvEi6QFlagsINS_8TypeFlagEEPK11QMetaObject");
    return f(normalizedTypeName, destructor, wrapped(constructor), size, flags, metaObject);
}
