#include "roifunctions.h"

#include "cammersingleton.h"
#include "globals.h"
#include "lanstr.h"
#include "wizardpara.h"

#include <QCoreApplication>

#include <algorithm>
#include <climits>

namespace {

using F = CammerRecong::Function;
using P = RoiFunctions::Packing;
using S = RoiFunctions::Shown;
using Cap = RoiFunctions::Caption;

constexpr Cap row(int r)
{
    return Cap{r, nullptr};
}

constexpr Cap text(const char* t)
{
    return Cap{-1, t};
}

constexpr RoiFunctions::Slider plain(int min, int max, S shown, int caption)
{
    return RoiFunctions::Slider{min, max, shown, P::Plain, row(caption), Cap{}};
}

constexpr RoiFunctions::Slider packed(int min, int max, P packing, Cap caption, Cap pairCaption)
{
    return RoiFunctions::Slider{min, max, S::Always, packing, caption, pairCaption};
}

// Indexed by function; the functions are listed in their own order.
const RoiFunctions::Info kTable[RoiFunctions::kCount] = {
    {F::kGreyTemplate, Word::DefectAlgorithm, {45, 0, 0}, {true, true, true}, true,
     {plain(0, 100, S::Always, 23), plain(0, 1000, S::WithRoiLimits, 24), plain(1, 10, S::WithRoiLimits, 22)},
     row(25), false},
    {F::kGreyBand, Word::SpotAlgorithm, {80, 500, 12800}, {true, true, true}, false,
     {plain(0, 999999, S::Always, 13), plain(0, 999999, S::Always, 14), packed(0, 255, P::Bytes01, row(10), row(11))},
     row(15), true},
    {F::kExclusion, Word::IgnoreAreaAlgorithm, {0, 0, 30}, {true, true, true}, false,
     {plain(0, 255, S::Never, 16), plain(0, 255, S::Never, 16), plain(0, 255, S::Never, 16)}, row(17), false},
    {F::kPositioning, Word::EditLocateArea, {10, 0, 1}, {true, true, true}, false,
     {plain(0, 100, S::Never, 16), plain(0, 10, S::Never, 16), plain(0, 10, S::Never, 16)}, row(21), false},
    {F::kDarkPixels, Word::BlackArea, {50, 100, 0}, {true, true, false}, false,
     {plain(0, 255, S::Always, 11), plain(0, 50000, S::Always, 24), plain(0, 255, S::Never, 16)}, row(392), false},
    {F::kBrightPixels, Word::WhiteArea, {200, 100, 0}, {true, true, false}, false,
     {plain(0, 255, S::Always, 10), plain(0, 50000, S::Always, 24), plain(0, 255, S::Never, 16)}, row(393), false},
    {F::kFeature, Word::Similarity, {80, 0, 0}, {true, false, false}, false,
     {plain(0, 100, S::Always, 362), plain(0, 50000, S::Never, 24), plain(0, 255, S::Never, 16)}, row(398), false},
    {F::kBrightBlobs, Word::WhiteNumber, {128, 6553601, 1}, {true, true, true}, false,
     {plain(0, 255, S::Always, 10), packed(0, 100, P::Halves, row(627), row(628)), plain(1, 100, S::Always, 22)},
     row(521), true},
    {F::kDarkBlobs, Word::BlackNumber, {128, 6553601, 1}, {true, true, true}, false,
     {plain(0, 255, S::Always, 11), packed(0, 100, P::Halves, row(627), row(628)), plain(1, 100, S::Always, 22)},
     row(626), true},
    {F::kColourBox, Word::ColourSpots, {6553601, 6553601, 6553601}, {true, true, true}, false,
     {packed(0, 255, P::Halves, text(QT_TRANSLATE_NOOP("RoiPanel", "红色最小")),
             text(QT_TRANSLATE_NOOP("RoiPanel", "红色最大"))),
      packed(0, 255, P::Halves, text(QT_TRANSLATE_NOOP("RoiPanel", "绿色最小")),
             text(QT_TRANSLATE_NOOP("RoiPanel", "绿色最大"))),
      packed(0, 255, P::Halves, text(QT_TRANSLATE_NOOP("RoiPanel", "蓝色最小")),
             text(QT_TRANSLATE_NOOP("RoiPanel", "蓝色最大")))},
     text(QT_TRANSLATE_NOOP("RoiPanel", "颜色斑点")), true},
    {F::kHomography, Word::Homography, {1, 1, 1}, {true, true, true}, false,
     {plain(1, 2, S::Always, 16), plain(1, 2, S::Always, 16), plain(1, 2, S::Always, 16)}, row(583), false},
};

unsigned low16(int v)
{
    return static_cast<unsigned>(v) & 0xffffu;
}

unsigned high16(int v)
{
    return static_cast<unsigned>(v) >> 16;
}

int withLowHalf(int p, int v)
{
    return static_cast<int>((static_cast<unsigned>(p) & 0xffff0000u) | (static_cast<unsigned>(v) & 0xffffu));
}

int withHighHalf(int p, int v)
{
    return static_cast<int>((static_cast<unsigned>(p) & 0xffffu) | ((static_cast<unsigned>(v) & 0xffffu) << 16));
}

int byteOf(int p, int k)
{
    return static_cast<int>((static_cast<unsigned>(p) >> (8 * k)) & 255u);
}

int withByte(int p, int k, int v)
{
    const unsigned mask = 255u << (8 * k);
    return static_cast<int>((static_cast<unsigned>(p) & ~mask) | ((static_cast<unsigned>(v) & 255u) << (8 * k)));
}

// A member changed by d, within 0..top; an unchanged member is left as it is.
int addMember(int member, int d, int top)
{
    if (d == 0)
        return member;
    return static_cast<int>(std::clamp<long long>(static_cast<long long>(member) + d, 0, top));
}

}  // namespace

