// A tap meant for a surface that has just closed never acts on what comes
// up in its place: the second tap of a double tap on a closing button, or on
// a row of a drop-down list, arrives after the surface is gone and would
// press whatever lies there now, the screen it uncovered, the setting the
// list lay over or the question the first tap opened. When such a surface
// hides as the outcome of a tap, a press within kRadiusPx of that tap,
// made within kGuardMs of it, is swallowed with the release that ends it,
// on whatever window takes it, before it can move the keyboard focus. A press anywhere else acts at once (and ends
// the guard: a tap between is no double tap), and so does any press made
// kGuardMs or more after the closing tap.
//
// The times are those at which the taps were made (the input event's
// timestamp), not those at which the program reads them: the GUI thread
// may be busy with a judgement for most of a second, and the taps made
// meanwhile wait in the queue. Only when an event carries no timestamp, or
// one earlier than the closing tap's (another clock), is the reading time
// taken.
//
// A tap that closes a drop-down by falling outside it only closes it: where
// a platform hands that press on to what lies beneath, it comes as a tap
// at the closing tap's place and time, and is swallowed.
//
// Only a tap closes a surface: a surface that hides while a press or
// release is handled, or while what that handling left queued runs, is
// closed by that tap. One that hides later (a wait box whose job ended, a
// page the program closes after a re-detection) arms nothing: the loop has
// gone back to its queue since the last tap.
//
// A surface that comes up by itself (the NG page the cycle opens, a
// warning the program raises) takes no tap made before it was shown, nor
// one made within kGuardMs after: a finger already on its way to what lay
// there meant that. Its opener marks it with `cameUp()`. The moment it was
// shown is carried over to the taps' own clock by the smallest lag seen
// between a recent tap's making and its reading.
//
// The touch that wakes a dark screen presses nothing, and what follows it
// within kRadiusPx and kGuardMs (the second tap of a double tap on the dark
// screen) is swallowed as after a closing tap (`wakingTouch()`).
//
// Every surface passes through one hook: once `install()` has run, every
// dialog window and every popup window of the application (a drop-down's
// list, a menu) arms the guard when it hides, and so does every page marked
// with `guardPage()` (a part of a window that covers it and closes by a
// tap: the settings screen, the help pager, the ROI page). Marking a page
// installs the hook too. The pads arm it through `pageClosed()` when their
// Confirm key puts them away.
#pragma once

#include <QtGlobal>

#include <QPoint>

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
// `surface` (a window or a part of one) came up by itself just now.
void cameUp(QWidget* surface);
// The touch at `globalAt`, made at `made` (the event's timestamp, 0: none),
// woke the screen and was not taken. `releaseFollows`: it was a mouse press,
// whose release is swallowed too.
void wakingTouch(const QPoint& globalAt, ulong made, bool releaseFollows);
// The clock the guard reads when an event carries no usable timestamp, in
// milliseconds (tests hold it still or leap it); null: the steady clock.
void setClock(std::function<qint64()> clock);
// Presses swallowed so far.
int swallowed();

}  // namespace tapguard
