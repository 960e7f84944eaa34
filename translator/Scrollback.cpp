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
// telling how far it scrolled.
constexpr int kReadAttempts = 3;

int Rows(const SMALL_RECT& rect) {
    return rect.Bottom - rect.Top + 1;
}
int Columns(const SMALL_RECT& rect) {
    return rect.Right - rect.Left + 1;
}

bool SameRect(const SMALL_RECT& a, const SMALL_RECT& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
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
        AssertCheck(ReadConsoleOutputA(console, into + static_cast<size_t>(done) * columns,
                                       COORD{columns, static_cast<SHORT>(count)}, COORD{0, 0},
                                       &region) != FALSE,
                    kModule, __LINE__);
    }
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
// mark, or -1: the row itself first (nothing scrolled, the pass of an idle screen), then upwards
// a window's height of rows at a time.
int SearchMark(HANDLE console, SHORT column, int from, int step, WORD bit) {
    if ((ReadCell(console, COORD{column, static_cast<SHORT>(from)}).Attributes & bit) != 0)
        return from;
    std::vector<CHAR_INFO> cells(static_cast<size_t>(step));
    for (int bottom = from - 1; bottom >= 0; bottom -= step) {
        int top = bottom - step + 1 < 0 ? 0 : bottom - step + 1;
        ReadRows(console, cells.data(), column, 1, top, bottom - top + 1);
        int found = FindMark(cells.data(), bottom - top + 1, top, bit);
        if (found >= 0) return found;
    }
    return -1;
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

int ScrolledRows(const ScrollView& before, const ScrollView& now) {
    if (before.mark_row < 0 || now.mark_row < 0) return 0;
    if (before.buffer.X != now.buffer.X || before.buffer.Y != now.buffer.Y) return 0;
    if (Rows(before.window) != Rows(now.window) || Columns(before.window) != Columns(now.window) ||
        before.window.Left != now.window.Left) {
        return 0;
    }
    const int content_moved = before.mark_row - now.mark_row;
    if (content_moved < 0) return 0;
    const int rows = content_moved + now.window.Top - before.window.Top;
    // Rows beyond those kept above the window are gone; a window that moved up is not a scroll.
    if (rows <= 0 || rows > now.window.Top) return 0;
    return rows;
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
    const bool suppress = writer.suppress_color_simulation();
    // The rows in the order they are to pass the client's screen: those that leave the window,
    // then the window's own.
    auto row = [&](int i) -> const CHAR_INFO* {
        return i < count ? rows + static_cast<size_t>(i) * columns
                         : current.cells.get() + static_cast<size_t>(i - count) * columns;
    };
    auto send = [&](const CHAR_INFO* cells, const CHAR_INFO* before, int y) {
        RowUpdate update = DecideRowUpdate(cells, before, columns, suppress);
        if (!update.changed) return;
        writer.MoveCursor(static_cast<unsigned>(y), static_cast<unsigned>(update.first));
        for (int x = update.first; x <= update.last; ++x) {
            writer.PutCell(ShownCharacter(static_cast<BYTE>(cells[x].Char.AsciiChar)),
                           cells[x].Attributes);
        }
        if (update.erase) writer.EraseToEndOfLine();
    };
    for (int y = 0; y < height; ++y) {
        send(row(y), shown.cells.get() + static_cast<size_t>(y) * columns, y);
    }
    // A new bottom row shows nothing: every cell that is not zero is sent.
    std::vector<CHAR_INFO> blank(static_cast<size_t>(columns));
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
    for (int attempt = 1;; ++attempt) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        AssertCheck(GetConsoleScreenBufferInfo(console, &info) != FALSE, kModule, __LINE__);
        const SMALL_RECT window = info.srWindow;
        const COORD size{static_cast<SHORT>(Columns(window)), static_cast<SHORT>(Rows(window))};
        if (size.X <= 0 || size.Y <= 0) return 0;

        const WORD old_bit = kScrollMarks[tracker.bit];
        const WORD new_bit = kScrollMarks[1 - tracker.bit];
        ScrollView now{info.dwSize, window, -1};
        const ScrollView& before = tracker.view;
        if (before.mark_row >= 0 && before.buffer.X == now.buffer.X &&
            before.buffer.Y == now.buffer.Y && before.mark_row < now.buffer.Y) {
            now.mark_row = SearchMark(console, tracker.mark.X, before.mark_row, size.Y, old_bit);
        }
        const int scrolled = ScrolledRows(before, now);

        // The window, then the rows that left it.
        if (current.allocated.X != size.X || current.allocated.Y != size.Y || !current.cells) {
            current.allocated = COORD{0, 0};
            if (!Allocate(current.cells, static_cast<size_t>(size.X) * size.Y)) return -1;
            current.allocated = size;
        }
        ReadRows(console, current.cells.get(), window.Left, size.X, window.Top, size.Y);
        const size_t history = static_cast<size_t>(scrolled) * size.X;
        if (history > tracker.history_cells) {
            tracker.history_cells = 0;
            if (!Allocate(tracker.history, history)) return -1;
            tracker.history_cells = history;
        }
        if (scrolled > 0) {
            ReadRows(console, tracker.history.get(), window.Left, size.X, window.Top - scrolled,
                     scrolled);
        }

        // What was read holds together if the mark is where it was found and the window where
        // it was: content only ever moves up, so a mark still in place has not moved between.
        // The new mark goes in before that check, so that it too is known to sit on the top row
        // of the window that was read.  A new mark of an attempt that fails stays behind,
        // above the next attempt's, where a search from that one's row does not reach.
        const COORD mark = MarkCell(window);
        CHAR_INFO mark_cell = ReadCell(console, mark);
        WriteAttribute(console, mark, static_cast<WORD>(mark_cell.Attributes | new_bit));
        CONSOLE_SCREEN_BUFFER_INFO after;
        AssertCheck(GetConsoleScreenBufferInfo(console, &after) != FALSE, kModule, __LINE__);
        bool steady = SameRect(after.srWindow, window) && after.dwSize.X == info.dwSize.X &&
                      after.dwSize.Y == info.dwSize.Y;
        const bool old_mark = now.mark_row >= 0;
        const COORD old_cell{tracker.mark.X, static_cast<SHORT>(now.mark_row)};
        CHAR_INFO old_value{};
        if (steady && old_mark) {
            old_value = ReadCell(console, old_cell);
            steady = (old_value.Attributes & old_bit) != 0;
        }
        if (steady || attempt == kReadAttempts) {
            // The old mark goes.
            if (steady && old_mark) {
                WriteAttribute(console, old_cell,
                               static_cast<WORD>(old_value.Attributes & ~old_bit));
            }
            tracker.view = ScrollView{info.dwSize, window, steady ? mark.Y : -1};
            tracker.mark = mark;
            tracker.bit = 1 - tracker.bit;
            StripMark(current.cells.get(), static_cast<size_t>(size.X) * size.Y);
            StripMark(tracker.history.get(), history);
            current.info = info;
            current.info.dwSize = size;
            COORD cursor = info.dwCursorPosition;
            cursor.X = static_cast<SHORT>(cursor.X - window.Left);
            cursor.Y = static_cast<SHORT>(cursor.Y - window.Top);
            if (cursor.X >= size.X) cursor.X = static_cast<SHORT>(size.X - 1);
            if (cursor.Y >= size.Y) cursor.Y = static_cast<SHORT>(size.Y - 1);
            current.info.dwCursorPosition = cursor;
            return steady ? scrolled : 0;
        }
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
