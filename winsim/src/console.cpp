// Consoles of the simulated Win32: screen buffers (one of them shown) and one input queue per
// console, the handles that "CONIN$" and "CONOUT$" open, and Ctrl-C events for the processes
// attached to a console.
#include <algorithm>
#include <cctype>
#include <deque>
#include <stdexcept>
#include <string>

#include "internal.h"
#include "winsim/console_control.h"

namespace winsim {

struct Console;

// A screen buffer: cells in row-major order, the cursor and its shape, the visible window, the
// attributes of text written from now on and the output mode.  A console starts with one; a
// program makes more with CreateConsoleScreenBuffer and shows one of them at a time.
struct ScreenBuffer {
    Console* console = nullptr;  // the console it belongs to, kept alive by whoever holds this
    COORD size = {0, 0};
    std::vector<CHAR_INFO> cells;
    COORD cursor = {0, 0};
    SMALL_RECT window = {0, 0, 0, 0};
    WORD attributes = 0x07;
    DWORD output_mode = 0;
    DWORD cursor_size = 25;
    BOOL cursor_visible = TRUE;
};

struct Console {
    // The screen buffer shown, which "CONOUT$" opens; the console holds it while it is shown.
    std::shared_ptr<ScreenBuffer> active;
    // What the display allows.
    COORD largest_window = {0, 0};
    bool full_screen = false;
    DWORD read_limit = 0;
    // The input queue, every record ever written, and for reads of whole lines the line being
    // edited and the finished text not read yet.
    DWORD input_mode = 0;
    std::deque<INPUT_RECORD> input;
    std::vector<INPUT_RECORD> input_log;
    std::wstring line;
    std::string cooked;
    // The code pages of the A functions: key records and typed text (input), text written and
    // cells (output).  The cells and the queued key records hold UTF-16 units.
    UINT input_cp = 437;
    UINT output_cp = 437;
    std::wstring title;
    // Ids of the processes attached, and the control events raised.
    std::vector<DWORD> attached;
    std::vector<DWORD> ctrl_events;
};

namespace {

using detail::KernelLock;

// test::AfterConsoleRead; guarded by the kernel lock.
std::function<void()> g_after_console_read;

// Buffers beyond this many cells are refused as the real console refuses what it cannot
// allocate; it keeps a test's mistake from taking all memory.
constexpr long kMaxCells = 1L << 22;

// Mode bits a console accepts; SetConsoleMode refuses others.
constexpr DWORD kInputModes = 0x3ff;
constexpr DWORD kOutputModes = 0x1f;

bool Faulted(const char* api) {
    DWORD error;
    if (!detail::TakeFaultLocked(api, &error)) return false;
    SetLastError(error);
    return true;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

CHAR_INFO Cell(WCHAR character, WORD attributes) {
    CHAR_INFO cell{};
    cell.Char.UnicodeChar = character;
    cell.Attributes = attributes;
    return cell;
}

int Width(const SMALL_RECT& rect) {
    return rect.Right - rect.Left + 1;
}
int Height(const SMALL_RECT& rect) {
    return rect.Bottom - rect.Top + 1;
}

// ---- Screen buffer -------------------------------------------------------------------------

CHAR_INFO& At(ScreenBuffer& console, int x, int y) {
    return console.cells[static_cast<size_t>(y) * console.size.X + x];
}

// Moves the window as little as needed to show the cursor, as the console does when output
// or the program moves the cursor.
void ShowCursor(ScreenBuffer& console) {
    SMALL_RECT& window = console.window;
    int dx = 0, dy = 0;
    if (console.cursor.X < window.Left) dx = console.cursor.X - window.Left;
    if (console.cursor.X > window.Right) dx = console.cursor.X - window.Right;
    if (console.cursor.Y < window.Top) dy = console.cursor.Y - window.Top;
    if (console.cursor.Y > window.Bottom) dy = console.cursor.Y - window.Bottom;
    window.Left = static_cast<SHORT>(window.Left + dx);
    window.Right = static_cast<SHORT>(window.Right + dx);
    window.Top = static_cast<SHORT>(window.Top + dy);
    window.Bottom = static_cast<SHORT>(window.Bottom + dy);
}

// Column 0 of the next row; at the last row the whole buffer scrolls up by one row and the new
// last row is blank in the current attributes.
void NewLine(ScreenBuffer& console) {
    console.cursor.X = 0;
    if (console.cursor.Y + 1 < console.size.Y) {
        ++console.cursor.Y;
        return;
    }
    console.cells.erase(console.cells.begin(), console.cells.begin() + console.size.X);
    console.cells.insert(console.cells.end(), console.size.X, Cell(' ', console.attributes));
}

// Shows one glyph at the cursor.  The classic console moves to the next row as soon as the last
// column is written (with wrapping on); without wrapping the cursor stays in the last column
// and the next glyph overwrites it.
void Put(ScreenBuffer& console, WCHAR character) {
    At(console, console.cursor.X, console.cursor.Y) = Cell(character, console.attributes);
    if (console.cursor.X + 1 < console.size.X) {
        ++console.cursor.X;
    } else if (console.output_mode & ENABLE_WRAP_AT_EOL_OUTPUT) {
        NewLine(console);
    }
}

// Text written to the screen buffer (WriteFile, WriteConsoleW, echo of line input).  With
// processed output CR, LF, BS, TAB and BEL act as on the classic console; without it every
// character is a glyph.
void WriteWideText(ScreenBuffer& console, const WCHAR* units, size_t length) {
    bool processed = (console.output_mode & ENABLE_PROCESSED_OUTPUT) != 0;
    for (size_t i = 0; i < length; ++i) {
        WCHAR c = units[i];
        if (!processed) {
            Put(console, c);
            continue;
        }
        switch (c) {
            case '\r':
                console.cursor.X = 0;
                break;
            case '\n':
                NewLine(console);
                break;
            case '\b':
                if (console.cursor.X > 0) --console.cursor.X;
                break;
            case '\t': {
                int stop =
                    std::min((console.cursor.X / 8 + 1) * 8, static_cast<int>(console.size.X));
                for (int blanks = stop - console.cursor.X; blanks > 0; --blanks) Put(console, ' ');
                break;
            }
            case '\a':
                break;
            default:
                Put(console, c);
        }
    }
    ShowCursor(console);
}

// Bytes written (WriteFile, WriteConsoleA) are text in the output code page.
void WriteText(ScreenBuffer& console, const char* bytes, size_t length) {
    std::wstring text = detail::ToWide(console.console->output_cp, bytes, length);
    WriteWideText(console, text.data(), text.size());
}

WCHAR ToWideUnit(UINT code_page, char byte) {
    std::wstring text = detail::ToWide(code_page, &byte, 1);
    return text.empty() ? 0 : text[0];
}

// A cell or a key record's character as an A function gives it: its one byte in the code page
// (a character that takes more, in UTF-8, reads as '?'), the high byte zero.
WCHAR ToNarrowUnit(UINT code_page, WCHAR unit) {
    std::string bytes = detail::FromWide(code_page, &unit, 1);
    return bytes.size() == 1 ? static_cast<unsigned char>(bytes[0]) : '?';
}

// SetConsoleScreenBufferSize: never smaller than the window; the cells keep their place from
// the top left, new cells are blank in the current attributes, the cursor is kept inside and
// the window is moved back inside when the buffer shrinks under it.
BOOL ResizeBuffer(ScreenBuffer& console, COORD size) {
    if (size.X < Width(console.window) || size.Y < Height(console.window))
        return Fail(ERROR_INVALID_PARAMETER);
    if (static_cast<long>(size.X) * size.Y > kMaxCells) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::vector<CHAR_INFO> cells(static_cast<size_t>(size.X) * size.Y,
                                 Cell(' ', console.attributes));
    for (int y = 0; y < std::min(size.Y, console.size.Y); ++y)
        for (int x = 0; x < std::min(size.X, console.size.X); ++x)
            cells[static_cast<size_t>(y) * size.X + x] = At(console, x, y);
    console.cells.swap(cells);
    console.size = size;
    console.cursor.X = std::min<SHORT>(console.cursor.X, static_cast<SHORT>(size.X - 1));
    console.cursor.Y = std::min<SHORT>(console.cursor.Y, static_cast<SHORT>(size.Y - 1));
    SMALL_RECT& window = console.window;
    if (window.Right >= size.X) {
        int shift = window.Right - (size.X - 1);
        window.Left = static_cast<SHORT>(window.Left - shift);
        window.Right = static_cast<SHORT>(window.Right - shift);
    }
    if (window.Bottom >= size.Y) {
        int shift = window.Bottom - (size.Y - 1);
        window.Top = static_cast<SHORT>(window.Top - shift);
        window.Bottom = static_cast<SHORT>(window.Bottom - shift);
    }
    return TRUE;
}

// SetConsoleWindowInfo with the rectangle made absolute: refused while programs run full
// screen, and when the window is empty, reaches outside the buffer or is larger than the
// largest window the display can show.
BOOL MoveWindow(ScreenBuffer& console, int left, int top, int right, int bottom) {
    if (console.console->full_screen) return Fail(ERROR_FULLSCREEN_MODE);
    if (left > right || top > bottom || left < 0 || top < 0 || right >= console.size.X ||
        bottom >= console.size.Y)
        return Fail(ERROR_INVALID_PARAMETER);
    if (right - left + 1 > console.console->largest_window.X ||
        bottom - top + 1 > console.console->largest_window.Y)
        return Fail(ERROR_INVALID_PARAMETER);
    console.window = {static_cast<SHORT>(left), static_cast<SHORT>(top), static_cast<SHORT>(right),
                      static_cast<SHORT>(bottom)};
    return TRUE;
}

CONSOLE_SCREEN_BUFFER_INFO Info(const ScreenBuffer& console) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    info.dwSize = console.size;
    info.dwCursorPosition = console.cursor;
    info.wAttributes = console.attributes;
    info.srWindow = console.window;
    info.dwMaximumWindowSize = {std::min(console.size.X, console.console->largest_window.X),
                                std::min(console.size.Y, console.console->largest_window.Y)};
    return info;
}

// ReadConsoleOutputA and WriteConsoleOutputA copy a rectangle between the screen buffer and a
// caller's two-dimensional CHAR_INFO array (`size` cells, with the rectangle's top left cell at
// `origin` in it).  As documented for both calls, the rectangle is clipped to the screen buffer
// and to the caller's array, the cells outside either are not copied (and cells of the array
// without a buffer cell are left as they were), and `region` is set to the buffer rectangle
// that was actually copied.  When nothing is left the call still succeeds, copies nothing and
// sets region to an empty rectangle (Right = Left - 1, Bottom = Top - 1).  Wine differs here:
// it refuses a rectangle that starts left of or above the buffer, or lies wholly outside it,
// with ERROR_INVALID_PARAMETER; the programs only ever read from the buffer's top left.
struct Transfer {
    bool empty;
    SMALL_RECT region;  // the buffer cells copied
    int dx, dy;         // array column = buffer column + dx, array row = buffer row + dy
};

Transfer ClipTransfer(COORD screen, COORD size, COORD origin, const SMALL_RECT& region) {
    Transfer transfer{};
    transfer.dx = origin.X - region.Left;
    transfer.dy = origin.Y - region.Top;
    int left = std::max({static_cast<int>(region.Left), 0, -transfer.dx});
    int top = std::max({static_cast<int>(region.Top), 0, -transfer.dy});
    int right = std::min({static_cast<int>(region.Right), screen.X - 1, size.X - 1 - transfer.dx});
    int bottom =
        std::min({static_cast<int>(region.Bottom), screen.Y - 1, size.Y - 1 - transfer.dy});
    transfer.empty = left > right || top > bottom;
    if (transfer.empty) {
        transfer.region = {region.Left, region.Top, static_cast<SHORT>(region.Left - 1),
                           static_cast<SHORT>(region.Top - 1)};
    } else {
        transfer.region = {static_cast<SHORT>(left), static_cast<SHORT>(top),
                           static_cast<SHORT>(right), static_cast<SHORT>(bottom)};
    }
    return transfer;
}

// ---- Input ---------------------------------------------------------------------------------

bool IsCtrlCKey(const INPUT_RECORD& record) {
    return record.EventType == KEY_EVENT && record.Event.KeyEvent.uChar.UnicodeChar == 0x03;
}

// Takes queued key records into the text that ReadFile returns.  With line input the keys edit
// a line (BS erases, echo shown on the screen when on) that becomes readable with CR, as
// "\r\n"; without it every character is readable at once.  Other records are dropped.
void CookInput(Console& console) {
    bool lines = (console.input_mode & ENABLE_LINE_INPUT) != 0;
    bool echo = lines && (console.input_mode & ENABLE_ECHO_INPUT) != 0;
    while (!console.input.empty()) {
        INPUT_RECORD record = console.input.front();
        console.input.pop_front();
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        WCHAR c = record.Event.KeyEvent.uChar.UnicodeChar;
        if (c == 0) continue;
        if (!lines) {
            console.cooked += detail::FromWide(console.input_cp, &c, 1);
        } else if (c == '\r') {
            console.cooked +=
                detail::FromWide(console.input_cp, console.line.data(), console.line.size()) +
                "\r\n";
            console.line.clear();
            if (echo) WriteText(*console.active, "\r\n", 2);
            return;
        } else if (c == '\b') {
            if (console.line.empty()) continue;
            console.line.pop_back();
            if (echo) WriteText(*console.active, "\b \b", 3);
        } else {
            console.line += c;
            if (echo) WriteWideText(*console.active, &c, 1);
        }
    }
}

// ---- Ctrl-C --------------------------------------------------------------------------------

// Runs a process's handlers for the event, newest first, on a new thread of that process, as
// the system does; when none of them handles it the process ends as the default handler ends
// it.  A process that ignores Ctrl-C sees no Ctrl-C event at all (Ctrl-Break still reaches it).
// Processes that have not started or have ended, and the test runner, are left out.
void RaiseCtrlEventLocked(Console& console, DWORD event) {
    console.ctrl_events.push_back(event);
    for (DWORD id : console.attached) {
        auto process = detail::FindProcess(id);
        if (!process || !process->started || process->ended) continue;
        if (process.get() == &detail::RunnerProcess()) continue;
        if (event == CTRL_C_EVENT && process->ignore_ctrl_c) continue;
        Process* target = process.get();
        detail::StartThreadLocked(*target, [target, event] {
            std::vector<PHANDLER_ROUTINE> handlers;
            {
                std::lock_guard<std::mutex> guard(KernelLock());
                handlers = target->ctrl_handlers;
            }
            for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
                if ((*it)(event)) return;
            std::lock_guard<std::mutex> guard(KernelLock());
            detail::EndProcessLocked(*target, STATUS_CONTROL_C_EXIT, false);
        });
    }
}

// ---- Handles -------------------------------------------------------------------------------

// A handle to a console's input ("CONIN$").  ReadFile reads typed text.
struct ConsoleInput : Object {
    std::shared_ptr<Console> console;
    BOOL Read(std::unique_lock<std::mutex>& lock, void* buffer, DWORD length,
              DWORD* done) override {
        Console& c = *console;
        if (length == 0) return TRUE;
        while (c.cooked.empty()) {
            if (!detail::Block(lock, [&] { return !c.input.empty(); }))
                return Fail(ERROR_INVALID_HANDLE);
            CookInput(c);
        }
        DWORD count = std::min<DWORD>(length, static_cast<DWORD>(c.cooked.size()));
        std::copy_n(c.cooked.begin(), count, static_cast<char*>(buffer));
        c.cooked.erase(0, count);
        *done = count;
        detail::KernelChanged().notify_all();
        return TRUE;
    }
};

// A handle to a screen buffer: "CONOUT$" opens the one shown at that moment, and the handle stays
// with it whichever is shown later.  WriteFile writes text.
struct ConsoleOutput : Object {
    std::shared_ptr<Console> console;
    std::shared_ptr<ScreenBuffer> buffer;
    BOOL Write(std::unique_lock<std::mutex>&, const void* bytes, DWORD length,
               DWORD* done) override {
        WriteText(*buffer, static_cast<const char*>(bytes), length);
        *done = length;
        detail::KernelChanged().notify_all();
        return TRUE;
    }
};

// The console behind an input or an output handle of the calling process; null with
// ERROR_INVALID_HANDLE for any other handle.
template <class End>
Console* ConsoleOf(HANDLE handle) {
    auto end = detail::Lookup<End>(handle);
    if (!end) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return end->console.get();
}

// The screen buffer behind an output handle of the calling process, as ConsoleOf.
ScreenBuffer* BufferOf(HANDLE handle) {
    auto end = detail::Lookup<ConsoleOutput>(handle);
    if (!end) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return end->buffer.get();
}

HANDLE AddOutputLocked(Process& process, const std::shared_ptr<Console>& console,
                       std::shared_ptr<ScreenBuffer> buffer, bool inherit) {
    auto end = std::make_shared<ConsoleOutput>();
    end->console = console;
    end->buffer = std::move(buffer);
    return detail::AddHandle(process, end, inherit);
}

HANDLE OpenLocked(Process& process, const std::shared_ptr<Console>& console, bool input,
                  bool inherit) {
    if (input) {
        auto end = std::make_shared<ConsoleInput>();
        end->console = console;
        return detail::AddHandle(process, end, inherit);
    }
    return AddOutputLocked(process, console, console->active, inherit);
}

// A new buffer for `console` of `size`, blank in `attributes`, its window at the top left.
std::shared_ptr<ScreenBuffer> NewBuffer(Console& console, COORD size, SMALL_RECT window,
                                        WORD attributes, DWORD output_mode) {
    auto buffer = std::make_shared<ScreenBuffer>();
    buffer->console = &console;
    buffer->size = size;
    buffer->cells.assign(static_cast<size_t>(size.X) * size.Y, Cell(' ', attributes));
    buffer->window = window;
    buffer->attributes = attributes;
    buffer->output_mode = output_mode;
    return buffer;
}

std::shared_ptr<Console> BuildConsole(const test::ConsoleSettings& settings) {
    auto console = std::make_shared<Console>();
    console->active = NewBuffer(*console, settings.buffer, settings.window, settings.attributes,
                                settings.output_mode);
    console->largest_window = settings.largest_window;
    console->full_screen = settings.full_screen;
    console->read_limit = settings.read_limit;
    console->input_mode = settings.input_mode;
    return console;
}

// ---- Test control --------------------------------------------------------------------------

Console& TestConsole(SimProcess& process) {
    auto& console = process.process()->console;
    if (!console) throw std::logic_error("the simulated process has no console");
    return *console;
}

}  // namespace

namespace detail {

std::shared_ptr<Console> NewConsoleLocked() {
    return BuildConsole(test::ConsoleSettings{});
}

void LeaveConsoleLocked(Process& process) {
    if (!process.console) return;
    auto& ids = process.console->attached;
    ids.erase(std::remove(ids.begin(), ids.end(), process.id), ids.end());
}

void AttachConsoleLocked(Process& process, std::shared_ptr<Console> console) {
    LeaveConsoleLocked(process);
    process.console = std::move(console);
    if (process.console) process.console->attached.push_back(process.id);
}

// A new handle in the process to its console's input or screen buffer, as CreateFileA opens
// them; null when the process has no console.  For process creation, which gives a program
// started with a new console standard handles to it.
HANDLE OpenConsoleHandleLocked(Process& process, bool input, bool inherit) {
    if (!process.console) return nullptr;
    return OpenLocked(process, process.console, input, inherit);
}

// GetConsoleMode (kernel.cpp) for handles to a console's input or screen buffer.
bool ConsoleModeLocked(Object& object, DWORD* mode) {
    if (auto* input = dynamic_cast<ConsoleInput*>(&object)) {
        *mode = input->console->input_mode;
        return true;
    }
    if (auto* output = dynamic_cast<ConsoleOutput*>(&object)) {
        *mode = output->buffer->output_mode;
        return true;
    }
    return false;
}

}  // namespace detail

namespace detail {
void ResetConsoleHooks() {
    g_after_console_read = nullptr;
}
}  // namespace detail

namespace test {

void AfterConsoleRead(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(KernelLock());
    g_after_console_read = std::move(hook);
}

void NewConsole(SimProcess& process, const ConsoleSettings& settings) {
    const SMALL_RECT& window = settings.window;
    if (settings.buffer.X < 1 || settings.buffer.Y < 1 ||
        static_cast<long>(settings.buffer.X) * settings.buffer.Y > kMaxCells || window.Left < 0 ||
        window.Top < 0 || window.Right < window.Left || window.Bottom < window.Top ||
        window.Right >= settings.buffer.X || window.Bottom >= settings.buffer.Y ||
        Width(window) > settings.largest_window.X || Height(window) > settings.largest_window.Y)
        throw std::logic_error("no console can have these settings");
    std::lock_guard<std::mutex> guard(KernelLock());
    detail::AttachConsoleLocked(*process.process(), BuildConsole(settings));
}

void ShareConsole(SimProcess& process, SimProcess& owner) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto console = owner.process()->console;
    if (!console) throw std::logic_error("the simulated process has no console");
    detail::AttachConsoleLocked(*process.process(), console);
}

bool HasConsole(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return process.process()->console != nullptr;
}

void SetFullScreen(SimProcess& process, bool full_screen) {
    std::lock_guard<std::mutex> guard(KernelLock());
    TestConsole(process).full_screen = full_screen;
}

void SetLargestWindow(SimProcess& process, COORD size) {
    std::lock_guard<std::mutex> guard(KernelLock());
    TestConsole(process).largest_window = size;
}

void SetReadLimit(SimProcess& process, DWORD cells) {
    std::lock_guard<std::mutex> guard(KernelLock());
    TestConsole(process).read_limit = cells;
}

void SetInputMode(SimProcess& process, DWORD mode) {
    std::lock_guard<std::mutex> guard(KernelLock());
    TestConsole(process).input_mode = mode;
    detail::KernelChanged().notify_all();
}

CONSOLE_SCREEN_BUFFER_INFO ScreenInfo(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return Info(*TestConsole(process).active);
}

std::string ScreenRow(SimProcess& process, int row) {
    std::lock_guard<std::mutex> guard(KernelLock());
    ScreenBuffer& console = *TestConsole(process).active;
    std::string text;
    if (row < 0 || row >= console.size.Y) return text;
    for (int x = 0; x < console.size.X; ++x) {
        WCHAR unit = At(console, x, row).Char.UnicodeChar;
        text += static_cast<char>(ToNarrowUnit(437, unit));
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string ScreenRowUtf8(SimProcess& process, int row) {
    std::lock_guard<std::mutex> guard(KernelLock());
    ScreenBuffer& console = *TestConsole(process).active;
    std::wstring units;
    if (row < 0 || row >= console.size.Y) return std::string();
    for (int x = 0; x < console.size.X; ++x) units += At(console, x, row).Char.UnicodeChar;
    units.erase(units.find_last_not_of(L' ') + 1);
    return detail::FromWide(CP_UTF8, units.data(), units.size());
}

CHAR_INFO ScreenCell(SimProcess& process, int column, int row) {
    std::lock_guard<std::mutex> guard(KernelLock());
    ScreenBuffer& console = *TestConsole(process).active;
    if (column < 0 || row < 0 || column >= console.size.X || row >= console.size.Y)
        return CHAR_INFO{};
    return At(console, column, row);
}

DWORD InputMode(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return TestConsole(process).input_mode;
}

DWORD OutputMode(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return TestConsole(process).active->output_mode;
}

std::vector<INPUT_RECORD> InputLog(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return TestConsole(process).input_log;
}

DWORD PendingInput(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return static_cast<DWORD>(TestConsole(process).input.size());
}

std::vector<DWORD> CtrlEvents(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return TestConsole(process).ctrl_events;
}

bool IgnoresCtrlC(SimProcess& process) {
    std::lock_guard<std::mutex> guard(KernelLock());
    return process.process()->ignore_ctrl_c;
}

}  // namespace test
}  // namespace winsim

using namespace winsim;
using winsim::detail::KernelLock;

// ---- Opening, allocating and freeing consoles ----------------------------------------------

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                   DWORD, HANDLE) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("CreateFileA")) return INVALID_HANDLE_VALUE;
    if (name == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool input = lstrcmpiA(name, "CONIN$") == 0;
    Process& process = detail::CurrentProcess();
    bool inherit = attributes != nullptr && attributes->bInheritHandle;
    if (!input && lstrcmpiA(name, "CONOUT$") != 0)
        return detail::CreateFileLocked(process, name, disposition, inherit);
    if (!process.console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return OpenLocked(process, process.console, input, inherit);
}

BOOL AllocConsole() {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("AllocConsole")) return FALSE;
    Process& process = detail::CurrentProcess();
    if (process.console) return Fail(ERROR_ACCESS_DENIED);
    detail::AttachConsoleLocked(process, detail::NewConsoleLocked());
    // The standard handles become handles to the new console.
    process.std_handles[0] = detail::OpenConsoleHandleLocked(process, true, false);
    process.std_handles[1] = detail::OpenConsoleHandleLocked(process, false, false);
    process.std_handles[2] = detail::OpenConsoleHandleLocked(process, false, false);
    return TRUE;
}

