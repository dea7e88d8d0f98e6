#include "viewutil.h"

#include "winstate.h"

#include <cmath>

namespace viewutil {

int isqrt(int v)
{
    if (v <= 0)
        return 0;
    int r = static_cast<int>(std::sqrt(static_cast<double>(v)));
    while (static_cast<long long>(r) * r > v)
        --r;
    while (static_cast<long long>(r + 1) * (r + 1) <= v)
        ++r;
    return r;
}

QVector<QRgb> greyTable()
{
    if (gpState && gpState->grayTable.size() == 256)
        return gpState->grayTable;
    QVector<QRgb> t;
    t.reserve(256);
    for (int i = 0; i < 256; ++i)
        t.append(qRgb(i, i, i));
    return t;
}

}  // namespace viewutil
