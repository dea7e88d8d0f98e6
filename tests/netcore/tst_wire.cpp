// The task record and the HTTP/1.1 dialect: exact bytes of every kind of
// message, records surviving a write and a read, and what the reader makes of
// odd or hostile input.
#include "session.h"
#include "support_net.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

using nettest::cutStream;
using nettest::wireBytes;

Q_DECLARE_METATYPE(cv::Mat)

namespace {

bool sameMat(const cv::Mat& a, const cv::Mat& b)
{
    if (a.rows != b.rows || a.cols != b.cols || a.type() != b.type())
        return false;
    if (a.empty())
        return true;
    return cv::countNonZero(a.reshape(1) != b.reshape(1)) == 0;
}

CTask_FormData reply(const QString& id)
{
    CTask_FormData r;
    r.taskId = id;
    return r;
}

QByteArray head(const QByteArray& firstLine, quint16 port, const QByteArray& rest)
{
    return firstLine + "\r\nHOST: 127.0.0.1:" + QByteArray::number(port) + "\r\n" + rest;
}

const QByteArray B = "------------------------tcpservreactor";

}  // namespace

class TstWire : public QObject {
    Q_OBJECT
private slots:
    void firstLine_data();
    void firstLine();
    void bodyKind_data();
    void bodyKind();
    void recordCopyWhileTasksGrow();
    void taskIdStampIsLocalTimeNow();
    void goldenBytes_data();
    void goldenBytes();
    void goldenMultipart();
    void roundTrip_data();
    void roundTrip();
    void readerHead_data();
    void readerHead();
    void hostileHeadsClose_data();
    void hostileHeadsClose();
    void hostilePictures_data();
    void hostilePictures();
    void standardMultipart();
    void writtenValuesCannotAddHeaders();
    void garbageNeverCrashes();
};

void TstWire::firstLine_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("codeAfter");
    QTest::addColumn<QString>("msgAfter");
    QTest::newRow("default reply") << "" << 0 << "HTTP/1.1 200 OK" << 200 << "OK";
    QTest::newRow("404 reply") << "" << 404 << "HTTP/1.1 404 Not Found" << 404 << "no found url";
    QTest::newRow("403 keeps OK") << "" << 403 << "HTTP/1.1 403 OK" << 403 << "OK";
    QTest::newRow("own code 1 gets a valid status") << "" << 1 << "HTTP/1.1 200 OK" << 1 << "OK";
    QTest::newRow("negative code") << "" << -3 << "HTTP/1.1 200 OK" << -3 << "OK";
    QTest::newRow("request with query") << "/a" << 0 << "POST /a?b=1&c=2 HTTP/1.1" << 0 << "OK";
}

void TstWire::firstLine()
{
    QFETCH(QString, url);
    QFETCH(int, code);
    QFETCH(QString, line);
    CTask_FormData r;
    r.url = url;
    r.code = code;
    if (!url.isEmpty()) {
        r.query.insert("c", "2");
        r.query.insert("b", "1");
    }
    QFETCH(int, codeAfter);
    QFETCH(QString, msgAfter);
    QCOMPARE(r.getResponseFirstLine(), line);
    QCOMPARE(r.code, codeAfter);
    QCOMPARE(r.msg, msgAfter);
}

void TstWire::bodyKind_data()
{
    QTest::addColumn<bool>("image");
    QTest::addColumn<bool>("file");
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("kind");
    QTest::newRow("nothing") << false << false << false << 0;
    QTest::newRow("json") << false << false << true << 1;
    QTest::newRow("file beats json") << false << true << true << 3;
    QTest::newRow("image beats file") << true << true << false << 2;
    QTest::newRow("image beats all") << true << true << true << 2;
}

void TstWire::bodyKind()
{
    QFETCH(bool, image);
    QFETCH(bool, file);
    QFETCH(bool, json);
    CTask_FormData r;
    if (image)
        r.images.insert("i", cv::Mat(1, 1, CV_8UC1, cv::Scalar(3)));
    if (file)
        r.files.insert("", "x");
    if (json)
        r.json.insert("a", 1);
    r.form.insert("f", QJsonObject{{"k", 1}});  // form fields alone never make a kind
    QTEST(r.getTaskPkgType(), "kind");
}

