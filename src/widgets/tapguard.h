// A tap meant for a page, dialog or box that has just closed never acts on
// what comes up in its place: the second tap of a double tap on a closing
// button arrives after the surface is gone and would press whatever lies
// there now, the screen it uncovered or the question the first tap opened.
// When such a surface hides as the outcome of a tap, a press within
// kRadiusPx of that tap, for kGuardMs, is swallowed with the release that
// ends it, on whatever window takes it. A press anywhere else acts at once
// (and ends the guard: a tap between is no double tap), and so does any
// press after kGuardMs.
//
// Only a tap closes a surface: a surface that hides while a press or
// release is handled, or while what that handling left queued runs, is
// closed by that tap. One that hides later (a wait box whose job ended, a
// page the program closes after a re-detection) arms nothing: the loop has
// gone back to its queue since the last tap.
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
// A second tap lands within a finger's width of the first; a deliberate
// tap on another control lies farther off.
constexpr int kRadiusPx = 50;

void install();
void guardPage(QWidget* page);
// Arms the guard for `page` as its hiding would (only while a tap is
// being handled).
void pageClosed(QWidget* page);
// The clock the guard runs on, in milliseconds (tests hold it still);
// null: the steady clock.
void setClock(std::function<qint64()> clock);
// Presses swallowed so far.
int swallowed();

}  // namespace tapguard
