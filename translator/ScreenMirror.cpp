// The screen mirror.
#include "ScreenMirror.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "ColorEncoding.h"
#include "InputRoute.h"
#include "Reporter.h"
#include "TerminalModes.h"
#include "ZEVENT.h"

namespace {

constexpr DWORD kIdlePollDelay = 300;    // ms between scans while nothing happens
constexpr DWORD kActivePollDelay = 100;  // ms after a pass that sent something
constexpr DWORD kInputSettleDelay = 30;  // ms a keystroke is given to show its effect

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

void SendCursor(COORD cursor, TerminalPlace place, AnsiWriter& writer) {
    writer.MoveCursor(place.Row(cursor.Y < 0 ? 0 : cursor.Y),
                      static_cast<unsigned>(cursor.X < 0 ? 0 : cursor.X));
    writer.Flush();
}

// The halves of a surrogate pair in a UTF-8 client's cells.
bool HoldsFirstHalf(const CHAR_INFO& cell) {
    return IsFirstHalf(cell.Char.UnicodeChar);
}
bool HoldsSecondHalf(const CHAR_INFO& cell) {
    return IsSecondHalf(cell.Char.UnicodeChar);
}

}  // namespace

void ClearTerminal(ScreenSnapshot& shown, int first_row, AnsiWriter& writer) {
    if (shown.cells) {
        const CHAR_INFO cleared = writer.rendition().ClearedCell();
        std::fill_n(shown.cells.get(), CellCount(shown.allocated), cleared);
    }
    if (first_row <= 0) {
        writer.ClearScreen();
        return;
    }
    writer.MoveCursor(static_cast<unsigned>(first_row), 0);
    writer.EraseBelow();
    shown.info.dwCursorPosition = COORD{-1, -1};
}

BYTE ShownCharacter(BYTE cell_character) {
    if (cell_character == 0) return ' ';
    if (cell_character < 0x20 || cell_character == 0x7F) return '?';
    return cell_character;
}

void PutRowUpdate(const CHAR_INFO* row, int y, RowUpdate update, int columns, AnsiWriter& writer) {
    // A UTF-8 client's row: a character the console marks as taking two cells goes out once, from
    // its leading half, so the span widens to whole characters.  A surrogate half shows as one
    // character with its partner or as U+FFFD alone, so the span also takes in a first half just
    // before it and a second half just after it: what they show may change with their neighbour.
    const bool wide = writer.rendition().utf8();
    if (wide && update.first > 0 &&
        ((row[update.first].Attributes & COMMON_LVB_TRAILING_BYTE) ||
         HoldsFirstHalf(row[update.first - 1])))
        --update.first;
    if (wide && update.last + 1 < columns &&
        ((row[update.last].Attributes & COMMON_LVB_LEADING_BYTE) ||
         HoldsSecondHalf(row[update.last + 1])))
        ++update.last;
    writer.MoveCursor(static_cast<unsigned>(y), static_cast<unsigned>(update.first));
    for (int x = update.first; x <= update.last; ++x) {
        if (!wide) {
            writer.PutCell(ShownCharacter(static_cast<BYTE>(row[x].Char.AsciiChar)),
                           row[x].Attributes);
        } else if (!(row[x].Attributes & COMMON_LVB_TRAILING_BYTE) ||
                   (x > update.first && HoldsFirstHalf(row[x - 1]) && HoldsSecondHalf(row[x]))) {
            writer.PutCell(ShownWideCharacter(row[x].Char.UnicodeChar),
                           static_cast<WORD>(row[x].Attributes & ~(COMMON_LVB_LEADING_BYTE |
                                                                   COMMON_LVB_TRAILING_BYTE)));
        }
    }
    if (update.erase) writer.EraseToEndOfLine();
}

