// Scrollback in advanced mode.
#include "Scrollback.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ScreenMirror.h"
#include "translator.h"

namespace {

// Reads of one pass that the console's own output may overtake before the pass gives up on
// telling how far it scrolled; each attempt reads twice as many rows above the mark as the last.
constexpr int kReadAttempts = 4;
// The most cells of the one read that a pass makes of the window and the rows above it: under
// 64 KB, which every console version takes in one ReadConsoleOutputA.  A window larger than that
// is read in pieces, and a pass reads up to four window heights.
constexpr int kMaxCellsPerPass = 16000;
constexpr int kMinReadHeights = 4;
constexpr WORD kBothMarks = kScrollMarks[0] | kScrollMarks[1];

// The lowest row from `from` up to the top of the buffer whose cell in `column` carries the
// mark, or -1: the row itself first (nothing scrolled, the pass of an idle screen), then the
// `nearby` rows above it, then the rest of the column, a cell a row in each read.  The content
// only moves up, so a mark not seen in those rows can only have gone higher.  The marks of the
// two bits follow each other down the column, the newest lowest: one of the other bit below the
// one found shows that the mark sought is gone (the output overwrote it) and that the one found
// is older, so -1 then too.
// `cells` holds a cell for each row of the column, from row 0.
int SearchMark(const ConsoleScreen& console, SHORT column, int from, int nearby, WORD bit,
               WORD other, CHAR_INFO* cells) {
    if ((console.ReadCell(COORD{column, static_cast<SHORT>(from)}).Attributes & bit) != 0)
        return from;
    const int low = from - nearby < 0 ? 0 : from - nearby;
    console.ReadColumn(cells + low, column, low, from - low + 1);
    int found = FindMark(cells + low, from - low + 1, low, bit);
    if (found < 0 && low > 0) {
        console.ReadColumn(cells, column, 0, low);
        found = FindMark(cells, low, 0, bit);
    }
    if (found < 0 || FindMark(cells + found + 1, from - found, found + 1, other) >= 0) return -1;
    return found;
}

// Adds the new mark's bit to the cell, without the old one.  The console has no way to change a
// cell's attribute but to write it whole, so a program's write to the cell between the read and
// the write would get the colour the cell had before it.  The cell and its left neighbour are read
// again after the write: when either changed in between (a scroll, a new line, a new colour) and
// the mark's cell still has the attribute written, that is a colour of the old content, and the
// cell takes its row's colour as it now is, from its neighbour.  What stays possible is a program
// that changes that one cell alone, not its character, within those few calls.
void PutMark(const ConsoleScreen& console, COORD mark, WORD new_bit) {
    const int left = mark.X > 0 ? 1 : 0;
    const COORD pair{static_cast<SHORT>(left + 1), 1};
    CHAR_INFO before[2] = {}, after[2] = {};
    console.ReadBlock(before, static_cast<SHORT>(mark.X - left), mark.Y, pair);
    const WORD written = static_cast<WORD>((before[left].Attributes & ~kBothMarks) | new_bit);
    console.WriteAttribute(mark, written);
    console.ReadBlock(after, static_cast<SHORT>(mark.X - left), mark.Y, pair);
    const bool moved = after[left].Char.UnicodeChar != before[left].Char.UnicodeChar ||
                       (left == 1 && (after[0].Char.UnicodeChar != before[0].Char.UnicodeChar ||
                                      after[0].Attributes != before[0].Attributes));
    if (moved && left == 1 && after[1].Attributes == written) {
        console.WriteAttribute(mark,
                               static_cast<WORD>((after[0].Attributes & ~kBothMarks) | new_bit));
    }
}

// Where the old mark (its bit in `old_column`) and the new one (in `column`) are, from row `from`
// down to row `to`, as at one moment: in one read of one column, or, when a width change moved the
// mark's column, with the old column read again after the new one: an old mark that moved in
// between (the output scrolled) makes the reads start again, a few times at most, and is then
// not taken (-1).  `cells` holds a cell for each buffer row.
void FindMarks(const ConsoleScreen& console, SHORT old_column, SHORT column, int from, int to,
               const WORD bits[2], CHAR_INFO* cells, int* old_row, int* placed) {
    const int span = to - from + 1;
    console.ReadColumn(cells, old_column, from, span);
    *old_row = FindMark(cells, span, from, bits[0]);
    if (old_column == column) {
        *placed = FindMark(cells, span, from, bits[1]);
        return;
    }
    for (int attempt = 1;; ++attempt) {
        console.ReadColumn(cells, column, from, span);
        *placed = FindMark(cells, span, from, bits[1]);
        console.ReadColumn(cells, old_column, from, span);
        const int again = FindMark(cells, span, from, bits[0]);
        if (again == *old_row) return;
        *old_row = again;
        if (attempt == kReadAttempts) {
            *old_row = -1;
            return;
        }
    }
}

// Puts the new mark in the last cell of the window's top row (`shown_top`), where it outlasts a
// scroll of all the rows above the window, without the old bit, so that only the old cell shows
// the old mark.  Old marks stay: the output may move the content between any read of a cell and
// a write to it, and a write that took one out could land on the new one.  The old mark was found
// in its own column, which is the window's last one unless the width changed since.  A pass that
// leaves rows above the old mark unsent keeps that mark in its column, those rows its lead: the
// marks follow each other down the column, the newest lowest, and a new mark above the old one
// would be taken for an older one.
void MoveMark(const ConsoleScreen& console, const CONSOLE_SCREEN_BUFFER_INFO& info,
              const ScrollEnd& end, int found, ScrollTracker& tracker) {
    const SMALL_RECT& window = info.srWindow;
    const COORD mark{window.Right, static_cast<SHORT>(end.shown_top)};
    if (end.unsent >= 0 && tracker.mark.X == mark.X) {
        tracker.view = ScrollView{info.dwSize, window, found};
        tracker.lead = end.unsent;
        return;
    }
    const WORD bits[2] = {kScrollMarks[tracker.bit], kScrollMarks[1 - tracker.bit]};
    int old_row = -1, placed = -1;
    if (found != mark.Y || tracker.mark.X != mark.X) {
        PutMark(console, mark, bits[1]);
        // Where the old and the new mark are now, the output having moved them up as far as it
        // went on: from 2 window heights above the higher of their rows down to the lower, or
        // from the column's top when that does not show both.  (After a width change the new
        // mark may be above the old one: a search that ended at its row would take an older mark
        // of the old one's bit for the old one, and rows sent already for rows to send.)
        const int lower = std::max(found, static_cast<int>(mark.Y));
        const int higher = std::min(found, static_cast<int>(mark.Y));
        for (int from = higher - 2 * (window.Bottom - window.Top + 1); found >= 0; from = 0) {
            if (from < 0) from = 0;
            FindMarks(console, tracker.mark.X, mark.X, from, lower, bits,
                      tracker.column.cells.get(), &old_row, &placed);
            if ((old_row >= 0 && placed >= 0) || from == 0) break;
        }
        tracker.bit = 1 - tracker.bit;
    }
    const NewMark next = PlaceMark(found, mark.Y, old_row, placed);
    tracker.view = ScrollView{info.dwSize, window, next.row};
    tracker.mark = mark;
    tracker.lead = next.lead;
}

// The window's cells for `current` and the cursor within them, from the read of the pass or,
// when the window the pass ends on begins above it, from a read of the console's window.
void FillWindow(const ConsoleScreen& console, const CONSOLE_SCREEN_BUFFER_INFO& info,
                const ScrollRead& read, const CHAR_INFO* cells, int shown_top,
                ScreenSnapshot& current) {
    const SMALL_RECT& window = info.srWindow;
    const COORD size = current.allocated;
    if (shown_top < read.top || shown_top + size.Y > read.top + read.rows) {
        console.ReadRect(current.cells.get(), window.Left, shown_top, size);
    } else {
        std::memcpy(current.cells.get(), cells + static_cast<size_t>(shown_top - read.top) * size.X,
                    static_cast<size_t>(size.X) * size.Y * sizeof(CHAR_INFO));
    }
    current.info = info;
    current.info.dwSize = size;
    COORD& cursor = current.info.dwCursorPosition;  // relative to the window, and within it
    cursor.X = static_cast<SHORT>(cursor.X - window.Left);
    cursor.Y = static_cast<SHORT>(cursor.Y - shown_top);
    if (cursor.X >= size.X) cursor.X = static_cast<SHORT>(size.X - 1);
    if (cursor.Y >= size.Y) cursor.Y = static_cast<SHORT>(size.Y - 1);
}

// The rows of `read` into `rows`: in one read when it takes no more than one read holds (or, with
// `whole` reads, when the console takes it), otherwise in pieces (true), between which the output
// may move them.  A refused whole read clears `whole`.
bool ReadRows(const ConsoleScreen& console, SHORT left, SHORT columns, const ScrollRead& read,
              CHAR_INFO* rows, bool* whole) {
    const COORD size{columns, static_cast<SHORT>(read.rows)};
    if (static_cast<long>(read.rows) * columns <= kMaxCellsPerPass) {
        console.ReadBlock(rows, left, read.top, size);
        return false;
    }
    if (*whole && console.TryReadBlock(rows, left, read.top, size)) return false;
    *whole = false;
    console.ReadRect(rows, left, read.top, size);
    return true;
}

// Whether the mark read at `found` is still the lowest of its bit in the column down to row
// `end`, as after a read in pieces it must be for the pieces to hold together: the output moves
// the mark with the rows.  `cells` holds a cell for each row of the column.
bool MarkStayed(const ConsoleScreen& console, SHORT column, int found, int end, WORD bit,
                CHAR_INFO* cells) {
    console.ReadColumn(cells, column, found, end - found);
    return FindMark(cells, end - found, found, bit) == found;
}

}  // namespace