void TstWire::recordCopyWhileTasksGrow()
{
    CTask_FormData source;
    source.url = "/x";
    std::atomic<bool> stop{false};
    QThread* writer = QThread::create([&] {
        for (int i = 0; i < 20000 && !stop; ++i) {
            TcpTsk_Info info(QString::number(i));
            QMutexLocker lock(&source.tasksMutex);
            source.tasks.append(info);
        }
    });
    writer->start();
    int lastSize = 0;
    while (!writer->isFinished()) {
        CTask_FormData copy(source);
        const QList<TcpTsk_Info> tasks = copy.tasksCopy();
        QVERIFY(tasks.size() >= lastSize);
        for (int i = 0; i < tasks.size(); ++i)
            QCOMPARE(tasks.at(i).uuid, QString::number(i));
        lastSize = tasks.size();
        CTask_FormData assigned;
        assigned = source;
        QCOMPARE(assigned.url, QString("/x"));
    }
    stop = true;
    writer->wait();
    delete writer;
}

void TstWire::taskIdStampIsLocalTimeNow()
{
    // Stamps a few times over more than a second, so the text of a second
    // formed once is seen to move on.
    const QString format = QStringLiteral("yyyyMMdd_hhmmss_zzz");
    for (int i = 0; i < 4; ++i) {
        const QString before = QDateTime::currentDateTime().toString(format);
        const QString stamp = taskIdStamp();
        const QString after = QDateTime::currentDateTime().toString(format);
        QVERIFY2(before <= stamp && stamp <= after, qPrintable(before + " " + stamp + " " + after));
        QThread::msleep(350);
    }
}