WCHAR ShownWideCharacter(WCHAR cell_character) {
    if (cell_character < 0x80) return ShownCharacter(static_cast<BYTE>(cell_character));
    return IsC1Control(cell_character) ? '?' : cell_character;
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
                          AnsiWriter& writer, TerminalPlace place, TerminalView* view) {
    // Memory first, so that a pass without it leaves nothing behind in the writer.
    const bool resized = !SameCoord(current.allocated, shown.allocated);
    if (resized && !AllocateCells(shown, current.allocated)) {
        // Neither copy is worth keeping: the next pass with memory repaints everything.
        ReleaseCells(current);
        return PassResult::kNoMemory;
    }

    // The terminal is about to show nothing: every cell that differs from that gets sent again.
    if (redraw) ClearTerminal(shown, place.first_erased, writer);
    if (resized) {
        shown.info.dwSize = current.allocated;
        ClearTerminal(shown, place.first_erased, writer);
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
        if (rows_sent && view != nullptr) ShowCursor(false, *view, writer);
        PutRowUpdate(now, static_cast<int>(place.Row(y)), update, columns, writer);
        writer.Flush();
        rows_sent = true;
    }

    // A terminal that was resized may have moved its cursor (one that loses rows moves it with
    // them).  While colours are sent, a screen of blanks after a clear needs no row, so the cursor
    // goes out whatever the shown copy says.
    COORD cursor = current.info.dwCursorPosition;
    const bool cleared_in_colour = (resized || redraw) && rendition.sends_colors();
    if (rows_sent || cleared_in_colour || !SameCoord(cursor, shown.info.dwCursorPosition))
        SendCursor(cursor, place, writer);
    // A clear with no row after it (a screen of empty cells) still goes out in this pass: left in
    // the buffer, it would reach the terminal with a later pass and wipe the rows already shown.
    writer.Flush();
    return resized || rows_sent ? PassResult::kSent : PassResult::kQuiet;
}

bool FitCells(ScreenSnapshot& snapshot, COORD size) {
    return (SameCoord(size, snapshot.allocated) && snapshot.cells) || AllocateCells(snapshot, size);
}

bool ReadScreen(const ConsoleScreen& console, ScreenSnapshot& snapshot) {
    snapshot.info = console.Info();
    if (!FitCells(snapshot, snapshot.info.dwSize)) return false;
    console.ReadRect(snapshot.cells.get(), 0, 0, snapshot.info.dwSize);
    return true;
}

bool ReadWindow(const ConsoleScreen& console, ScreenSnapshot& snapshot) {
    snapshot.info = console.Info();
    const SMALL_RECT window = snapshot.info.srWindow;
    const COORD size{static_cast<SHORT>(window.Right - window.Left + 1),
                     static_cast<SHORT>(window.Bottom - window.Top + 1)};
    if (!FitCells(snapshot, size)) return false;
    console.ReadRect(snapshot.cells.get(), window.Left, window.Top, size);
    snapshot.info.dwSize = size;
    COORD& cursor = snapshot.info.dwCursorPosition;
    cursor.X = static_cast<SHORT>(cursor.X - window.Left);
    cursor.Y = static_cast<SHORT>(cursor.Y - window.Top);
    return true;
}

DWORD InputSettleStep(DWORD setting) {
    if (setting == 0) return 1;
    return setting < kInputSettleDelay ? setting : kInputSettleDelay;
}

NextPass DecideNextPass(bool sent, bool settling, DWORD step, DWORD since_input, bool deferred) {
    const bool looking = settling && step < kInputSettleDelay && since_input < kInputSettleDelay;
    if (deferred && (sent || !looking)) return NextPass{step, false};
    if (sent) return NextPass{kActivePollDelay, false};
    if (!looking) return NextPass{kIdlePollDelay, false};
    const DWORD left = kInputSettleDelay - since_input;
    return NextPass{left < step ? left : step, true};
}

namespace {

// The mirror's sink: `last_pass` points at the mirror's flag.  A failed write of the last pass
// is not reported: the client may have gone while the command processor ended.
void WriteForPass(void* last_pass, const char* bytes, DWORD count) {
    if (*static_cast<const bool*>(last_pass)) {
        WriteToClient(bytes, count);
    } else {
        WriteToSocketOutput(nullptr, bytes, count);
    }
}

// Ends the mirror from within a pass: the end of the login waits for the stopped event before it
// tears down what the mirror uses, the screen lock included, so the lock is left first.
bool StopMirror() {
    // Window sizing no longer finds a program's buffer here: the mirror closes its handle.
    g_translator.program_output = nullptr;
    g_screen_lock.Leave();
    SetEvent(g_translator.mirror_stopped);
    return false;
}

}  // namespace

ScreenMirror::ScreenMirror(const Settings& settings, WORD default_attributes)
    : settle_step_(InputSettleStep(settings.input_settle_delay)),
      echo_passes_(settle_step_ < kInputSettleDelay &&
                   (settings.full_screen_programs != 0 || settings.mouse_input != 0)),
      scrollback_(settings.scrollback_lines != 0),
      settle_unlocked_(settings.input_batching != 0),
      paste_request_(settings.bracketed_paste != 0),
      console_(g_translator.console_output, settings.utf8_client != 0),
      mouse_input_(settings.mouse_input != 0),
      writer_(&WriteForPass, &last_pass_,
              MakeRendition(settings.utf8_client != 0, settings.color_mode, default_attributes,
                            settings.suppress_color_simulation != 0, &OemToAnsi)),
      full_screen_(settings.full_screen_programs != 0),
      shown_buffer_(g_translator.console_output) {}