bool CellStore::Fit(size_t needed) {
    if (needed <= count && cells) return true;
    count = 0;
    cells.reset(new (std::nothrow) CHAR_INFO[needed == 0 ? 1 : needed]());
    if (!cells) return false;
    count = needed;
    return true;
}

TerminalPlace PlaceWindow(int terminal_rows, int window_rows, TerminalPlace before,
                          int before_rows) {
    const int top = terminal_rows > window_rows ? terminal_rows - window_rows : 0;
    const bool same_height = before_rows > 0 && before.top + before_rows == top + window_rows;
    return TerminalPlace{top, same_height && before.top < top ? before.top : top};
}

SHORT CappedScrollbackLines(DWORD setting, SHORT window_rows) {
    DWORD room = window_rows > 0 && static_cast<DWORD>(window_rows) < kMaxConsoleRows
                     ? kMaxConsoleRows - static_cast<DWORD>(window_rows)
                     : 0;
    return static_cast<SHORT>(setting < room ? setting : room);
}

int ScrolledRows(int found, int lead, int top, int shown_top) {
    if (found < 0 || lead < 0) return 0;
    const int first = found - lead;
    return first >= top && first <= shown_top ? shown_top - first : 0;
}

int FindMark(const CHAR_INFO* cells, int count, int first_row, WORD bit, int stride) {
    for (int i = count - 1; i >= 0; --i) {
        if ((cells[static_cast<size_t>(i) * stride].Attributes & bit) != 0) return first_row + i;
    }
    return -1;
}