void TstWire::goldenBytes_data()
{
    QTest::addColumn<CTask_FormData>("record");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("rest");

    static QTemporaryDir dir;
    const QString file = dir.filePath("f.bin");
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write("hello file");
    }
    const QByteArray notFound = QString::fromUtf8(
        "{\"code\":1,\"msg\":\"未查询到需要获取的图片文件\",\"result\":{}}").toUtf8();

    QTest::newRow("default reply") << reply("t1") << QByteArray("HTTP/1.1 200 OK")
                                   << QByteArray("User-Agent: t1\r\nContent-Length: 23\r\n\r\n{\"code\":200,\"msg\":\"OK\"}");
    {
        CTask_FormData r = reply("t2");
        r.code = 404;
        r.msg = "whatever";
        QTest::newRow("404 reply") << r << QByteArray("HTTP/1.1 404 Not Found")
                                   << QByteArray("User-Agent: t2\r\nContent-Length: 33\r\n\r\n{\"code\":404,\"msg\":\"no found url\"}");
    }
    {
        CTask_FormData r = reply("t3");
        r.json.insert("a", 1);
        QTest::newRow("json reply") << r << QByteArray("HTTP/1.1 200 OK")
                                    << QByteArray("User-Agent: t3\r\nContent-Type: application/json\r\nContent-Length: 40\r\n\r\n"
                                                  "{\"code\":200,\"msg\":\"OK\",\"result\":{\"a\":1}}");
    }
    {
        // A result written out beforehand travels byte for byte as the
        // object itself would, envelope and all.
        CTask_FormData r = reply("t3");
        r.jsonBytes = "{\"a\":1}";
        QTest::newRow("json reply written beforehand") << r << QByteArray("HTTP/1.1 200 OK")
                                                       << QByteArray("User-Agent: t3\r\nContent-Type: application/json\r\nContent-Length: 40\r\n\r\n"
                                                                     "{\"code\":200,\"msg\":\"OK\",\"result\":{\"a\":1}}");
        r.code = 403;
        r.msg = QString::fromUtf8("拒绝\"");
        const QByteArray body = QString::fromUtf8("{\"code\":403,\"msg\":\"拒绝\\\"\",\"result\":{\"a\":1}}").toUtf8();
        QTest::newRow("json reply written beforehand, own status")
            << r << QByteArray("HTTP/1.1 403 OK")
            << QByteArray("User-Agent: t3\r\nContent-Type: application/json\r\nContent-Length: ") +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    {
        CTask_FormData r = reply("t4");
        r.code = 403;
        r.msg = "denied";
        r.deviceId = "dev9";
        QTest::newRow("status reply with device") << r << QByteArray("HTTP/1.1 403 OK")
                                                  << QByteArray("User-Agent: t4\r\nDevice-ID: dev9\r\nContent-Length: 27\r\n\r\n"
                                                                "{\"code\":403,\"msg\":\"denied\"}");
    }
    {
        CTask_FormData r;
        r.url = "/v18/x";
        r.taskId = "t5";
        r.query.insert("b", "1 2");
        r.query.insert("a", "x&y=z");
        QTest::newRow("empty request, query unescaped") << r << QByteArray("POST /v18/x?a=x&y=z&b=1 2 HTTP/1.1")
                                                        << QByteArray("User-Agent: t5\r\nContent-Length: 0\r\n\r\n");
    }
    {
        CTask_FormData r;
        r.url = "/j";
        r.method = "PUT";
        r.taskId = "t6";
        r.json.insert("n", QString::fromUtf8("ü"));
        QTest::newRow("json request counts utf-8 bytes")
            << r << QByteArray("PUT /j HTTP/1.1")
            << QByteArray("User-Agent: t6\r\nContent-Type: application/json\r\nContent-Length: 10\r\n\r\n") +
                   QString::fromUtf8("{\"n\":\"ü\"}").toUtf8();
    }
    {
        CTask_FormData r = reply("t7");
        r.files.insert("", "abc");
        r.contentType = "image/jpeg";
        r.json.insert("ignored", true);
        QTest::newRow("binary stream") << r << QByteArray("HTTP/1.1 200 OK")
                                       << QByteArray("User-Agent: t7\r\nContent-Type: image/jpeg\r\nContent-Length: 3\r\n\r\nabc");
    }
    {
        CTask_FormData r = reply("t8");
        r.files.insert(file, "ignored bytes");
        QTest::newRow("named file") << r << QByteArray("HTTP/1.1 200 OK")
                                    << QByteArray("User-Agent: t8\r\nContent-Type: application/octet-stream\r\n"
                                                  "Content-Length: 10\r\n\r\nhello file");
    }
    {
        CTask_FormData r = reply("t9");
        r.files.insert("/no/such/picture.jpg", QByteArray());
        QTest::newRow("missing file") << r << QByteArray("HTTP/1.1 200 OK")
                                      << QByteArray("User-Agent: t9\r\nContent-Type: application/json\r\nContent-Length: ") +
                                             QByteArray::number(notFound.size()) + "\r\n\r\n" + notFound;
    }
    {
        CTask_FormData r = reply("t10");
        r.files.insert(dir.path(), QByteArray());
        QTest::newRow("unreadable file (a folder)") << r << QByteArray("HTTP/1.1 200 OK")
                                                    << QByteArray("User-Agent: t10\r\nContent-Type: application/json\r\nContent-Length: ") +
                                                           QByteArray::number(notFound.size()) + "\r\n\r\n" + notFound;
    }
    {
        CTask_FormData r = reply("t11");
        r.files.insert("", QByteArray());
        QTest::newRow("empty name and bytes") << r << QByteArray("HTTP/1.1 200 OK")
                                              << QByteArray("User-Agent: t11\r\nContent-Type: application/json\r\nContent-Length: ") +
                                                     QByteArray::number(notFound.size()) + "\r\n\r\n" + notFound;
    }
    {
        CTask_FormData r;
        r.url = "/f";
        r.taskId = "t12";
        r.form.insert("meta", QJsonObject{{"k", 1}});
        QTest::newRow("form without picture is not multipart")
            << r << QByteArray("POST /f HTTP/1.1") << QByteArray("User-Agent: t12\r\nContent-Length: 0\r\n\r\n");
    }
}

void TstWire::goldenBytes()
{
    QFETCH(CTask_FormData, record);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, rest);
    quint16 port = 0;
    const QByteArray got = wireBytes(record, &port);
    QCOMPARE(got, head(first, port, rest));
}

