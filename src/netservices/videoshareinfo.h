// One screen share offered to the local agent: a System V shared-memory
// segment holding one I420 frame and the semaphore that guards it.
#pragma once

#include <QSharedPointer>

class CNT_Semaphore;

struct VideoShareInfo {
    int cameraid = 0;    // share number; the screen is share 0
    int width = 0;
    int height = 0;
    int size = 0;        // width * height * 3 / 2: Y plane, then U, then V
    int shmid = -1;      // -1 when the segment could not be made or attached
    int semid = -1;      // -1 when the semaphore could not be made
    void* shmAddr = nullptr;  // the segment as attached in this process
    QSharedPointer<CNT_Semaphore> sem;
    int fps = 20;        // announced to the agent
};
