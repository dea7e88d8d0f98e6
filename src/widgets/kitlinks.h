// What the widget kit needs of the layers that are wired up by the main
// window: the live system parameter words, the operator password, the screen
// switch and the I/O board outputs.
//
// The main window installs the real readers and switches once, right after it
// has loaded the parameters and opened the I/O board. Until then every word
// reads 0 and the password is empty, exactly like a freshly constructed
// parameter record, and the switches only log that they are not connected.
#pragma once

#include <QByteArray>

#include <functional>

namespace kitlinks {

struct Links {
    std::function<int(int)> paraWord;            // word n of the live record gpWPara
    std::function<QByteArray()> operatorPassword; // the `password` text, Latin-1
    std::function<void(int)> lcdOnOff;           // 1 lights the screen, 0 darkens it
    std::function<void(int, int)> ioSetOut;      // ControlPort::IOSetOut(n, on)
    std::function<void()> ioFlashOut;            // ControlPort::IOFlashOut()
};

// Replaces all links; members left empty fall back to the defaults above.
void install(const Links& links);
void reset();

int paraWord(int n);
QByteArray operatorPassword();
void lcdOnOff(int on);
void ioSetOut(int n, int on);
void ioFlashOut();

}  // namespace kitlinks
