#include "sci_execobj_send.h"

#include "publictools.h"
#include "peertrafficlog.h"
#include "socketoutqueue.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <limits>

std::atomic<int> SCI_ExecObj_Send::_increase_index_task{0};
const QByteArray SCI_ExecObj_Send::kBoundary = QByteArrayLiteral("------------------------tcpservreactor");

namespace {

const QString kNotFoundFile = QStringLiteral("未查询到需要获取的图片文件");

// Process-wide statistics of multipart sends.
struct SendStats {
    QMutex mutex;
    qint64 roundtimes = 0;
    double storage_all = 0;
    double min_time = 0;
    double max_time = 0;
    int sendtimes = 0;
};

SendStats& sendStats()
{
    static SendStats s;
    return s;
}

// A form field or picture name as it may stand in a part head: no control
// byte, no quote that would end the name early.
QString partName(const QString& name)
{
    return SCI_ExecObj_Send::headerSafe(name).remove(QLatin1Char('"'));
}

// The reply envelope {"code","msg","result"} around a result already written
// out, byte for byte what QJsonDocument writes for the same object: the keys
// are in that order, so the result stands last, before the closing brace.
QByteArray envelope(int code, const QString& msg, const QByteArray& result)
{
    auto head = [](int c, const QString& m) {
        QJsonObject env;
        env.insert(QStringLiteral("code"), c);
        env.insert(QStringLiteral("msg"), m);
        env.insert(QStringLiteral("result"), QJsonObject());
        QByteArray bytes = QJsonDocument(env).toJson(QJsonDocument::Compact);
        bytes.chop(3);  // the empty result "{}" and the closing brace
        return bytes;
    };
    static const QByteArray kOk = head(200, QStringLiteral("OK"));
    QByteArray out = code == 200 && msg == QLatin1String("OK") ? kOk : head(code, msg);
    out.reserve(out.size() + result.size() + 1);
    out += result;
    out += '}';
    return out;
}

QByteArray dispositionLine(const QString& name)
{
    return QStringLiteral("Content-Disposition: form-data; name=\"%1\"").arg(partName(name)).toUtf8();
}

}  // namespace

QString taskIdStamp()
{
    struct Second {
        qint64 number = std::numeric_limits<qint64>::min();
        QString text;  // "yyyyMMdd_hhmmss_" of that second
    };
    thread_local Second cached;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != cached.number) {
        cached.number = second;
        cached.text = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("yyyyMMdd_hhmmss_"));
    }
    return cached.text + QStringLiteral("%1").arg(int(ms - second * 1000), 3, 10, QLatin1Char('0'));
}

SCI_ExecObj_Send::SCI_ExecObj_Send() : createTime_(::gettimeofday_ms()) {}

SCI_ExecObj_Send::SCI_ExecObj_Send(const CTask_FormData& task) : task_(task)
{
    if (task_.taskId.isEmpty()) {
        const int n = ++_increase_index_task;
        task_.taskId = QStringLiteral("ruvuzero#") + taskIdStamp() + QLatin1Char('#') + QString::number(n);
    }
    createTime_ = ::gettimeofday_ms();
}

bool SCI_ExecObj_Send::socketReady() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void SCI_ExecObj_Send::write(const QByteArray& bytes)
{
    SocketOutQueue::of(socket_)->appendBytes(bytes);
}

QString SCI_ExecObj_Send::headerSafe(const QString& text)
{
    auto bad = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; };
    if (std::none_of(text.cbegin(), text.cend(), bad))
        return text;
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!bad(c))
            out += c;
    return out;
}

QByteArray SCI_ExecObj_Send::composeHead(CTask_FormData& t, const QString& host, const QString& contentType, qint64 length)
{
    QString head;
    head.reserve(256);
    head += headerSafe(t.getResponseFirstLine());
    head += QLatin1String("\r\nHOST: ");
    head += headerSafe(host);
    head += QLatin1String("\r\nUser-Agent: ");
    head += headerSafe(t.taskId);
    head += QLatin1String("\r\n");
    if (!contentType.isNull()) {
        head += QLatin1String("Content-Type: ");
        head += headerSafe(contentType);
        head += QLatin1String("\r\n");
    }
    if (!t.deviceId.isEmpty()) {
        head += QLatin1String("Device-ID: ");
        head += headerSafe(t.deviceId);
        head += QLatin1String("\r\n");
    }
    head += QLatin1String("Content-Length: ");
    head += QString::number(length);
    head += QLatin1String("\r\n\r\n");
    return head.toUtf8();
}