bool SameGeometry(const ScrollView& before, SHORT mark_column,
                  const CONSOLE_SCREEN_BUFFER_INFO& info) {
    return before.mark_row >= 0 && before.mark_row < info.dwSize.Y &&
           mark_column >= info.srWindow.Left && mark_column <= info.srWindow.Right;
}

ScrollRead PlanScrollRead(const SMALL_RECT& window, int guess, int last_mark, int lead,
                          int attempt) {
    const int height = window.Bottom - window.Top + 1;
    int most_rows = kMaxCellsPerPass / (window.Right - window.Left + 1);
    if (most_rows < kMinReadHeights * height) most_rows = kMinReadHeights * height;
    int top = window.Top;
    if (guess >= 0) {
        int margin = guess == last_mark ? 0 : 2 * height * (1 << (attempt - 1));
        if (margin > most_rows / 2) margin = most_rows / 2;
        top = guess - lead - margin;
        if (top < 0) top = 0;
        if (top > window.Top) top = window.Top;
    }
    int end = window.Top + height;
    if (end - top > most_rows) end = std::max(top + most_rows, guess + 1);
    return ScrollRead{top, end - top};
}

bool ReadAgain(int found, int lead, int guess, int top, int attempt) {
    const bool missed = found < 0 ? guess >= 0 : found - lead < top;
    return missed && top > 0 && attempt < kReadAttempts;
}

