#include "ctask_formdata.h"

#include <QMutexLocker>
#include <QStringList>

CTask_FormData::CTask_FormData() = default;

CTask_FormData::CTask_FormData(const CTask_FormData& other)
{
    copyFields(other);
    tasks = other.tasksCopy();
}

CTask_FormData& CTask_FormData::operator=(const CTask_FormData& other)
{
    if (this == &other)
        return *this;
    copyFields(other);
    const QList<TcpTsk_Info> copy = other.tasksCopy();
    QMutexLocker lock(&tasksMutex);
    tasks = copy;
    return *this;
}

CTask_FormData::~CTask_FormData()
{
    QMutexLocker lock(&tasksMutex);
    tasks.clear();
}

void CTask_FormData::copyFields(const CTask_FormData& o)
{
    peerAddress = o.peerAddress;
    peerPort = o.peerPort;
    method = o.method;
    url = o.url;
    taskId = o.taskId;
    sessionIndex = o.sessionIndex;
    contentType = o.contentType;
    code = o.code;
    msg = o.msg;
    deviceId = o.deviceId;
    userId = o.userId;
    body = o.body;
    json = o.json;
    jsonBytes = o.jsonBytes;
    query = o.query;
    form = o.form;
    images = o.images;
    files = o.files;
}

QList<TcpTsk_Info> CTask_FormData::tasksCopy() const
{
    QMutexLocker lock(&tasksMutex);
    return tasks;
}

int CTask_FormData::getTaskPkgType() const
{
    if (!images.isEmpty())
        return 2;
    if (!files.isEmpty())
        return 3;
    if (!json.isEmpty() || !jsonBytes.isEmpty())
        return 1;
    return 0;
}

QString CTask_FormData::getResponseFirstLine()
{
    if (!url.isEmpty()) {
        QStringList pairs;
        for (auto it = query.constBegin(); it != query.constEnd(); ++it)
            pairs << it.key() + QLatin1Char('=') + it.value();
        QString target = url;
        if (!pairs.isEmpty())
            target += QLatin1Char('?') + pairs.join(QLatin1Char('&'));
        return QStringLiteral("%1 %2 HTTP/1.1").arg(method, target);
    }
    if (code == 404) {
        msg = QStringLiteral("no found url");
        return QStringLiteral("HTTP/1.1 404 Not Found");
    }
    if (code == 0)
        code = 200;
    // A code that is no HTTP status (the program's own result codes, such
    // as 1 for "file not found") still needs a valid status line; the code
    // itself travels in the JSON envelope.
    if (code < 100 || code > 599)
        return QStringLiteral("HTTP/1.1 200 OK");
    return QStringLiteral("HTTP/1.1 %1 OK").arg(code);
}
