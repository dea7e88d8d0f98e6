#include "kitlinks.h"

#include <QtGlobal>

namespace kitlinks {

namespace {
Links& links()
{
    static Links l;
    return l;
}
}  // namespace

void install(const Links& l) { links() = l; }
void reset() { links() = Links(); }

int paraWord(int n)
{
    return links().paraWord ? links().paraWord(n) : 0;
}

QByteArray operatorPassword()
{
    return links().operatorPassword ? links().operatorPassword() : QByteArray();
}

void lcdOnOff(int on)
{
    if (links().lcdOnOff)
        links().lcdOnOff(on);
    else
        qWarning("widget kit: no screen switch connected (LCDOnOff %d ignored)", on);
}

void ioSetOut(int n, int on)
{
    if (links().ioSetOut)
        links().ioSetOut(n, on);
    else
        qWarning("widget kit: no I/O board connected (IOSetOut %d %d ignored)", n, on);
}

void ioFlashOut()
{
    if (links().ioFlashOut)
        links().ioFlashOut();
    else
        qWarning("widget kit: no I/O board connected (IOFlashOut ignored)");
}

}  // namespace kitlinks
