// The screen mirror.
#include "ScreenMirror.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "Reporter.h"
#include "ZEVENT.h"

namespace {

constexpr DWORD kIdlePollDelay = 300;    // ms between scans while nothing happens
constexpr DWORD kActivePollDelay = 100;  // ms after a pass that sent something
constexpr DWORD kInputSettleDelay = 30;  // ms a keystroke is given to show its effect
// The most cells one console read moves: 32 KB, well within what any console version accepts
// in one ReadConsoleOutputA (older ones fail beyond about 64 KB).
constexpr int kMaxCellsPerRead = 8192;

// Failed console reads are checked in the name of the translator's main module.
constexpr char kModule[] = "transcmd.cpp";

size_t CellCount(COORD size) {
    if (size.X <= 0 || size.Y <= 0) return 0;
    return static_cast<size_t>(size.X) * static_cast<size_t>(size.Y);
}

void ReleaseCells(ScreenSnapshot& snapshot) {
    snapshot.cells.reset();
    snapshot.allocated = COORD{0, 0};
}

// Cells for `size`, all zero; false when there is no memory for them.
bool AllocateCells(ScreenSnapshot& snapshot, COORD size) {
    ReleaseCells(snapshot);
    CHAR_INFO* cells = new (std::nothrow) CHAR_INFO[CellCount(size)]();
    if (cells == nullptr) return false;
    snapshot.cells.reset(cells);
    snapshot.allocated = size;
    return true;
}

bool SameCoord(COORD a, COORD b) {
    return a.X == b.X && a.Y == b.Y;
}

void ReadRegion(HANDLE console, CHAR_INFO* into, SHORT left, SHORT top, SHORT columns, SHORT rows) {
    SMALL_RECT region{left, top, static_cast<SHORT>(left + columns - 1),
                      static_cast<SHORT>(top + rows - 1)};
    // A UTF-8 client is sent the characters the cells hold, not their code page bytes.
    auto read = g_translator.utf8_client != 0 ? ReadConsoleOutputW : ReadConsoleOutputA;
    AssertCheck(read(console, into, COORD{columns, rows}, COORD{0, 0}, &region) != FALSE, kModule,
                __LINE__);
}

// Clears the terminal, and the shown copy with it to what a cleared terminal shows.
void ClearTerminal(ScreenSnapshot& shown, AnsiWriter& writer) {
    if (shown.cells) {
        const CHAR_INFO cleared = writer.rendition().ClearedCell();
        std::fill_n(shown.cells.get(), CellCount(shown.allocated), cleared);
    }
    writer.ClearScreen();
}

void SendCursor(COORD cursor, AnsiWriter& writer) {
    writer.MoveCursor(static_cast<unsigned>(cursor.Y < 0 ? 0 : cursor.Y),
                      static_cast<unsigned>(cursor.X < 0 ? 0 : cursor.X));
    writer.Flush();
}

}  // namespace

BYTE ShownCharacter(BYTE cell_character) {
    if (cell_character == 0) return ' ';
    if (cell_character < 0x20 || cell_character == 0x7F) return '?';
    return cell_character;
}

void PutRowUpdate(const CHAR_INFO* row, int y, RowUpdate update, int columns, AnsiWriter& writer) {
    // A UTF-8 client's row: a character the console marks as taking two cells goes out once, from
    // its leading half, so the span widens to whole characters.
    const bool wide = writer.rendition().utf8();
    if (wide && update.first > 0 && (row[update.first].Attributes & COMMON_LVB_TRAILING_BYTE))
        --update.first;
    if (wide && update.last + 1 < columns &&
        (row[update.last].Attributes & COMMON_LVB_LEADING_BYTE))
        ++update.last;
    writer.MoveCursor(static_cast<unsigned>(y), static_cast<unsigned>(update.first));
    for (int x = update.first; x <= update.last; ++x) {
        if (!wide) {
            writer.PutCell(ShownCharacter(static_cast<BYTE>(row[x].Char.AsciiChar)),
                           row[x].Attributes);
        } else if (!(row[x].Attributes & COMMON_LVB_TRAILING_BYTE)) {
            writer.PutCell(ShownWideCharacter(row[x].Char.UnicodeChar),
                           static_cast<WORD>(row[x].Attributes & ~(COMMON_LVB_LEADING_BYTE |
                                                                   COMMON_LVB_TRAILING_BYTE)));
        }
    }
    if (update.erase) writer.EraseToEndOfLine();
}

