// The operator text table gaLanStr: filling it and reading a row.
//
// The texts are compiled into the program (resources/lanstr.tsv, embedded as
// ":/lanstr/lanstr.tsv"), so the program never depends on a file in its
// working folder. One line per row: the row number, then the texts in
// Simplified Chinese, English, Traditional Chinese and Japanese, separated by
// tabs. Inside a text "\r", "\n", "\t" and "\\" stand for a carriage return,
// a line feed, a tab and a backslash; an empty field is an empty text. Blank
// lines and lines starting with '#' are skipped.
#pragma once

#include "globals.h"

#include <QByteArray>
#include <QString>

// Language columns of gaLanStr, also the values of gLan.
enum LanColumn : int {
    kLanSimplifiedChinese = 0,
    kLanEnglish = 1,
    kLanTraditionalChinese = 2,
    kLanJapanese = 3,
};

// Where the compiled-in table lives.
extern const char* const kLanStrResource;  // ":/lanstr/lanstr.tsv"

// Parses table data in the format above into table (kLanRows rows). A line
// that is malformed (wrong field count, bad row number, repeated row, bad
// escape, invalid UTF-8) is refused with a warning and leaves table as it was;
// the other lines are still taken. Returns the number of rows filled.
int parseLanStr(const QByteArray& data, QString (*table)[kLanCols]);

// Empties gaLanStr and fills it from the compiled-in table. Called once by
// main before any screen is built. Returns the number of rows filled (0 with
// a warning when the table cannot be read).
int initLanStr();

// Text of row in language lan. An empty cell falls back to the English text,
// then to the Simplified Chinese one; a row or language out of range gives an
// empty text.
QString lanStr(int row, int lan);

// Text of row in the current language gLan, with the same fallbacks.
QString lanStr(int row);
