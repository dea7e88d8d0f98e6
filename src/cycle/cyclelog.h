// What the moulding cycle leaves in the record: the operation record's rows
// and the counters' file.
#pragma once

#include <QString>

class CycleLog {
public:
    virtual ~CycleLog() = default;
    // One row of the operation record.
    virtual void record(const QString& text) = 0;
    // The counters changed: count.ini is written.
    virtual void countersChanged() = 0;
};
