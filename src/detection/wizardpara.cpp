#include "wizardpara.h"

#include "globals.h"
#include "operatordialogs.h"
#include "paragroup.h"
#include "paramdb.h"
#include "winstate.h"

#include <QFile>
#include <QSaveFile>
#include <QSqlQuery>
#include <QTextStream>

#include <cstring>
#include <vector>

WizardPara* gpWPara = nullptr;
WizardPara* gpWParaBak = nullptr;

int liveWord(int n)
{
    return (gpWPara && n >= 0 && n < kParaWords) ? gpWPara->words[n] : 0;
}

namespace {

constexpr int kLanWord = -2;  // the position that carries `gLan`

struct RowDef {
    QString name;
    std::vector<int> words;  // word numbers, value 1 first; kLanWord = gLan
    bool password = false;
};

void append(std::vector<int>& v, int first, int last)
{
    for (int w = first; w <= last; ++w)
        v.push_back(w);
}

std::vector<int> repeat(int word, int times)
{
    return std::vector<int>(static_cast<size_t>(times), word);
}

// The stored rows in load order. The positions of a row are fixed by the
// file format: older and newer program versions read the same numbers from
// the same places.
const std::vector<RowDef>& loadRows()
{
    static const std::vector<RowDef> rows = [] {
        std::vector<RowDef> r;
        std::vector<int> v;
        append(v, 40, 47);
        r.push_back({QStringLiteral("trigInDelay"), v});
        r.push_back({QStringLiteral("exposeTime"), {0, 1, 2, 3}});
        r.push_back({QStringLiteral("adjustPlus"), {8, 9, 10, 11}});
        r.push_back({QStringLiteral("numFailDetect"), {175, 177, 187, 179, 184, 180, 181, 185}});
        v.clear();
        append(v, 32, 39);
        r.push_back({QStringLiteral("numAllDetect"), v});
        r.push_back({QStringLiteral("isPswUsed"), {98}});
        r.push_back({QStringLiteral("password"), {}, true});
        r.push_back({QStringLiteral("system1"), {85, 100, 94, 96, 95, 178, 110, 104, 163}});
        r.push_back({QStringLiteral("system2"),
                     {97, 102, 171, 103, 111, 112, 123, 126, 122, 135, 136, 160, kLanWord, 147, 148, 105, 106, 114}});
        r.push_back({QStringLiteral("system3"), {125, 138, 107, 139, 140, 141, 142, 143, 108, 145, 144}});
        r.push_back({QStringLiteral("system4"), {99, 116, 117}});
        r.push_back({QStringLiteral("sharp"), {16, 17, 18, 19}});
        r.push_back({QStringLiteral("contrast"), {24, 25, 26, 27}});
        r.push_back({QStringLiteral("system5"), {4, 5, 12, 13, 20, 21, 28, 29, 128, 186, 129, 284, 130}});
        r.push_back({QStringLiteral("system6"), {6, 7, 14, 15, 22, 23, 30, 31, 115, 146, 152, 137}});
        r.push_back({QStringLiteral("system7"),
                     {167, 168, 169, 172, 76, 77, 78, 170, 79, 173, 149, 216, 150, 157, 80, 81, 82, 83, 84, 182}});
        v = {217};
        append(v, 226, 241);
        v.insert(v.end(), {127, 151, 153});
        r.push_back({QStringLiteral("system8"), v});
        v.clear();
        append(v, 218, 225);
        v.insert(v.end(), {120, 121, 131, 113, 162, 132, 133, 164, 165, 134, 339, 187});
        r.push_back({QStringLiteral("system9"), v});
        v.clear();
        append(v, 251, 266);
        v.insert(v.end(), {213, 214, 215, 187});
        r.push_back({QStringLiteral("system10"), v});
        v.clear();
        append(v, 285, 292);
        append(v, 301, 308);
        v.insert(v.end(), {268, 187, 187, 187});
        r.push_back({QStringLiteral("system11"), v});
        v = {154};
        append(v, 317, 332);
        v.insert(v.end(), {155, 156, 174});
        r.push_back({QStringLiteral("system12"), v});
        v = repeat(187, 16);
        v.insert(v.end(), {183, 158, 187, 159});
        r.push_back({QStringLiteral("system13"), v});
        v = {124, 187, 161, 166};
        const std::vector<int> tail = repeat(187, 16);
        v.insert(v.end(), tail.begin(), tail.end());
        r.push_back({QStringLiteral("system14"), v});
        // The colour-box area limits; files written before this row existed
        // load them with their defaults.
        r.push_back({QStringLiteral("colorArea"), {118, 119}});
        return r;
    }();
    return rows;
}

const RowDef* findRow(const QString& name)
{
    for (const RowDef& r : loadRows())
        if (r.name == name)
            return &r;
    return nullptr;
}

// The order in which a save writes the rows.
const QStringList& saveOrder()
{
    static const QStringList order = {
        QStringLiteral("trigInDelay"), QStringLiteral("exposeTime"), QStringLiteral("sharp"),
        QStringLiteral("contrast"), QStringLiteral("adjustPlus"), QStringLiteral("numFailDetect"),
        QStringLiteral("numAllDetect"), QStringLiteral("isPswUsed"), QStringLiteral("password"),
        QStringLiteral("system1"), QStringLiteral("system2"), QStringLiteral("system3"),
        QStringLiteral("system4"), QStringLiteral("system5"), QStringLiteral("system6"),
        QStringLiteral("system7"), QStringLiteral("system8"), QStringLiteral("system9"),
        QStringLiteral("system10"), QStringLiteral("system11"), QStringLiteral("system12"),
        QStringLiteral("system13"), QStringLiteral("system14"), QStringLiteral("colorArea"),
    };
    return order;
}

// Value inserted for a missing row of the later rows: the record keeps its
// values for this load, the inserted ones count from the next load.
QString insertedDefault(const QString& name)
{
    if (name == QLatin1String("system7"))
        return QStringLiteral("0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    static const QString zeros = QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    for (int i = 8; i <= 14; ++i)
        if (name == QStringLiteral("system%1").arg(i))
            return zeros;
    return QString();
}

quint32 u(int v)
{
    return static_cast<quint32>(v);
}

QString lanText(int row)
{
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    return gaLanStr[row][lan];
}

}  // namespace

void showParamWarn(const QString& text)
{
    qWarning("%s", qPrintable(text));
    OperatorDialogs::get().parameterWarning(text);
}

WizardPara::WizardPara()
{
    std::memset(words, 0, sizeof(words));
    std::memset(password, 0, sizeof(password));
    words[Word::StepEnabled0 + 1] = 1;
    words[Word::ColourMax] = 1000;
    words[Word::ShapeAccuracy] = 5;
    words[Word::ShapeLevels] = 5;
    words[Word::UsbDaysKept] = 31;
    words[Word::StepCountMode3] = 2;
    groupName = QStringLiteral("default");
}

bool WizardPara::operator==(const WizardPara& o) const
{
    return std::memcmp(words, o.words, sizeof(words)) == 0
        && std::strncmp(password, o.password, sizeof(password)) == 0 && groupName == o.groupName;
}

QString WizardPara::passwordText() const
{
    return QString::fromLatin1(password, static_cast<int>(strnlen(password, sizeof(password))));
}

bool WizardPara::setPassword(const QString& text)
{
    if (text.size() > kPasswordBytes - 1)
        return false;
    for (const QChar c : text)
        if (c.unicode() > 0xff || c.unicode() == 0)
            return false;
    const QByteArray latin = text.toLatin1();
    std::memset(password, 0, sizeof(password));
    std::memcpy(password, latin.constData(), static_cast<size_t>(latin.size()));
    return true;
}

QStringList WizardPara::rowNames()
{
    QStringList names;
    for (const RowDef& r : loadRows())
        names << r.name;
    return names;
}

QString WizardPara::rowText(const QString& name) const
{
    const RowDef* row = findRow(name);
    if (!row)
        return QString();
    if (row->password)
        return passwordText();
    QStringList parts;
    const bool modeRow = name == QLatin1String("numFailDetect");
    for (size_t i = 0; i < row->words.size(); ++i) {
        int w = row->words[i];
        if (modeRow && i == 0)
            w = Word::ModeChosen;  // the mode chosen takes effect at the next load
        parts << QString::number(w == kLanWord ? gLan : words[w]);
    }
    return parts.join(QLatin1Char(' '));
}

void WizardPara::ReadGroupIndex()
{
    words[Word::GroupIndex] = -1;
    QFile f(QStringLiteral("./sysadd.txt"));
    if (f.open(QIODevice::ReadOnly)) {
        QTextStream ts(&f);
        int index = -1;
        ts >> index;
        if (ts.status() == QTextStream::Ok)
            words[Word::GroupIndex] = index;
    } else {
        QFile out(QStringLiteral("./sysadd.txt"));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write("-1");
        else
            qWarning("sysadd.txt cannot be created: %s", qPrintable(out.errorString()));
    }
    updateGroupName();
}

void WizardPara::updateGroupName()
{
    groupDir = QDir(ParaGroup::folder());
    const QStringList groups = ParaGroup::list();
    const int index = words[Word::GroupIndex];
    groupName = (index >= 0 && index < groups.size()) ? groups[index] : QStringLiteral("default");
}

void WizardPara::SaveAddFile()
{
    QSaveFile f(QStringLiteral("./sysadd.txt"));
    if (!f.open(QIODevice::WriteOnly)) {
        qWarning("sysadd.txt cannot be written: %s", qPrintable(f.errorString()));
        return;
    }
    f.write(QByteArray::number(words[Word::GroupIndex]) + '\n');
    if (!f.commit()) {
        qWarning("sysadd.txt cannot be replaced: %s", qPrintable(f.errorString()));
        return;
    }
    updateGroupName();
}

bool WizardPara::LoadRows(QSqlDatabase db, QSqlQuery& q)
{
    paramdb::Transaction tx(db, q, "WizardPara::LoadDatafromFile");
    tx.note(paramdb::ensureTable(q, QStringLiteral("sysparam")));
    for (const RowDef& row : loadRows()) {
        QString value;
        const paramdb::Lookup got = paramdb::selectValue(q, QStringLiteral("sysparam"), row.name, &value);
        if (got == paramdb::Lookup::Failed) {
            tx.note(false);
            continue;
        }
        if (got == paramdb::Lookup::Missing) {
            QString inserted = insertedDefault(row.name);
            if (inserted.isNull())
                inserted = rowText(row.name);
            qWarning("sysparam: row %s is missing; it is added", qPrintable(row.name));
            tx.note(paramdb::insertRow(q, QStringLiteral("sysparam"), row.name, inserted));
            continue;
        }
        if (row.password) {
            const QByteArray latin = value.toLatin1();
            if (latin.size() <= kPasswordBytes - 1) {
                std::memset(password, 0, sizeof(password));
                std::memcpy(password, latin.constData(), static_cast<size_t>(latin.size()));
            } else {
                qWarning("sysparam: the stored password is longer than %d characters; it is not taken",
                         kPasswordBytes - 1);
            }
            continue;
        }
        const QVector<int> numbers = paramdb::parseNumbers(value);
        for (size_t i = 0; i < row.words.size(); ++i) {
            const int v = static_cast<int>(i) < numbers.size() ? numbers[static_cast<int>(i)] : 0;
            if (row.words[i] == kLanWord)
                gLan = v;
            else
                words[row.words[i]] = v;
        }
    }
    return tx.commit();
}

bool WizardPara::SaveRows(QSqlDatabase db, QSqlQuery& q)
{
    paramdb::Transaction tx(db, q, "WizardPara::SaveDatatoFile");
    tx.note(paramdb::ensureTable(q, QStringLiteral("sysparam")));
    for (const QString& name : saveOrder())
        tx.note(paramdb::writeRow(q, QStringLiteral("sysparam"), name, rowText(name)));
    return tx.commit();
}

void WizardPara::LoadDatafromFile()
{
    ReadGroupIndex();
    if (QSqlQuery* q = paramdb::mainQuery("WizardPara::LoadDatafromFile"))
        LoadRows(paramdb::mainDatabase(), *q);
    CheckRange();
    DeriveSteps();
    FillNames();
}

void WizardPara::SaveDatatoFile()
{
    if (QSqlQuery* q = paramdb::mainQuery("WizardPara::SaveDatatoFile"))
        SaveRows(paramdb::mainDatabase(), *q);
}

void WizardPara::CheckRange()
{
    int* w = words;
    w[Word::ColourSpots] = 0;
    for (int c = 0; c < kMaxCamera; ++c) {
        if (u(w[c]) > 10000)
            w[c] = 30;
        if (u(w[Word::Gain0 + c]) > 10000)
            w[Word::Gain0 + c] = 32;
        if (u(w[Word::Sharpness0 + c]) > 10000)
            w[Word::Sharpness0 + c] = 0;
        if (u(w[Word::Contrast0 + c]) > 10000)
            w[Word::Contrast0 + c] = 50;
        if (u(w[Word::Gamma0 + c]) > 10000)
            w[Word::Gamma0 + c] = 70;
    }
    if (u(w[Word::StepCountMode3]) < 2 || u(w[Word::StepCountMode3]) > 8)
        w[Word::StepCountMode3] = 2;
    if (u(w[Word::Mode]) > 3)
        w[Word::Mode] = 0;
    w[Word::ModeChosen] = w[Word::Mode];
    if (u(w[Word::PreCut]) > 10000)
        w[Word::PreCut] = 0;
    if (u(w[Word::RecheckCount]) > 10000)
        w[Word::RecheckCount] = 0;
    if (u(w[Word::GreyFilter]) < 1 || u(w[Word::GreyFilter]) > 100)
        w[Word::GreyFilter] = 3;
    if (u(w[Word::GreyArea]) < 1 || u(w[Word::GreyArea]) > 1000)
        w[Word::GreyArea] = 100;
    for (int n : {Word::ColourMin, Word::ColourMax})
        if (u(w[n]) < 1 || u(w[n]) > 100000)
            w[n] = 1000;
    for (int n : {Word::ShapeAccuracy, Word::ShapeLevels})
        if (u(w[n]) > 10)
            w[n] = 5;
    if (u(w[Word::TemplatesKept]) < 1 || u(w[Word::TemplatesKept]) > 100)
        w[Word::TemplatesKept] = 10;
    for (int n : {Word::NgPicturesKept, Word::OkPicturesKept})
        if (u(w[n]) > 20000)
            w[n] = 0;
    for (int n : {Word::EjectorPulse, Word::ClampPulse})
        if (u(w[n]) > 10000)
            w[n] = 0;
    if (w[Word::MotionCorrection] != -1 && w[Word::MotionCorrection] != 0)
        w[Word::MotionCorrection] = -1;
    if (u(w[Word::AngleRange]) > 180)
        w[Word::AngleRange] = 0;
    if (u(w[Word::AutoLogoutSeconds]) > 10000)
        w[Word::AutoLogoutSeconds] = 0;
    if (u(w[Word::Amplify]) > 4)
        w[Word::Amplify] = 0;
    if (u(w[Word::SearchMargin]) < 1 || u(w[Word::SearchMargin]) > 8000)
        w[Word::SearchMargin] = 8000;
    if (!(w[Word::ScreenOffSeconds] == 0 ||
          (u(w[Word::ScreenOffSeconds]) >= 30 && u(w[Word::ScreenOffSeconds]) <= 9999)))
        w[Word::ScreenOffSeconds] = 600;
    if (u(w[Word::AcquisitionSpeed]) > 100)
        w[Word::AcquisitionSpeed] = 12;
    if (u(w[Word::InputTimeoutSeconds]) > 100000000)
        w[Word::InputTimeoutSeconds] = 60;
    if (u(gLan) > 3)
        gLan = 0;
    if (u(w[Word::SerialPort]) > 100)
        w[Word::SerialPort] = 0;
    if (u(w[Word::BandFilter]) < 1 || u(w[Word::BandFilter]) > 100)
        w[Word::BandFilter] = 3;
    if (w[Word::UsbDaysKept] < 1)
        w[Word::UsbDaysKept] = 31;
    if (u(w[Word::Scratch]) > 100000000)
        w[Word::Scratch] = 0;
    if (w[Word::DefectAlgorithm] == 0 && w[Word::SpotAlgorithm] == 0 && w[Word::BlackArea] == 0 &&
        w[Word::WhiteArea] == 0 && w[Word::WhiteNumber] == 0 && w[Word::BlackNumber] == 0 && w[Word::Similarity] == 0)
        w[Word::DefectAlgorithm] = 1;
}

void WizardPara::DeriveSteps()
{
    int* w = words;
    const int mode = w[Word::Mode];
    if (mode == DetectMode::Standard) {
        w[Word::StepCount] = 4;
        gDNum = 2;
        w[Word::StepEnabled0 + 1] = 1;
        w[Word::StepEnabled0] = w[Word::ProductStepEnabled];
        w[Word::TriggerInput0] = 0;
        w[Word::TriggerInput0 + 1] = w[Word::SemiAuto] ? 2 : 0;
        for (int n = Word::OutputInverted0 + 4; n <= Word::OutputInverted0 + 7; ++n)  // outputs 5-8
            w[n] = w[Word::EjectorPulseOnProductNg] == 0 ? 1 : 0;
    } else if (mode == DetectMode::TwoColour || mode == DetectMode::Turntable) {
        w[Word::StepCount] = 4;
        gDNum = 4;
        if (u(w[Word::MouldsChecked]) > 3)
            w[Word::MouldsChecked] = CheckedMoulds::Left;
        const int p = w[Word::ProductStepEnabled] ? 1 : 0;
        int x = 255;
        if (w[Word::MouldsChecked] == CheckedMoulds::Left) {
            w[Word::StepEnabled0 + 1] = 1;
            w[Word::StepEnabled0 + 2] = 0;
            w[Word::StepEnabled0 + 3] = 0;
            w[Word::StepEnabled0] = p;
            x = 0;
        } else if (w[Word::MouldsChecked] == CheckedMoulds::Right) {
            w[Word::StepEnabled0 + 3] = 1;
            w[Word::StepEnabled0] = 0;
            w[Word::StepEnabled0 + 1] = 0;
            w[Word::StepEnabled0 + 2] = p;
            x = 3;
        } else {
            w[Word::StepEnabled0 + 1] = 1;
            w[Word::StepEnabled0 + 3] = 1;
            w[Word::StepEnabled0] = p;
            w[Word::StepEnabled0 + 2] = p;
        }
        if (mode == DetectMode::TwoColour) {
            w[Word::TriggerInput0] = 0;
            w[Word::TriggerInput0 + 1] = w[Word::MouldsChecked] == CheckedMoulds::Left ? 2 : x;
        } else {
            w[Word::TriggerInput0] = x;
            w[Word::TriggerInput0 + 1] = w[Word::SemiAuto] ? 2 : x;
        }
    } else if (mode == DetectMode::MultiStep) {
        const int steps = w[Word::StepCountMode3];
        gDNum = steps;
        w[Word::StepCount] = steps;
        for (int k = 0; k < kMaxDetect; ++k) {
            w[Word::StepEnabled0 + k] = 0;
            w[Word::TriggerInput0 + k] = -1;
            if (k >= steps)
                continue;
            const int row = w[Word::IoRowOfStep0 + k];
            w[Word::StepRowCopy0 + k] = row;
            if (row == -1)
                continue;
            if (row < 0 || row >= kMaxDetect) {
                qWarning("multi-detection step %d names I/O row %d, which does not exist; the step is off", k + 1, row);
                continue;
            }
            const int slot = w[Word::TriggerSlotOfRow0 + row];
            if (slot < 0 || slot >= 8) {
                qWarning("multi-detection step %d: input slot %d of I/O row %d does not exist; the step is off",
                         k + 1, slot, row);
                continue;
            }
            w[Word::StepEnabled0 + k] = 1;
            w[Word::TriggerInput0 + k] = TriginNo[slot] - 1;
        }
    }
}

void WizardPara::FillNames()
{
    QFile f(QStringLiteral("./name.txt"));
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream ts(&f);
        ts.setCodec("UTF-8");
        for (int i = 0; i < 8; ++i)
            gaName[i] = ts.atEnd() ? QString() : ts.readLine();
        return;
    }
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    auto inName = [&](int word) {
        const int n = words[word];
        if (n < 0 || n >= 16) {
            qWarning("input name index %d (word %d) does not exist; the name stays empty", n, word);
            return QString();
        }
        return QString::fromUtf8(gInName[n][lan]);
    };
    auto outName = [&](int word) {
        const int n = words[word];
        if (n < 0 || n >= 14) {
            qWarning("output name index %d (word %d) does not exist; the name stays empty", n, word);
            return QString();
        }
        return QString::fromUtf8(gOutName[n][lan]);
    };
    static const int kRows[3][8] = {
        {301, 302, 303, 304, 305, 306, 307, 304},
        {301, 302, 376, 377, 305, 378, 307, 304},
        {379, 380, 381, 382, 378, 306, 307, 304},
    };
    const int mode = words[Word::Mode];
    if (mode >= DetectMode::Standard && mode <= DetectMode::Turntable) {
        for (int i = 0; i < 8; ++i)
            gaName[i] = lanText(kRows[mode][i]);
    } else if (mode == DetectMode::MultiStep) {
        gaName[0] = inName(Word::InputNameIndex0);
        gaName[1] = lanText(302);
        for (int i = 2; i <= 8; ++i)
            gaName[i] = inName(Word::InputNameIndex0 + i - 1);
        gaName[9] = outName(Word::OutputNameIndex0);
        gaName[10] = outName(Word::OutputNameIndex0 + 1);
        gaName[11] = lanText(307);
        for (int i = 12; i <= 17; ++i)
            gaName[i] = outName(Word::OutputNameIndex0 + i - 10);
    }
}
