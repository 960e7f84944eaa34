// Console window sizing: makes the console's buffer and window as large as the client's window.
#include "WindowSizing.h"

#include "Reporter.h"
#include "ZEVENT.h"

bool RaisedWindowLimit(COORD most) {
    return most.X >= kMaxWindowColumns && most.Y >= kMaxWindowRows;
}

WindowSize ValidWindowSize(WindowSize requested, COORD most) {
    if (requested.columns < 1 || requested.rows < 1) return WindowSize{80, 24};
    if (RaisedWindowLimit(most)) {
        if (requested.columns > most.X) requested.columns = most.X;
        if (requested.rows > most.Y) requested.rows = most.Y;
        return requested;
    }
    if (requested.columns > kMaxWindowColumns || requested.rows > kMaxWindowRows) {
        return WindowSize{80, 24};
    }
    return requested;
}

bool FitLargestWindow(WindowSize* requested, COORD largest) {
    if (largest.X < 1 || largest.Y < 1) return false;
    WindowSize fitted{requested->columns < largest.X ? requested->columns : largest.X,
                      requested->rows < largest.Y ? requested->rows : largest.Y};
    if (fitted.columns == requested->columns && fitted.rows == requested->rows) return false;
    *requested = fitted;
    return true;
}

WindowSize LowerWindowSize(WindowSize requested) {
    if (requested.rows > kLoweredRowsFloor) {
        --requested.rows;
    } else {
        --requested.columns;
    }
    return requested;
}

bool NextWindowSize(WindowSize* requested, COORD largest) {
    WindowSize& size = *requested;
    bool columns_help = size.columns > largest.X || size.rows <= largest.Y || size.rows == 1;
    if (size.rows > kLoweredRowsFloor || (size.columns > 1 && columns_help)) {
        size = LowerWindowSize(size);
    } else if (size.rows > 1) {
        --size.rows;
    } else {
        return false;
    }
    return true;
}