WCHAR ShownWideCharacter(WCHAR cell_character) {
    if (cell_character < 0x80) return ShownCharacter(static_cast<BYTE>(cell_character));
    return cell_character;
}

RowUpdate DecideRowUpdate(const CHAR_INFO* current, const CHAR_INFO* shown, int columns,
                          const Rendition& rendition) {
    RowUpdate update;
    // Most rows of a pass are unchanged, and a plain comparison of the bytes settles those many
    // times faster than the cell by cell scan.  Equal bytes are equal cells; a row whose bytes
    // differ only where cells are not compared (the high byte of a character) goes on below.
    if (columns > 0 &&
        std::memcmp(current, shown, static_cast<size_t>(columns) * sizeof(CHAR_INFO)) == 0) {
        return update;
    }
    int first = 0;
    while (first < columns && rendition.CellsEqual(current[first], shown[first])) ++first;
    if (first == columns) return update;

    int last = columns - 1;
    while (last > first && rendition.CellsEqual(current[last], shown[last])) --last;
    int last_non_blank = columns - 1;
    while (last_non_blank > first && rendition.IsBlank(current[last_non_blank])) --last_non_blank;

    update.changed = true;
    update.first = first;
    update.erase = last_non_blank + static_cast<int>(AnsiWriter::kEraseToEndOfLineCost) < last;
    update.last = update.erase ? last_non_blank : last;
    return update;
}

PassResult UpdateTerminal(ScreenSnapshot& shown, ScreenSnapshot& current, bool redraw,
                          AnsiWriter& writer) {
    // Memory first, so that a pass without it leaves nothing behind in the writer.
    const bool resized = !SameCoord(current.allocated, shown.allocated);
    if (resized && !AllocateCells(shown, current.allocated)) {
        // Neither copy is worth keeping: the next pass with memory repaints everything.
        ReleaseCells(current);
        return PassResult::kNoMemory;
    }

    // The terminal is about to show nothing: every cell that differs from that gets sent again.
    if (redraw) ClearTerminal(shown, writer);
    if (resized) {
        shown.info.dwSize = current.allocated;
        ClearTerminal(shown, writer);
    }

    const Rendition& rendition = writer.rendition();
    const int columns = current.allocated.X > 0 ? current.allocated.X : 0;
    const int rows = columns > 0 && current.allocated.Y > 0 ? current.allocated.Y : 0;
    bool rows_sent = false;
    for (int y = 0; y < rows; ++y) {
        const CHAR_INFO* now = current.cells.get() + static_cast<size_t>(y) * columns;
        const CHAR_INFO* before = shown.cells.get() + static_cast<size_t>(y) * columns;
        RowUpdate update = DecideRowUpdate(now, before, columns, rendition);
        if (!update.changed) continue;
        PutRowUpdate(now, y, update, columns, writer);
        writer.Flush();
        rows_sent = true;
    }

    // A terminal that was resized may have moved its cursor (one that loses rows moves it with
    // them).  While colours are sent, a screen of blanks after a clear needs no row, so the cursor
    // goes out whatever the shown copy says.
    COORD cursor = current.info.dwCursorPosition;
    const bool cleared_in_colour = (resized || redraw) && rendition.sends_colors();
    if (rows_sent || cleared_in_colour || !SameCoord(cursor, shown.info.dwCursorPosition))
        SendCursor(cursor, writer);
    // A clear with no row after it (a screen of empty cells) still goes out in this pass: left in
    // the buffer, it would reach the terminal with a later pass and wipe the rows already shown.
    writer.Flush();
    return resized || rows_sent ? PassResult::kSent : PassResult::kQuiet;
}

