// The start of a message in its head. A peer may put lines of noise before
// a message (the rest of one it gave up on, a probe); the TCP sessions and
// the UDP reactor both take the head from the first line that names the
// protocol, so that both skip the same noise.
#pragma once

#include <QByteArray>

namespace startline {

// Offset of the first line of `head` holding "HTTP/1.1", -1 when none does.
// Lines end with CR LF (a bare CR or LF ends none); the last line of a head
// has no line end.
int find(const QByteArray& head);

}  // namespace startline
