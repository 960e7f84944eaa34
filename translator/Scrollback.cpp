// Scrollback in advanced mode.
#include "Scrollback.h"

#include <cstring>
#include <new>
#include <vector>

#include "Reporter.h"
#include "ScreenMirror.h"
#include "translator.h"

namespace {

constexpr char kModule[] = "transcmd.cpp";
// Cells in one console read, as the screen mirror's reads.
constexpr int kMaxCellsPerRead = 8192;
// Reads of one pass that the console's own output may overtake before the pass gives up on
// telling how far it scrolled; each attempt reads twice as many rows above the mark as the last.
constexpr int kReadAttempts = 4;
// The most cells of the one read that a pass makes of the window and the rows above it: under
// 64 KB, which every console version takes in one ReadConsoleOutputA.
constexpr int kMaxCellsPerPass = 16000;

// A UTF-8 client is sent the characters the cells hold, as the screen mirror reads them.
BOOL ReadCells(HANDLE console, CHAR_INFO* into, COORD size, SMALL_RECT* region) {
    auto read = g_translator.utf8_client != 0 ? ReadConsoleOutputW : ReadConsoleOutputA;
    return read(console, into, size, COORD{0, 0}, region);
}

int Rows(const SMALL_RECT& rect) {
    return rect.Bottom - rect.Top + 1;
}
int Columns(const SMALL_RECT& rect) {
    return rect.Right - rect.Left + 1;
}

// Rows `top` to `top + rows - 1`, columns `left` to `left + columns - 1`, in reads of at most
// kMaxCellsPerRead cells (columns are never wider than that: a window is at most 128).
void ReadRows(HANDLE console, CHAR_INFO* into, SHORT left, SHORT columns, int top, int rows) {
    const int per_read = columns > 0 && columns < kMaxCellsPerRead ? kMaxCellsPerRead / columns : 1;
    for (int done = 0; done < rows; done += per_read) {
        int count = rows - done < per_read ? rows - done : per_read;
        SMALL_RECT region{left, static_cast<SHORT>(top + done),
                          static_cast<SHORT>(left + columns - 1),
                          static_cast<SHORT>(top + done + count - 1)};
        AssertCheck(ReadCells(console, into + static_cast<size_t>(done) * columns,
                              COORD{columns, static_cast<SHORT>(count)}, &region) != FALSE,
                    kModule, __LINE__);
    }
}

// One read of whole rows, which the console answers from one moment of its buffer.
void ReadBlock(HANDLE console, CHAR_INFO* into, SHORT left, SHORT columns, int top, int rows) {
    SMALL_RECT region{left, static_cast<SHORT>(top), static_cast<SHORT>(left + columns - 1),
                      static_cast<SHORT>(top + rows - 1)};
    AssertCheck(
        ReadCells(console, into, COORD{columns, static_cast<SHORT>(rows)}, &region) != FALSE,
        kModule, __LINE__);
}

CHAR_INFO ReadCell(HANDLE console, COORD cell) {
    CHAR_INFO value{};
    ReadRows(console, &value, cell.X, 1, cell.Y, 1);
    return value;
}

void WriteAttribute(HANDLE console, COORD cell, WORD attributes) {
    DWORD written = 0;
    WriteConsoleOutputAttribute(console, &attributes, 1, cell, &written);
}

// The lowest row from `from` up to the top of the buffer whose cell in `column` carries the
// mark, or -1: the row itself first (nothing scrolled, the pass of an idle screen), then the
// `nearby` rows above it, then the rest of the column, a cell a row in each read.  The content
// only moves up, so a mark not seen in those rows can only have gone higher.  The marks of the
// two bits follow each other down the column, the newest lowest: one of the other bit below the
// one found shows that the mark sought is gone (the output overwrote it) and that the one found
// is older, so -1 then too.
int SearchMark(HANDLE console, SHORT column, int from, int nearby, WORD bit, WORD other) {
    if ((ReadCell(console, COORD{column, static_cast<SHORT>(from)}).Attributes & bit) != 0)
        return from;
    const int low = from - nearby < 0 ? 0 : from - nearby;
    std::vector<CHAR_INFO> cells(static_cast<size_t>(from) + 1);
    ReadRows(console, cells.data() + low, column, 1, low, from - low + 1);
    int found = FindMark(cells.data() + low, from - low + 1, low, bit);
    if (found < 0 && low > 0) {
        ReadRows(console, cells.data(), column, 1, 0, low);
        found = FindMark(cells.data(), low, 0, bit);
    }
    if (found < 0 || FindMark(cells.data() + found + 1, from - found, found + 1, other) >= 0)
        return -1;
    return found;
}

bool Allocate(std::unique_ptr<CHAR_INFO[]>& cells, size_t count) {
    cells.reset(new (std::nothrow) CHAR_INFO[count > 0 ? count : 1]());
    return cells != nullptr;
}

}  // namespace

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