bool ReadScreen(HANDLE console, ScreenSnapshot& snapshot) {
    AssertCheck(GetConsoleScreenBufferInfo(console, &snapshot.info) != FALSE, kModule, __LINE__);
    const COORD size = snapshot.info.dwSize;
    if (!SameCoord(size, snapshot.allocated) || !snapshot.cells) {
        if (!AllocateCells(snapshot, size)) return false;
    }
    if (CellCount(size) == 0) return true;

    CHAR_INFO* cells = snapshot.cells.get();
    if (size.X <= kMaxCellsPerRead) {
        // Whole rows, as many as fit in one read.
        const int rows_per_read = kMaxCellsPerRead / size.X;
        for (int top = 0; top < size.Y; top += rows_per_read) {
            int rows = size.Y - top < rows_per_read ? size.Y - top : rows_per_read;
            ReadRegion(console, cells + static_cast<size_t>(top) * size.X, 0,
                       static_cast<SHORT>(top), size.X, static_cast<SHORT>(rows));
        }
    } else {
        // Rows wider than one read, piece by piece.
        for (int y = 0; y < size.Y; ++y) {
            for (int left = 0; left < size.X; left += kMaxCellsPerRead) {
                int columns = size.X - left < kMaxCellsPerRead ? size.X - left : kMaxCellsPerRead;
                ReadRegion(console, cells + static_cast<size_t>(y) * size.X + left,
                           static_cast<SHORT>(left), static_cast<SHORT>(y),
                           static_cast<SHORT>(columns), 1);
            }
        }
    }
    return true;
}

DWORD InputSettleStep(DWORD setting) {
    if (setting == 0) return 1;
    return setting < kInputSettleDelay ? setting : kInputSettleDelay;
}

NextPass DecideNextPass(bool sent, bool settling, DWORD step, DWORD since_input) {
    if (sent) return NextPass{kActivePollDelay, false};
    if (!settling || step >= kInputSettleDelay || since_input >= kInputSettleDelay) {
        return NextPass{kIdlePollDelay, false};
    }
    const DWORD left = kInputSettleDelay - since_input;
    return NextPass{left < step ? left : step, true};
}

bool RunMirrorPass() {
    TranslatorState& t = g_translator;
    g_screen_lock.Enter();
    if (t.mirror_stop != 0) {
        // The end of the login waits for this before it tears down what the mirror uses, the
        // screen lock included: leave it first.
        g_screen_lock.Leave();
        SetEvent(t.mirror_stopped);
        return false;
    }
    // A keystroke has just been delivered: give the console a moment to show its effect.
    const DWORD step = InputSettleStep(t.input_settle_delay);
    if (t.mirror_poll_delay.load() == 0) {
        t.mirror_input_tick = GetTickCount();
        t.mirror_settling = true;
        Sleep(step);
    }

    t.shown_snapshot = 1 - t.shown_snapshot;
    ScreenSnapshot& shown = t.snapshots[t.shown_snapshot];
    ScreenSnapshot& current = t.snapshots[1 - t.shown_snapshot];
    t.mirror_poll_delay.store(kIdlePollDelay);
    const bool redraw = t.redraw_request != 0;
    t.redraw_request = 0;

    PassResult result = PassResult::kNoMemory;
    if (t.scrollback_lines != 0) {
        result = ScrollbackPass(t.console_output, shown, current, redraw, t.writer, t.scroll);
    } else if (ReadScreen(t.console_output, current)) {
        result = UpdateTerminal(shown, current, redraw, t.writer);
    }
    if (result == PassResult::kNoMemory) {
        // Skipped; both copies are empty now or soon, so the next pass with memory clears the
        // terminal and sends everything.
        if (!t.mirror_memory_reported) {
            ReportError("Not enough memory for a copy of the console screen (%d x %d)",
                        current.info.dwSize.X, current.info.dwSize.Y);
            t.mirror_memory_reported = true;
        }
    } else {
        t.mirror_memory_reported = false;
    }
    // The input side changes the poll delay only under the screen lock, so it is still ours.
    NextPass next = DecideNextPass(result == PassResult::kSent, t.mirror_settling, step,
                                   GetTickCount() - t.mirror_input_tick);
    t.mirror_settling = next.settling;
    t.mirror_poll_delay.store(next.delay);

    g_mirror_wake_up.Reset();
    // A stop request is made without the screen lock, so its wake-up may have come during this
    // pass: keep it for the next one.
    if (t.mirror_stop.load() != 0) g_mirror_wake_up.Set();
    g_screen_lock.Leave();
    return true;
}

void __cdecl ScreenMirrorThread(void*) {
    do {
        // Read without the lock: a stale value only changes how long this wait lasts.
        g_mirror_wake_up.WaitTimeout(g_translator.mirror_poll_delay.load());
    } while (RunMirrorPass());
}
