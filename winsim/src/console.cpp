// Consoles of the simulated Win32: screen buffers, input queues, Ctrl-C events.
#include "internal.h"

namespace winsim {

struct Console {};

namespace detail {

std::shared_ptr<Console> NewConsoleLocked() {
    return std::make_shared<Console>();
}

void AttachConsoleLocked(Process& process, std::shared_ptr<Console> console) {
    process.console = std::move(console);
}

}  // namespace detail
}  // namespace winsim

// Not modelled yet: every console call fails as on a process without a console.
namespace {
BOOL NoConsole() {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
}  // namespace

HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    NoConsole();
    return INVALID_HANDLE_VALUE;
}
BOOL AllocConsole() {
    return NoConsole();
}
BOOL FreeConsole() {
    return NoConsole();
}
BOOL SetConsoleMode(HANDLE, DWORD) {
    return NoConsole();
}
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE, BOOL) {
    return NoConsole();
}
BOOL GenerateConsoleCtrlEvent(DWORD, DWORD) {
    return NoConsole();
}
BOOL WriteConsoleInputA(HANDLE, const INPUT_RECORD*, DWORD, LPDWORD) {
    return NoConsole();
}
BOOL ReadConsoleInputA(HANDLE, PINPUT_RECORD, DWORD, LPDWORD) {
    return NoConsole();
}
BOOL PeekConsoleInputA(HANDLE, PINPUT_RECORD, DWORD, LPDWORD) {
    return NoConsole();
}
BOOL GetNumberOfConsoleInputEvents(HANDLE, LPDWORD) {
    return NoConsole();
}
BOOL WriteConsoleA(HANDLE, const void*, DWORD, LPDWORD, LPVOID) {
    return NoConsole();
}
BOOL GetConsoleScreenBufferInfo(HANDLE, PCONSOLE_SCREEN_BUFFER_INFO) {
    return NoConsole();
}
BOOL ReadConsoleOutputA(HANDLE, PCHAR_INFO, COORD, COORD, PSMALL_RECT) {
    return NoConsole();
}
BOOL WriteConsoleOutputA(HANDLE, const CHAR_INFO*, COORD, COORD, PSMALL_RECT) {
    return NoConsole();
}
BOOL SetConsoleScreenBufferSize(HANDLE, COORD) {
    return NoConsole();
}
BOOL SetConsoleWindowInfo(HANDLE, BOOL, const SMALL_RECT*) {
    return NoConsole();
}
BOOL SetConsoleCursorPosition(HANDLE, COORD) {
    return NoConsole();
}
BOOL SetConsoleTextAttribute(HANDLE, WORD) {
    return NoConsole();
}