BOOL FreeConsole() {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("FreeConsole")) return FALSE;
    detail::AttachConsoleLocked(detail::CurrentProcess(), nullptr);
    return TRUE;
}

BOOL SetConsoleMode(HANDLE handle, DWORD mode) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleMode")) return FALSE;
    auto object = detail::LookupHandle(detail::CurrentProcess(), handle);
    if (auto* input = dynamic_cast<ConsoleInput*>(object.get())) {
        if (mode & ~kInputModes) return Fail(ERROR_INVALID_PARAMETER);
        input->console->input_mode = mode;
        detail::KernelChanged().notify_all();
        return TRUE;
    }
    if (auto* output = dynamic_cast<ConsoleOutput*>(object.get())) {
        if (mode & ~kOutputModes) return Fail(ERROR_INVALID_PARAMETER);
        output->buffer->output_mode = mode;
        return TRUE;
    }
    return Fail(ERROR_INVALID_HANDLE);
}

// ---- Ctrl-C --------------------------------------------------------------------------------

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleCtrlHandler")) return FALSE;
    Process& process = detail::CurrentProcess();
    if (routine == nullptr) {
        process.ignore_ctrl_c = add != FALSE;
        return TRUE;
    }
    auto& handlers = process.ctrl_handlers;
    if (add) {
        handlers.push_back(routine);
        return TRUE;
    }
    // The newest registration of the routine goes.
    auto found = std::find(handlers.rbegin(), handlers.rend(), routine);
    if (found == handlers.rend()) return Fail(ERROR_INVALID_PARAMETER);
    handlers.erase(std::next(found).base());
    return TRUE;
}

