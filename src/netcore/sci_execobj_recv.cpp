#include "sci_execobj_recv.h"

#include "peertext_p.h"
#include "peertrafficlog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// What a peer puts in its bodies decides how often these come: counted.
PeerTrafficLog& refusedLog()
{
    static PeerTrafficLog log(QStringLiteral("SCI_ExecObj_Recv: bodies or parts that do not parse, dropped"));
    return log;
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

// Where a binary part's bytes lie in the body.
struct Span {
    int offset;
    int length;
};

// The named parts of a multipart body: text and JSON parts by value, binary
// ones by where they lie. Parts without a name are dropped, and so are JSON
// parts that do not parse.
struct Parts {
    QMap<QString, QVariant> texts;
    QMap<QString, Span> binaries;
};

Parts cutParts(const QByteArray& body, const QByteArray& delimiter)
{
    static const QRegularExpression kName(QStringLiteral("(?:^|;)\\s*name=\"([^\"\\s]+)\""),
                                          QRegularExpression::CaseInsensitiveOption);
    Parts parts;
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
                refusedLog().note(QStringLiteral("multipart part %1 is not JSON").arg(name.left(200)));
                continue;
            }
            parts.texts.insert(name, QVariant::fromValue(doc.object()));
        } else if (type.contains(QLatin1String("application/octet-stream"), Qt::CaseInsensitive)) {
            parts.binaries.insert(name, Span{dataStart, dataLen});
        } else {
            const int zero = data.indexOf('\0');
            parts.texts.insert(name, QString::fromUtf8(data.constData(), zero < 0 ? data.size() : zero));
        }
    }
    return parts;
}

// Adds the picture that the "-info" part `name` describes with `info` and
// whose pixels are the binary part it names. A picture that does not match
// its description, or is larger than a peer may make us build, is dropped.
void addPicture(const QString& name, const QJsonObject& info, const QMap<QString, Span>& binaries,
                const QByteArray& body, CTask_FormData& task)
{
    const int channels = jsonInt(info.value(QStringLiteral("channels")));
    const int width = jsonInt(info.value(QStringLiteral("size_width")));
    const int height = jsonInt(info.value(QStringLiteral("size_height")));
    const QString datakey = info.value(QStringLiteral("datakey")).toString();
    const auto bin = binaries.constFind(datakey);
    if (bin == binaries.constEnd())
        return;
    if (channels == 0 || width == 0 || height == 0)
        return;
    const bool shapeOk = (channels == 1 || channels == 3 || channels == 4) && width > 0 && height > 0 &&
                         width <= SCI_ExecObj_Recv::kMaxPictureSide && height <= SCI_ExecObj_Recv::kMaxPictureSide;
    // Sides are bounded before they are multiplied, so the product fits.
    const qint64 expected = shapeOk ? qint64(width) * qint64(height) * qint64(channels) : 0;
    if (!shapeOk || expected > SCI_ExecObj_Recv::kMaxPictureBytes) {
        refusedLog().note(QStringLiteral("multipart picture %1 refused: %2 x %3 x %4")
                              .arg(name.left(200))
                              .arg(width)
                              .arg(height)
                              .arg(channels));
        return;
    }
    if (expected != bin->length)
        return;
    try {
        const cv::Mat wrapped(height, width, CV_8UC(channels), const_cast<char*>(body.constData() + bin->offset));
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
        refusedLog().note(QStringLiteral("multipart picture %1 failed: %2").arg(name.left(200), QString::fromUtf8(e.what())));
    } catch (const std::exception& e) {
        refusedLog().note(QStringLiteral("multipart picture %1 failed: %2").arg(name.left(200), QString::fromUtf8(e.what())));
    }
}

}  // namespace

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
            refusedLog().note(QStringLiteral("multipart message without boundary: %1").arg(task_.url.left(200)));
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
        refusedLog().note(QStringLiteral("JSON error: %1 %2").arg(task.url.left(200), err.errorString()));
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
        refusedLog().note(QStringLiteral("multipart message with an empty boundary: %1").arg(task.url.left(200)));
        return false;
    }
    // Our own writer uses the boundary itself as the delimiter line; standard
    // clients put two hyphens before it (and two after the last one).
    const QByteArray standard = QByteArrayLiteral("--") + delimiter;
    if (body.startsWith(standard))
        delimiter = standard;

    const Parts parts = cutParts(body, delimiter);
    for (auto it = parts.texts.constBegin(); it != parts.texts.constEnd(); ++it) {
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
        addPicture(name, info, parts.binaries, body, task);
    }
    return true;
}
