// The help pages: each a title row and the operator-text rows it explains,
// drawn into one picture per page and language at build time (tools/mkhelp)
// and shown by HelpWidget. Page 6 is the ROI page's.
#pragma once

#include <QString>

namespace helppages {

constexpr int kPages = 8;
constexpr int kMaxRows = 10;

struct Page {
    int titleRow;
    int rows[kMaxRows];   // 0 ends the list early
};

constexpr Page kPage[kPages] = {
    {111, {640, 45, 172, 111, 209, 210}},
    {260, {164, 165, 241, 242, 364, 617, 618, 500, 526, 388}},
    {215, {384, 385, 386, 472, 174, 175, 161, 162, 167, 185}},
    {228, {177, 179, 178, 195, 265, 519, 554, 558}},
    {205, {196, 197, 198, 199, 200, 390, 391, 397}},
    {266, {499, 498, 396, 204, 211}},
    {45, {63, 71, 108, 113, 116, 137, 583}},
    {261, {182, 183, 184, 282, 653}},
};

// The picture of page `page` in language `lan`, relative to the working folder.
inline QString fileName(int page, int lan)
{
    return QStringLiteral("./images/help/help%1_%2.png").arg(page).arg(lan);
}

}  // namespace helppages