void TstWire::goldenMultipart()
{
    CTask_FormData r;
    r.url = "/up";
    r.taskId = "t";
    r.form.insert("meta", QJsonObject{{"k", 1}});
    r.form.insert("skip", QString("text is not sent"));
    const uchar px[] = {7, 9};
    r.images.insert("p", cv::Mat(1, 2, CV_8UC1, const_cast<uchar*>(px)).clone());
    quint16 port = 0;
    const QByteArray got = wireBytes(r, &port);

    const QByteArray body = B + "\r\nContent-Disposition: form-data; name=\"meta\"\r\nContent-Type: application/json\r\n\r\n{\"k\":1}\r\n" +
                            B + "\r\nContent-Disposition: form-data; name=\"p-info\"\r\nContent-Type: application/json\r\n\r\n"
                                "{\"channels\":1,\"data_type\":\"data_type\",\"datakey\":\"p\",\"size_height\":1,\"size_width\":2}\r\n" +
                            B + "\r\nContent-Disposition: form-data; name=\"p\"\r\nContent-Type: application/octet-stream\r\n\r\n"
                                "\x07\x09\r\n" +
                            B + "\r\n";
    const QByteArray expected = head("POST /up HTTP/1.1", port,
                                     "User-Agent: t\r\nContent-Type: multipart/form-data;boundary=" + B +
                                         "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n") +
                                body;
    QCOMPARE(got, expected);
}

void TstWire::roundTrip_data()
{
    QTest::addColumn<CTask_FormData>("record");
    QTest::addColumn<CTask_FormData>("expected");

    {
        CTask_FormData r;
        r.url = "/v18/http/get";
        r.taskId = "id 1";
        r.query.insert("a", "1");
        r.query.insert("z", "x y");
        r.json.insert("n", QString::fromUtf8("中文"));
        CTask_FormData e;
        e.url = r.url;
        e.taskId = "id1";  // spaces never survive a header value
        e.query.insert("a", "1");
        e.query.insert("z", "x");  // the space ends the target on the wire
        e.json = r.json;
        QTest::newRow("json request") << r << e;
    }
    {
        CTask_FormData r = reply("r2");
        r.json.insert("v", 2);
        CTask_FormData e = reply("r2");
        e.json = QJsonObject{{"code", 200}, {"msg", "OK"}, {"result", QJsonObject{{"v", 2}}}};
        QTest::newRow("json reply comes back as its envelope") << r << e;
    }
    {
        CTask_FormData r = reply("r3");
        CTask_FormData e = reply("r3");
        e.body = "{\"code\":200,\"msg\":\"OK\"}";
        QTest::newRow("status reply comes back in body") << r << e;
    }
    {
        CTask_FormData r;
        r.url = "/e";
        r.taskId = "r4";
        CTask_FormData e = r;
        QTest::newRow("empty request") << r << e;
    }
    for (const char* type : {"application/octet-stream", "image/jpeg"}) {
        CTask_FormData r = reply("r5");
        r.files.insert("", QByteArray("\0\1\2binary", 9));
        r.contentType = type;
        CTask_FormData e = reply("r5");
        e.files.insert("", QByteArray("\0\1\2binary", 9));
        QTest::newRow(qPrintable(QString("stream as %1").arg(type))) << r << e;
    }
    {
        CTask_FormData r = reply("r6");
        r.files.insert("", "plain words");
        r.contentType = "text/plain";
        CTask_FormData e = reply("r6");
        e.body = "plain words";
        QTest::newRow("stream of another type comes back in body") << r << e;
    }
    {
        cv::Mat gray(3, 5, CV_8UC1);
        cv::Mat color(4, 2, CV_8UC3);
        cv::Mat alpha(2, 3, CV_8UC4);
        cv::randu(gray, 0, 255);
        cv::randu(color, 0, 255);
        cv::randu(alpha, 0, 255);
        CTask_FormData r;
        r.url = "/pictures";
        r.taskId = "r7";
        r.form.insert("meta", QJsonObject{{"cam", 3}});
        r.images.insert("g", gray);
        r.images.insert("c", color);
        r.images.insert("a", alpha);
        r.images.insert("roi", color(cv::Rect(0, 1, 2, 2)));  // not continuous
        CTask_FormData e;
        e.url = r.url;
        e.taskId = "r7";
        e.form.insert("meta", QJsonObject{{"cam", 3}});
        e.images.insert("g-info", gray);
        e.images.insert("c-info", color);
        cv::Mat bgr(2, 3, CV_8UC3);
        const int fromTo[] = {0, 0, 1, 1, 2, 2};
        cv::mixChannels(&alpha, 1, &bgr, 1, fromTo, 3);
        e.images.insert("a-info", bgr);
        e.images.insert("roi-info", color(cv::Rect(0, 1, 2, 2)).clone());
        QTest::newRow("multipart with 1, 3 and 4 channels") << r << e;
    }
}

