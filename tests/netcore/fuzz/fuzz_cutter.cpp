// Fuzz target: the byte-stream cutter of a Session (fed in pieces), the
// multipart reader and the message-head writer. The first byte picks the
// target and the split points.
#include "session.h"

#include <QtGlobal>

#include <cstdint>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Writes a head from fields taken out of the input and checks what a peer
// relies on: lines end only in CR LF, no control byte is left, the head
// reads back whole with the Content-Length written and one line per
// header written.
void headWriter(const QByteArray& in)
{
    const QList<QByteArray> f = in.split('\x01');
    auto field = [&f](int i) { return i < f.size() ? QString::fromUtf8(f.at(i)) : QString(); };
    CTask_FormData t;
    t.url = field(0);
    t.method = field(1).isEmpty() ? QStringLiteral("POST") : field(1);
    t.taskId = field(2);
    t.deviceId = field(3);
    t.code = f.size() > 5 ? f.at(5).size() * 37 : 0;
    if (f.size() > 6)
        t.query.insert(field(6), field(7));
    const QString contentType = f.size() > 4 ? field(4) : QString();
    const qint64 length = in.size();
    const QByteArray head = SCI_ExecObj_Send::composeHead(t, field(8), contentType, length);
    if (!head.endsWith("\r\n\r\n"))
        __builtin_trap();
    int lines = 0;
    for (int i = 0; i < head.size(); ++i) {
        const auto c = static_cast<unsigned char>(head.at(i));
        if (c == '\r') {
            if (i + 1 >= head.size() || head.at(i + 1) != '\n')
                __builtin_trap();
            ++i;
            ++lines;
        } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
            __builtin_trap();
        }
    }
    const int written = 4 + (contentType.isNull() ? 0 : 1) + (t.deviceId.isEmpty() ? 0 : 1);
    if (lines != written + 1)
        __builtin_trap();
    SCI_ExecObj_Recv back(head.left(head.size() - 4), 1);
    if (back.contentLength() != length || !back.headValid())
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