bool ScreenMirror::LookAtShownBuffer() {
    const bool program = shown_buffer_.LookForProgramBuffer();
    g_translator.program_output = shown_buffer_.program();
    if (SwitchScreen(program, view_, writer_)) {
        if (program) {
            // The alternate screen shows nothing of what it showed before: all of it is sent.
            ReleaseCells(program_snapshots_[0]);
            ReleaseCells(program_snapshots_[1]);
        } else if (g_translator.startup_resize_due) {
            ResizeConsole();
        }
    }
    return program;
}

PassResult ScreenMirror::ProgramBufferPass(bool redraw) {
    program_shown_ = 1 - program_shown_;
    ScreenSnapshot& shown = program_snapshots_[program_shown_];
    ScreenSnapshot& current = program_snapshots_[1 - program_shown_];
    if (!ReadWindow(console_.On(shown_buffer_.program()), current)) return PassResult::kNoMemory;
    return UpdateTerminal(shown, current, redraw, writer_, TerminalPlace{}, &view_);
}

void ScreenMirror::ShowCursorAndTitle() {
    HANDLE shown = shown_buffer_.program();
    CONSOLE_CURSOR_INFO cursor;
    if (GetConsoleCursorInfo(shown != nullptr ? shown : g_translator.console_output, &cursor))
        ShowCursor(cursor.bVisible != FALSE, view_, writer_);
    ShowTitle(ConsoleTitleSequence(writer_.rendition().utf8()), view_, writer_);
    writer_.Flush();
}

void ScreenMirror::PublishShownArea(const ScreenSnapshot& current, bool program) const {
    // With scrollback the snapshot is the window, shown below the place's rows; without, the whole
    // buffer from the terminal's first row.  A program's buffer is shown as its window, from the
    // alternate screen's first row.
    const SMALL_RECT& window = current.info.srWindow;
    const bool windowed = scrollback_ || program;
    ShownArea& area = g_translator.shown_area;
    area.left = windowed ? window.Left : 0;
    area.top = windowed ? window.Top : 0;
    area.columns = current.allocated.X;
    area.rows = current.allocated.Y;
    area.rows_above = scrollback_ && !program ? scroll_.place.top : 0;
}

void ScreenMirror::FollowMouseMode() {
    DWORD mode = 0;
    if (!GetConsoleMode(g_translator.console_input, &mode)) return;  // the next pass looks again
    const bool asks = AsksForMouseInput(mode);
    if (asks == mouse_reports_) return;
    const char* bytes = MouseReportsSwitch(asks);
    WriteForPass(&last_pass_, bytes, lstrlenA(bytes));
    mouse_reports_ = asks;
    NoteModes(kModeMouseReports, asks);
}

bool ScreenMirror::RunPass() {
    TranslatorState& t = g_translator;
    g_screen_lock.Enter();
    const LONG stop = t.mirror_stop.load();
    if (stop == kMirrorStopNow) return StopMirror();
    // The last pass looks at once: the command processor has ended, its output is on the screen.
    last_pass_ = stop == kMirrorLastPass;
    // A keystroke has just been delivered: give the console a moment to show its effect.
    if (!last_pass_ && t.mirror_poll_delay.load() == 0 && !SettleWait()) return StopMirror();
    if (paste_request_) {
        paste_request_ = false;
        WriteForPass(&last_pass_, kBracketedPasteOn, sizeof kBracketedPasteOn - 1);
        NoteModes(kModeBracketedPaste, true);
    }

    const bool redraw = t.redraw_request != 0;
    t.redraw_request = 0;
    // An echo pass mirrors the buffer the last full pass found shown.
    const bool echo = echo_passes_ && settling_ && !redraw && !last_pass_ && EchoRunGoesOn();
    // With FullScreenPrograms a program's own buffer, when the console shows one, is mirrored on
    // the alternate screen, and the start-up buffer's snapshots wait for its return.
    const bool program =
        full_screen_ && (echo ? shown_buffer_.program() != nullptr : LookAtShownBuffer());
    // Input that came during an unlocked settle wait set the poll delay to 0 again: its wake is
    // kept for the next pass, which gives that input its own settle wait.
    const bool woken = t.mirror_poll_delay.exchange(kIdlePollDelay) == 0 && settle_unlocked_;
    const PassResult result = ReadAndSend(program, redraw);
    if (!echo) {
        echo_run_ = false;
        if (full_screen_) ShowCursorAndTitle();
        if (mouse_input_ && !last_pass_) FollowMouseMode();
    }
    if (last_pass_) {
        SendTerminalModeReset();
        return StopMirror();
    }
    // The input side changes the poll delay only under the screen lock, so it is still ours.
    const bool sent = result == PassResult::kSent;
    NextPass next = DecideNextPass(sent || echo_sent_, settling_, settle_step_,
                                   GetTickCount() - input_tick_, echo);
    echo_sent_ = echo && sent;
    settling_ = next.settling;
    t.mirror_poll_delay.store(woken ? 0 : next.delay);

    // A stop request is made without the screen lock, so its wake-up may have come during this
    // pass: keep it for the next one.
    if (!woken) g_mirror_wake_up.Reset();
    if (t.mirror_stop.load() != kMirrorRunning) g_mirror_wake_up.Set();
    g_screen_lock.Leave();
    return true;
}

