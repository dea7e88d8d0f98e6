#include "settingword.h"

#include <QHash>

bool SettingWord::accepts(int value) const
{
    switch (kind) {
    case Check:
        return value == onValue || value == offValue;
    case Choice:
        return value >= 0 && value < choiceRows.size();
    case Number:
        break;
    }
    return (value >= min && value <= max) || (zeroAllowed && value == 0);
}

namespace settingwords {

namespace {

SettingWord number(int word, int row, SettingWord::Page page, int min, int max, bool zero = false)
{
    return {word, row, SettingWord::Number, page, min, max, {}, zero, 0, 0};
}

SettingWord check(int word, int row, SettingWord::Page page, int on = 1, int off = 0)
{
    return {word, row, SettingWord::Check, page, 0, 0, {}, false, on, off};
}

SettingWord choice(int word, int row, SettingWord::Page page, QVector<int> rows)
{
    return {word, row, SettingWord::Choice, page, 0, 0, std::move(rows), false, 0, 0};
}

QVector<SettingWord> build()
{
    using P = SettingWord;
    QVector<SettingWord> t;
    // Camera picture: the camera-0 words; ranges as the load repairs them.
    t << number(0, 164, P::CameraPage, 0, 10000) << number(8, 165, P::CameraPage, 0, 10000)
      << number(16, 241, P::CameraPage, 0, 10000) << number(24, 242, P::CameraPage, 0, 10000)
      << number(32, 364, P::CameraPage, 0, 10000) << check(317, 617, P::CameraPage)
      << check(325, 618, P::CameraPage) << check(179, 388, P::CameraPage);

    // Detection mode, steps, countdowns, picture keeping.
    t << choice(176, 689, P::SystemPage, {384, 385, 386, 472}) << choice(177, 690, P::SystemPage, {376, 377, 383})
      << check(85, 174, P::SystemPage) << check(100, 175, P::SystemPage)
      << number(40, 161, P::SystemPage, 0, 10000) << number(41, 162, P::SystemPage, 0, 10000);
    const int laterDelays[] = {485, 486, 487, 488, 489, 490};
    for (int k = 0; k < 6; ++k)
        t << number(42 + k, laterDelays[k], P::SystemPage, 0, 10000);
    t << number(110, 167, P::SystemPage, 0, 10) << number(178, 166, P::SystemPage, 0, 10000)
      << number(111, 168, P::SystemPage, 0, 10000) << number(112, 169, P::SystemPage, 0, 10000)
      << number(113, 667, P::SystemPage, 0, 10000) << number(114, 336, P::SystemPage, 0, 100000000)
      << number(115, 524, P::SystemPage, 0, 10000) << number(102, 185, P::SystemPage, 1, 100)
      << number(103, 186, P::SystemPage, 0, 20000) << number(104, 187, P::SystemPage, 0, 20000)
      << number(105, 243, P::SystemPage, 30, 9999, true) << number(106, 244, P::SystemPage, 0, 100)
      << number(107, 188, P::SystemPage, 0, 4) << number(108, 189, P::SystemPage, 0, 10000)
      << number(159, 630, P::SystemPage, 0, 10000) << number(161, 662, P::SystemPage, 0, 10000)
      << check(98, 170, P::SystemPage)
      << choice(167, 269, P::SystemPage, {460, 461, 462, 463, 464, 465, 466, 467});

    // Interlocks and operator switches.
    for (int w : {94, 95, 97, 99, 122, 123, 124, 126, 127, 128, 129, 130, 131, 132, 135, 136, 137, 138, 144, 146,
                  151, 155, 156, 157, 158, 160, 172, 173, 174, 284}) {
        static const QHash<int, int> rows = {
            {94, 177}, {95, 179}, {97, 178}, {99, 400}, {122, 192}, {123, 190}, {124, 659}, {126, 193},
            {127, 513}, {128, 202}, {129, 515}, {130, 562}, {131, 666}, {132, 677}, {135, 194}, {136, 341},
            {137, 556}, {138, 195}, {144, 265}, {146, 554}, {151, 558}, {155, 621}, {156, 622}, {157, 624},
            {158, 629}, {160, 658}, {172, 272}, {173, 254}, {174, 623}, {284, 519}};
        t << check(w, rows.value(w), P::FunctionPage);
    }
    // Motion correction is on at 0 and off at -1.
    t << check(96, 176, P::FunctionPage, 0, -1)
      << choice(125, 707, P::FunctionPage, {455, 404, 405, 406})
      << choice(147, 334, P::FunctionPage, {455, 407, 408, 409});

    // Detection algorithms.
    for (int w : {139, 140, 141, 142, 143, 149, 150, 153, 154, 162, 163, 168, 169, 170, 180, 181, 182, 183, 185}) {
        static const QHash<int, int> rows = {
            {139, 196}, {140, 197}, {141, 198}, {142, 199}, {143, 200}, {149, 457}, {150, 470},
            {153, 582}, {154, 583}, {162, 671}, {163, 676}, {168, 270}, {169, 271}, {170, 337},
            {180, 390}, {181, 391}, {182, 520}, {183, 625}, {185, 397}};
        t << check(w, rows.value(w), P::AdvancedPage);
    }
    t << number(116, 22, P::AdvancedPage, 1, 100) << number(117, 24, P::AdvancedPage, 1, 1000)
      << number(171, 181, P::AdvancedPage, 1, 100) << number(148, 213, P::AdvancedPage, 1, 8000)
      << number(186, 403, P::AdvancedPage, 0, 180) << number(120, 663, P::AdvancedPage, 0, 10)
      << number(121, 664, P::AdvancedPage, 0, 10);

    // Wiring sense of outputs 1-9: "Break" or "Close".
    for (int k = 0; k < 9; ++k)
        t << choice(76 + k, 496, P::OutputPage, {204, 211});
    return t;
}

}  // namespace

const QVector<SettingWord>& all()
{
    static const QVector<SettingWord> table = build();
    return table;
}

int cameraBase(int word)
{
    for (int base : {0, 8, 16, 24, 32, 317, 325})
        if (word >= base && word < base + 8)
            return base;
    return -1;
}

const SettingWord* find(int word)
{
    const int base = cameraBase(word);
    const int key = base >= 0 ? base : word;
    for (const SettingWord& w : all())
        if (w.word == key)
            return &w;
    return nullptr;
}

}  // namespace settingwords