// Group 0 (every process of the caller's console) is the only group the simulation knows.
// Ctrl-Break behaves as on Windows: delivered like Ctrl-C, but not ignored by the ignore flag.
BOOL GenerateConsoleCtrlEvent(DWORD event, DWORD process_group) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GenerateConsoleCtrlEvent")) return FALSE;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return Fail(ERROR_INVALID_PARAMETER);
    if (process_group != 0) return Fail(ERROR_INVALID_PARAMETER);
    Process& process = detail::CurrentProcess();
    if (!process.console) return Fail(ERROR_INVALID_HANDLE);
    RaiseCtrlEventLocked(*process.console, event);
    return TRUE;
}

// ---- Input ---------------------------------------------------------------------------------

// A key record for Ctrl-C (character 0x03) written while the console processes input raises a
// Ctrl-C event in the console instead of being queued, on its key-down; its key-up is dropped
// too, so that no stray Ctrl-C key reaches the program.
static BOOL PutInput(const char* api, bool wide, HANDLE handle, const INPUT_RECORD* records,
                     DWORD count, LPDWORD written) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (written != nullptr) *written = 0;
    if (Faulted(api)) return FALSE;
    Console* console = ConsoleOf<ConsoleInput>(handle);
    if (console == nullptr) return FALSE;
    if (records == nullptr && count > 0) return Fail(ERROR_INVALID_PARAMETER);
    for (DWORD i = 0; i < count; ++i) {
        INPUT_RECORD record = records[i];
        console->input_log.push_back(record);
        if (!wide && record.EventType == KEY_EVENT) {
            KEY_EVENT_RECORD& key = record.Event.KeyEvent;
            key.uChar.UnicodeChar = ToWideUnit(console->input_cp, key.uChar.AsciiChar);
        }
        if ((console->input_mode & ENABLE_PROCESSED_INPUT) && IsCtrlCKey(record)) {
            if (record.Event.KeyEvent.bKeyDown) RaiseCtrlEventLocked(*console, CTRL_C_EVENT);
            continue;
        }
        console->input.push_back(record);
    }
    if (written != nullptr) *written = count;
    detail::KernelChanged().notify_all();
    return TRUE;
}