ScrollEnd PlanScrollEnd(int found, int lead, const ScrollRead& read, SHORT window_top,
                        int window_rows) {
    const int shown_top = read.top + read.rows - window_rows;
    const int scrolled = ScrolledRows(found, lead, read.top, shown_top);
    int unsent = -1;
    if (found >= 0 && scrolled > 0 && shown_top < found) unsent = found - shown_top;
    if (found >= 0 && scrolled == 0 && found - lead < read.top) unsent = lead;
    return ScrollEnd{scrolled, scrolled == 0 ? window_top : shown_top, unsent};
}

NewMark PlaceMark(int found, int mark_row, int old_row, int placed) {
    if (found < 0) return NewMark{mark_row, 0};
    if (found == mark_row && placed < 0) return NewMark{found, 0};
    if (old_row < 0 || placed < 0) return NewMark{-1, 0};
    const int fell = (placed - old_row) - (mark_row - found);
    return fell >= 0 ? NewMark{placed, fell} : NewMark{-1, 0};
}

void StripMark(CHAR_INFO* cells, size_t count) {
    for (size_t i = 0; i < count; ++i) cells[i].Attributes &= static_cast<WORD>(~kBothMarks);
}

void SendScrolledRows(const CHAR_INFO* rows, int count, ScreenSnapshot& shown,
                      const ScreenSnapshot& current, TerminalPlace place, AnsiWriter& writer) {
    const int columns = current.allocated.X;
    const int height = current.allocated.Y;
    const Rendition& rendition = writer.rendition();
    // The rows in the order they are to pass the client's screen: those that leave the window,
    // then the window's own.
    auto row = [&](int i) -> const CHAR_INFO* {
        return i < count ? rows + static_cast<size_t>(i) * columns
                         : current.cells.get() + static_cast<size_t>(i - count) * columns;
    };
    auto send = [&](const CHAR_INFO* cells, const CHAR_INFO* before, int y) {
        RowUpdate update = DecideRowUpdate(cells, before, columns, rendition);
        if (update.changed) PutRowUpdate(cells, place.Row(y), update, columns, writer);
    };
    for (int y = 0; y < height; ++y) {
        send(row(y), shown.cells.get() + static_cast<size_t>(y) * columns, y);
    }
    // A new bottom row shows nothing: every cell that is not zero is sent.  While colours are
    // sent it shows blanks in the default colours (the line feed sets them), as a cleared screen
    // does, so a cell of other attributes is sent even when it holds nothing.  The shown copy's
    // last row holds those blanks: it is all replaced below.
    CHAR_INFO* blank = shown.cells.get() + static_cast<size_t>(height - 1) * columns;
    std::fill_n(blank, columns, rendition.ClearedCell());
    writer.MoveCursor(place.Row(height - 1), 0);
    for (int i = height; i < height + count; ++i) {
        writer.LineFeed();
        send(row(i), blank, height - 1);
    }
    writer.Flush();
    std::memcpy(shown.cells.get(), current.cells.get(),
                static_cast<size_t>(columns) * height * sizeof(CHAR_INFO));
    shown.info.dwCursorPosition = COORD{-1, -1};
}

