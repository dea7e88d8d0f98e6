// Fuzz target: the byte-stream cutter of a Session (fed in pieces), the
// multipart reader and the message-head writer. The first byte picks the
// target and the split points.
#include "session.h"

#include <QtGlobal>

#include <algorithm>

#include <cstdint>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Writes a head from fields cut out of the input: lines end in CR LF only,
// with no control byte left, and the head reads back with the length written.
void headWriter(const QByteArray& in)
{
    QStringList f = QString::fromUtf8(in).split(QLatin1Char('\x01'));
    while (f.size() < 5)
        f << QString();
    CTask_FormData t;
    t.url = f[0];
    t.taskId = t.deviceId = f[1];
    t.query.insert(f[2], f[2]);
    const QByteArray head = SCI_ExecObj_Send::composeHead(t, f[3], f[4], in.size());
    const QByteArray bare = QByteArray(head).replace("\r\n", "");
    if (std::any_of(bare.begin(), bare.end(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; }) ||
        !SCI_ExecObj_Recv(head.left(head.size() - 4), 1).headValid() ||
        SCI_ExecObj_Recv(head.left(head.size() - 4), 1).contentLength() != in.size())
        __builtin_trap();
}
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
    if (mode % 3 == 2) {
        headWriter(in);
        return 0;
    }
    if (mode % 3 == 1) {
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
    const int step = 1 + mode / 3;
    for (int pos = 0; pos < in.size(); pos += step)
        session.feedBytes(in.mid(pos, step));
    return 0;
}
