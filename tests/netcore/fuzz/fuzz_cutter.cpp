// Fuzz target: the byte-stream cutter of a Session (fed in pieces) and the
// multipart reader. The first byte picks the target and the split points.
#include "session.h"

#include <QtGlobal>

#include <cstdint>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool init = [] {
        qInstallMessageHandler(quiet);
        return true;
    }();
    (void)init;
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray in(reinterpret_cast<const char*>(data + 1), int(size - 1));
    if (mode & 1) {
        CTask_FormData record;
        SCI_ExecObj_Recv::analysisIntegrality_multipart(QString::fromLatin1(SCI_ExecObj_Send::kBoundary), in, record);
        CTask_FormData standard;
        SCI_ExecObj_Recv::analysisIntegrality_multipart(QStringLiteral("XyZ"), in, standard);
        return 0;
    }
    Session session(nullptr, nullptr, 1);
    int records = 0;
    QObject::connect(&session, &Session::sigRequest, [&records](CTask_FormData) { ++records; });
    QObject::connect(&session, &Session::sigResponse, [&records](CTask_FormData) { ++records; });
    // Split into pieces whose sizes come from the mode byte.
    const int step = 1 + (mode >> 1);
    for (int pos = 0; pos < in.size(); pos += step)
        session.feedBytes(in.mid(pos, step));
    return 0;
}
