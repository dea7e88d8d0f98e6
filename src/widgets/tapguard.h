// A tap meant for a page that has just closed never acts on the screen
// beneath it: on a slow machine the second tap of a double tap (or a tap
// given while the page is still drawn) arrives after the page is gone and
// would press whatever lies under it. After `pageClosed(page)` a press on
// the page's window inside the area the page covered is swallowed for
// kGuardMs, with the release that ends it; a press on a widget of the page
// itself (shown again) is not.
#pragma once

#include <QtGlobal>

#include <functional>

class QWidget;

namespace tapguard {

constexpr int kGuardMs = 500;

void pageClosed(QWidget* page);
// The clock the guard runs on, in milliseconds (tests hold it still);
// null: the steady clock.
void setClock(std::function<qint64()> clock);
// Presses swallowed so far.
int swallowed();

}  // namespace tapguard