SMALL_RECT ShrunkWindow(COORD buffer, WindowSize requested) {
    SHORT columns = buffer.X < requested.columns ? buffer.X : requested.columns;
    SHORT rows = buffer.Y < requested.rows ? buffer.Y : requested.rows;
    return SMALL_RECT{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
}

SMALL_RECT FullWindow(WindowSize requested) {
    return SMALL_RECT{0, 0, static_cast<SHORT>(requested.columns - 1),
                      static_cast<SHORT>(requested.rows - 1)};
}

bool IsFullScreenRefusal(DWORD error, COORD buffer, WindowSize requested) {
    return error == ERROR_FULLSCREEN_MODE &&
           (buffer.X != requested.columns || buffer.Y != requested.rows);
}

int FormatRetryNotice(char* buffer, const char* step, DWORD error, COORD old_buffer,
                      WindowSize next) {
    return wsprintfA(buffer,
                     "\r\n%s failed: %lu [%hd,%hd]\r\nWindows NT refusing to create a remote "
                     "window that large, trying: %hdx%hd...",
                     step, error, old_buffer.Y, old_buffer.X, next.rows, next.columns);
}

int FormatFullScreenNotice(char* buffer, WindowSize requested) {
    return wsprintfA(buffer,
                     "\r\nWARNING: This system defaults console apps to Full Screen mode.\r\n"
                     "This limits automatic resize capabilities.\r\n"
                     "You need to reset your telnet client's window size to: %hdx%hd.\r\n",
                     requested.rows, requested.columns);
}

namespace {

// The screen buffer sized: the one the console shows, a program's own or the start-up buffer.
HANDLE SizedOutput() {
    HANDLE program = g_translator.program_output;
    return program != nullptr ? program : g_translator.console_output;
}

// The history rows kept above the window: the capped setting in advanced mode, else 0; a
// program's buffer keeps none.
SHORT ScrollbackRows(SHORT window_rows) {
    if (g_translator.program_output != nullptr) return 0;
    return CappedScrollbackLines(g_translator.history_lines, window_rows);
}

// A size the console refused: the step that failed and its error.
struct Refusal {
    const char* step = nullptr;
    DWORD error = 0;
    bool first_window = false;
};

Refusal Refused(const char* step, bool first_window) {
    return Refusal{step, GetLastError(), first_window};
}

// One attempt at the requested size.  Returns true when the console took it.  With scrollback
// the buffer is `history` rows taller than the window, and the window at its bottom.
bool TrySize(COORD buffer, WindowSize requested, SHORT history, Refusal* refusal) {
    HANDLE console = SizedOutput();
    SMALL_RECT shrunk = ShrunkWindow(buffer, requested);
    if (!SetConsoleWindowInfo(console, TRUE, &shrunk)) {
        *refusal = Refused("SetConsoleWindowInfo[#1]", true);
        return false;
    }
    if (!SetConsoleScreenBufferSize(
            console, COORD{requested.columns, static_cast<SHORT>(requested.rows + history)})) {
        *refusal = Refused("SetConsoleScreenBufferSize", false);
        return false;
    }
    SMALL_RECT full = FullWindow(requested);
    full.Top = static_cast<SHORT>(full.Top + history);
    full.Bottom = static_cast<SHORT>(full.Bottom + history);
    if (!SetConsoleWindowInfo(console, TRUE, &full)) {
        *refusal = Refused("SetConsoleWindowInfo[#2]", false);
        return false;
    }
    return true;
}

// Puts back the buffer and window the console had before the refused attempts (a window that
// fits both buffers first, so that the buffer can change); what is refused stays as it is.
void RestoreConsoleSize(const CONSOLE_SCREEN_BUFFER_INFO& original) {
    HANDLE console = SizedOutput();
    CONSOLE_SCREEN_BUFFER_INFO now;
    if (!GetConsoleScreenBufferInfo(console, &now)) return;
    SMALL_RECT shrunk = ShrunkWindow(now.dwSize, WindowSize{original.dwSize.X, original.dwSize.Y});
    SetConsoleWindowInfo(console, TRUE, &shrunk);
    SetConsoleScreenBufferSize(console, original.dwSize);
    SetConsoleWindowInfo(console, TRUE, &original.srWindow);
}

}  // namespace

void ResizeConsole() {
    g_screen_lock.Enter();
    // The start-up buffer, not shown, takes this size when it is shown again.
    g_translator.startup_resize_due = g_translator.program_output != nullptr;
    WindowSize& requested = g_translator.requested_size;
    const COORD most = g_translator.max_window_size;
    requested = ValidWindowSize(requested, most);
    // With a raised limit the first refusal goes to the largest window at once: a step at a time
    // from a large request would take minutes.
    bool may_jump = RaisedWindowLimit(most);
    char notice[1024];
    CONSOLE_SCREEN_BUFFER_INFO original{};
    for (bool first = true;; first = false) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        BOOL have_info = GetConsoleScreenBufferInfo(SizedOutput(), &info);
        AssertCheck(have_info != FALSE, "transcmd.cpp", 1299);
        if (first) original = info;
        COORD buffer = info.dwSize;
        // With scrollback, the notices and the full-screen check look at the window's rows.
        const SHORT history = ScrollbackRows(requested.rows);
        if (history > 0)
            buffer.Y = static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top + 1);

        Refusal refusal;
        if (TrySize(info.dwSize, requested, history, &refusal)) break;

        if (refusal.first_window && IsFullScreenRefusal(refusal.error, buffer, requested)) {
            // Full-screen consoles cannot follow the client: tell the user what to set instead.
            requested.columns = buffer.X;
            WriteToClient(notice, FormatFullScreenNotice(notice, requested));  // failure: no harm
            Sleep(4000);
            break;
        }

        const COORD largest = GetLargestConsoleWindowSize(SizedOutput());
        const bool jumped = may_jump && FitLargestWindow(&requested, largest);
        may_jump = false;
        if (!jumped && !NextWindowSize(&requested, largest)) {
            // Not even one cell was taken: a client's window size must not end the login.
            RestoreConsoleSize(original);
            break;
        }
        WriteToClient(notice,
                      FormatRetryNotice(notice, refusal.step, refusal.error, buffer, requested));
        Sleep(1000);
    }
    g_screen_lock.Leave();
}

void SizeConsoleForScrollback(const ConsoleScreen& console, ScrollTracker& tracker) {
    ResizeConsole();
    // Output starts at the window's top row; the rows above are the history.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(g_translator.console_output, &info)) {
        SetConsoleCursorPosition(g_translator.console_output,
                                 COORD{info.srWindow.Left, info.srWindow.Top});
    }
    ScreenSnapshot first;
    ReadScrolledScreen(console, first, tracker);
}
