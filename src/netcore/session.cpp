#include "session.h"

#include "peertrafficlog.h"

#include "publictools.h"
#include "tcpreactor.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <sys/socket.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString kNotFoundFile = QStringLiteral("未查询到需要获取的图片文件");

QString stripV4Mapped(QString text)
{
    return text.remove(QStringLiteral("::ffff:"));
}

bool headerIs(const QString& name, const char* wanted)
{
    return name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0;
}

// Pictures read from a message point into the message's body instead of
// copying it: the picture holds a reference to the body, released with the
// picture's last copy. One copy less for every frame a camera sends.
class BodySliceAllocator : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int, const int*, int, void*, size_t*, cv::AccessFlag, cv::UMatUsageFlags) const override
    {
        return nullptr;  // only wraps bodies; never makes new pixel memory
    }
    bool allocate(cv::UMatData*, cv::AccessFlag, cv::UMatUsageFlags) const override { return false; }
    void deallocate(cv::UMatData* u) const override
    {
        if (!u || u->refcount != 0)
            return;
        delete static_cast<QByteArray*>(u->userdata);
        delete u;
    }
};

// A picture over `bytes` of `body` from `offset`; a copy when the body does
// not own its bytes (raw data must not be outlived).
cv::Mat bodySlice(const QByteArray& body, int offset, int rows, int cols, int type)
{
    const cv::Mat wrapped(rows, cols, type, const_cast<char*>(body.constData() + offset));
    const auto* d = const_cast<QByteArray&>(body).data_ptr();
    if (d->offset != sizeof(QByteArrayData))
        return wrapped.clone();
    static BodySliceAllocator allocator;
    cv::Mat m = wrapped;
    auto* u = new cv::UMatData(&allocator);
    u->data = u->origdata = m.data;
    u->size = m.total() * m.elemSize();
    u->userdata = new QByteArray(body);  // shares the bytes, keeps them alive
    m.u = u;
    m.allocator = &allocator;
    m.addref();
    return m;
}

// A JSON number as an int when it is a whole number in range; else 0.
int jsonInt(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return 0;
    return int(d);
}

}  // namespace

// ---------------------------------------------------------------------------
// TcpTsk_Info

TcpTsk_Info::TcpTsk_Info() = default;

TcpTsk_Info::TcpTsk_Info(const QString& id)
    : create_timing(::gettimeofday_ms()), uuid(id), create_mono(::monotonic_ms())
{
}

QMap<QString, QVariant> TcpTsk_Info::getReportParam() const
{
    QMap<QString, QVariant> m;
    m.insert(QStringLiteral("_tsk_url"), url);
    m.insert(QStringLiteral("_tsk_uuid"), uuid);
    m.insert(QStringLiteral("_tsk_recvpacklength"), recvpacklength);
    m.insert(QStringLiteral("_tsk_create_timing"), create_timing);
    m.insert(QStringLiteral("_tsk_firstrecv_timing"), firstrecv_timing);
    m.insert(QStringLiteral("_tsk_finishrecv_timing"), finishrecv_timing);
    m.insert(QStringLiteral("_tsk_finishact_timing"), finishact_timing);
    m.insert(QStringLiteral("_tsk_recv_times"), recv_times);
    return m;
}

void TcpTsk_Info::tskup_chg_recvpacklength(const QList<QVariant>& values)
{
    if (!values.isEmpty() && values.first().userType() == QMetaType::Int)
        recvpacklength = values.first().toInt();
}

// ---------------------------------------------------------------------------
// CTask_FormData

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

// ---------------------------------------------------------------------------
// SocketOutQueue

SocketOutQueue::SocketOutQueue(QTcpSocket* socket) : QObject(socket), socket_(socket)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!items_.empty())
            cut("transfer not finished in time");
    });
    connect(socket_, &QIODevice::bytesWritten, this, [this] { pump(); });
}

SocketOutQueue* SocketOutQueue::of(QTcpSocket* socket)
{
    auto* q = socket->findChild<SocketOutQueue*>(QString(), Qt::FindDirectChildrenOnly);
    return q ? q : new SocketOutQueue(socket);
}

