// A peer's address as messages and logs show it: an IPv4 peer on a dual-stack
// socket without its "::ffff:" prefix.
#pragma once

#include <QString>

inline QString stripV4Mapped(QString text)
{
    return text.remove(QStringLiteral("::ffff:"));
}