BOOL WriteConsoleInputA(HANDLE handle, const INPUT_RECORD* records, DWORD count, LPDWORD written) {
    return PutInput("WriteConsoleInputA", false, handle, records, count, written);
}

BOOL WriteConsoleInputW(HANDLE handle, const INPUT_RECORD* records, DWORD count, LPDWORD written) {
    return PutInput("WriteConsoleInputW", true, handle, records, count, written);
}

static BOOL TakeInput(const char* api, HANDLE handle, PINPUT_RECORD records, DWORD count,
                      LPDWORD read, bool wait, bool remove, bool wide = false) {
    std::unique_lock<std::mutex> lock(KernelLock());
    if (read != nullptr) *read = 0;
    if (Faulted(api)) return FALSE;
    Console* console = ConsoleOf<ConsoleInput>(handle);
    if (console == nullptr) return FALSE;
    if (read == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (wait && count > 0 && !detail::Block(lock, [&] { return !console->input.empty(); }))
        return Fail(ERROR_INVALID_HANDLE);
    DWORD taken = std::min<DWORD>(count, static_cast<DWORD>(console->input.size()));
    std::copy_n(console->input.begin(), taken, records);
    for (DWORD i = 0; i < taken && !wide; ++i) {
        if (records[i].EventType != KEY_EVENT) continue;
        WCHAR& unit = records[i].Event.KeyEvent.uChar.UnicodeChar;
        unit = ToNarrowUnit(console->input_cp, unit);
    }
    if (remove) console->input.erase(console->input.begin(), console->input.begin() + taken);
    *read = taken;
    detail::KernelChanged().notify_all();
    return TRUE;
}

BOOL ReadConsoleInputA(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read) {
    return TakeInput("ReadConsoleInputA", input, records, count, read, true, true);
}

BOOL ReadConsoleInputW(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read) {
    return TakeInput("ReadConsoleInputW", input, records, count, read, true, true, true);
}

BOOL PeekConsoleInputA(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read) {
    return TakeInput("PeekConsoleInputA", input, records, count, read, false, false);
}

BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GetNumberOfConsoleInputEvents")) return FALSE;
    Console* console = ConsoleOf<ConsoleInput>(input);
    if (console == nullptr) return FALSE;
    *count = static_cast<DWORD>(console->input.size());
    return TRUE;
}