void SocketOutQueue::appendBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (items_.empty()) {
        // Straight to the kernel when it takes the bytes: no copy into Qt's
        // buffer and no extra pass of the event loop to flush it. What it
        // does not take goes behind, through Qt, in order.
        const qint64 sent = sendNow(bytes.constData(), bytes.size());
        const qint64 rest = bytes.size() - sent;
        if (rest > 0 && socket_->write(bytes.constData() + sent, rest) != rest)
            cut("write failed");
        return;
    }
    Item it;
    it.bytes = QByteArray(bytes.constData(), bytes.size());  // own the bytes while waiting
    items_.push_back(std::move(it));
}

qint64 SocketOutQueue::sendNow(const char* data, qint64 size)
{
    if (size <= 0 || socket_->bytesToWrite() > 0 || socket_->state() != QAbstractSocket::ConnectedState)
        return 0;
    const qintptr fd = socket_->socketDescriptor();
    if (fd < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::send(int(fd), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR)
            return 0;
    }
}

const QString& SocketOutQueue::hostText()
{
    const QHostAddress address = socket_->peerAddress();
    const quint16 port = socket_->peerPort();
    if (host_.isEmpty() || address != hostAddress_ || port != hostPort_) {
        hostAddress_ = address;
        hostPort_ = port;
        host_ = QStringLiteral("%1:%2").arg(stripV4Mapped(address.toString())).arg(port);
    }
    return host_;
}

void SocketOutQueue::appendFile(QFile* file, qint64 size, int timeoutMs)
{
    Item it;
    it.file.reset(file);
    it.remaining = size;
    it.timeoutMs = timeoutMs;
    items_.push_back(std::move(it));
    pump();
}

void SocketOutQueue::appendPaced(const QByteArray& bytes, int timeoutMs)
{
    if (bytes.isEmpty())
        return;
    Item it;
    it.bytes = QByteArray(bytes.constData(), bytes.size());
    it.paced = true;
    it.timeoutMs = timeoutMs;
    items_.push_back(std::move(it));
    pump();
}

void SocketOutQueue::pump()
{
    while (!items_.empty()) {
        Item& it = items_.front();
        if (!it.paced && !it.file) {
            QByteArray bytes = it.bytes;
            items_.pop_front();
            if (socket_->write(bytes) != bytes.size()) {
                cut("write failed");
                return;
            }
            continue;
        }
        if (!it.started) {
            it.started = true;
            if (it.timeoutMs > 0)
                timer_.start(it.timeoutMs);
        }
        if (socket_->bytesToWrite() >= kHighWater)
            return;  // bytesWritten calls us again
        if (it.paced) {
            const qint64 n = std::min<qint64>(kChunk, it.bytes.size() - it.offset);
            if (socket_->write(it.bytes.constData() + it.offset, n) != n) {
                cut("write failed");
                return;
            }
            it.offset += n;
            if (it.offset >= it.bytes.size()) {
                items_.pop_front();
                timer_.stop();
            }
            continue;
        }
        if (it.remaining > 0) {
            const qint64 n = std::min<qint64>(kChunk, it.remaining);
            const QByteArray chunk = it.file->read(n);
            if (chunk.size() != n) {
                cut("file shorter than announced");
                return;
            }
            if (socket_->write(chunk) != n) {
                cut("write failed");
                return;
            }
            it.remaining -= n;
        }
        if (it.remaining <= 0) {
            items_.pop_front();
            timer_.stop();
        }
    }
}

void SocketOutQueue::cut(const char* why)
{
    qWarning() << "SocketOutQueue: transfer cut, closing the connection:" << why;
    items_.clear();
    timer_.stop();
    socket_->abort();
}

// ---------------------------------------------------------------------------
// SCI_ExecObj_Send

std::atomic<int> SCI_ExecObj_Send::_increase_index_task{0};
const QByteArray SCI_ExecObj_Send::kBoundary = QByteArrayLiteral("------------------------tcpservreactor");