int MarkLead(int found, int mark_row, int old_row, int placed) {
    if (old_row < 0 || placed <= old_row) return -1;
    const int fell = (placed - old_row) - (mark_row - found);
    return fell >= 0 ? fell : -1;
}

int FindMark(const CHAR_INFO* cells, int count, int first_row, WORD bit) {
    for (int i = count - 1; i >= 0; --i) {
        if ((cells[i].Attributes & bit) != 0) return first_row + i;
    }
    return -1;
}

COORD MarkCell(const SMALL_RECT& window) {
    return COORD{window.Right, window.Top};
}

void StripMark(CHAR_INFO* cells, size_t count) {
    for (size_t i = 0; i < count; ++i)
        cells[i].Attributes &= static_cast<WORD>(~(kScrollMarks[0] | kScrollMarks[1]));
}

void SendScrolledRows(const CHAR_INFO* rows, int count, ScreenSnapshot& shown,
                      const ScreenSnapshot& current, AnsiWriter& writer) {
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
        if (update.changed) PutRowUpdate(cells, y, update, columns, writer);
    };
    for (int y = 0; y < height; ++y) {
        send(row(y), shown.cells.get() + static_cast<size_t>(y) * columns, y);
    }
    // A new bottom row shows nothing: every cell that is not zero is sent.  While colours are
    // sent it shows blanks in the default colours (the line feed sets them), as a cleared screen
    // does, so a cell of other attributes is sent even when it holds nothing.
    std::vector<CHAR_INFO> blank(static_cast<size_t>(columns), rendition.ClearedCell());
    writer.MoveCursor(static_cast<unsigned>(height - 1), 0);
    for (int i = height; i < height + count; ++i) {
        writer.LineFeed();
        send(row(i), blank.data(), height - 1);
    }
    writer.Flush();
    std::memcpy(shown.cells.get(), current.cells.get(),
                static_cast<size_t>(columns) * height * sizeof(CHAR_INFO));
    shown.info.dwCursorPosition = COORD{-1, -1};
}

