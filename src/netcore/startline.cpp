#include "startline.h"

namespace startline {

int find(const QByteArray& head)
{
    // The name holds no line end, so the first line holding it is the line
    // of its first occurrence: no pass over the head line by line.
    const int at = head.indexOf("HTTP/1.1");
    if (at < 0)
        return -1;
    if (at < 2)
        return 0;  // no room for a line end before it
    const int lineEnd = head.lastIndexOf("\r\n", at - 2);
    return lineEnd < 0 ? 0 : lineEnd + 2;
}

}  // namespace startline
