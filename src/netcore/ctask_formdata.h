#pragma once

#include "tcptsk_info.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QString>
#include <QVariant>

#include <opencv2/core.hpp>

// One HTTP/1.1 request or response. A record with an empty url is a response.
class CTask_FormData {
public:
    CTask_FormData();
    CTask_FormData(const CTask_FormData& other);
    CTask_FormData& operator=(const CTask_FormData& other);
    ~CTask_FormData();

    QString peerAddress;
    int peerPort = 0;
    QString method = QStringLiteral("POST");
    QString url;
    QString taskId;
    int sessionIndex = -1;
    QString contentType;
    int code = 0;
    QString msg = QStringLiteral("OK");
    QString deviceId;
    QString userId;
    QByteArray body;
    QJsonObject json;
    // A JSON object already written out in compact form; when set, a message
    // carries these bytes where it would carry `json` written out (a reply
    // that many requests share is serialised once, not once a request).
    QByteArray jsonBytes;
    QMap<QString, QString> query;
    QMap<QString, QVariant> form;
    QMap<QString, cv::Mat> images;
    QMap<QString, QByteArray> files;
    QList<TcpTsk_Info> tasks;
    mutable QMutex tasksMutex;

    // 2 multipart with images, 3 file, 1 JSON (json or jsonBytes), 0 nothing
    // of its own.
    int getTaskPkgType() const;
    // First line of the message without its line end. May change code/msg.
    QString getResponseFirstLine();

    // Copy of tasks taken under tasksMutex.
    QList<TcpTsk_Info> tasksCopy() const;

private:
    void copyFields(const CTask_FormData& other);
};

Q_DECLARE_METATYPE(CTask_FormData)
