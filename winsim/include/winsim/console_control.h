// Test control of simulated consoles: giving a simulated process a console with chosen limits,
// changing those limits while programs run, and reading back what the console holds.  Product
// code never includes this.
//
// Every function below works on the console that `process` is attached to and throws
// std::logic_error when it has none.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "winsim/control.h"

namespace winsim {
namespace test {

// A new console.  The defaults are those of a console that Wine creates.
struct ConsoleSettings {
    COORD buffer = {80, 150};
    SMALL_RECT window = {0, 0, 79, 24};
    // The largest window the display can show: SetConsoleWindowInfo refuses a larger one.
    COORD largest_window = {160, 62};
    // Console programs run full screen: SetConsoleWindowInfo fails with ERROR_FULLSCREEN_MODE.
    bool full_screen = false;
    // The largest destination buffer, in cells (buffer size X times Y), that one
    // ReadConsoleOutputA accepts; a larger one fails with ERROR_NOT_ENOUGH_MEMORY.  Consoles
    // that cap a read at 64 KB take 16384 cells.  0: no limit.
    DWORD read_limit = 0;
    DWORD input_mode = 0x1f7;
    DWORD output_mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    WORD attributes = 0x07;
};

// Gives the process a console of its own, before it starts or while it runs (it leaves the
// console it had).  Throws std::logic_error for settings no console could have (a window that
// does not fit in the buffer or is larger than the largest window).
void NewConsole(SimProcess& process, const ConsoleSettings& settings = {});
// Attaches the process to the console of `owner`, as a program started in that console.
void ShareConsole(SimProcess& process, SimProcess& owner);
bool HasConsole(SimProcess& process);

// Changes while programs run.
void SetFullScreen(SimProcess& process, bool full_screen);
void SetLargestWindow(SimProcess& process, COORD size);
void SetReadLimit(SimProcess& process, DWORD cells);
// Sets the input mode as the console program of the moment would with SetConsoleMode.
void SetInputMode(SimProcess& process, DWORD mode);

// What the console holds: the screen buffer it shows (a program's own, when it shows one).
// ScreenInfo answers as GetConsoleScreenBufferInfo would (buffer size, cursor, current
// attributes, window, largest window).
CONSOLE_SCREEN_BUFFER_INFO ScreenInfo(SimProcess& process);
// The characters of one buffer row in code page 437, without its trailing blanks; empty for a row
// outside the buffer.
std::string ScreenRow(SimProcess& process, int row);
// The same row as the cells hold it, in UTF-8.
std::string ScreenRowUtf8(SimProcess& process, int row);
// One cell, its character in UTF-16; a cell outside the buffer reads as character 0 with attributes
// 0.
CHAR_INFO ScreenCell(SimProcess& process, int column, int row);
DWORD InputMode(SimProcess& process);
DWORD OutputMode(SimProcess& process);
// Every record written with WriteConsoleInputA, in order, whether it has been read since or
// not; key records that raised a Ctrl-C event instead of being queued are included.
std::vector<INPUT_RECORD> InputLog(SimProcess& process);
// Records waiting in the input queue.
DWORD PendingInput(SimProcess& process);
// The control events (CTRL_C_EVENT, CTRL_BREAK_EVENT) raised in the console, in order, by
// GenerateConsoleCtrlEvent or by a Ctrl-C key record.
std::vector<DWORD> CtrlEvents(SimProcess& process);

// Runs `hook` on the calling thread right after each ReadConsoleOutputA or ReadConsoleOutputW that
// succeeded, of any console, before it returns (for example to print into the console in the
// middle of a program's reads); null removes it, and so does Reset.  The hook may call the
// console functions; a read it makes runs the hook again.
void AfterConsoleRead(std::function<void()> hook);

// Whether the process ignores Ctrl-C events (SetConsoleCtrlHandler with no routine and TRUE).
// Works for a process without a console too.
bool IgnoresCtrlC(SimProcess& process);

}  // namespace test
}  // namespace winsim
