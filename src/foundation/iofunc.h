// I/O board frames and LED switches (the screen's light is the widget
// kit's: LCDOnOff, screenlight.h).
//
// Host frame (program to board), 6 bytes: 5F cmd lo hi lrc F5.
// Board frame (board to program), 8 bytes: 5F cmd p0 p1 p2 p3 lrc F5.
// The lrc is the plain sum of the bytes before it, modulo 256.
#pragma once

#include <QString>

#include <cstddef>
#include <cstring>
#include <functional>

unsigned char calcLRC(unsigned char* data, unsigned short length);

// Name of the board's serial port: "/dev/ttyS<gisCOM>". VMM_COM_PORT in the
// environment points it elsewhere (a pseudo-terminal of the board simulator).
QString ComPortName();
void ComInit();
void ComSend(int command, int value);

void LEDOnOff(int bit, int on);
unsigned char LEDMask();

// Receiving side of the board link: a 1024-byte buffer keeping the unparsed
// bytes of earlier passes, and the frame rules. Used only by the I/O thread.
class BoardReceiver {
public:
    static constexpr int kBufferSize = 1024;

    // Appends what fits; bytes beyond the buffer are dropped.
    int append(const char* data, int count);
    // Reads everything waiting on gpCom into the buffer; the bytes read.
    int receive();

    // Parses every complete frame. `outputWord` is the word of this pass;
    // `onInput(word)` runs when a reply 2 carries an input word different
    // from the current one; `onReply()` runs for every reply 2, before its
    // onInput. Returns true when a reply 2 echoed outputs that differ from
    // `outputWord` (a resend is due).
    bool parse(int outputWord, int currentInput, const std::function<void(int)>& onInput,
               const std::function<void()>& onReply = {});

    // Command 3 or 4 is being sent: the next value slot goes back to 0 or 8.
    void requestSent(int command);

    int buffered() const { return len_; }
    // Drops every byte received and not yet parsed.
    void clear() { len_ = 0; }
    int nextSlot() const { return slot_; }
    // Value slot i (0..15) as the latest reply 3 (slots 0..7) or 4 (8..15)
    // filled it; 0 before any reply.
    quint32 value(int i) const { return (i >= 0 && i < 16) ? values_[i] : 0; }

private:
    unsigned char buf_[kBufferSize] = {};
    int len_ = 0;
    int slot_ = 0;
    quint32 values_[16] = {};
};

// The request of pass `pass` (1-based within a cycle of 210): 3 at 200,
// 4 at 210, otherwise 2.
int BoardRequestForPass(int pass);