namespace {

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
            qInfo().noquote() << "ImgSend_Report --send:" << QStringLiteral("(%1)").arg(s.storage_all / 100, 0, 'f', 3)
                              << "--min/max:"
                              << QStringLiteral("(%1 / %2)").arg(s.min_time, 0, 'f', 3).arg(s.max_time, 0, 'f', 3)
                              << "--fps:" << fps;
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

// ---------------------------------------------------------------------------
// Receiving

SCI_ExecObj_Recv_Base::~SCI_ExecObj_Recv_Base() = default;

void SCI_ExecObj_Recv_Base::addBody(const QByteArray& bytes)
{
    body_.append(bytes);
}

QByteArray SCI_ExecObj_Recv_Base::showBody() const
{
    return body_;
}

QString SCI_ExecObj_Recv_Base::showHead() const
{
    return head_;
}

SCI_ExecObj_Recv::SCI_ExecObj_Recv(const QByteArray& head, int sessionIndex)
{
    sessionIndex_ = sessionIndex;
    // Lines end with CR LF and nowhere else; a bare CR or LF, or any other
    // control byte, could make a value read as a header of its own here or
    // in a peer that splits differently, so such a head is refused whole.
    for (int i = 0; i < head.size(); ++i) {
        const auto c = static_cast<unsigned char>(head.at(i));
        if (c == '\r' && i + 1 < head.size() && head.at(i + 1) == '\n') {
            ++i;
            continue;
        }
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            headError_ = QStringLiteral("control byte 0x%1 in the message head").arg(int(c), 2, 16, QLatin1Char('0'));
            break;
        }
    }
    QByteArray h = head;
    const int zero = h.indexOf('\0');
    if (zero >= 0)
        h.truncate(zero);
    head_ = QString::fromUtf8(h);

    const QStringList lines = head_.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        headError_ = QStringLiteral("empty head");
    } else {
        // Only the first line is the start line.
        const QString& first = lines.first();
        if (first.startsWith(QLatin1String("HTTP/1.1"))) {
            firstWord_ = QStringLiteral("Response");
            startLineValid_ = true;
        } else if (first.contains(QLatin1String("HTTP/1.1"))) {
            const QStringList words = first.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.size() >= 3) {
                firstWord_ = words.at(0);
                target_ = words.at(1);
                startLineValid_ = true;
            }
        }
    }

    bool seenLength = false;
    for (int i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString name = line.left(colon).trimmed();
        QString value = line.mid(colon + 1).split(QLatin1Char(':'), Qt::SkipEmptyParts).join(QLatin1Char(':'));
        value.remove(QLatin1Char(' '));
        value.remove(QLatin1Char('\t'));
        if (headerIs(name, "User-Agent")) {
            userAgent_ = value;
        } else if (headerIs(name, "Content-Type")) {
            contentType_ = value;
        } else if (headerIs(name, "User-ID")) {
            userId_ = value;
        } else if (headerIs(name, "Content-Length")) {
            if (seenLength) {
                headError_ = QStringLiteral("more than one Content-Length");
                continue;
            }
            seenLength = true;
            bool digits = !value.isEmpty() && value.size() <= 18;
            for (QChar c : value)
                digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            if (!digits) {
                headError_ = QStringLiteral("bad Content-Length \"%1\"").arg(value.left(40));
                continue;
            }
            contentLength_ = value.toLongLong();
        } else if (headerIs(name, "Transfer-Encoding")) {
            headError_ = QStringLiteral("transfer codings are not supported");
        }
    }

    task_.url = target_;
    task_.taskId = userAgent_;
    task_.userId = userId_;
    task_.sessionIndex = sessionIndex;
}

void SCI_ExecObj_Recv::setDuplex_Info(const QHostAddress& address, quint16 port)
{
    task_.peerAddress = stripV4Mapped(address.toString());
    task_.peerPort = port;
}

qint64 SCI_ExecObj_Recv::getNeedLength() const
{
    return contentLength_ - body_.size();
}

