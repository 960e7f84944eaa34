// The screen mirror: reads the console screen buffer pass after pass and sends the client's
// terminal only the rows that changed, through an ANSI terminal writer.
#pragma once

#include "AnsiWriter.h"
#include "FullScreen.h"
#include "Scrollback.h"
#include "translator.h"

// The byte sent for a cell's character.  A console cell can hold a control character (written
// without processed output, or straight into the buffer), which the console shows as a glyph; sent
// as it is, it would move the client's cursor or start an escape sequence, and the terminal would
// no longer show the screen.  An empty cell (0) goes out as a blank, other control characters
// and DEL as "?".
BYTE ShownCharacter(BYTE cell_character);

// What a row update sends for one row: nothing when the row is unchanged; otherwise a cursor
// positioning to `first`, the current cells from `first` to `last` and, when `erase`, an erase
// to the end of the line, which stands for the blanks after `last`.
struct RowUpdate {
    bool changed = false;
    int first = 0;
    int last = 0;
    bool erase = false;
};
// The row rule: one span from the first to the last difference, its blank tail replaced by an
// erase when that saves more bytes than the erase costs.
RowUpdate DecideRowUpdate(const CHAR_INFO* current, const CHAR_INFO* shown, int columns,
                          const Rendition& rendition);

// What a UTF-8 client is sent for a wide cell's character, as ShownCharacter for a byte; the
// controls U+0080 to U+009F go out as "?" too.
WCHAR ShownWideCharacter(WCHAR cell_character);

// Puts one row's update into the writer, without flushing: the cursor move, the cells as the
// writer's rendition shows them and the erase.
void PutRowUpdate(const CHAR_INFO* row, int y, RowUpdate update, int columns, AnsiWriter& writer);

enum class PassResult {
    kQuiet,     // nothing but possibly the cursor was sent
    kSent,      // the terminal was repainted for a new size, or rows were sent
    kNoMemory,  // no memory for the shown copy: both copies were released, nothing was sent
};
// The output of one pass, from the shown snapshot (what the terminal shows) to the current one
// (just read from the console): on `redraw`, or when the size differs, the terminal is cleared
// and everything sent; then every changed row, then the cursor, each row at its `place`.  Only the
// rows from the place's first_erased down are cleared.  The
// shown snapshot's cells are reallocated only when the size changes.  With a `view` (the
// FullScreenPrograms setting), the cursor is hidden before a second row is sent; the pass shows
// it again at the end when the console's is visible.
PassResult UpdateTerminal(ScreenSnapshot& shown, ScreenSnapshot& current, bool redraw,
                          AnsiWriter& writer, TerminalPlace place = TerminalPlace{},
                          TerminalView* view = nullptr);

// Clears the terminal from row `first_row` down (the whole screen when that is its first row),
// and the shown copy with it to what a cleared terminal shows; the cursor is then unknown unless
// the whole screen was cleared, which leaves it where it was.
void ClearTerminal(ScreenSnapshot& shown, int first_row, AnsiWriter& writer);

// The pass with scrollback: reads the window and the rows that left it, sends those into the
// client's scrollback (before a redraw too; after a clear when the terminal shows nothing of the
// window), then the window as UpdateTerminal does, at the tracker's place for the terminal's
// rows.  A new place repaints.  With a `view`, the cursor is hidden before rows go to the
// scrollback, as UpdateTerminal hides it.
PassResult ScrollbackPass(const ConsoleScreen& console, ScreenSnapshot& shown,
                          ScreenSnapshot& current, bool redraw, AnsiWriter& writer,
                          ScrollTracker& tracker, TerminalView* view = nullptr);

// Cells of `size` for the snapshot, new (all zero) unless it has them; false without memory.
bool FitCells(ScreenSnapshot& snapshot, COORD size);

// Reads the whole screen buffer of `console` into the snapshot, reallocating its cells only when
// the buffer's size changed; the buffer is read in pieces small enough for any console.  False
// when there is no memory for the cells (the snapshot is then left empty).  A console that
// cannot be read fails the assertion check.
bool ReadScreen(const ConsoleScreen& console, ScreenSnapshot& snapshot);
// The same for the buffer's window only, its cursor made relative to the window: how a
// program's own buffer is mirrored.
bool ReadWindow(const ConsoleScreen& console, ScreenSnapshot& snapshot);

