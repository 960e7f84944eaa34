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

// The rows a pass sends into the client's scrollback, buffer rows found - lead to shown_top - 1:
// from the `lead` rows above the old mark (seen at `found` in a read from row `top`; -1: not
// seen) to the window the pass ends on.  0 when nothing scrolled, or when the read cannot tell:
// no mark, or rows to send that begin above the read or below the window.
int ScrolledRows(int found, int lead, int top, int shown_top);

// Where the mark is in one column of cells (cells[0] is buffer row `first_row`, the next row's
// cell `stride` cells on): the lowest row that carries the bit, or -1.
int FindMark(const CHAR_INFO* cells, int count, int first_row, WORD bit, int stride = 1);

// Clears the marks' bits in every cell.
void StripMark(CHAR_INFO* cells, size_t count);

// Where the console's window is shown on the client's terminal.  A terminal taller than the
// window (its size was lowered, or replaced by the size rule) shows it on its bottom rows, so that
// the line feed at the window's last row that sends a row into the scrollback scrolls the whole
// terminal, as every terminal then keeps the row that leaves its top; the rows above the window
// show the rows that left it last.  Every row the mirror sends maps through Row, and so must
// anything that maps a terminal row back to the console.
struct TerminalPlace {
    int top = 0;  // the terminal's rows above the window's first row
    // The first row a repaint erases, down to the terminal's last (the whole screen at 0): the
    // rows above it show rows that left the window and have not yet reached the terminal's
    // scrollback, and a repaint leaves them.
    int first_erased = 0;
    unsigned Row(int window_row) const { return static_cast<unsigned>(window_row + top); }
};
// The place for a terminal of `terminal_rows` (0: it never said) and a window of `window_rows`,
// after the place `before` of a window of `before_rows` (0: none shown).  A repaint erases from
// the window's first row, or from the old window's when the terminal kept its height and the old
// window began higher: its rows then still show the old window's, which never left it.
TerminalPlace PlaceWindow(int terminal_rows, int window_rows, TerminalPlace before,
                          int before_rows);

// Cells kept from pass to pass, allocated anew only when more are needed.
struct CellStore {
    std::unique_ptr<CHAR_INFO[]> cells;
    size_t count = 0;
    // False, with nothing kept, when there is no memory for `needed` cells.
    bool Fit(size_t needed);
};

// The mirror's scrollback state between passes.
struct ScrollTracker {
    ScrollView view;    // at the last pass, with the mark it put
    COORD mark{0, 0};   // the cell of that mark
    int bit = 0;        // the index of its bit
    int lead = 0;       // rows above the mark not sent yet (the output moved on as it was put)
    CellStore history;  // the rows that left the window in this pass
    CellStore column;   // one cell of each buffer row, for the reads of the mark's column
    // The client's terminal's rows as it last reported them (0: never), set before each pass,
    // and the place of the window on it that the terminal shows.
    int terminal_rows = 0;
    TerminalPlace place;
    // With MaxWindowSize: a read beyond 16,000 cells is tried in one piece first, until the
    // console refuses one, so that a wide window's rows hold together while the output goes on.
    bool whole_reads = false;
};

// The decisions of one pass.  Whether the old mark can still tell a distance: there is one, within
// the buffer, and its column (the window's right edge when it was put) within the window's.  A
// buffer of other rows or columns keeps its cells where they were, the mark with them: a wider
// one, or one with more or fewer rows, still shows it.  A narrower one drops the columns beyond
// its width, the mark's among them when the window spanned the buffer: the rows that left the
// window between the last pass and that narrowing cannot be told, and never reach the scrollback
// (the pass repaints the window, as after a clear).
bool SameGeometry(const ScrollView& before, SHORT mark_column,
                  const CONSOLE_SCREEN_BUFFER_INFO& info);
// The read of a pass, `rows` rows from `top`, 16,000 cells or four window heights at most,
// whichever is more: to the window's last row from `lead` rows above where the search saw the old
// mark (`guess`, -1: not seen), and a margin for the output of the moment since, doubled at each
// `attempt` up to half the read, unless the mark has not moved from `last_mark`.  It ends no
// higher than the mark's row: a lead longer than a read still reaches the mark.
struct ScrollRead {
    int top, rows;
};
ScrollRead PlanScrollRead(const SMALL_RECT& window, int guess, int last_mark, int lead,
                          int attempt);
// The search saw the old mark but the read from `top` did not (`found` -1), or did not hold the
// `lead` rows above it: the output moved them above the read.  A few attempts at most.
bool ReadAgain(int found, int lead, int guess, int top, int attempt);
// The rows that left the window (ScrolledRows) and the top row of the window the pass ends on:
// the one after the rows the read holds, or the console's own when nothing scrolled.  The rows
// above the old mark that the pass leaves to the next (its read ended above the mark, or began
// below the first of them when the output outran every attempt) keep the old mark, as its lead:
// `unsent`, -1 when the pass leaves none and the mark moves to the window it ends on.
struct ScrollEnd {
    int scrolled, shown_top, unsent;
};
ScrollEnd PlanScrollEnd(int found, int lead, const ScrollRead& read, SHORT window_top,
                        int window_rows);
// The tracker's mark row and lead once the new mark is meant for row `mark_row`: the old mark
// where it is on that row (`found`) when no new mark was put (`placed` -1), that row when there
// was no old mark; otherwise a read of both marks' columns shows the old mark at `old_row` and the
// new one at `placed` (-1: not seen), and the rows it fell below the row meant (the output moved
// on before the write) are still to be sent.  Row -1 when that cannot be told: either mark unseen,
// or a fall of less than none.
struct NewMark {
    int row, lead;
};
NewMark PlaceMark(int found, int mark_row, int old_row, int placed);

struct ScreenSnapshot;
class AnsiWriter;

// Sends the `count` rows that left the window (oldest first) so that they go into the client's
// scrollback, and leaves the client showing `current`.  The client shows `shown`: its rows are
// first brought to the rows that are to leave it (and then to the window's rows), only where
// they differ, then each further row comes in at the bottom row after a line feed.  `shown`
// becomes a copy of `current` with an unknown cursor.  Both snapshots have the same size; the
// window is shown at `place`.
void SendScrolledRows(const CHAR_INFO* rows, int count, ScreenSnapshot& shown,
                      const ScreenSnapshot& current, TerminalPlace place, AnsiWriter& writer);

// Reads the console's window (not the whole buffer) into `current`, with the cursor made
// relative to the window, and the rows that left the window since the last pass into the
// tracker's history; moves the mark.  Returns the number of those rows (0 when none, or when
// they cannot be told), or -1 when there is no memory for the cells.
int ReadScrolledScreen(const ConsoleScreen& console, ScreenSnapshot& current,
                       ScrollTracker& tracker);
