// The library's wire format read back: one message, its head at
// construction and its body as it arrives, taken apart into a record.
#pragma once

#include "ctask_formdata.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

class SCI_ExecObj_Recv_Base {
public:
    virtual ~SCI_ExecObj_Recv_Base();
    virtual void addBody(const QByteArray& bytes);
    virtual QByteArray showBody() const;
    virtual QString showHead() const;
    virtual qint64 getNeedLength() const = 0;
    virtual bool analysisIntegrality() = 0;
    virtual CTask_FormData getFormData() const = 0;

protected:
    int sessionIndex_ = -1;
    QString head_;
    QByteArray body_;
};

// Reads one message: the head at construction, the body through addBody.
class SCI_ExecObj_Recv : public SCI_ExecObj_Recv_Base {
public:
    // Limits on what a peer may make us build.
    static constexpr qint64 kMaxPictureBytes = 256LL * 1024 * 1024;
    static constexpr int kMaxPictureSide = 32768;

    SCI_ExecObj_Recv(const QByteArray& head, int sessionIndex);

    void setDuplex_Info(const QHostAddress& address, quint16 port);
    qint64 getNeedLength() const override;
    bool analysisIntegrality() override;
    CTask_FormData getFormData() const override;
    void addBody(const QByteArray& bytes) override;
    void addBody(const char* data, qint64 size);
    void reserveBody(qint64 size);

    // Head checks: a start line of a request or a status line, one
    // well-formed Content-Length at most, no transfer coding. A head that
    // fails them cannot be framed and its connection is closed.
    bool headValid() const { return headError_.isEmpty(); }
    QString headError() const { return headError_; }
    bool startLineValid() const { return startLineValid_; }
    qint64 contentLength() const { return contentLength_; }
    const QString& taskId() const { return userAgent_; }
    const QString& target() const { return target_; }
    bool isRequest() const { return !target_.isEmpty(); }

    static bool analysisIntegrality_json(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_multipart(const QString& boundary, const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_file(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_Default(const QByteArray& body, CTask_FormData& task);

private:
    QString firstWord_;
    QString target_;
    QString userAgent_;
    QString userId_;
    QString contentType_;
    qint64 contentLength_ = 0;
    CTask_FormData task_;
    QString headError_;
    bool startLineValid_ = false;
};