int ReadScrolledScreen(HANDLE console, ScreenSnapshot& current, ScrollTracker& tracker) {
    int widen = 1;
    for (int attempt = 1;; ++attempt, widen *= 2) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        AssertCheck(GetConsoleScreenBufferInfo(console, &info) != FALSE, kModule, __LINE__);
        const SMALL_RECT window = info.srWindow;
        const COORD size{static_cast<SHORT>(Columns(window)), static_cast<SHORT>(Rows(window))};
        if (size.X <= 0 || size.Y <= 0) return 0;
        if (current.allocated.X != size.X || current.allocated.Y != size.Y || !current.cells) {
            current.allocated = COORD{0, 0};
            if (!Allocate(current.cells, static_cast<size_t>(size.X) * size.Y)) return -1;
            current.allocated = size;
        }
        const WORD old_bit = kScrollMarks[tracker.bit];
        const WORD new_bit = kScrollMarks[1 - tracker.bit];
        const ScrollView& before = tracker.view;
        const bool same = before.mark_row >= 0 && before.buffer.X == info.dwSize.X &&
                          before.buffer.Y == info.dwSize.Y && tracker.mark.X == window.Right &&
                          before.mark_row < info.dwSize.Y;

        // Where the old mark is about to be, then one read from a little above it down to the
        // window's last row: the console's output goes on while the mirror reads, and only what
        // one read returns holds together.  In it the mark shows where the rows not yet sent
        // begin (`lead` rows above the mark), and the window where they end.  More rows than one
        // read takes are sent a read at a time: the pass then ends on a window of rows above
        // the console's, and the next pass goes on from there.  The rows above the mark allow
        // for the output of the moment between the search and the read, more at each attempt,
        // but never so many that the rows from the mark on no longer fit.
        const int most_rows = kMaxCellsPerPass / size.X;
        int top = window.Top;
        int guess = -1;
        if (same) {
            guess =
                SearchMark(console, window.Right, before.mark_row, 2 * size.Y, old_bit, new_bit);
            if (guess >= 0) {
                int margin = guess == before.mark_row ? 0 : 2 * size.Y * widen;
                if (margin > most_rows / 2) margin = most_rows / 2;
                top = guess - tracker.lead - margin;
                if (top < 0) top = 0;
                if (top > window.Top) top = window.Top;
            }
        }
        int end = window.Top + size.Y;
        if (end - top > most_rows) end = top + most_rows;
        const int rows = end - top;
        const size_t cells = static_cast<size_t>(rows) * size.X;
        if (cells > tracker.history_cells) {
            tracker.history_cells = 0;
            if (!Allocate(tracker.history, cells)) return -1;
            tracker.history_cells = cells;
        }
        CHAR_INFO* read = tracker.history.get();
        ReadBlock(console, read, window.Left, size.X, top, rows);
        const int column = size.X - 1;
        int found = -1;
        if (same) {
            for (int y = rows - 1; y >= 0 && found < 0; --y) {
                if ((read[static_cast<size_t>(y) * size.X + column].Attributes & old_bit) != 0)
                    found = top + y;
            }
            // Moved past the read; a mark the search did not find is gone.
            if (found < 0 && guess >= 0 && top > 0 && attempt < kReadAttempts) continue;
        }
        const int first = found - tracker.lead;
        // The window this pass ends on: the console's, or the rows after those a read could take.
        int shown_top = end - size.Y;
        const int scrolled = ScrolledRows(found, tracker.lead, top, shown_top);
        if (scrolled == 0) shown_top = window.Top;
        if (shown_top < top) {
            // Nothing found in a read that did not reach the window: read the window itself.
            ReadBlock(console, current.cells.get(), window.Left, size.X, window.Top, size.Y);
        } else {
            std::memcpy(current.cells.get(), read + static_cast<size_t>(shown_top - top) * size.X,
                        static_cast<size_t>(size.X) * size.Y * sizeof(CHAR_INFO));
        }
        if (scrolled > 0 && first > top) {
            std::memmove(read, read + static_cast<size_t>(first - top) * size.X,
                         static_cast<size_t>(scrolled) * size.X * sizeof(CHAR_INFO));
        }

        // The new mark, on the top row of the window sent, as it was when it was read, unless
        // the output moved on in between: one read of the mark column then shows both marks,
        // and how far the new one fell below that row, the rows above it still to be sent.  The
        // new mark's cell never takes the old bit along, so that the old mark is told only by
        // the old cell; a column that shows either mark nowhere, or the new one not below the
        // old, leaves no distance that can be told, and the next pass repaints.  An old mark on
        // that very row stays as it is: it already marks where the next pass goes on from.  Old
        // marks are left where they are, for the output may move the content between any read
        // of a cell and a write to it: a write that took one out could land on the new one.
        const COORD mark{window.Right, static_cast<SHORT>(shown_top)};
        int lead = 0;
        int new_row = mark.Y;
        if (found == mark.Y) {
            tracker.view = ScrollView{info.dwSize, window, found};
            tracker.mark = mark;
        } else {
            const CHAR_INFO mark_cell = ReadCell(console, mark);
            WriteAttribute(
                console, mark,
                static_cast<WORD>((mark_cell.Attributes & ~(old_bit | new_bit)) | new_bit));
            if (found >= 0) {
                int old_row = -1, placed = -1;
                for (int from = found - 2 * size.Y;; from = 0) {
                    if (from < 0) from = 0;
                    int span = mark.Y - from + 1;
                    std::vector<CHAR_INFO> marks(static_cast<size_t>(span));
                    ReadRows(console, marks.data(), mark.X, 1, from, span);
                    old_row = FindMark(marks.data(), span, from, old_bit);
                    placed = FindMark(marks.data(), span, from, new_bit);
                    if ((old_row >= 0 && placed >= 0) || from == 0) break;
                }
                const int fell = MarkLead(found, mark.Y, old_row, placed);
                new_row = fell >= 0 ? placed : -1;
                if (new_row >= 0) lead = fell;
            }
            tracker.view = ScrollView{info.dwSize, window, new_row};
            tracker.mark = mark;
            tracker.bit = 1 - tracker.bit;
        }
        tracker.lead = lead;

        StripMark(current.cells.get(), static_cast<size_t>(size.X) * size.Y);
        StripMark(read, static_cast<size_t>(scrolled) * size.X);
        current.info = info;
        current.info.dwSize = size;
        COORD cursor = info.dwCursorPosition;
        cursor.X = static_cast<SHORT>(cursor.X - window.Left);
        cursor.Y = static_cast<SHORT>(cursor.Y - shown_top);
        if (cursor.X >= size.X) cursor.X = static_cast<SHORT>(size.X - 1);
        if (cursor.Y >= size.Y) cursor.Y = static_cast<SHORT>(size.Y - 1);
        current.info.dwCursorPosition = cursor;
        return scrolled;
    }
}

PassResult ScrollbackPass(HANDLE console, ScreenSnapshot& shown, ScreenSnapshot& current,
                          bool redraw, AnsiWriter& writer, ScrollTracker& tracker) {
    int scrolled = ReadScrolledScreen(console, current, tracker);
    if (scrolled < 0) return PassResult::kNoMemory;
    const bool same_size = shown.cells && shown.allocated.X == current.allocated.X &&
                           shown.allocated.Y == current.allocated.Y;
    if (scrolled > 0 && same_size) {
        SendScrolledRows(tracker.history.get(), scrolled, shown, current, writer);
    }
    PassResult result = UpdateTerminal(shown, current, redraw, writer);
    return scrolled > 0 && result == PassResult::kQuiet ? PassResult::kSent : result;
}
