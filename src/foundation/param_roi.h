// The result of one judged ROI, as the detection engine hands it to the
// network services: nine signed 32-bit words, in this order.
#pragma once

#include <QMetaType>
#include <QtGlobal>

struct param_roi {
    qint32 camera = 0;     // 1: camera index, from 0
    qint32 detect = 0;     // 2: detection step index, from 0
    qint32 roi = 0;        // 3: ROI index within the step
    qint32 func = 0;       // 4: the ROI's inspection method (function number)
    qint32 algorithm = 0;  // 5: the method's measured value (summed defect area, count or score)
    qint32 param1 = 0;     // 6: first limit of the verdict (sensitivity)
    qint32 param2 = 0;     // 7: second limit of the verdict (minimum area)
    qint32 param3 = 0;     // 8: third parameter, where the verdict has one
    qint32 result = 0;     // 9: 1 passed, 0 failed
};
Q_DECLARE_METATYPE(param_roi)