void SCI_ExecObj_Recv::addBody(const QByteArray& bytes)
{
    body_.append(bytes);
}

void SCI_ExecObj_Recv::addBody(const char* data, qint64 size)
{
    body_.append(data, int(size));
}

void SCI_ExecObj_Recv::reserveBody(qint64 size)
{
    body_.reserve(int(std::min<qint64>(size, 4 * 1024 * 1024)));
}

CTask_FormData SCI_ExecObj_Recv::getFormData() const
{
    return task_;
}

bool SCI_ExecObj_Recv::analysisIntegrality()
{
    if (getNeedLength() >= 1)
        return false;
    if (!headValid() || !startLineValid_)
        return false;
    if ((firstWord_ == QLatin1String("GET") || firstWord_ == QLatin1String("PUT") || firstWord_ == QLatin1String("POST")) &&
        target_.isEmpty())
        return false;

    const QStringList pieces = target_.split(QLatin1Char('?'), Qt::SkipEmptyParts);
    if (pieces.size() >= 2) {
        task_.url = pieces.first();
        const QString queryText = pieces.mid(1).join(QLatin1Char('?'));
        for (const QString& pair : queryText.split(QLatin1Char('&'), Qt::KeepEmptyParts)) {
            const QStringList kv = pair.split(QLatin1Char('='), Qt::SkipEmptyParts);
            if (kv.size() == 2)
                task_.query.insert(kv.at(0), kv.at(1));
        }
    } else {
        task_.url = target_;
    }

    if (body_.isEmpty())
        return true;
    if (contentType_.contains(QLatin1String("application/json"), Qt::CaseInsensitive))
        return analysisIntegrality_json(body_, task_);
    if (contentType_.contains(QLatin1String("multipart/form-data"), Qt::CaseInsensitive)) {
        const int eq = contentType_.indexOf(QLatin1Char('='));
        if (eq < 0) {
            qWarning() << "analysisIntegrality: multipart message without boundary" << task_.url;
            return false;
        }
        return analysisIntegrality_multipart(contentType_.mid(eq + 1), body_, task_);
    }
    if (contentType_.compare(QLatin1String("application/octet-stream"), Qt::CaseInsensitive) == 0 ||
        contentType_.compare(QLatin1String("image/jpeg"), Qt::CaseInsensitive) == 0)
        return analysisIntegrality_file(body_, task_);
    return analysisIntegrality_Default(body_, task_);
}

