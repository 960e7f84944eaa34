// Console window sizing: the decisions of ResizeConsole as functions of plain values.
#pragma once

#include "Scrollback.h"
#include "translator.h"

constexpr SHORT kMaxWindowColumns = 128;
constexpr SHORT kMaxWindowRows = 100;
constexpr SHORT kLoweredRowsFloor = 24;  // rows come down to this before columns do

// Whether the MaxWindowSize setting `most` (0x0: none) raises the limit: it is at least 128x100.
// Otherwise the limit and the lowering are as without it.
bool RaisedWindowLimit(COORD most);

// The request when both sizes are in range (1 to 128 columns, 1 to 100 rows), else 80x24.  With
// a raised limit `most`, 1x1 to `most` is the range, and a size beyond it in either part is
// brought down to it; a size below 1 in either part is still replaced by 80x24.
WindowSize ValidWindowSize(WindowSize requested, COORD most = COORD{0, 0});

// The next size to try after Windows refused one: rows fall by one down to 24, then columns.
WindowSize LowerWindowSize(WindowSize requested);

// The next size to try after a refusal, or false when no smaller size is left.  As
// LowerWindowSize, except that once the columns cannot help (they fit the largest window the
// display shows while the rows do not, or only one is left) the rows fall too, one at a time.
bool NextWindowSize(WindowSize* requested, COORD largest);

// With a raised limit, the size to try after the first refusal: the request within the console's
// largest window.  False, the request unchanged, when that is no smaller (or the console did not
// say), so that the lowering goes on one step at a time.
bool FitLargestWindow(WindowSize* requested, COORD largest);

// The first window: what both the present buffer and the new size allow, so that the buffer can
// then shrink.
SMALL_RECT ShrunkWindow(COORD buffer, WindowSize requested);
// The window that covers a buffer of the requested size.
SMALL_RECT FullWindow(WindowSize requested);

// Whether a refusal of the first window means the console runs full screen: the error says so
// and the buffer is not already of the requested size.
bool IsFullScreenRefusal(DWORD error, COORD buffer, WindowSize requested);

// The notices for the client, formatted into `buffer` (1024 bytes); each returns the length.
int FormatRetryNotice(char* buffer, const char* step, DWORD error, COORD old_buffer,
                      WindowSize next);
int FormatFullScreenNotice(char* buffer, WindowSize requested);

// Start-up with scrollback: sizes the console for the requested window, with the window at the
// bottom of the buffer and the cursor at its top left, before the command processor starts, and
// puts the screen mirror's first mark (read through its `console`, into its `tracker`), so that
// the rows of the first output that leave the window before the first pass are kept too.
void SizeConsoleForScrollback(const ConsoleScreen& console, ScrollTracker& tracker);
