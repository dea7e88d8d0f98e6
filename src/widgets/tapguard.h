// A tap meant for a page, dialog or box that has just closed never acts on
// the screen beneath it: the second tap of a double tap on a closing
// button (or a tap given while the surface is still drawn) arrives after
// the surface is gone and would press whatever it uncovered. After such a
// surface hides, a press inside the area it covered, on a window that was
// shown beneath it, is swallowed for kGuardMs, with the release that ends
// it; a press on the surface itself (shown again) or on a window opened
// after it closed (the next question) is not, and a tap after the guard
// works at once.
//
// Every surface passes through one hook: once `install()` has run, every
// dialog window of the application arms the guard when it hides, and so
// does every page marked with `guardPage()` (a part of a window that
// covers it and closes by a tap: the settings screen, the help pager, the
// ROI page). Marking a page installs the hook too.
#pragma once

#include <QtGlobal>

#include <functional>

class QWidget;

namespace tapguard {

constexpr int kGuardMs = 500;

void install();
void guardPage(QWidget* page);
// Arms the guard for `page` as its hiding would.
void pageClosed(QWidget* page);
// The clock the guard runs on, in milliseconds (tests hold it still);
// null: the steady clock.
void setClock(std::function<qint64()> clock);
// Presses swallowed so far.
int swallowed();

}  // namespace tapguard
