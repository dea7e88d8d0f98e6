// The state that the HTTP API and the Modbus registers report, as one
// immutable copy that the GUI thread publishes and the network threads read
// without waiting for it.
//
// The GUI thread publishes after each pass of its event loop (just before it
// waits for the next event) and at once after a counter clear, so a copy
// always holds what one handler left behind: the counters and the last
// decision of one cycle together, never half of a cycle's update. A copy is
// made only when something differs from the one published.
#pragma once

#include "globals.h"
#include "network.h"

#include <QString>

#include <array>
#include <memory>

struct ApiSnapshot {
    int cameraCount = 0;  // numCamera as set, not clamped
    int stepCount = 0;    // gDNum
    QString deviceSn;     // gDeviceID
    QString deviceName;   // the network manager's device name
    int runWord = 0;
    int detectWord = 0;
    std::array<int, kMaxCamera> all{};
    std::array<int, kMaxCamera> fail{};
    std::array<int, kMaxCamera> allCycle{};
    int syncNg = 0;
    int syncNgCycle = 0;
    bool hasRecord = false;
    XAN_NETMN::sAPI_LastDetect_Info record;  // the held cycle record when hasRecord
    bool hasClosed = false;
    XAN_NETMN::sAPI_LastDetect_Info closed;  // the cycle closed before the held one, when hasClosed
    quint64 recordVersion = 0;

    // GUI thread: the state as it is now. `manager` gives the device name and
    // the cycle record (none without it).
    static ApiSnapshot capture(XAN_NETMN* manager);
    // The copy published last; null before the first publication.
    static std::shared_ptr<const ApiSnapshot> current();
    // GUI thread: captures and publishes when anything changed.
    static void publish();
    // Publishes on this thread after each pass of its event loop; once per
    // thread, further calls do nothing.
    static void publishOnIdle();
    // Drops the published copy (the readers fall back to asking the GUI thread).
    static void reset();
    // The manager whose name and record are published (the latest one
    // constructed); a manager going away drops itself and the published copy.
    static void setManager(XAN_NETMN* manager);
    static void dropManager(XAN_NETMN* manager);

    // Same counters, words, names and record version.
    bool sameAs(const ApiSnapshot& other) const;
};