QByteArray SCI_ExecObj_Send::buildHead(CTask_FormData& t, const QString& contentTypeLine, qint64 length) const
{
    return composeHead(t, SocketOutQueue::of(socket_)->hostText(), contentTypeLine, length);
}

void SCI_ExecObj_Send::SerializeWrite(QTcpSocket* socket)
{
    socket_ = socket;
    switch (task_.getTaskPkgType()) {
    case 1:
        task_.contentType = QStringLiteral("application/json");
        Integrality_Json(task_);
        break;
    case 2: {
        task_.contentType = QStringLiteral("multipart/form-data");
        QElapsedTimer clock;
        clock.start();
        Integrality_Mat(task_);
        const double duration = double(clock.elapsed()) / 1000.0;
        SendStats& s = sendStats();
        QMutexLocker lock(&s.mutex);
        if (s.roundtimes == 0)
            s.roundtimes = ::gettimeofday_ms();
        s.storage_all += duration;
        s.min_time = s.min_time == 0 ? duration : std::min(s.min_time, duration);
        s.max_time = s.max_time == 0 ? duration : std::max(s.max_time, duration);
        s.sendtimes += 1;
        if (s.sendtimes % 100 == 0) {
            const qint64 previous = s.roundtimes;
            const qint64 now = ::gettimeofday_ms();
            s.roundtimes = now;
            const double perSend = double(now - previous) / 100.0;
            const double fps = perSend > 0 ? 1000.0 / perSend : 0.0;
            // Peers ask for pictures as often as they like: the report goes
            // out at most once an interval.
            static PeerTrafficLog report(QStringLiteral("ImgSend_Report"));
            report.note(QStringLiteral("--send: (%1) --min/max: (%2 / %3) --fps: %4")
                            .arg(s.storage_all / 100, 0, 'f', 3)
                            .arg(s.min_time, 0, 'f', 3)
                            .arg(s.max_time, 0, 'f', 3)
                            .arg(fps));
            s.storage_all = 0;
            s.min_time = 0;
            s.max_time = 0;
        }
        break;
    }
    case 3: {
        const auto first = task_.files.constBegin();
        const QString name = first.key();
        const QByteArray bytes = first.value();
        if (task_.contentType.isEmpty())
            task_.contentType = QStringLiteral("application/octet-stream");
        bool missing = name.isEmpty() && bytes.isEmpty();
        if (!missing && !name.isEmpty()) {
            // A file that cannot be read is answered like one that is not there.
            QFile probe(name);
            missing = !QFileInfo(name).isFile() || !probe.open(QIODevice::ReadOnly);
        }
        if (missing) {
            task_.code = 1;
            task_.msg = kNotFoundFile;
            task_.contentType = QStringLiteral("application/json");
            Integrality_Json(task_);
        } else if (name.isEmpty()) {
            Integrality_BinaryStream(task_);
        } else {
            Integrality_File(task_);
        }
        break;
    }
    default:
        Integrality_Empty(task_);
        break;
    }
    socket_ = nullptr;
}

void SCI_ExecObj_Send::Integrality_Empty(const CTask_FormData& task)
{
    if (!socketReady())
        return;
    CTask_FormData t(task);
    const QString first = t.getResponseFirstLine();
    Q_UNUSED(first)
    QByteArray body;
    if (t.url.isEmpty()) {
        QJsonObject env;
        env.insert(QStringLiteral("code"), t.code);
        env.insert(QStringLiteral("msg"), t.msg);
        body = QJsonDocument(env).toJson(QJsonDocument::Compact);
    }
    // buildHead asks for the first line again; it is stable once formed.
    QByteArray out = buildHead(t, QString(), body.size());
    out += body;
    write(out);
}

void SCI_ExecObj_Send::Integrality_Json(const CTask_FormData& task)
{
    if (!socketReady())
        return;
    CTask_FormData t(task);
    t.getResponseFirstLine();
    QByteArray body;
    if (!t.url.isEmpty()) {
        body = t.jsonBytes.isEmpty() ? QJsonDocument(t.json).toJson(QJsonDocument::Compact) : t.jsonBytes;
    } else if (t.jsonBytes.isEmpty()) {
        QJsonObject env;
        env.insert(QStringLiteral("code"), t.code);
        env.insert(QStringLiteral("msg"), t.msg);
        env.insert(QStringLiteral("result"), t.json);
        body = QJsonDocument(env).toJson(QJsonDocument::Compact);
    } else {
        body = envelope(t.code, t.msg, t.jsonBytes);
    }
    QByteArray out = buildHead(t, t.contentType, body.size());
    out += body;
    write(out);
}