PassResult ScreenMirror::ReadAndSend(bool program, bool redraw) {
    if (!program) shown_snapshot_ = 1 - shown_snapshot_;
    ScreenSnapshot& shown = snapshots_[shown_snapshot_];
    ScreenSnapshot& current = snapshots_[1 - shown_snapshot_];
    PassResult result = PassResult::kNoMemory;
    TerminalView* view = full_screen_ ? &view_ : nullptr;
    if (program) {
        result = ProgramBufferPass(redraw);
    } else if (scrollback_) {
        scroll_.terminal_rows = g_translator.terminal_size.rows;
        result = ScrollbackPass(console_, shown, current, redraw, writer_, scroll_, view);
    } else if (ReadScreen(console_, current)) {
        result = UpdateTerminal(shown, current, redraw, writer_, TerminalPlace{}, view);
    }
    if (result == PassResult::kNoMemory) {
        // Skipped; both copies are empty now or soon, so the next pass with memory clears the
        // terminal and sends everything.
        if (!memory_reported_) {
            ReportError("Not enough memory for a copy of the console screen (%d x %d)",
                        current.info.dwSize.X, current.info.dwSize.Y);
            memory_reported_ = true;
        }
    } else {
        memory_reported_ = false;
        PublishShownArea(program ? program_snapshots_[1 - program_shown_] : current, program);
    }
    return result;
}

bool ScreenMirror::EchoRunGoesOn() {
    const DWORD now = GetTickCount();
    if (!echo_run_) {
        echo_run_ = true;
        first_echo_tick_ = now;
    }
    if (now - first_echo_tick_ < kInputSettleDelay) return true;
    echo_run_ = false;
    return false;
}

// The settle wait, under the screen lock or (with input batching) without it.  False when a stop
// came during an unlocked wait; a last pass asked for then is made at once.
bool ScreenMirror::SettleWait() {
    TranslatorState& t = g_translator;
    input_tick_ = GetTickCount();
    settling_ = true;
    if (!settle_unlocked_) {
        Sleep(settle_step_);
        return true;
    }
    t.mirror_poll_delay.store(kIdlePollDelay);
    g_screen_lock.Leave();
    Sleep(settle_step_);
    g_screen_lock.Enter();
    const LONG stop = t.mirror_stop.load();
    last_pass_ = stop == kMirrorLastPass;
    return stop != kMirrorStopNow;
}

bool RunLastMirrorPass(DWORD timeout) {
    TranslatorState& t = g_translator;
    if (t.mirror_stopped == nullptr) return false;
    LONG running = kMirrorRunning;
    if (!t.mirror_stop.compare_exchange_strong(running, kMirrorLastPass)) return false;
    g_mirror_wake_up.Set();
    return WaitForSingleObject(t.mirror_stopped, timeout) == WAIT_OBJECT_0;
}

void __cdecl ScreenMirrorThread(void* mirror) {
    const std::unique_ptr<ScreenMirror> owned(static_cast<ScreenMirror*>(mirror));
    do {
        // Read without the lock: a stale value only changes how long this wait lasts.
        g_mirror_wake_up.WaitTimeout(g_translator.mirror_poll_delay.load());
    } while (owned->RunPass());
}
