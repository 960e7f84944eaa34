// Helpers shared by the Windows tool and test programs (the loopback hosts and their per-login
// helper, console-screen, rexec-local, login-host, testcmd, login-bench): whole writes, one-line
// messages, number parsing, finding a sibling program, and the console chores of a program that
// hosts another in a console of its own.  These programs build for Windows only and use the
// platform directly.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tools {

// The most one WriteFile call is given: a size_t does not fit a DWORD.
const DWORD kWriteChunk = 65536;

// Writes the whole buffer.  False when a write fails (GetLastError says why) or takes nothing.
inline bool WriteAll(HANDLE handle, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > kWriteChunk ? kWriteChunk : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

inline bool WriteAll(HANDLE handle, const std::string& data) {
    return WriteAll(handle, data.data(), data.size());
}

// printf-style formatting into a text of whatever length it takes.
inline std::string FormatV(const char* format, va_list arguments) {
    std::string text(512, '\0');
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        int length = std::vsnprintf(&text[0], text.size(), format, copy);
        va_end(copy);
        if (length >= 0 && static_cast<size_t>(length) < text.size()) {
            text.resize(length);
            return text;
        }
        // A formatter that only says "too small" gets twice the room, up to a sane bound.
        size_t wanted = length >= 0 ? static_cast<size_t>(length) + 1 : text.size() * 2;
        if (wanted > (64u << 20)) return "";
        text.assign(wanted, '\0');
    }
}

inline std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatV(format, arguments);
    va_end(arguments);
    return text;
}

// One line in one write, so that the lines of several threads or programs sharing the handle
// never mix mid-line: the prefix, the formatted text and a line feed.
inline bool WriteLineV(HANDLE handle, const std::string& prefix, const char* format,
                       va_list arguments) {
    return WriteAll(handle, prefix + FormatV(format, arguments) + "\n");
}

inline bool AsksForHelp(const char* word) {
    return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0;
}

// A decimal number of digits alone (no sign, no blanks), at most limit.
inline bool ParseNumber(const char* text, unsigned long long limit, unsigned long long* value) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long long parsed = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        unsigned digit = static_cast<unsigned>(*c - '0');
        if (parsed > (limit - digit) / 10 || digit > limit) return false;
        parsed = parsed * 10 + digit;
    }
    *value = parsed;
    return true;
}

inline bool ParseNumber(const char* text, unsigned long limit, unsigned long* value) {
    unsigned long long parsed = 0;
    if (!ParseNumber(text, static_cast<unsigned long long>(limit), &parsed)) return false;
    *value = static_cast<unsigned long>(parsed);
    return true;
}

inline bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* value) {
    return text.find('\0') == std::string::npos && ParseNumber(text.c_str(), limit, value);
}

// This program's folder with its trailing backslash; empty when its path cannot be had.
inline std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return "";
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? "" : folder.substr(0, slash + 1);
}

// A file, not a folder, is there.
inline bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Where the program `name` is: installed, the programs sit side by side; in the build tree each
// has a folder of its own, build_folder, two levels up from this program's.
inline std::string SiblingProgram(const std::string& name, const std::string& build_folder) {
    std::string folder = ProgramFolder();
    std::string path = folder + name;
    if (!FileExists(path)) path = folder + "..\\..\\" + build_folder + "\\" + name;
    return path;
}

// Ctrl-C events that a hosted program raises in the console it shares with this one reach this
// process too.
inline BOOL WINAPI IgnoreCtrl(DWORD) {
    return TRUE;
}

// Leaves whatever console this process has and makes a new one of its own, under the display.
// AllocConsole replaces the standard handles: a program that goes on printing saves them first.
// False when no console could be made (GetLastError says why).
inline bool MakeOwnConsole(bool ignore_ctrl_c) {
    FreeConsole();
    if (!AllocConsole()) return false;
    if (ignore_ctrl_c) SetConsoleCtrlHandler(IgnoreCtrl, TRUE);
    return true;
}

// "CONOUT$" or "CONIN$" of this process's console, for reading and writing.
inline HANDLE OpenConsole(const char* name, bool inheritable = false) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       inheritable ? &security : nullptr, OPEN_EXISTING, 0, nullptr);
}

// Starts a program with the three handles as its standard input, output and error.  It shares
// this process's console and inherits every inheritable handle.  With application null the
// command line's first word names the program.
inline bool StartWithStdHandles(const char* application, std::string command_line, HANDLE input,
                                HANDLE output, HANDLE error, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    return CreateProcessA(application, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, process) != FALSE;
}

// This program's ends of the three pipes of a program it hosts.
struct HostedPipes {
    HANDLE input = nullptr;    // written here: the program's standard input
    HANDLE output = nullptr;   // read here: its standard output
    HANDLE control = nullptr;  // read here: its standard error
};

enum class StartStep { kStarted, kPipes, kProcess };

inline void CloseAndClear(HANDLE* handle) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
}

