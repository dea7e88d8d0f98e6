#include "iofunc.h"

#include "globals.h"
#include "platform.h"
#include "posix_qextserialport.h"

namespace {
unsigned char gLedMask = 0xFF;

constexpr unsigned long kLedBase = 0x5A018000UL;
}  // namespace

unsigned char calcLRC(unsigned char* data, unsigned short length)
{
    unsigned int sum = 0;
    for (unsigned short i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<unsigned char>(sum & 0xFF);
}

QString ComPortName()
{
    const QByteArray over = qgetenv("VMM_COM_PORT");
    if (!over.isEmpty())
        return QString::fromLocal8Bit(over);
    return QStringLiteral("/dev/ttyS%1").arg(gisCOM);
}

void ComInit()
{
    if (gpCom)
        return;
    gpCom = new Posix_QextSerialPort(ComPortName(), Polling);
    gpCom->open(QIODevice::ReadWrite);
    gpCom->setBaudRate(BAUD115200);
    gpCom->setDataBits(DATA_8);
    gpCom->setParity(PAR_NONE);
    gpCom->setStopBits(STOP_1);
    gpCom->setFlowControl(FLOW_OFF);
    gpCom->setTimeout(1);
    // What the line holds now answers no request of this run.
    gpCom->flushInput();
}

void ComSend(int command, int value)
{
    unsigned char f[6];
    f[0] = 0x5F;
    f[1] = static_cast<unsigned char>(command & 0xFF);
    f[2] = static_cast<unsigned char>(value & 0xFF);
    f[3] = static_cast<unsigned char>((value >> 8) & 0xFF);
    f[4] = calcLRC(f, 4);
    f[5] = 0xF5;
    if (gpCom)
        gpCom->write(reinterpret_cast<const char*>(f), 6);
}

void LEDOnOff(int bit, int on)
{
    if (bit >= 0 && bit <= 7) {
        if (on & 1)
            gLedMask = static_cast<unsigned char>(gLedMask | (1u << bit));
        else
            gLedMask = static_cast<unsigned char>(gLedMask & ~(1u << bit));
    }
    if (gfLED >= 0)
        platform::ledIoctl(gfLED, kLedBase + gLedMask, 0);
}

unsigned char LEDMask()
{
    return gLedMask;
}

int BoardReceiver::append(const char* data, int count)
{
    const int room = kBufferSize - len_;
    const int take = count < room ? count : room;
    if (take > 0) {
        std::memcpy(buf_ + len_, data, static_cast<size_t>(take));
        len_ += take;
    }
    return take;
}

int BoardReceiver::receive()
{
    if (!gpCom)
        return 0;
    char tmp[kBufferSize];
    int total = 0;
    qint64 waiting = gpCom->bytesAvailable();
    while (waiting > 0) {
        const qint64 n = gpCom->read(tmp, sizeof tmp);
        if (n <= 0)
            break;
        append(tmp, static_cast<int>(n));  // what does not fit is dropped
        waiting -= n;
        total += static_cast<int>(n);
    }
    return total;
}

bool BoardReceiver::parse(int outputWord, int currentInput, const std::function<void(int)>& onInput,
                          const std::function<void()>& onReply)
{
    bool resend = false;
    int pos = 0;
    while (len_ - pos >= 8) {
        unsigned char* f = buf_ + pos;
        if (f[0] != 0x5F || f[7] != 0xF5 || f[6] != calcLRC(f, 6)) {
            ++pos;
            continue;
        }
        const int cmd = f[1];
        if (cmd == 2) {
            if (onReply)
                onReply();
            const int in = f[2] | ((f[3] & 3) << 8);
            if (in != currentInput) {
                currentInput = in;
                if (onInput)
                    onInput(in);
            }
            const int echoed = f[4] | ((f[5] & 3) << 8);
            if (echoed != (outputWord & 0x3FF))
                resend = true;
        } else if (cmd == 3 || cmd == 4) {
            const quint32 v = quint32(f[2]) | (quint32(f[3]) << 8) | (quint32(f[4]) << 16) | (quint32(f[5]) << 24);
            // Each group holds eight values; surplus replies are dropped.
            const int lo = cmd == 3 ? 0 : 8;
            if (slot_ >= lo && slot_ < lo + 8)
                values_[slot_++] = v;
        }
        pos += 8;
    }
    if (pos > 0) {
        std::memmove(buf_, buf_ + pos, static_cast<size_t>(len_ - pos));
        len_ -= pos;
    }
    return resend;
}

void BoardReceiver::requestSent(int command)
{
    if (command == 3)
        slot_ = 0;
    else if (command == 4)
        slot_ = 8;
}

int BoardRequestForPass(int pass)
{
    if (pass == 200)
        return 3;
    if (pass == 210)
        return 4;
    return 2;
}
