#include "cnt_semaphore.h"

#include <QtGlobal>

#include <cerrno>
#include <ctime>

#include <sys/ipc.h>
#include <sys/sem.h>

namespace {
// The caller defines this union for semctl (see semctl(2)).
union SemArg {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};
}  // namespace

CNT_Semaphore::CNT_Semaphore(int key) : key_(key) {}

int CNT_Semaphore::create_sem(int count)
{
    const int id = semget(key_, count, IPC_CREAT | 0600);
    if (id < 0) {
        qWarning("video share: semaphore for key 0x%x cannot be made (errno %d)", unsigned(key_), errno);
        return -1;
    }
    SemArg arg{};
    arg.val = 1;
    if (semctl(id, 0, SETVAL, arg) < 0) {
        qWarning("video share: semaphore %d cannot be set free (errno %d)", id, errno);
        return id;
    }
    semid_ = id;
    return id;
}

void CNT_Semaphore::get_sem()
{
    const int id = semget(key_, 0, 0);
    if (id >= 0)
        semid_ = id;
}

bool CNT_Semaphore::P_sem(int timeoutMs)
{
    if (semid_ == -1)
        return false;
    struct sembuf op{};
    op.sem_num = 0;
    op.sem_op = -1;
    op.sem_flg = SEM_UNDO;
    struct timespec limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_nsec = long(timeoutMs % 1000) * 1000000L;
    for (;;) {
        if (semtimedop(semid_, &op, 1, &limit) == 0)
            return true;
        if (errno != EINTR)
            return false;  // EAGAIN: still held after the time-out; or the set is gone
    }
}

void CNT_Semaphore::V_sem()
{
    if (semid_ == -1)
        return;
    struct sembuf op{};
    op.sem_num = 0;
    op.sem_op = 1;
    op.sem_flg = SEM_UNDO;
    while (semop(semid_, &op, 1) != 0 && errno == EINTR) {
    }
}

bool CNT_Semaphore::remove()
{
    if (semid_ == -1)
        return false;
    const bool ok = semctl(semid_, 0, IPC_RMID) == 0;
    semid_ = -1;
    return ok;
}

int CNT_Semaphore::value() const
{
    return semid_ == -1 ? -1 : semctl(semid_, 0, GETVAL);
}