// ---- Screen buffer -------------------------------------------------------------------------

BOOL WriteConsoleA(HANDLE output, const void* buffer, DWORD length, LPDWORD written, LPVOID) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (written != nullptr) *written = 0;
    if (Faulted("WriteConsoleA")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    WriteText(*console, static_cast<const char*>(buffer), length);
    if (written != nullptr) *written = length;
    detail::KernelChanged().notify_all();
    return TRUE;
}

// The length counts UTF-16 units.
BOOL WriteConsoleW(HANDLE output, const void* buffer, DWORD length, LPDWORD written, LPVOID) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (written != nullptr) *written = 0;
    if (Faulted("WriteConsoleW")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    WriteWideText(*console, static_cast<const WCHAR*>(buffer), length);
    if (written != nullptr) *written = length;
    detail::KernelChanged().notify_all();
    return TRUE;
}

// The code pages of the calling process's console; 0 without one.
UINT GetConsoleCP() {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto& console = detail::CurrentProcess().console;
    return console ? console->input_cp : 0;
}

UINT GetConsoleOutputCP() {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto& console = detail::CurrentProcess().console;
    return console ? console->output_cp : 0;
}

static BOOL SetCodePage(const char* api, UINT code_page, bool input) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted(api)) return FALSE;
    auto& console = detail::CurrentProcess().console;
    if (!console) return Fail(ERROR_INVALID_HANDLE);
    if (code_page == CP_ACP || code_page == CP_OEMCP || !detail::KnownCodePage(code_page))
        return Fail(ERROR_INVALID_PARAMETER);
    (input ? console->input_cp : console->output_cp) = code_page;
    return TRUE;
}

