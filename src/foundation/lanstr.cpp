#include "lanstr.h"

#include <QFile>
#include <QTextCodec>
#include <QVector>
#include <QtGlobal>

const char* const kLanStrResource = ":/lanstr/lanstr.tsv";

// The resource lives in a static library: its registration must be pulled in
// explicitly, or the linker drops it. Q_INIT_RESOURCE must be used outside any
// namespace.
static void registerLanStrResource()
{
    Q_INIT_RESOURCE(lanstr);
}

namespace {

// Undoes the escapes of one field. Returns false on an unknown escape or a
// lone backslash at the end.
bool unescapeField(const QByteArray& in, QByteArray* out)
{
    out->clear();
    out->reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c != '\\') {
            out->append(c);
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in.at(i)) {
        case 'r': out->append('\r'); break;
        case 'n': out->append('\n'); break;
        case 't': out->append('\t'); break;
        case '\\': out->append('\\'); break;
        default: return false;
        }
    }
    return true;
}

bool decodeUtf8(const QByteArray& bytes, QString* out)
{
    static QTextCodec* const codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    *out = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// Row numbers are plain decimal digits; no sign, blank or leading "+".
int parseRowNumber(const QByteArray& field)
{
    if (field.isEmpty() || field.size() > 5)
        return -1;
    int row = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return -1;
        row = row * 10 + (c - '0');
    }
    return row < kLanRows ? row : -1;
}

void refuse(int lineNo, const char* why)
{
    qWarning("operator texts: line %d refused: %s", lineNo, why);
}

}  // namespace

int parseLanStr(const QByteArray& data, QString (*table)[kLanCols])
{
    QVector<bool> seen(kLanRows, false);
    int filled = 0;
    const QList<QByteArray> lines = data.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const int lineNo = n + 1;
        QByteArray line = lines.at(n);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;

        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 1 + kLanCols) {
            refuse(lineNo, "expected a row number and four texts");
            continue;
        }
        const int row = parseRowNumber(fields.at(0));
        if (row < 0) {
            refuse(lineNo, "bad row number");
            continue;
        }
        if (seen.at(row)) {
            refuse(lineNo, "row given twice");
            continue;
        }

        QString texts[kLanCols];
        const char* problem = nullptr;
        for (int c = 0; c < kLanCols && !problem; ++c) {
            QByteArray raw;
            if (!unescapeField(fields.at(1 + c), &raw))
                problem = "bad escape";
            else if (!decodeUtf8(raw, &texts[c]))
                problem = "not UTF-8";
        }
        if (problem) {
            refuse(lineNo, problem);
            continue;
        }

        seen[row] = true;
        for (int c = 0; c < kLanCols; ++c)
            table[row][c] = texts[c];
        ++filled;
    }
    return filled;
}

int initLanStr()
{
    for (auto& row : gaLanStr)
        for (QString& text : row)
            text.clear();

    registerLanStrResource();
    QFile file(QString::fromLatin1(kLanStrResource));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("operator texts: %s cannot be read; every text stays empty", kLanStrResource);
        return 0;
    }
    return parseLanStr(file.readAll(), gaLanStr);
}

QString lanStr(int row, int lan)
{
    if (row < 0 || row >= kLanRows || lan < 0 || lan >= kLanCols)
        return QString();
    const QString(&texts)[kLanCols] = gaLanStr[row];
    if (!texts[lan].isEmpty())
        return texts[lan];
    if (!texts[kLanEnglish].isEmpty())
        return texts[kLanEnglish];
    return texts[kLanSimplifiedChinese];
}

QString lanStr(int row)
{
    return lanStr(row, gLan);
}