void TstWire::roundTrip()
{
    QFETCH(CTask_FormData, record);
    QFETCH(CTask_FormData, expected);
    const QByteArray bytes = wireBytes(record);
    QVERIFY(!bytes.isEmpty());
    const QList<CTask_FormData> got = cutStream(bytes);
    QCOMPARE(got.size(), 1);
    const CTask_FormData& r = got.first();
    QCOMPARE(r.url, expected.url);
    QCOMPARE(r.taskId, expected.taskId);
    QCOMPARE(r.method, QString("POST"));
    QCOMPARE(r.code, 0);
    QCOMPARE(r.msg, QString("OK"));
    QCOMPARE(r.sessionIndex, 7);
    QCOMPARE(r.query, expected.query);
    QCOMPARE(r.json, expected.json);
    QCOMPARE(r.body, expected.body);
    QCOMPARE(r.files, expected.files);
    QCOMPARE(r.form, expected.form);
    QCOMPARE(r.images.keys(), expected.images.keys());
    for (const QString& k : expected.images.keys())
        QVERIFY2(sameMat(r.images.value(k), expected.images.value(k)), qPrintable(k));
}

void TstWire::readerHead_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("urls");      // of the records read, "" for a reply
    QTest::addColumn<QString>("checkKey");      // query key, json key or "body"/"files"/"code"
    QTest::addColumn<QString>("checkValue");

    QTest::newRow("header names in any case")
        << QByteArray("POST /a HTTP/1.1\r\ncontent-type: application/json\r\nCONTENT-LENGTH: 7\r\nuser-agent: u1\r\n\r\n{\"k\":1}")
        << QStringList{"/a"} << "json:k" << "1";
    QTest::newRow("names match exactly, not by containment")
        << QByteArray("POST /b HTTP/1.1\r\nX-Content-Length: 99\r\nContent-Length: 2\r\n\r\nhi") << QStringList{"/b"}
        << "body" << "hi";
    QTest::newRow("only the first line is the start line")
        << QByteArray("POST /c HTTP/1.1\r\nReferer: GET /evil HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QStringList{"/c"}
        << "" << "";
    QTest::newRow("json with charset") << QByteArray("POST /d HTTP/1.1\r\nContent-Type: application/json; charset=utf-8\r\n"
                                                     "Content-Length: 7\r\n\r\n{\"k\":2}")
                                       << QStringList{"/d"} << "json:k" << "2";
    QTest::newRow("jpeg with parameter goes to body")
        << QByteArray("POST /e HTTP/1.1\r\nContent-Type: image/jpeg; q=1\r\nContent-Length: 3\r\n\r\nJPG") << QStringList{"/e"}
        << "body" << "JPG";
    QTest::newRow("exact jpeg goes to files")
        << QByteArray("POST /f HTTP/1.1\r\nContent-Type: image/jpeg\r\nContent-Length: 3\r\n\r\nJPG") << QStringList{"/f"}
        << "files" << "JPG";
    QTest::newRow("query a=1&b") << QByteArray("GET /q?a=1&b HTTP/1.1\r\n\r\n") << QStringList{"/q"} << "query" << "a=1";
    QTest::newRow("query a==1") << QByteArray("GET /q?a==1 HTTP/1.1\r\n\r\n") << QStringList{"/q"} << "query" << "a=1";
    QTest::newRow("query a=1=2") << QByteArray("GET /q?a=1=2 HTTP/1.1\r\n\r\n") << QStringList{"/q"} << "query" << "";
    QTest::newRow("status 500 reads as a plain reply")
        << QByteArray("HTTP/1.1 500 Internal\r\nUser-Agent: x\r\nContent-Length: 0\r\n\r\n") << QStringList{""} << "code"
        << "0";
    QTest::newRow("start line alone") << QByteArray("GET /only HTTP/1.1\r\n\r\n") << QStringList{"/only"} << "" << "";
    QTest::newRow("junk lines before the start line")
        << QByteArray("garbage\r\nmore: x\r\nPOST /j HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QStringList{"/j"} << "" << "";
    QTest::newRow("head without start line is dropped, the next read")
        << QByteArray("hello there\r\nX: y\r\n\r\nPOST /k HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QStringList{"/k"} << ""
        << "";
    QTest::newRow("bad start line: body skipped, stream stays in step")
        << QByteArray("POST HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcPOST /l HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
        << QStringList{"/l"} << "" << "";
    QTest::newRow("bad json dropped, pipelined next read")
        << QByteArray("POST /m HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 3\r\n\r\n{{{"
                      "POST /n HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
        << QStringList{"/n"} << "" << "";
    QTest::newRow("multipart without boundary dropped")
        << QByteArray("POST /o HTTP/1.1\r\nContent-Type: multipart/form-data\r\nContent-Length: 3\r\n\r\nxyz") << QStringList{}
        << "" << "";
    QTest::newRow("three pipelined messages")
        << QByteArray("POST /1 HTTP/1.1\r\nContent-Length: 1\r\n\r\naPOST /2 HTTP/1.1\r\n\r\nHTTP/1.1 200 OK\r\n"
                      "Content-Length: 1\r\n\r\nb")
        << QStringList{"/1", "/2", ""} << "" << "";
}

void TstWire::readerHead()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, urls);
    QFETCH(QString, checkKey);
    QFETCH(QString, checkValue);
    bool closed = true;
    const QList<CTask_FormData> got = cutStream(stream, {}, &closed);
    QVERIFY(!closed);
    QStringList gotUrls;
    for (const CTask_FormData& r : got)
        gotUrls << r.url;
    QCOMPARE(gotUrls, urls);
    if (checkKey.isEmpty())
        return;
    const CTask_FormData& r = got.first();
    if (checkKey.startsWith("json:"))
        QCOMPARE(QString::number(r.json.value(checkKey.mid(5)).toInt()), checkValue);
    else if (checkKey == "body")
        QCOMPARE(QString::fromUtf8(r.body), checkValue);
    else if (checkKey == "files")
        QCOMPARE(QString::fromUtf8(r.files.value(QString())), checkValue);
    else if (checkKey == "code")
        QCOMPARE(QString::number(r.code) + r.msg, checkValue + "OK");
    else if (checkKey == "query") {
        QStringList pairs;
        for (auto it = r.query.cbegin(); it != r.query.cend(); ++it)
            pairs << it.key() + "=" + it.value();
        QCOMPARE(pairs.join("&"), checkValue);
    }
}

void TstWire::hostileHeadsClose_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("two Content-Length") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx");
    QTest::newRow("negative length") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    QTest::newRow("length with junk") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n");
    QTest::newRow("empty length") << QByteArray("POST /a HTTP/1.1\r\nContent-Length:\r\n\r\n");
    QTest::newRow("length past 64 bits") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n");
    QTest::newRow("length over the body limit") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n");
    QTest::newRow("chunked") << QByteArray("POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    QTest::newRow("endless head") << QByteArray("POST /a HTTP/1.1\r\nX: ") + QByteArray(70000, 'a');
    QTest::newRow("huge head") << QByteArray("POST /a HTTP/1.1\r\nX: ") + QByteArray(70000, 'a') + "\r\n\r\n";
    QTest::newRow("bare CR and LF in a value")
        << QByteArray("POST /a HTTP/1.1\r\nUser-Agent: acc\rX-Injected: 1\nX-Injected2: 2\r\n\r\n");
    QTest::newRow("NUL in a value") << QByteArray("POST /a HTTP/1.1\r\nUser-Agent: a") + '\0' + "b\r\n\r\n";
}

void TstWire::hostileHeadsClose()
{
    QFETCH(QByteArray, stream);
    bool closed = false;
    const QList<CTask_FormData> got = cutStream(stream + "POST /after HTTP/1.1\r\n\r\n", {}, &closed);
    QVERIFY(closed);
    QVERIFY(got.isEmpty());
}

void TstWire::writtenValuesCannotAddHeaders()
{
    // Every value the writer puts in a head or a part head tries to add a
    // header line; none may.
    const QString evil = QStringLiteral("a\rX-Injected:1\nX-Injected:2\r\nX-Injected:3\x01\"");
    CTask_FormData r;
    r.url = "/up";
    r.taskId = r.deviceId = evil;
    r.query.insert("k", evil);
    r.images.insert(evil, cv::Mat(1, 1, CV_8UC1, cv::Scalar(65)));
    const QByteArray got = wireBytes(r);
    QVERIFY2(!got.contains("\nX-Injected") && !got.contains("\rX-Injected") && !got.contains('\x01'), got.constData());
    const QList<CTask_FormData> back = nettest::cutStream(got);
    QCOMPARE(back.size(), 1);
    QCOMPARE(back.first().images.size(), 1);
}

void TstWire::hostilePictures_data()
{
    QTest::addColumn<QByteArray>("info");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("stored");
    QTest::newRow("good") << QByteArray("{\"channels\":3,\"size_width\":2,\"size_height\":2") << 12 << true;
    QTest::newRow("overflowing size") << QByteArray("{\"channels\":4,\"size_width\":2147483647,\"size_height\":2147483647") << 16 << false;
    QTest::newRow("product wraps 32 bits") << QByteArray("{\"channels\":4,\"size_width\":65536,\"size_height\":16384") << 16 << false;
    QTest::newRow("two channels") << QByteArray("{\"channels\":2,\"size_width\":2,\"size_height\":2") << 8 << false;
    QTest::newRow("negative width") << QByteArray("{\"channels\":1,\"size_width\":-2,\"size_height\":-2") << 4 << false;
    QTest::newRow("size mismatch") << QByteArray("{\"channels\":3,\"size_width\":2,\"size_height\":2") << 11 << false;
    QTest::newRow("width as text") << QByteArray("{\"channels\":1,\"size_width\":\"2\",\"size_height\":2") << 4 << false;
    QTest::newRow("huge double") << QByteArray("{\"channels\":1e300,\"size_width\":2,\"size_height\":2") << 4 << false;
    QTest::newRow("fractional") << QByteArray("{\"channels\":1,\"size_width\":2.5,\"size_height\":2") << 4 << true;
}

void TstWire::hostilePictures()
{
    QFETCH(QByteArray, info);
    QFETCH(int, bytes);
    QFETCH(bool, stored);
    const QByteArray body = B + "\r\nContent-Disposition: form-data; name=\"p-info\"\r\nContent-Type: application/json\r\n\r\n" + info +
                            ",\"data_type\":\"data_type\",\"datakey\":\"p\"}\r\n" + B +
                            "\r\nContent-Disposition: form-data; name=\"p\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                            QByteArray(bytes, '\x05') + "\r\n" + B + "\r\n";
    CTask_FormData r;
    QVERIFY(SCI_ExecObj_Recv::analysisIntegrality_multipart(QString::fromLatin1(B), body, r));
    QCOMPARE(r.images.contains("p-info"), stored);
    QVERIFY(r.form.isEmpty());
}

void TstWire::standardMultipart()
{
    // What curl -F sends: "--" before the boundary, filename beside name.
    const QByteArray body = "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nvalue\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; name=\"j\"\r\nContent-Type: application/json\r\n\r\n{\"k\":5}\r\n"
                            "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\nBIN\r\n--XyZ--\r\n";
    const QByteArray msg = "POST /m HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const QList<CTask_FormData> got = cutStream(msg);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().form.value("a").toString(), QString("value"));
    QCOMPARE(got.first().form.value("j").value<QJsonObject>(), QJsonObject({{"k", 5}}));
    QVERIFY(!got.first().form.contains("x.bin"));
}

void TstWire::garbageNeverCrashes()
{
    // Random bytes, random heads and random multipart bodies: nothing may
    // crash or trip the sanitizers; the cutter either reads or closes.
    std::srand(12345);
    auto rnd = [](int n) {
        QByteArray b(n, 0);
        for (char& c : b)
            c = char(std::rand() & 0xff);
        return b;
    };
    const QList<QByteArray> words = {"POST ", "/x", " HTTP/1.1", "\r\n", "\r\n\r\n", "Content-Length: ", "12", "-1",
                                     "Content-Type: multipart/form-data;boundary=" + B, B, "name=\"p-info\"", "{", "}",
                                     "\"channels\":4", "Content-Type: application/json", ":"};
    for (int round = 0; round < 400; ++round) {
        QByteArray s;
        const int parts = 1 + std::rand() % 30;
        for (int i = 0; i < parts; ++i)
            s += (std::rand() % 3) ? words.at(std::rand() % words.size()) : rnd(std::rand() % 40);
        QList<int> splits;
        for (int k = 0; k < 3 && s.size() > 1; ++k)
            splits << 1 + std::rand() % (s.size() - 1);
        std::sort(splits.begin(), splits.end());
        cutStream(s, splits);
        CTask_FormData r;
        SCI_ExecObj_Recv::analysisIntegrality_multipart(QString::fromLatin1(B), s, r);
    }
}

QTEST_GUILESS_MAIN(TstWire)
#include "tst_wire.moc"
