// libFuzzer target: arbitrary bytes as a Modbus TCP stream through the
// server's ADU cutting and reply building.
#include "modbusserver.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ModbusServer::DataAccess access;
    access.read = [](ModbusServer::Registers* r) {
        *r = {1, 2, 3, 4};
        return true;
    };
    access.clear = [size] { return (size & 1) == 0; };

    QByteArray buffer(reinterpret_cast<const char*>(data), static_cast<int>(size));
    // The whole input as one ADU.
    const QByteArray whole = ModbusServer::analysis(buffer, access);
    if (whole.size() > ModbusServer::kMaxAdu + static_cast<int>(size))
        std::abort();
    // The input as a stream, cut like the server does.
    for (;;) {
        const int n = ModbusServer::aduLength(buffer.constData(), buffer.size());
        if (n <= 0)
            break;
        if (n > ModbusServer::kMaxAdu || n > buffer.size())
            std::abort();
        const QByteArray adu = buffer.left(n);
        buffer.remove(0, n);
        const QByteArray reply = ModbusServer::analysis(adu, access);
        if (reply.isEmpty() || reply == adu)
            continue;
        // Every reply of its own is a well-formed ADU.
        if (reply.size() > ModbusServer::kMaxAdu || ModbusServer::aduLength(reply.constData(), reply.size()) != reply.size())
            std::abort();
    }
    return 0;
}
