// The Modbus TCP frame handling of the server: cutting ADUs out of a byte
// stream and building the reply to one ADU. Pure functions (the data access
// comes in as callbacks), so that they can be tested and fuzzed alone.
#include "modbusserver.h"

namespace {

// Header and function code: the least that an exception reply can answer.
constexpr int kMinAnswered = 8;

quint16 word(const QByteArray& b, int at)
{
    return static_cast<quint16>((static_cast<quint8>(b.at(at)) << 8) | static_cast<quint8>(b.at(at + 1)));
}

void appendWord(QByteArray& b, int v)
{
    b.append(static_cast<char>((v >> 8) & 0xff));
    b.append(static_cast<char>(v & 0xff));
}

// Transaction id, protocol id, the given PDU length (unit id included),
// unit id: the first seven bytes of every reply.
QByteArray replyHeader(const QByteArray& adu, int length)
{
    QByteArray r = adu.left(4);
    appendWord(r, length);
    r.append(adu.at(6));
    return r;
}

QByteArray exceptionReply(const QByteArray& adu, quint8 code)
{
    QByteArray r = replyHeader(adu, 3);
    r.append(static_cast<char>(static_cast<quint8>(adu.at(7)) | 0x80));
    r.append(static_cast<char>(code));
    return r;
}

}  // namespace

int ModbusServer::aduLength(const char* data, int size)
{
    if (size < 6)
        return 0;
    const int length = (static_cast<quint8>(data[4]) << 8) | static_cast<quint8>(data[5]);
    if (length < 1 || length + 6 > kMaxAdu)
        return -1;
    return size >= length + 6 ? length + 6 : 0;
}

namespace {

// Function 3: read holding registers.
QByteArray funcRead(const QByteArray& adu, const ModbusServer::DataAccess& access)
{
    if (adu.size() < 12)
        return exceptionReply(adu, ModbusServer::kIllegalValue);
    const int start = word(adu, 8);
    const int quantity = word(adu, 10);
    if (quantity > ModbusServer::kMaxReadQuantity)
        return exceptionReply(adu, ModbusServer::kIllegalValue);
    ModbusServer::Registers regs{};
    if (!access.read || !access.read(&regs))
        return exceptionReply(adu, ModbusServer::kDeviceBusy);
    QByteArray r = replyHeader(adu, quantity * 2 + 3);
    r.append(adu.at(7));
    r.append(static_cast<char>(quantity * 2));
    // appendData: registers 0-3 from the map, every other address reads 0.
    for (int a = start; a < start + quantity; ++a)
        appendWord(r, a >= 0 && a < 4 ? regs[static_cast<size_t>(a)] : 0);
    return r;
}

// Function 16: write multiple registers. Only register 4 acts: the value 1
// clears the counters.
QByteArray funcWrite(const QByteArray& adu, const ModbusServer::DataAccess& access)
{
    if (adu.size() < 12)
        return exceptionReply(adu, ModbusServer::kIllegalValue);
    const int start = word(adu, 8);
    const int quantity = word(adu, 10);
    if (quantity > ModbusServer::kMaxReadQuantity || adu.size() < 13 + 2 * quantity)
        return exceptionReply(adu, ModbusServer::kIllegalValue);
    if (start > 4)
        return exceptionReply(adu, ModbusServer::kIllegalAddress);
    bool modified = false;
    const int k = 4 - start;
    if (k >= 0 && k < quantity && word(adu, 13 + 2 * k) == 1) {
        if (!access.clear || !access.clear())
            return exceptionReply(adu, ModbusServer::kDeviceBusy);
        modified = true;
    }
    if (!modified)
        return adu;  // no register took the write: the request comes back unchanged
    QByteArray r = replyHeader(adu, 6);
    r.append(adu.mid(7, 5));
    return r;
}

}  // namespace

QByteArray ModbusServer::analysis(const QByteArray& adu, const DataAccess& access)
{
    if (adu.size() < kMinAnswered)
        return QByteArray();
    switch (static_cast<quint8>(adu.at(7))) {
    case 3:
        return funcRead(adu, access);
    case 16:
        return funcWrite(adu, access);
    default:
        return exceptionReply(adu, kIllegalFunction);
    }
}

