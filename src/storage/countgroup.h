// The production statistics records: per detection step, per camera and per
// parameter group. They travel in queued signals to the statistics thread.
#pragma once

#include "globals.h"

#include <QMetaType>
#include <QString>

struct CountDetect {
    qint64 total = 0;  // products judged at this step
    qint64 ng = 0;     // of them judged NG

    bool operator==(const CountDetect& o) const { return total == o.total && ng == o.ng; }
    bool operator!=(const CountDetect& o) const { return !(*this == o); }
};

struct CountCamera {
    CountDetect detect[kMaxDetect];

    bool operator==(const CountCamera& o) const
    {
        for (int i = 0; i < kMaxDetect; ++i)
            if (detect[i] != o.detect[i])
                return false;
        return true;
    }
    bool operator!=(const CountCamera& o) const { return !(*this == o); }
};

struct CountGroup {
    QString groupName;  // the parameter group the counts belong to
    CountCamera camera[kMaxCamera];

    bool operator==(const CountGroup& o) const
    {
        if (groupName != o.groupName)
            return false;
        for (int i = 0; i < kMaxCamera; ++i)
            if (camera[i] != o.camera[i])
                return false;
        return true;
    }
    bool operator!=(const CountGroup& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(CountGroup)
