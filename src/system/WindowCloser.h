#pragma once

#include <QString>
#include <QStringList>

// For each title in turn, asks the first top-level window with that title
// (whole title, case ignored) to close, as a click on its close box would. Our
// own windows, shown or hidden, come first; when none matches and we run on
// X11, the first other program's top-level window with that title is asked
// through the window protocol. Never waits for a window and never kills
// anything. Titles are looked up with one search of other programs' windows
// for all the titles that none of ours took: the windows are listed once and
// each one's title read once, however many titles are asked.
void CloseWindowsByTitle(const QStringList &titles);

// The own-window step alone: returns true when one of our windows was asked.
// A window already asked and not yet handled is passed over, so two calls in a
// row close two windows of the same title.
bool closeOwnWindowByTitle(const QString &title);