bool SCI_ExecObj_Recv::analysisIntegrality_json(const QByteArray& body, CTask_FormData& task)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (doc.isNull() || err.error != QJsonParseError::NoError) {
        qWarning() << "analysisIntegrality_json" << "json error:" << task.url << err.errorString();
        return false;
    }
    task.json = doc.object();
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_file(const QByteArray& body, CTask_FormData& task)
{
    task.files.clear();
    task.files.insert(QString(), body);
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_Default(const QByteArray& body, CTask_FormData& task)
{
    task.body = body;
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_multipart(const QString& boundary, const QByteArray& body, CTask_FormData& task)
{
    QByteArray delimiter = boundary.toUtf8();
    if (delimiter.isEmpty()) {
        qWarning() << "analysisIntegrality_multipart: empty boundary" << task.url;
        return false;
    }
    // Our own writer uses the boundary itself as the delimiter line; standard
    // clients put two hyphens before it (and two after the last one).
    const QByteArray standard = QByteArrayLiteral("--") + delimiter;
    if (body.startsWith(standard))
        delimiter = standard;

    static const QRegularExpression kName(QStringLiteral("(?:^|;)\\s*name=\"([^\"\\s]+)\""),
                                          QRegularExpression::CaseInsensitiveOption);
    struct Span {
        int offset;
        int length;
    };
    QMap<QString, QVariant> texts;
    QMap<QString, Span> binaries;

    const int size = body.size();
    int p = 0;
    while (p < size) {
        const int at = body.indexOf(delimiter, p);
        if (at < 0)
            break;
        const int partStart = p;
        const int partEnd = at;
        p = at + delimiter.size() + 2;
        if (partEnd <= partStart)
            continue;
        const int sep = body.indexOf("\r\n\r\n", partStart);
        if (sep < 0 || sep + 4 > partEnd)
            continue;
        const QString partHead = QString::fromUtf8(body.constData() + partStart, sep - partStart);
        const int dataStart = sep + 4;
        const int dataLen = std::max(0, partEnd - dataStart - 2);

        QString name;
        QString type;
        for (const QString& line : partHead.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            const int colon = line.indexOf(QLatin1Char(':'));
            if (colon <= 0)
                continue;
            const QString hname = line.left(colon).trimmed();
            if (headerIs(hname, "Content-Disposition")) {
                const QRegularExpressionMatch m = kName.match(line.mid(colon + 1));
                if (m.hasMatch())
                    name = m.captured(1);
            } else if (headerIs(hname, "Content-Type")) {
                type = line.mid(colon + 1).trimmed();
            }
        }
        if (name.isEmpty())
            continue;

        const QByteArray data = QByteArray::fromRawData(body.constData() + dataStart, dataLen);
        if (type.contains(QLatin1String("application/json"), Qt::CaseInsensitive)) {
            const QJsonDocument doc = QJsonDocument::fromJson(data);
            if (doc.isNull()) {
                qWarning() << "analysisIntegrality_multipart: part" << name << "is not JSON, dropped";
                continue;
            }
            texts.insert(name, QVariant::fromValue(doc.object()));
        } else if (type.contains(QLatin1String("application/octet-stream"), Qt::CaseInsensitive)) {
            binaries.insert(name, Span{dataStart, dataLen});
        } else {
            const int zero = data.indexOf('\0');
            texts.insert(name, QString::fromUtf8(data.constData(), zero < 0 ? data.size() : zero));
        }
    }

    for (auto it = texts.constBegin(); it != texts.constEnd(); ++it) {
        const QString& name = it.key();
        const QVariant& value = it.value();
        if (value.userType() != QMetaType::QJsonObject) {
            task.form.insert(name, value);
            continue;
        }
        const QJsonObject info = value.value<QJsonObject>();
        if (!info.contains(QStringLiteral("data_type")) || !name.contains(QLatin1String("-info"))) {
            task.form.insert(name, value);
            continue;
        }
        const int channels = jsonInt(info.value(QStringLiteral("channels")));
        const int width = jsonInt(info.value(QStringLiteral("size_width")));
        const int height = jsonInt(info.value(QStringLiteral("size_height")));
        const QString datakey = info.value(QStringLiteral("datakey")).toString();
        const auto bin = binaries.constFind(datakey);
        if (bin == binaries.constEnd())
            continue;
        if (channels == 0 || width == 0 || height == 0)
            continue;
        const bool shapeOk = (channels == 1 || channels == 3 || channels == 4) && width > 0 && height > 0 &&
                             width <= kMaxPictureSide && height <= kMaxPictureSide;
        // Sides are bounded before they are multiplied, so the product fits.
        const qint64 expected = shapeOk ? qint64(width) * qint64(height) * qint64(channels) : 0;
        if (!shapeOk || expected > kMaxPictureBytes) {
            qWarning() << "analysisIntegrality_multipart: refused picture" << name << width << "x" << height << "x"
                       << channels;
            continue;
        }
        if (expected != bin->length)
            continue;
        try {
            const cv::Mat wrapped(height, width, CV_8UC(channels),
                                  const_cast<char*>(body.constData() + bin->offset));
            cv::Mat image;
            if (channels == 4) {
                // Drop the alpha channel: B, G, R stay in their places.
                image.create(height, width, CV_8UC3);
                const int fromTo[] = {0, 0, 1, 1, 2, 2};
                cv::mixChannels(&wrapped, 1, &image, 1, fromTo, 3);
            } else {
                image = bodySlice(body, bin->offset, height, width, CV_8UC(channels));
            }
            task.images.insert(name, image);
        } catch (const cv::Exception& e) {
            qWarning() << "analysisIntegrality_multipart: picture" << name << "failed:" << e.what();
        } catch (const std::exception& e) {
            qWarning() << "analysisIntegrality_multipart: picture" << name << "failed:" << e.what();
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Session

Session::Session(void* reactor, QTcpSocket* socket, int index) : QObject(nullptr), index_(index), reactor_(reactor)
{
    if (!socket)
        return;
    socket_.reset(socket);
    peerAddress_ = socket->peerAddress();
    peerPort_ = socket->peerPort();
    connect(socket, &QIODevice::readyRead, socket, [this] { onReadyRead(); });
    connect(socket, &QAbstractSocket::stateChanged, socket,
            [this](QAbstractSocket::SocketState s) { onStateChanged(s); });
    connect(socket, &QIODevice::bytesWritten, socket, [this] { resumeReadingWhenAnswered(); });
    // The socket's read notifier, to hold back the end of the peer's stream
    // (see peerHasFinished).
    for (QSocketNotifier* n : socket->findChildren<QSocketNotifier*>()) {
        if (n->type() == QSocketNotifier::Read && n->thread() == thread()) {
            readNotifier_ = n;
            n->installEventFilter(this);
            break;
        }
    }
    qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
    working_ = socket->state() == QAbstractSocket::ConnectedState;
    if (auto* r = reactor_ ? static_cast<XANC::TcpReactor*>(reactor_) : nullptr)
        limits_ = r->sessionLimits();
    guard_ = new QTimer(socket);
    guard_->setSingleShot(true);
    connect(guard_, &QTimer::timeout, socket, [this] {
        switch (phase_) {
        case Phase::Head:
            closeConnection(QStringLiteral("message head not complete in time"));
            break;
        case Phase::Body:
            closeConnection(QStringLiteral("message body stalled"));
            break;
        case Phase::Idle:
            if (socket_->bytesToWrite() > 0 || !SocketOutQueue::of(socket_.data())->idle()) {
                guard_->start(limits_.idleTimeoutMs);  // still sending to the peer
            } else {
                qInfo() << "Session" << index_ << "idle, closing";
                closing_ = true;
                socket_->disconnectFromHost();
            }
            break;
        }
    });
    armGuard();
}

Session::~Session()
{
    if (auto* r = reactor())
        r->forgetSession(index_, this);
    if (socket_) {
        socket_->disconnect();  // nothing may call back into this half-destroyed session
        socket_.reset();
    }
}

XANC::TcpReactor* Session::reactor() const
{
    return static_cast<XANC::TcpReactor*>(reactor_);
}

void Session::setLimits(const Limits& limits)
{
    limits_ = limits;
    armGuard();
}

void Session::onStateChanged(QAbstractSocket::SocketState state)
{
    working_ = state == QAbstractSocket::ConnectedState;
    if (state == QAbstractSocket::UnconnectedState && guard_)
        guard_->stop();
}

bool Session::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::SockAct && watched == readNotifier_ && socket_ &&
        (unanswered_ > 0 || socket_->bytesToWrite() > 0 || !SocketOutQueue::of(socket_.data())->idle()) &&
        peerHasFinished()) {
        readNotifier_->setEnabled(false);
        readPaused_ = true;
        if (!answerWait_) {
            answerWait_ = new QTimer(socket_.data());
            answerWait_->setSingleShot(true);
            connect(answerWait_, &QTimer::timeout, socket_.data(), [this] {
                qInfo() << "Session" << index_ << "peer has closed and" << unanswered_ << "request(s) went unanswered";
                unanswered_ = 0;
                resumeReadingWhenAnswered();
            });
        }
        answerWait_->start(kAnswerWaitMs);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool Session::peerHasFinished() const
{
    if (!socket_)
        return false;
    char c;
    return ::recv(int(socket_->socketDescriptor()), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void Session::resumeReadingWhenAnswered()
{
    // The answers must have left the socket's own buffer: reading the end
    // of the stream closes the connection and drops what is still there.
    if (!readPaused_ || unanswered_ > 0 || !socket_ || socket_->bytesToWrite() > 0 ||
        !SocketOutQueue::of(socket_.data())->idle())
        return;
    readPaused_ = false;
    if (answerWait_)
        answerWait_->stop();
    if (readNotifier_)
        readNotifier_->setEnabled(true);  // the socket now reads the end and closes
}

void Session::onReadyRead()
{
    if (!socket_)
        return;
    feedBytes(socket_->readAll());
}

void Session::feedBytes(const QByteArray& data)
{
    if (closing_ || data.isEmpty())
        return;
    if (recvBuffer_.size() == bufferPos_) {
        recvBuffer_ = data;
        bufferPos_ = 0;
        scanFrom_ = 0;
    } else {
        recvBuffer_.append(data);
    }
    analyseBuffer_Setup1();
}

void Session::takeBody(qint64 n)
{
    current_->addBody(recvBuffer_.constData() + bufferPos_, n);
    bufferPos_ += n;
}

void Session::closeConnection(const QString& why)
{
    if (closing_)
        return;
    closing_ = true;
    qWarning().noquote() << QStringLiteral("Session %1 (%2:%3): %4, closing the connection")
                                .arg(index_)
                                .arg(stripV4Mapped(peerAddress_.toString()))
                                .arg(peerPort_)
                                .arg(why);
    if (guard_)
        guard_->stop();
    current_.reset();
    receiving_ = false;
    recvBuffer_.clear();
    bufferPos_ = 0;
    if (socket_)
        socket_->abort();
}

void Session::analyseBuffer_Setup1()
{
    auto* r = reactor();
    while (!closing_) {
        const qint64 available = recvBuffer_.size() - bufferPos_;
        if (!receiving_) {
            if (available <= 0)
                break;
            // A head that trickles in is not searched from its start again.
            const qint64 from = std::max(bufferPos_, scanFrom_ - 3);
            const int sep = recvBuffer_.indexOf("\r\n\r\n", int(from));
            scanFrom_ = sep < 0 ? recvBuffer_.size() : 0;
            if (sep < 0 || sep - bufferPos_ > limits_.maxHeadBytes) {
                if (sep >= 0 || available > limits_.maxHeadBytes)
                    closeConnection(QStringLiteral("message head longer than %1 bytes").arg(limits_.maxHeadBytes));
                break;  // wait for the rest of the head
            }
            const QByteArray head = recvBuffer_.mid(int(bufferPos_), int(sep - bufferPos_));
            bufferPos_ = sep + 4;

            // Lines before the first start line are noise and dropped.
            int start = -1;
            for (int pos = 0; pos < head.size();) {
                int end = head.indexOf("\r\n", pos);
                if (end < 0)
                    end = head.size();
                if (head.mid(pos, end - pos).contains("HTTP/1.1")) {
                    start = pos;
                    break;
                }
                pos = end + 2;
            }
            if (start < 0) {
                qWarning() << "Session" << index_ << "dropped a message head without a start line";
                continue;
            }
            auto message = std::make_shared<SCI_ExecObj_Recv>(head.mid(start), index_);
            if (!message->headValid()) {
                closeConnection(message->headError());
                break;
            }
            if (message->contentLength() > limits_.maxBodyBytes) {
                closeConnection(QStringLiteral("body of %1 bytes is over the limit").arg(message->contentLength()));
                break;
            }
            message->setDuplex_Info(peerAddress_, peerPort_);
            message->reserveBody(message->contentLength());
            receiving_ = true;
            current_ = message;
            const QString id = message->taskId();
            if (r) {
                if (message->isRequest())
                    r->append_TcpTask(id);
                r->update_TcpTsk_ByUuid(id, QStringLiteral("tskup_firstrecv_timing"), {});
                r->update_TcpTsk_ByUuid(id, QStringLiteral("tskup_chg_recvpacklength"),
                                        {QVariant(int(message->contentLength()))});
            }
            const qint64 need = message->getNeedLength();
            const qint64 left = recvBuffer_.size() - bufferPos_;
            if (need > 0 && left > 0)
                takeBody(std::min(need, left));
        } else {
            if (!current_) {
                receiving_ = false;
                break;
            }
            const qint64 need = current_->getNeedLength();
            if (need > 0) {
                if (available <= 0)
                    break;
                if (r)
                    r->update_TcpTsk_ByUuid(current_->taskId(), QStringLiteral("tskup_recv_times"), {});
                takeBody(std::min(need, available));
            }
        }

        // Completion check.
        if (!current_)
            break;
        if (current_->getNeedLength() > 0)
            break;
        if (r)
            r->update_TcpTsk_ByUuid(current_->taskId(), QStringLiteral("tskup_finishrecv_timing"), {});
        analyseBuffer_Setup2_5();
        receiving_ = false;
        current_.reset();
        // Go on: a pipelining peer may already have sent the next message.
    }

    if (bufferPos_ >= recvBuffer_.size()) {
        recvBuffer_.clear();
        bufferPos_ = 0;
        scanFrom_ = 0;
    } else if (bufferPos_ > 65536) {
        recvBuffer_.remove(0, int(bufferPos_));
        scanFrom_ = std::max<qint64>(0, scanFrom_ - bufferPos_);
        bufferPos_ = 0;
    }
    armGuard();
}

void Session::analyseBuffer_Setup2_5()
{
    std::shared_ptr<SCI_ExecObj_Recv> message = current_;
    if (!message)
        return;
    if (!message->analysisIntegrality()) {
        qWarning().noquote() << QStringLiteral("Session %1: dropped a message that does not parse: %2")
                                    .arg(index_)
                                    .arg(message->showHead().section(QStringLiteral("\r\n"), 0, 0).left(200));
        return;
    }
    emitAnalysed(*message);
}

void Session::emitAnalysed(SCI_ExecObj_Recv& message)
{
    CTask_FormData record = message.getFormData();
    auto* r = reactor();
    if (r) {
        const CVariant<TcpTsk_Info> held = r->getTcpTask(record.taskId);
        QMutexLocker a(&record.tasksMutex);
        QMutexLocker b(held.mutex());
        record.tasks = held.unlockedValues();
    }
    if (record.url.isEmpty()) {
        emit sigResponse(record);
    } else {
        if (r)
            r->remove_TaskFromList(record.taskId);
        if (!r || r->hasRequestReceiver()) {
            ++unanswered_;
        } else {
            // A link that serves no requests (a client link): dropped here,
            // on the loop thread, and counted.
            static PeerTrafficLog unasked(QStringLiteral("requests on a link that serves none dropped"));
            unasked.note(record.url.left(200));
        }
        emit sigRequest(record);
    }
}

void Session::armGuard()
{
    if (!guard_ || closing_)
        return;
    const Phase want = receiving_ ? Phase::Body : (bufferPos_ < recvBuffer_.size() ? Phase::Head : Phase::Idle);
    switch (want) {
    case Phase::Body:
        if (limits_.bodyTimeoutMs > 0)
            guard_->start(limits_.bodyTimeoutMs);
        else
            guard_->stop();
        break;
    case Phase::Head:
        if (phase_ != Phase::Head || !guard_->isActive()) {
            if (limits_.headTimeoutMs > 0)
                guard_->start(limits_.headTimeoutMs);
            else
                guard_->stop();
        }
        break;
    case Phase::Idle:
        if (limits_.idleTimeoutMs > 0)
            guard_->start(limits_.idleTimeoutMs);
        else
            guard_->stop();
        break;
    }
    phase_ = want;
}

bool Session::SlotSendAction(SCI_ExecObj_Send send)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SlotSendAction", Qt::QueuedConnection, Q_ARG(SCI_ExecObj_Send, send));
        return false;
    }
    if (socket_ && !closing_)
        send.SerializeWrite(socket_.data());
    if (send.task().url.isEmpty() && unanswered_ > 0) {
        --unanswered_;
        resumeReadingWhenAnswered();
    }
    return true;
}