BOOL SetConsoleCP(UINT code_page) {
    return SetCodePage("SetConsoleCP", code_page, true);
}

BOOL SetConsoleOutputCP(UINT code_page) {
    return SetCodePage("SetConsoleOutputCP", code_page, false);
}

BOOL GetConsoleScreenBufferInfo(HANDLE output, PCONSOLE_SCREEN_BUFFER_INFO info) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GetConsoleScreenBufferInfo")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    *info = Info(*console);
    return TRUE;
}

COORD GetLargestConsoleWindowSize(HANDLE output) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GetLargestConsoleWindowSize")) return COORD{0, 0};
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return COORD{0, 0};
    return console->console->largest_window;
}

static BOOL ReadOutputLocked(const char* api, bool wide, HANDLE output, PCHAR_INFO buffer,
                             COORD buffer_size, COORD buffer_origin, PSMALL_RECT region) {
    if (Faulted(api)) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    if (region == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    long cells =
        static_cast<long>(std::max<SHORT>(buffer_size.X, 0)) * std::max<SHORT>(buffer_size.Y, 0);
    if (console->console->read_limit != 0 &&
        cells > static_cast<long>(console->console->read_limit))
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    Transfer transfer = ClipTransfer(console->size, buffer_size, buffer_origin, *region);
    *region = transfer.region;
    if (transfer.empty) return TRUE;
    for (int y = region->Top; y <= region->Bottom; ++y) {
        for (int x = region->Left; x <= region->Right; ++x) {
            CHAR_INFO& to =
                buffer[static_cast<size_t>(y + transfer.dy) * buffer_size.X + x + transfer.dx];
            to = At(*console, x, y);
            if (!wide)
                to.Char.UnicodeChar =
                    ToNarrowUnit(console->console->output_cp, to.Char.UnicodeChar);
        }
    }
    return TRUE;
}

static BOOL ReadOutput(const char* api, bool wide, HANDLE output, PCHAR_INFO buffer,
                       COORD buffer_size, COORD buffer_origin, PSMALL_RECT region) {
    BOOL done;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        done = ReadOutputLocked(api, wide, output, buffer, buffer_size, buffer_origin, region);
        if (done) hook = g_after_console_read;
    }
    if (hook) hook();
    return done;
}