int RoiFunctions::addPlain(int p, int d)
{
    return static_cast<int>(std::clamp<long long>(static_cast<long long>(p) + d, INT_MIN, INT_MAX));
}

QString RoiFunctions::Caption::toString() const
{
    return row >= 0 ? lanStr(row) : QCoreApplication::translate("RoiPanel", text);
}

const RoiFunctions::Info& RoiFunctions::info(int method)
{
    return kTable[known(method) ? method : F::kGreyTemplate];
}

bool RoiFunctions::enabled(int method)
{
    return known(method) && liveWord(kTable[method].switchWord) != 0;
}

int RoiFunctions::nextEnabled(int method)
{
    const int cur = known(method) ? method : F::kGreyTemplate;
    for (int k = 1; k <= kCount; ++k) {
        const int m = (cur + k) % kCount;
        if (enabled(m))
            return m;
    }
    return -1;
}

bool RoiFunctions::startParameters(int method, int& p1, int& p2, int& p3)
{
    const Info& f = info(method);
    int* p[3] = {&p1, &p2, &p3};
    for (int k = 0; k < 3; ++k) {
        if (f.hasStart[k])
            *p[k] = f.start[k];
    }
    if (f.startFromWords) {
        p2 = liveWord(Word::GreyArea);
        p3 = liveWord(Word::GreyFilter);
    }
    return known(method);
}

void RoiFunctions::startSlot(CammerSingleton& rec, int j, int method)
{
    int a = 0, b = 0, c = 0;
    startParameters(method, a, b, c);
    rec.method[j] = method;
    rec.p1[j] = a;
    rec.p2[j] = b;
    rec.p3[j] = c;
}

int RoiFunctions::member(Packing packing, int value, bool second)
{
    switch (packing) {
    case Packing::Bytes01:
        return byteOf(value, second ? 1 : 0);
    case Packing::Halves:
        return static_cast<int>(second ? high16(value) : low16(value));
    case Packing::Plain:
        break;
    }
    return value;
}

int RoiFunctions::withMember(Packing packing, int value, bool second, int v)
{
    switch (packing) {
    case Packing::Bytes01:
        return withByte(value, second ? 1 : 0, v);
    case Packing::Halves:
        return second ? withHighHalf(value, v) : withLowHalf(value, v);
    case Packing::Plain:
        break;
    }
    return v;
}

int RoiFunctions::addDifference(Packing packing, int p, int cur, int snap)
{
    switch (packing) {
    case Packing::Bytes01: {
        const int out = withByte(p, 0, addMember(byteOf(p, 0), byteOf(cur, 0) - byteOf(snap, 0), 255));
        return withByte(out, 1, addMember(byteOf(p, 1), byteOf(cur, 1) - byteOf(snap, 1), 255));
    }
    case Packing::Halves: {
        const int out = withLowHalf(p, addMember(static_cast<int>(low16(p)),
                                                 static_cast<int>(low16(cur)) - static_cast<int>(low16(snap)), 0xffff));
        return withHighHalf(out, addMember(static_cast<int>(high16(p)),
                                           static_cast<int>(high16(cur)) - static_cast<int>(high16(snap)), 0xffff));
    }
    case Packing::Plain:
        break;
    }
    return addPlain(p, cur - snap);
}

QString RoiFunctions::limitText(const CammerSingleton& rec, int j)
{
    const int p1 = rec.p1[j];
    const int p2 = rec.p2[j];
    switch (rec.method[j]) {
    case F::kGreyTemplate:
        return QString::number(liveWord(Word::RoiLimits) == 0 ? liveWord(Word::GreyArea) : p2);
    case F::kFeature:
        return QString::number(p1);
    case F::kGreyBand:
        return QStringLiteral("%1--%2").arg(p1).arg(p2);
    case F::kColourBox:
        return QStringLiteral("%1, %2").arg(liveWord(Word::ColourMin)).arg(liveWord(Word::ColourMax));
    case F::kBrightBlobs:
    case F::kDarkBlobs:
        return QStringLiteral("%1--%2").arg(low16(p2)).arg(high16(p2));
    default:
        return QString::number(p2);
    }
}

QString RoiFunctions::paramText(const CammerSingleton& rec, int j)
{
    const int p1 = rec.p1[j];
    const int p2 = rec.p2[j];
    const int p3 = rec.p3[j];
    const unsigned u3 = static_cast<unsigned>(p3);
    switch (rec.method[j]) {
    case F::kGreyTemplate:
        if (liveWord(Word::RoiLimits) == 0)
            return QStringLiteral("%1, %2, %3").arg(p1).arg(liveWord(Word::GreyArea)).arg(liveWord(Word::GreyFilter));
        return QStringLiteral("%1,%2,%3").arg(p1).arg(p2).arg(p3);
    case F::kGreyBand:
        return QStringLiteral("%1--%2,%3--%4").arg(p1).arg(p2).arg(u3 & 255u).arg((u3 >> 8) & 255u);
    case F::kDarkPixels:
    case F::kBrightPixels:
        return QStringLiteral("%1, %2").arg(static_cast<unsigned>(p1) & 255u).arg(p2);
    case F::kFeature:
        return QString::number(p1);
    case F::kBrightBlobs:
    case F::kDarkBlobs:
        return QStringLiteral("%1,%2--%3,%4")
            .arg(static_cast<unsigned>(p1) & 255u)
            .arg(low16(p2))
            .arg(high16(p2))
            .arg(p3);
    case F::kColourBox:
        return QStringLiteral("%1, %2").arg(liveWord(Word::ColourMin)).arg(liveWord(Word::ColourMax));
    default:
        return QString::number(p2);
    }
}
