// Scrollback in advanced mode: the console buffer is taller than its window, and the rows that
// leave the window are sent to the client's bottom row and scrolled up with line feeds, so that
// they reach the terminal's own scrollback.
//
// How far the content moved is read from a mark, not from the rows' text: rows repeat (blank
// lines, identical output), and no matching of text can tell one "y" row from the next.  The
// mark is one attribute bit that the mirror sets in the last cell of the window's top row, which
// output only reaches while the cursor is on that row.  The console moves the mark with the
// buffer's content, so the rows it moved up plus the rows the window moved down are exactly the
// rows that left the window.  A mark that is gone (a clear, a program that fills the buffer) or
// that moved down means the distance cannot be told: the mirror then repaints as it does without
// scrollback, and sends nothing to the scrollback.  The mirror clears the bit in every cell it
// reads, so it never reaches the client, and leaves old marks in the console's cells: they go up
// the history with the content.
#pragma once

#include <memory>

#include "ConsoleScreen.h"
#include "win32.h"

// The bits of the mark, one pass the one, the next the other, so that the new mark is never
// taken for the old one.  They only draw grid lines on consoles of double-byte code pages,
// which is never seen here, and no terminal sequence stands for them.
constexpr WORD kScrollMarks[2] = {0x1000, 0x0800};  // COMMON_LVB_GRID_RVERTICAL, _LVERTICAL

// A console buffer has at most this many rows.
constexpr DWORD kMaxConsoleRows = 32767;

// The setting, capped so that the window's rows plus the history stay within a buffer.
SHORT CappedScrollbackLines(DWORD setting, SHORT window_rows);

// The console's geometry at one pass and where the mark was put (at the last pass) or found (at
// this one); mark_row is an absolute buffer row, -1 when there is none.
struct ScrollView {
    COORD buffer{0, 0};
    SMALL_RECT window{0, 0, -1, -1};
    int mark_row = -1;
};

// The rows a pass sends into the client's scrollback, from one read of the buffer's rows from
// `top` on: the old mark seen in it at buffer row `found` (-1: not seen), the `lead` rows above
// the mark that the last pass left to send, and the window the pass ends on, from buffer row
// `shown_top`.  The rows are buffer rows found - lead to shown_top - 1, oldest first.  0 when
// nothing scrolled, or when the distance cannot be told from the read: no mark, or rows to send
// that begin above the read or below the window.
int ScrolledRows(int found, int lead, int top, int shown_top);

// Once the new mark is placed on buffer row `mark_row` (the old one was seen at `found`), a read
// of the mark column shows the old mark at `old_row` and the new one at `placed` (-1: not seen).
// The output may have moved the content between the read of the rows and the write of the mark,
// and moved the new mark below the row meant: the rows it fell are above it and still to be sent.
// Gives them, or -1 when the distance cannot be told (either mark unseen, the new one not below
// the old, or a fall less than none).
int MarkLead(int found, int mark_row, int old_row, int placed);

// Where the mark is in one column of cells (cells[0] is buffer row `first_row`, the next row's
// cell `stride` cells on): the lowest row that carries the bit, or -1.
int FindMark(const CHAR_INFO* cells, int count, int first_row, WORD bit, int stride = 1);

// Where the mirror puts the mark for a window: the last cell of its top row.  From there it
// outlasts a scroll of as many rows as the buffer keeps above the window.
COORD MarkCell(const SMALL_RECT& window);

// Clears the marks' bits in every cell.
void StripMark(CHAR_INFO* cells, size_t count);

// The mirror's scrollback state between passes.
struct ScrollTracker {
    ScrollView view;   // at the last pass, with the mark it put
    COORD mark{0, 0};  // the cell of that mark
    int bit = 0;       // the index of its bit
    int lead = 0;      // rows above the mark not sent yet (the output moved on as it was put)
    std::unique_ptr<CHAR_INFO[]> history;  // the rows that left the window in this pass
    size_t history_cells = 0;
};

// The planning of one pass, from the tracker's state and the console's geometry.

// Whether the old mark can still tell a distance: there is one, and the buffer and the window's
// right edge (the mark's column) are as they were when it was put.
bool SameGeometry(const ScrollView& before, SHORT mark_column,
                  const CONSOLE_SCREEN_BUFFER_INFO& info);

// The buffer rows of the one read of a pass, from `top` on.
struct ScrollRead {
    int top = 0;
    int rows = 0;
};
// From a little above where the old mark is about to be (`guess`, -1 when not searched or not
// found; `last_mark` where it was put) down to the window's last row.  The rows above the mark
// allow for its `lead` and for the output of the moment between the search and the read, more
// at each attempt (from 1), but never so many that the rows from the mark on no longer fit.
// More rows than one read takes are sent a read at a time: the pass then ends on a window of
// rows above the console's, and the next pass goes on from there.
ScrollRead PlanScrollRead(const SMALL_RECT& window, int guess, int last_mark, int lead,
                          int attempt);

// Whether to read again after a read that did not show the old mark (`found` -1): the search
// saw it (`guess`), so it moved past a read that did not reach the buffer's top.  A mark the
// search did not find is gone; after the last attempt the pass repaints.
bool ReadAgain(int found, int guess, int top, int attempt);

// The rows that left the window, and the top row of the window the pass ends on: the rows after
// those the read holds, or the console's own when nothing scrolled.
struct ScrollEnd {
    int scrolled = 0;
    int shown_top = 0;
};
ScrollEnd PlanScrollEnd(int found, int lead, const ScrollRead& read, SHORT window_top,
                        int window_rows);

// Where the tracker's mark is after the pass, and the rows above it still to be sent: the old
// mark itself when it is on the row meant (`mark_row`), that row when no old mark was found,
// else where the new one was seen after its fall (MarkLead), or none (-1).
struct NewMark {
    int row = -1;
    int lead = 0;
};
NewMark PlaceMark(int found, int mark_row, int old_row, int placed);

// The console's cursor relative to the window of `size` cells from column `left` and buffer row
// `shown_top`, kept off the cells past its right and bottom edges.
COORD CursorInWindow(COORD cursor, SHORT left, int shown_top, COORD size);

struct ScreenSnapshot;
class AnsiWriter;

// Sends the `count` rows that left the window (oldest first) so that they go into the client's
// scrollback, and leaves the client showing `current`.  The client shows `shown`: its rows are
// first brought to the rows that are to leave it (and then to the window's rows), only where
// they differ, then each further row comes in at the bottom row after a line feed.  `shown`
// becomes a copy of `current` with an unknown cursor.  Both snapshots have the same size.
void SendScrolledRows(const CHAR_INFO* rows, int count, ScreenSnapshot& shown,
                      const ScreenSnapshot& current, AnsiWriter& writer);

// Reads the console's window (not the whole buffer) into `current`, with the cursor made
// relative to the window, and the rows that left the window since the last pass into the
// tracker's history; moves the mark.  Returns the number of those rows (0 when none, or when
// they cannot be told), or -1 when there is no memory for the cells.
int ReadScrolledScreen(const ConsoleScreen& console, ScreenSnapshot& current,
                       ScrollTracker& tracker);