BOOL ReadConsoleOutputA(HANDLE output, PCHAR_INFO buffer, COORD buffer_size, COORD buffer_origin,
                        PSMALL_RECT region) {
    return ReadOutput("ReadConsoleOutputA", false, output, buffer, buffer_size, buffer_origin,
                      region);
}

BOOL ReadConsoleOutputW(HANDLE output, PCHAR_INFO buffer, COORD buffer_size, COORD buffer_origin,
                        PSMALL_RECT region) {
    return ReadOutput("ReadConsoleOutputW", true, output, buffer, buffer_size, buffer_origin,
                      region);
}

BOOL WriteConsoleOutputA(HANDLE output, const CHAR_INFO* buffer, COORD buffer_size,
                         COORD buffer_origin, PSMALL_RECT region) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("WriteConsoleOutputA")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    if (region == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Transfer transfer = ClipTransfer(console->size, buffer_size, buffer_origin, *region);
    *region = transfer.region;
    if (transfer.empty) return TRUE;
    for (int y = region->Top; y <= region->Bottom; ++y) {
        for (int x = region->Left; x <= region->Right; ++x) {
            const CHAR_INFO& from =
                buffer[static_cast<size_t>(y + transfer.dy) * buffer_size.X + x + transfer.dx];
            At(*console, x, y) =
                Cell(ToWideUnit(console->console->output_cp, from.Char.AsciiChar), from.Attributes);
        }
    }
    detail::KernelChanged().notify_all();
    return TRUE;
}

// The three calls that write a run of cells from `first` on, row after row, stopping at the end
// of the buffer; a start outside the buffer is refused.
template <class Store>
static BOOL WriteRun(const char* api, HANDLE output, DWORD count, COORD first, LPDWORD written,
                     Store store) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (written != nullptr) *written = 0;
    if (Faulted(api)) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    if (first.X < 0 || first.Y < 0 || first.X >= console->size.X || first.Y >= console->size.Y)
        return Fail(ERROR_INVALID_PARAMETER);
    size_t start = static_cast<size_t>(first.Y) * console->size.X + first.X;
    DWORD done = static_cast<DWORD>(std::min<size_t>(count, console->cells.size() - start));
    for (DWORD i = 0; i < done; ++i) store(console->cells[start + i], i);
    if (written != nullptr) *written = done;
    detail::KernelChanged().notify_all();
    return TRUE;
}

BOOL WriteConsoleOutputAttribute(HANDLE output, const WORD* attributes, DWORD count, COORD first,
                                 LPDWORD written) {
    return WriteRun("WriteConsoleOutputAttribute", output, count, first, written,
                    [attributes](CHAR_INFO& cell, DWORD i) { cell.Attributes = attributes[i]; });
}