// The cadence of the passes.  A pass that sent rows (or repainted) is followed by the next within
// 100 ms, any other after 300 ms.  Input wakes the mirror at once, and its pass looks at the
// screen `step` ms later: the InputSettleDelay setting, within 1 to 30 ms.  Most keys show within
// a millisecond or two, so with a step below 30 a pass that finds nothing new is followed by
// another one `step` ms later, and so on until 30 ms have passed since the input (the last of
// them at 30 ms): what one pass 30 ms after the key would have seen is never missed.
//
// With the setting, the passes that look for a keystroke's effect are echo passes when the pass
// has more to do than read the screen (FullScreenPrograms, MouseInput): they read and send the
// screen alone, and leave to a full pass what a keystroke rarely changes (which buffer is shown,
// the cursor's visibility, the title, the mouse mode).  That full pass comes one step after an
// echo pass that sent, or after the last one of the 30 ms, and takes the cadence of a pass that
// sent when the echo pass did.  Input that keeps coming (a paste) still gets a full pass at
// least every 30 ms.
DWORD InputSettleStep(DWORD setting);
struct NextPass {
    DWORD delay;    // the poll delay before the next pass
    bool settling;  // the next pass still looks for the effect of the input
};
// `settling`: this pass was woken by input or followed one that was; `since_input`: ms since
// that input woke the mirror; `deferred`: this was an echo pass, which left work to a full pass.
NextPass DecideNextPass(bool sent, bool settling, DWORD step, DWORD since_input,
                        bool deferred = false);

// The screen mirror thread's own state: the two snapshots, the scrollback tracker and the writer.
// Start-up builds it from the settings before the thread starts; with scrollback, window sizing
// puts the first mark through tracker() before that.
class ScreenMirror {
  public:
    // `default_attributes`: the console's attributes at start-up, the terminal's own colours when
    // the console's colours are sent.
    ScreenMirror(const Settings& settings, WORD default_attributes);

    // One pass, from taking the screen lock to leaving it.  Returns false, with the
    // mirror_stopped event set, when the mirror has been asked to stop; a last pass requested
    // is made first, at once, and its failed writes are not reported.
    bool RunPass();
    ScrollTracker& tracker() { return scroll_; }
    const ConsoleScreen& console() const { return console_; }

  private:
    // Publishes where the terminal shows the pass's `current` snapshot (under the screen lock),
    // a program's buffer's when `program`.
    void PublishShownArea(const ScreenSnapshot& current, bool program) const;
    // MouseInput: asks the terminal for mouse reports while the console input mode asks for mouse
    // input, and tells it to stop when the mode no longer does.
    void FollowMouseMode();
    bool SettleWait();
    // Reads the buffer shown (a program's when `program`) and sends what changed; publishes the
    // area shown, or reports a lack of memory once.
    PassResult ReadAndSend(bool program, bool redraw);
    // Whether this pass may still be an echo pass: the first echo pass since the last full pass
    // was less than 30 ms ago.
    bool EchoRunGoesOn();
    // FullScreenPrograms: the switch of screens when the console shows another buffer (a client
    // size the start-up buffer missed is made up for on its return), the pass over a program's
    // buffer, and the cursor's visibility and the title at the end of a pass.
    bool LookAtShownBuffer();
    PassResult ProgramBufferPass(bool redraw);
    void ShowCursorAndTitle();

    DWORD settle_step_;
    // InputSettleDelay with work that an echo pass leaves to a full pass; and whether the last
    // echo pass sent, which the full pass after it counts as its own for the cadence.
    bool echo_passes_;
    bool echo_sent_ = false;
    DWORD first_echo_tick_ = 0;  // the tick of the first echo pass since the last full pass
    bool echo_run_ = false;      // echo passes came since the last full pass
    bool scrollback_;
    // InputBatching: the settle wait leaves the screen lock, so that input is never held up by a
    // pass that is only waiting.
    bool settle_unlocked_;
    // BracketedPaste: the first pass asks the terminal for bracketed paste.
    bool paste_request_;
    ConsoleScreen console_;  // the console output: wide cells for a UTF-8 client
    ScreenSnapshot snapshots_[2];
    int shown_snapshot_ = 0;  // index of the shown snapshot; the other one is the current
    // Set once a pass found no memory for a screen copy and said so; cleared by the next pass
    // that has its memory, so that a shortage is reported once and not at every pass.
    bool memory_reported_ = false;
    // The tick count when input last woke the mirror, and whether the passes since then are
    // still looking for that keystroke's effect.
    DWORD input_tick_ = 0;
    bool settling_ = false;
    // Set for the last pass: the client may be gone by then, so its writes fail quietly.
    bool last_pass_ = false;
    bool mouse_input_;            // the MouseInput setting
    bool mouse_reports_ = false;  // the terminal was asked for mouse reports
    ScrollTracker scroll_;
    AnsiWriter writer_;
    // FullScreenPrograms: whether it is on, the buffer shown, a program buffer's two snapshots
    // (the alternate screen's), and what the terminal shows besides the cells.
    bool full_screen_;
    ShownBuffer shown_buffer_;
    ScreenSnapshot program_snapshots_[2];
    int program_shown_ = 0;
    TerminalView view_;
};

// The child watcher's request once the command processor has ended: the mirror makes one last
// pass, so that what the command processor wrote last reaches the client, and stops.  Waits for
// that at most `timeout` ms; false when the mirror did not stop in time (a write to a client
// that reads nothing) or was stopped already (the end of the login, the client gone: no pass).
bool RunLastMirrorPass(DWORD timeout);

// The screen mirror thread: a pass at each wake-up or poll delay, until asked to stop.  `mirror`
// is a ScreenMirror made with new, which the thread owns from then on.
void __cdecl ScreenMirrorThread(void* mirror);
