// Helpers shared by the network library's tests.
#pragma once

#include "session.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <functional>
#include <memory>

namespace nettest {

// Number of open file descriptors of this process.
int openFdCount();

// Runs the event loop until cond() holds or ms have passed.
bool waitFor(const std::function<bool()>& cond, int ms = 10000);

// Cuts a byte stream with a socket-less Session fed in the pieces given by
// the split positions; returns the records it emitted, in order.
QList<CTask_FormData> cutStream(const QByteArray& stream, const QList<int>& splits = {}, bool* closed = nullptr);

// One record written by SCI_ExecObj_Send, read raw from the other end of a
// loopback connection.
QByteArray wireBytes(const CTask_FormData& record, quint16* peerPort = nullptr);

// Reads from a connected socket until `done(bytes)` or the peer closes.
QByteArray readUntil(QTcpSocket& socket, const std::function<bool(const QByteArray&)>& done, int ms = 10000);

// A full HTTP message (head + Content-Length body) is in `bytes`.
bool haveWholeMessage(const QByteArray& bytes);

// Runs an outside program through the platform layer on a helper thread,
// keeping this thread's event loop going. Returns exit code, -1 when it
// could not run; output into *out.
int runTool(const QString& program, const QStringList& args, QByteArray* out = nullptr, int timeoutMs = 60000,
            QByteArray* err = nullptr);
bool haveTool(const QString& program);

// A socket connected (or having tried for 5 s) to 127.0.0.1:port.
std::unique_ptr<QTcpSocket> rawClient(quint16 port);

// An empty reply that goes back on the connection of `request`.
CTask_FormData replyTo(const CTask_FormData& request);

}  // namespace nettest