BOOL FillConsoleOutputCharacterA(HANDLE output, CHAR character, DWORD count, COORD first,
                                 LPDWORD written) {
    return WriteRun("FillConsoleOutputCharacterA", output, count, first, written,
                    [character](CHAR_INFO& cell, DWORD) {
                        cell.Char.UnicodeChar = static_cast<unsigned char>(character);
                    });
}

BOOL FillConsoleOutputAttribute(HANDLE output, WORD attribute, DWORD count, COORD first,
                                LPDWORD written) {
    return WriteRun("FillConsoleOutputAttribute", output, count, first, written,
                    [attribute](CHAR_INFO& cell, DWORD) { cell.Attributes = attribute; });
}

BOOL SetConsoleScreenBufferSize(HANDLE output, COORD size) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleScreenBufferSize")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    BOOL ok = ResizeBuffer(*console, size);
    detail::KernelChanged().notify_all();
    return ok;
}

// A relative rectangle moves each edge of the current window by the amount given.
BOOL SetConsoleWindowInfo(HANDLE output, BOOL absolute, const SMALL_RECT* window) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleWindowInfo")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    if (window == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    int left = window->Left, top = window->Top, right = window->Right, bottom = window->Bottom;
    if (!absolute) {
        left += console->window.Left;
        top += console->window.Top;
        right += console->window.Right;
        bottom += console->window.Bottom;
    }
    BOOL ok = MoveWindow(*console, left, top, right, bottom);
    detail::KernelChanged().notify_all();
    return ok;
}

BOOL SetConsoleCursorPosition(HANDLE output, COORD position) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleCursorPosition")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    if (position.X < 0 || position.Y < 0 || position.X >= console->size.X ||
        position.Y >= console->size.Y)
        return Fail(ERROR_INVALID_PARAMETER);
    console->cursor = position;
    ShowCursor(*console);
    detail::KernelChanged().notify_all();
    return TRUE;
}

BOOL SetConsoleTextAttribute(HANDLE output, WORD attributes) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleTextAttribute")) return FALSE;
    ScreenBuffer* console = BufferOf(output);
    if (console == nullptr) return FALSE;
    console->attributes = attributes;
    return TRUE;
}

// ---- Screen buffers, the cursor's shape and the title ----------------------------------------

// Windows gives a new buffer the size of the shown buffer's window, the window over all of it.
// (Wine copies the shown buffer's size and window instead.)
HANDLE CreateConsoleScreenBuffer(DWORD, DWORD, const SECURITY_ATTRIBUTES* attributes, DWORD flags,
                                 LPVOID) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("CreateConsoleScreenBuffer")) return INVALID_HANDLE_VALUE;
    Process& process = detail::CurrentProcess();
    if (flags != CONSOLE_TEXTMODE_BUFFER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!process.console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    const ScreenBuffer& shown = *process.console->active;
    const COORD size{static_cast<SHORT>(Width(shown.window)),
                     static_cast<SHORT>(Height(shown.window))};
    auto buffer =
        NewBuffer(*process.console, size,
                  SMALL_RECT{0, 0, static_cast<SHORT>(size.X - 1), static_cast<SHORT>(size.Y - 1)},
                  shown.attributes, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
    const bool inherit = attributes != nullptr && attributes->bInheritHandle;
    return AddOutputLocked(process, process.console, std::move(buffer), inherit);
}

BOOL SetConsoleActiveScreenBuffer(HANDLE output) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleActiveScreenBuffer")) return FALSE;
    auto end = detail::Lookup<ConsoleOutput>(output);
    if (!end) return Fail(ERROR_INVALID_HANDLE);
    end->console->active = end->buffer;
    detail::KernelChanged().notify_all();
    return TRUE;
}

BOOL GetConsoleCursorInfo(HANDLE output, PCONSOLE_CURSOR_INFO info) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GetConsoleCursorInfo")) return FALSE;
    ScreenBuffer* buffer = BufferOf(output);
    if (buffer == nullptr) return FALSE;
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    info->dwSize = buffer->cursor_size;
    info->bVisible = buffer->cursor_visible;
    return TRUE;
}

// The size is a percentage of the cell, 1 to 100.
BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO* info) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleCursorInfo")) return FALSE;
    ScreenBuffer* buffer = BufferOf(output);
    if (buffer == nullptr) return FALSE;
    if (info == nullptr || info->dwSize < 1 || info->dwSize > 100)
        return Fail(ERROR_INVALID_PARAMETER);
    buffer->cursor_size = info->dwSize;
    buffer->cursor_visible = info->bVisible != FALSE ? TRUE : FALSE;
    detail::KernelChanged().notify_all();
    return TRUE;
}

// As on Windows: the title's length in units, copied cut to fit the buffer with its zero.
DWORD GetConsoleTitleW(LPWSTR title, DWORD size) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("GetConsoleTitleW")) return 0;
    auto& console = detail::CurrentProcess().console;
    if (!console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (title == nullptr || size == 0) return static_cast<DWORD>(console->title.size());
    const size_t copied = std::min<size_t>(size - 1, console->title.size());
    std::copy_n(console->title.data(), copied, title);
    title[copied] = 0;
    return static_cast<DWORD>(console->title.size());
}

BOOL SetConsoleTitleW(LPCWSTR title) {
    std::lock_guard<std::mutex> guard(KernelLock());
    if (Faulted("SetConsoleTitleW")) return FALSE;
    auto& console = detail::CurrentProcess().console;
    if (!console) return Fail(ERROR_INVALID_HANDLE);
    console->title = title == nullptr ? std::wstring() : std::wstring(title);
    return TRUE;
}
