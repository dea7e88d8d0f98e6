#pragma once

#include "ctask_formdata.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QTcpSocket>

#include <atomic>

// Local time now as "yyyyMMdd_hhmmss_zzz", the stamp of generated task ids.
// The text of a second is formed once per thread, not once per id.
QString taskIdStamp();

// Writes one record on a connected socket in the library's HTTP/1.1 dialect.
class SCI_ExecObj_Send {
public:
    SCI_ExecObj_Send();
    explicit SCI_ExecObj_Send(const CTask_FormData& task);

    // Writes the whole message; must run on the socket's thread.
    void SerializeWrite(QTcpSocket* socket);

    void Integrality_Empty(const CTask_FormData& task);
    void Integrality_Json(const CTask_FormData& task);
    void Integrality_Mat(const CTask_FormData& task);
    void Integrality_File(const CTask_FormData& task);
    void Integrality_BinaryStream(const CTask_FormData& task);
    void SendFixLand(const QByteArray& bytes);

    qint64 creationTime() const { return createTime_; }
    const CTask_FormData& task() const { return task_; }

    // Process-wide counter of generated "ruvuzero#" task ids.
    static std::atomic<int> _increase_index_task;

    // The multipart delimiter line.
    static const QByteArray kBoundary;
    static constexpr int kFileTimeoutMs = 30000;
    static constexpr int kPacedTimeoutMs = 10000;

    // The message head in the library's fixed header order. `host` is the
    // HOST value, a null `contentType` writes no Content-Type line. Every
    // value is written without control bytes, so no value can end its line
    // early and add a header of its own.
    static QByteArray composeHead(CTask_FormData& task, const QString& host, const QString& contentType, qint64 length);
    // `text` without control bytes (below 0x20, and 0x7f).
    static QString headerSafe(const QString& text);

private:
    bool socketReady() const;
    QByteArray buildHead(CTask_FormData& task, const QString& contentTypeLine, qint64 length) const;
    void write(const QByteArray& bytes);

    qint64 createTime_ = 0;
    CTask_FormData task_;
    QTcpSocket* socket_ = nullptr;
};

Q_DECLARE_METATYPE(SCI_ExecObj_Send)