// Makes three pipes and starts command_line on them, sharing this console.  Afterwards only the
// program holds its ends (this process's copies are closed, and its own ends are never
// inherited), so each pipe ends as soon as the program lets go of it.  On failure returns the
// step that failed, GetLastError saying why, with nothing left open and *process zeroed.
// output_buffer: the buffer size asked for the program's standard output pipe (0: the default).
inline StartStep StartOnPipes(const std::string& command_line, HostedPipes* pipes,
                              PROCESS_INFORMATION* process, DWORD output_buffer = 0) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE child_input = nullptr;
    HANDLE child_output = nullptr;
    HANDLE child_control = nullptr;
    StartStep step = StartStep::kStarted;
    if (!CreatePipe(&child_input, &pipes->input, &inheritable, 0) ||
        !CreatePipe(&pipes->output, &child_output, &inheritable, output_buffer) ||
        !CreatePipe(&pipes->control, &child_control, &inheritable, 0)) {
        step = StartStep::kPipes;
    } else {
        SetHandleInformation(pipes->input, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(pipes->output, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(pipes->control, HANDLE_FLAG_INHERIT, 0);
        if (!StartWithStdHandles(nullptr, command_line, child_input, child_output, child_control,
                                 process)) {
            step = StartStep::kProcess;
        }
    }
    DWORD error = GetLastError();
    CloseAndClear(&child_input);
    CloseAndClear(&child_output);
    CloseAndClear(&child_control);
    if (step != StartStep::kStarted) {
        CloseAndClear(&pipes->input);
        CloseAndClear(&pipes->output);
        CloseAndClear(&pipes->control);
        *process = PROCESS_INFORMATION{};
        SetLastError(error);
    }
    return step;
}

// Calls list(ids, capacity), which returns how many ids there are and fills the buffer only when
// they all fit (as GetConsoleProcessList does), with a larger buffer until they fit.  Empty when
// the list fails or keeps outgrowing the buffer.
template <typename List>
std::vector<DWORD> ListGrowing(List list, DWORD capacity = 64) {
    std::vector<DWORD> ids(capacity > 0 ? capacity : 1);
    for (int tries = 0; tries < 8; ++tries) {
        DWORD count = list(ids.data(), static_cast<DWORD>(ids.size()));
        if (count <= ids.size()) {
            ids.resize(count);
            return ids;
        }
        // Some room for processes that join meanwhile.
        ids.assign(count + 16, 0);
    }
    return {};
}

// The ids of the processes attached to this console, this one among them.
inline std::vector<DWORD> ConsoleProcessIds() {
    return ListGrowing(
        [](DWORD* ids, DWORD capacity) { return GetConsoleProcessList(ids, capacity); });
}

// Ends every other process attached to this console (what a hosted program left behind, a
// command its command processor had started, say) and gives each two seconds to go.  report,
// where given, hears of each one before it is ended.
inline void EndConsoleLeftovers(void (*report)(DWORD id) = nullptr) {
    for (DWORD id : ConsoleProcessIds()) {
        if (id == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr) continue;
        if (report != nullptr) report(id);
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 2000);
        CloseHandle(process);
    }
}

// The head of a screen dump: buffer size, window and cursor, a line each.
inline std::string ScreenHead(const CONSOLE_SCREEN_BUFFER_INFO& info) {
    return Format("size %d %d\nwindow %d %d %d %d\ncursor %d %d\n", info.dwSize.X, info.dwSize.Y,
                  info.srWindow.Left, info.srWindow.Top, info.srWindow.Right, info.srWindow.Bottom,
                  info.dwCursorPosition.X, info.dwCursorPosition.Y);
}

// A row of cells as text: an empty cell shows as a blank, trailing blanks are cut.
inline std::string RowText(const CHAR_INFO* cells, size_t count) {
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        char c = cells[i].Char.AsciiChar;
        line += c == '\0' ? ' ' : c;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

// A row of wide cells (ReadConsoleOutputW) as UTF-8 text: the second half of a character marked
// as taking two cells is left out, an empty cell shows as a blank, trailing blanks are cut.
inline std::string WideRowText(const CHAR_INFO* cells, size_t count) {
    std::wstring units;
    for (size_t i = 0; i < count; ++i) {
        if (cells[i].Attributes & COMMON_LVB_TRAILING_BYTE) continue;
        WCHAR c = cells[i].Char.UnicodeChar;
        units += c == 0 ? L' ' : c;
    }
    units.erase(units.find_last_not_of(L' ') + 1);
    std::string line(units.size() * 3, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()),
                                     &line[0], static_cast<int>(line.size()), nullptr, nullptr);
    line.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return line;
}

// A row's attributes, the low byte of each cell in hex.
inline std::string RowAttributes(const CHAR_INFO* cells, size_t count) {
    std::string hex;
    for (size_t i = 0; i < count; ++i) hex += Format("%02x", cells[i].Attributes & 0xFF);
    return hex;
}

// The first `rows` rows of the screen buffer, `columns` wide, appended to text a line each (see
// RowText, or WideRowText with `wide`), and where attributes is given their attributes to it a
// line each.  False when a row cannot be read (GetLastError says why).
inline bool ReadScreenRows(HANDLE console, SHORT columns, SHORT rows, std::string* text,
                           std::string* attributes, bool wide = false) {
    if (columns <= 0) return true;
    std::vector<CHAR_INFO> row(columns);
    for (SHORT y = 0; y < rows; ++y) {
        SMALL_RECT from = {0, y, static_cast<SHORT>(columns - 1), y};
        if (!(wide ? ReadConsoleOutputW : ReadConsoleOutputA)(console, row.data(), {columns, 1},
                                                              {0, 0}, &from))
            return false;
        *text +=
            (wide ? WideRowText(row.data(), row.size()) : RowText(row.data(), row.size())) + "\n";
        if (attributes != nullptr) *attributes += RowAttributes(row.data(), row.size()) + "\n";
    }
    return true;
}

}  // namespace tools
