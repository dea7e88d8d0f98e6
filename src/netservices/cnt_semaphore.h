// A one-semaphore System V set used as a lock between this program and the
// local agent: value 1 free, 0 held. Both sides take it with SEM_UNDO, so a
// holder that dies gives the lock back; taking it waits a bounded time, so a
// reader that never gives it back costs a skipped frame, never a hang.
#pragma once

class CNT_Semaphore {
public:
    explicit CNT_Semaphore(int key);
    // Leaves the semaphore as it is: raising it here could lift it above 1
    // while another copy of the share still uses it.
    ~CNT_Semaphore() = default;

    // Creates (or finds) the set with `count` semaphores, mode 0600, and sets
    // semaphore 0 to 1. Returns the id, or -1; semid() is -1 unless both
    // steps succeeded.
    int create_sem(int count);
    // Finds an existing set under the key; semid() is set when found.
    void get_sem();
    // Takes the lock, waiting at most `timeoutMs`; false when not taken.
    bool P_sem(int timeoutMs = kLockTimeoutMs);
    // Gives the lock back.
    void V_sem();
    // Removes the set from the system; semid() is -1 afterwards.
    bool remove();

    int key() const { return key_; }
    int semid() const { return semid_; }
    // The semaphore's current value, -1 when unknown.
    int value() const;

    static constexpr int kLockTimeoutMs = 100;

private:
    int key_;
    int semid_ = -1;
};