int ReadScrolledScreen(const ConsoleScreen& console, ScreenSnapshot& current,
                       ScrollTracker& tracker) {
    for (int attempt = 1;; ++attempt) {
        const CONSOLE_SCREEN_BUFFER_INFO info = console.Info();
        const SMALL_RECT window = info.srWindow;
        const COORD size{static_cast<SHORT>(window.Right - window.Left + 1),
                         static_cast<SHORT>(window.Bottom - window.Top + 1)};
        if (size.X <= 0 || size.Y <= 0) return 0;
        if (!FitCells(current, size) || !tracker.column.Fit(static_cast<size_t>(info.dwSize.Y)))
            return -1;
        const WORD old_bit = kScrollMarks[tracker.bit];
        const bool same = SameGeometry(tracker.view, tracker.mark.X, info);
        // Where the old mark is about to be, then one read from a little above it: only what one
        // read returns holds together while the console's output goes on (a read too large for
        // one is made in pieces, and the mark shows whether the output moved them apart).
        const int guess =
            same ? SearchMark(console, tracker.mark.X, tracker.view.mark_row, 2 * size.Y, old_bit,
                              kScrollMarks[1 - tracker.bit], tracker.column.cells.get())
                 : -1;
        const ScrollRead read =
            PlanScrollRead(window, guess, tracker.view.mark_row, tracker.lead, attempt);
        if (!tracker.history.Fit(static_cast<size_t>(read.rows) * size.X)) return -1;
        CHAR_INFO* rows = tracker.history.cells.get();
        const bool pieces =
            ReadRows(console, window.Left, size.X, read, rows, &tracker.whole_reads);
        int found = same ? FindMark(rows + (tracker.mark.X - window.Left), read.rows, read.top,
                                    old_bit, size.X)
                         : -1;
        if (found >= 0 && pieces &&
            !MarkStayed(console, tracker.mark.X, found, read.top + read.rows, old_bit,
                        tracker.column.cells.get())) {
            if (attempt < kReadAttempts) continue;
            found = -1;
        }
        if (ReadAgain(found, tracker.lead, guess, read.top, attempt)) continue;

        const ScrollEnd end = PlanScrollEnd(found, tracker.lead, read, window.Top, size.Y);
        const int first = found - tracker.lead;
        FillWindow(console, info, read, rows, end.shown_top, current);
        if (end.scrolled > 0 && first > read.top) {
            std::memmove(rows, rows + static_cast<size_t>(first - read.top) * size.X,
                         static_cast<size_t>(end.scrolled) * size.X * sizeof(CHAR_INFO));
        }
        MoveMark(console, info, end, found, tracker);
        StripMark(current.cells.get(), static_cast<size_t>(size.X) * size.Y);
        StripMark(rows, static_cast<size_t>(end.scrolled) * size.X);
        return end.scrolled;
    }
}

namespace {

// A terminal that shows nothing of the window (the first pass, a new size, a new place) has the
// window's rows cleared first, so that the rows that left the window can still be sent through
// them; the rows above the window keep what they show.
bool ClearForScrolledRows(ScreenSnapshot& shown, const ScreenSnapshot& current, TerminalPlace place,
                          AnsiWriter& writer) {
    if (!FitCells(shown, current.allocated)) return false;
    shown.info.dwSize = current.allocated;
    ClearTerminal(shown, place.first_erased, writer);
    return true;
}

// A pass without the memory it needs sends nothing and keeps no copy of what it read, as one
// without memory for the shown copy: the next pass with memory repaints everything.
PassResult NoMemory(ScreenSnapshot& current) {
    current.cells.reset();
    current.allocated = COORD{0, 0};
    return PassResult::kNoMemory;
}

}  // namespace

PassResult ScrollbackPass(const ConsoleScreen& console, ScreenSnapshot& shown,
                          ScreenSnapshot& current, bool redraw, AnsiWriter& writer,
                          ScrollTracker& tracker, TerminalView* view) {
    int scrolled = ReadScrolledScreen(console, current, tracker);
    if (scrolled < 0) return NoMemory(current);
    const TerminalPlace place = PlaceWindow(tracker.terminal_rows, current.allocated.Y,
                                            tracker.place, shown.cells ? shown.allocated.Y : 0);
    const bool moved = place.top != tracker.place.top;
    tracker.place = place;
    const bool same_size = shown.cells && shown.allocated.X == current.allocated.X &&
                           shown.allocated.Y == current.allocated.Y;
    if (scrolled > 0) {
        if ((!same_size || moved) && !ClearForScrolledRows(shown, current, place, writer))
            return NoMemory(current);
        if (view != nullptr) ShowCursor(false, *view, writer);
        SendScrolledRows(tracker.history.cells.get(), scrolled, shown, current, place, writer);
    } else if (same_size) {
        redraw = redraw || moved;  // a new size repaints anyway
    }
    PassResult result = UpdateTerminal(shown, current, redraw, writer, place, view);
    return scrolled > 0 && result == PassResult::kQuiet ? PassResult::kSent : result;
}