void SCI_ExecObj_Send::Integrality_BinaryStream(const CTask_FormData& task)
{
    if (!socketReady() || task.files.isEmpty())
        return;
    const QByteArray bytes = task.files.constBegin().value();
    if (bytes.isEmpty())
        return;
    CTask_FormData t(task);
    write(buildHead(t, t.contentType, bytes.size()));
    write(bytes);
}

void SCI_ExecObj_Send::Integrality_File(const CTask_FormData& task)
{
    if (!socketReady() || task.files.isEmpty())
        return;
    auto* file = new QFile(task.files.constBegin().key());
    if (!file->open(QIODevice::ReadOnly)) {
        qWarning() << "Integrality_File: cannot open" << file->fileName();
        delete file;
        return;
    }
    const qint64 size = file->size();
    CTask_FormData t(task);
    write(buildHead(t, t.contentType, size));
    SocketOutQueue::of(socket_)->appendFile(file, size, kFileTimeoutMs);
}

void SCI_ExecObj_Send::SendFixLand(const QByteArray& bytes)
{
    if (!socketReady())
        return;
    SocketOutQueue::of(socket_)->appendPaced(bytes, kPacedTimeoutMs);
}

void SCI_ExecObj_Send::Integrality_Mat(const CTask_FormData& task)
{
    if (!socketReady())
        return;
    CTask_FormData t(task);
    const QByteArray crlf("\r\n");
    QList<QByteArray> pieces;

    for (auto it = t.form.constBegin(); it != t.form.constEnd(); ++it) {
        if (it.value().userType() != QMetaType::QJsonObject)
            continue;
        QByteArray p = kBoundary + crlf + dispositionLine(it.key()) + crlf +
                       "Content-Type: application/json" + crlf + crlf +
                       QJsonDocument(it.value().value<QJsonObject>()).toJson(QJsonDocument::Compact) + crlf;
        pieces << p;
    }

    // Pixel data must be 8-bit and gapless; anything else would be sent as
    // garbage that the reader turns into a wrong picture.
    QList<cv::Mat> keep;  // holds the pixel memory while the pieces point at it
    for (auto it = t.images.constBegin(); it != t.images.constEnd(); ++it) {
        cv::Mat m = it.value();
        if (!m.empty() && m.depth() != CV_8U) {
            qWarning() << "Integrality_Mat: picture" << it.key() << "is not 8-bit, not sent";
            continue;
        }
        try {
            if (!m.empty() && !m.isContinuous())
                m = m.clone();
        } catch (const std::exception& e) {
            qWarning() << "Integrality_Mat: cannot copy picture" << it.key() << e.what();
            continue;
        }
        QJsonObject info;
        info.insert(QStringLiteral("channels"), m.channels());
        info.insert(QStringLiteral("data_type"), QStringLiteral("data_type"));
        info.insert(QStringLiteral("datakey"), partName(it.key()));
        info.insert(QStringLiteral("size_height"), m.rows);
        info.insert(QStringLiteral("size_width"), m.cols);
        QByteArray p = kBoundary + crlf + dispositionLine(it.key() + QStringLiteral("-info")) + crlf +
                       "Content-Type: application/json" + crlf + crlf +
                       QJsonDocument(info).toJson(QJsonDocument::Compact) + crlf + kBoundary + crlf +
                       dispositionLine(it.key()) + crlf + "Content-Type: application/octet-stream" + crlf + crlf;
        pieces << p;
        const qint64 n = qint64(m.channels()) * m.cols * m.rows;
        pieces << (n > 0 ? QByteArray::fromRawData(reinterpret_cast<const char*>(m.data), int(n)) : QByteArray());
        pieces << crlf;
        keep << m;
    }
    pieces << kBoundary + crlf;

    qint64 length = 0;
    for (const QByteArray& p : pieces)
        length += p.size();
    write(buildHead(t, t.contentType + QStringLiteral(";boundary=") + QString::fromLatin1(kBoundary), length));
    for (const QByteArray& p : pieces)
        write(p);
}
