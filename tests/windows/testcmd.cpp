// testcmd: a small line-oriented command processor for the translator's tests under Wine, where
// the platform's own command processor dies on Ctrl-C.  It reads key events from its console
// input, logs every one of them, collects a line until Enter and runs a few tiny commands; a
// Ctrl-C event is caught, logged and answered.  Its standard output is the output translation
// pipe in simple mode and the console in advanced mode; it draws on the console through
// "CONOUT$" in either case.
//
// With --cat it only copies its standard input to its standard output, so that a host can see
// exactly the bytes it sent.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tool_helpers.h"
#include "win32.h"

namespace {

const char kUsage[] =
    "usage: testcmd [--log FILE] [--echo] [--prompt] [--wide] [--batch]\n"
    "       testcmd --cat\n"
    "\n"
    "Reads key events from the console, logs each (log file from --log or the environment\n"
    "variable TESTCMD_LOG), collects a line until Enter and runs it:\n"
    "  echo TEXT          print TEXT and a line feed\n"
    "  crlf TEXT          print TEXT, a carriage return and a line feed in one write\n"
    "  exit [N [TEXT]]    print TEXT and a line feed, if given, and end with status N\n"
    "                     (default 0)\n"
    "  mode raw|char|line set the console input mode and print it as read back\n"
    "  mode mouse|quickedit  mouse input on, with quick edit off or on\n"
    "  localecho on|off   print typed characters (off by default; --echo turns it on)\n"
    "  prompt [on|off]    print \"testcmd> \" before each line (--prompt turns it on)\n"
    "  oem                print bytes of the OEM code page above 0x7F\n"
    "  cp N               set the console's output code page\n"
    "  utf8               print UTF-8 bytes beyond ASCII\n"
    "  cls                clear the console screen\n"
    "  draw [ROW COL ATTR TEXT]  write TEXT at a place with an attribute (hex); without\n"
    "                     arguments a fixed picture in several colours\n"
    "  size               print the console buffer and window size\n"
    "  env NAME           print NAME=VALUE of an environment variable\n"
    "  lines N            print N numbered lines\n"
    "  sleep MS           pause\n"
    "  chatter MS         print a numbered line every MS ms from a thread of its own while\n"
    "                     reading on (0 stops it)\n"
    "  take N             raw input: read key events, up to 512 a call, until N characters\n"
    "                     came, then print their count, FNV-1a hash and the time of the last\n"
    "                     read (performance counter, ms); \"take ready\" when it starts\n"
    "  fullscreen         a full-screen program: a screen buffer of its own, shown, with\n"
    "                     the cursor hidden and the title \"fullscreen-title\"; shows its size\n"
    "                     on each buffer-size event; the key q puts back the start-up buffer\n"
    "                     and the title (logged as \"title TEXT\")\n"
    "A Ctrl-C event is logged as CTRL_C and answered with \"^C caught\"; a mouse event as\n"
    "\"mouse X,Y buttons=B flags=F state=S\" (hex).\n"
    "With --wide the key events are read as UTF-16 (each logged with its unit too) and the\n"
    "line holds them in the console's input code page.  With --batch up to 512 key events\n"
    "are read at a time.\n";

const char kPrompt[] = "testcmd> ";

HANDLE g_out;
HANDLE g_console_out = INVALID_HANDLE_VALUE;
HANDLE g_log = INVALID_HANDLE_VALUE;
bool g_echo = false;
bool g_prompt = false;
bool g_wide = false;
bool g_batch = false;

void Out(const std::string& text) {
    tools::WriteAll(g_out, text);
}

// The chatter thread's period in ms, 0 while it is to be quiet.
volatile LONG g_chatter = 0;
HANDLE g_chatter_thread = nullptr;

DWORD WINAPI Chatter(void*) {
    for (unsigned long line = 1;; ++line) {
        const LONG period = InterlockedCompareExchange(&g_chatter, 0, 0);
        if (period == 0) return 0;
        Out("chatter " + std::to_string(line) + "\n");
        Sleep(static_cast<DWORD>(period));
    }
}

// Starts, changes or (0) stops the chatter; a stop waits until the thread has printed its last.
void SetChatter(LONG period) {
    InterlockedExchange(&g_chatter, period);
    if (period != 0 && g_chatter_thread == nullptr) {
        g_chatter_thread = CreateThread(nullptr, 0, Chatter, nullptr, 0, nullptr);
    } else if (period == 0 && g_chatter_thread != nullptr) {
        WaitForSingleObject(g_chatter_thread, INFINITE);
        CloseHandle(g_chatter_thread);
        g_chatter_thread = nullptr;
    }
}

// One line to the log, written at once so that a script sees it while this program runs.
void Log(const char* format, ...) {
    if (g_log == INVALID_HANDLE_VALUE) return;
    SetFilePointer(g_log, 0, nullptr, FILE_END);
    va_list arguments;
    va_start(arguments, format);
    tools::WriteLineV(g_log, "", format, arguments);
    va_end(arguments);
}

BOOL WINAPI OnCtrl(DWORD type) {
    if (type != CTRL_C_EVENT) {
        Log("CTRL %lu", type);
        return FALSE;
    }
    Log("CTRL_C");
    Out("^C caught\n");
    return TRUE;
}

std::string Word(const std::string& text, size_t* at) {
    while (*at < text.size() && text[*at] == ' ') ++*at;
    size_t end = text.find(' ', *at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(*at, end - *at);
    *at = end < text.size() ? end + 1 : end;
    return word;
}

bool ConsoleInfo(CONSOLE_SCREEN_BUFFER_INFO* info) {
    if (GetConsoleScreenBufferInfo(g_console_out, info)) return true;
    char text[96];
    std::snprintf(text, sizeof text, "GetConsoleScreenBufferInfo failed: %lu\n", GetLastError());
    Out(text);
    return false;
}

// Writes TEXT at ROW, COL with ATTR and puts attribute and cursor back as they were.
void Draw(SHORT row, SHORT column, WORD attribute, const std::string& text) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ConsoleInfo(&info)) return;
    SetConsoleCursorPosition(g_console_out, {column, row});
    SetConsoleTextAttribute(g_console_out, attribute);
    DWORD written = 0;
    WriteConsoleA(g_console_out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    SetConsoleTextAttribute(g_console_out, info.wAttributes);
    SetConsoleCursorPosition(g_console_out, info.dwCursorPosition);
}

void Clear() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!ConsoleInfo(&info)) return;
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y;
    DWORD done = 0;
    FillConsoleOutputCharacterA(g_console_out, ' ', cells, {0, 0}, &done);
    FillConsoleOutputAttribute(g_console_out, info.wAttributes, cells, {0, 0}, &done);
    SetConsoleCursorPosition(g_console_out, {0, 0});
}

// The full-screen program's buffer: a heading and the buffer's and window's sizes.
void ShowFullScreen(HANDLE buffer) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(buffer, &info)) return;
    char text[128];
    std::snprintf(text, sizeof text, "FULL SCREEN PROGRAM\r\nsize %dx%d window %dx%d\r\n",
                  info.dwSize.X, info.dwSize.Y, info.srWindow.Right - info.srWindow.Left + 1,
                  info.srWindow.Bottom - info.srWindow.Top + 1);
    SetConsoleCursorPosition(buffer, {0, info.srWindow.Top});
    DWORD written = 0;
    WriteConsoleA(buffer, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    Log("fullscreen %dx%d", info.dwSize.X, info.dwSize.Y);
}

void FullScreen(HANDLE input) {
    WCHAR title[512];
    DWORD length = GetConsoleTitleW(title, 512);
    title[length < 512 ? length : 511] = 0;
    char narrow[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, title, -1, narrow, sizeof narrow, nullptr, nullptr);
    Log("title %s", narrow);
    HANDLE buffer =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        Out("CreateConsoleScreenBuffer failed\n");
        return;
    }
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    SetConsoleMode(input, mode | ENABLE_WINDOW_INPUT);
    const CONSOLE_CURSOR_INFO hidden{25, FALSE};
    SetConsoleCursorInfo(buffer, &hidden);
    SetConsoleTitleW(L"fullscreen-title");
    ShowFullScreen(buffer);
    SetConsoleActiveScreenBuffer(buffer);
    for (;;) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got)) break;
        if (got == 1 && record.EventType == WINDOW_BUFFER_SIZE_EVENT) ShowFullScreen(buffer);
        if (got == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.uChar.AsciiChar == 'q')
            break;
    }
    SetConsoleActiveScreenBuffer(g_console_out);
    SetConsoleTitleW(title);
    SetConsoleMode(input, mode);
    CloseHandle(buffer);
}

// The input mode a name stands for, from the current one.
bool ModeFor(const std::string& name, DWORD current, DWORD* mode) {
    const DWORD kBits = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    if (name == "raw") {
        *mode = current & ~kBits;
    } else if (name == "char") {
        *mode = (current & ~kBits) | ENABLE_PROCESSED_INPUT;
    } else if (name == "line") {
        *mode = current | kBits;
    } else if (name == "mouse" || name == "quickedit") {
        const DWORD quick_edit = name == "quickedit" ? ENABLE_QUICK_EDIT_MODE : 0;
        *mode = (current & ~ENABLE_QUICK_EDIT_MODE) | ENABLE_MOUSE_INPUT | ENABLE_EXTENDED_FLAGS |
                quick_edit;
    } else {
        return false;
    }
    return true;
}

// "take N": raw input, N characters of key presses read in calls of up to 512 events.
void Take(HANDLE input, unsigned long count) {
    DWORD before = 0;
    GetConsoleMode(input, &before);
    SetConsoleMode(input, 0);
    Out("take ready\n");
    static INPUT_RECORD records[512];
    unsigned long taken = 0;
    unsigned hash = 2166136261u;
    LARGE_INTEGER last = {};
    while (taken < count) {
        DWORD got = 0;
        if (!ReadConsoleInputA(input, records, 512, &got)) break;
        QueryPerformanceCounter(&last);
        for (DWORD i = 0; i < got && taken < count; ++i) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType != KEY_EVENT || !key.bKeyDown || key.uChar.AsciiChar == 0)
                continue;
            hash = (hash ^ static_cast<unsigned char>(key.uChar.AsciiChar)) * 16777619u;
            ++taken;
        }
    }
    SetConsoleMode(input, before);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    char text[128];
    std::snprintf(text, sizeof text, "took %lu hash %08x at %.3f\n", taken, hash,
                  static_cast<double>(last.QuadPart) * 1000.0 / frequency.QuadPart);
    Out(text);
    Log("took %lu", taken);
}

// Runs one command line; returns false when the program is to end with *status.
bool RunLine(HANDLE input, const std::string& line, int* status) {
    size_t at = 0;
    std::string command = Word(line, &at);
    std::string rest = line.substr(at);
    char text[256];
    if (command.empty()) {
        // nothing to do
    } else if (command == "echo") {
        Out(rest + "\n");
    } else if (command == "crlf") {
        Out(rest + "\r\n");
    } else if (command == "exit") {
        size_t words = 0;
        std::string number = Word(rest, &words);
        *status = number.empty() ? 0 : std::atoi(number.c_str());
        // Last words: written, and the program ends at once.
        if (words < rest.size()) Out(rest.substr(words) + "\n");
        Log("exit %d", *status);
        return false;
    } else if (command == "mode") {
        DWORD before = 0;
        DWORD wanted = 0;
        GetConsoleMode(input, &before);
        if (!ModeFor(rest, before, &wanted)) {
            Out("mode needs raw, char, line, mouse or quickedit\n");
        } else {
            BOOL ok = SetConsoleMode(input, wanted);
            DWORD error = ok ? 0 : GetLastError();
            DWORD after = 0;
            GetConsoleMode(input, &after);
            std::snprintf(text, sizeof text, "mode 0x%lx set 0x%lx %s %lu, now 0x%lx\n", before,
                          wanted, ok ? "ok" : "failed", error, after);
            Out(text);
            Log("mode 0x%lx set 0x%lx %s %lu, now 0x%lx", before, wanted, ok ? "ok" : "failed",
                error, after);
        }
    } else if (command == "take") {
        Take(input, std::strtoul(rest.c_str(), nullptr, 10));
    } else if (command == "localecho") {
        g_echo = rest == "on";
    } else if (command == "prompt") {
        g_prompt = rest != "off";
    } else if (command == "oem") {
        // In code page 437: e acute, e grave, sharp s, a horizontal line.
        Out("oem \x82\x8a\xe1\xc4\n");
    } else if (command == "cp") {
        const UINT code_page = static_cast<UINT>(std::strtoul(rest.c_str(), nullptr, 10));
        Out("cp " + rest + (SetConsoleOutputCP(code_page) ? " ok\n" : " failed\n"));
    } else if (command == "utf8") {
        // "café ─│┌ 日本"
        Out("utf8 caf\xc3\xa9 \xe2\x94\x80\xe2\x94\x82\xe2\x94\x8c \xe6\x97\xa5\xe6\x9c\xac\n");
    } else if (command == "cls") {
        Clear();
    } else if (command == "draw") {
        if (rest.empty()) {
            Draw(1, 2, 0x07, "plain grey on black");
            Draw(2, 2, 0x70, "black on grey");
            Draw(3, 2, 0x20, "black on green");
            Draw(4, 2, 0x1F, "white on blue");
            Draw(5, 2, 0x0A, "green on black");
            Draw(6, 60, 0x70, "    ");
        } else {
            int row = std::atoi(Word(line, &at).c_str());
            int column = std::atoi(Word(line, &at).c_str());
            unsigned long attribute = std::strtoul(Word(line, &at).c_str(), nullptr, 16);
            Draw(static_cast<SHORT>(row), static_cast<SHORT>(column), static_cast<WORD>(attribute),
                 line.substr(at));
        }
    } else if (command == "size") {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (ConsoleInfo(&info)) {
            std::snprintf(text, sizeof text, "size %dx%d window %dx%d\n", info.dwSize.X,
                          info.dwSize.Y, info.srWindow.Right - info.srWindow.Left + 1,
                          info.srWindow.Bottom - info.srWindow.Top + 1);
            Out(text);
        }
    } else if (command == "env") {
        char value[1024];
        DWORD length = GetEnvironmentVariableA(rest.c_str(), value, sizeof value);
        if (length == 0 || length >= sizeof value) {
            Out(rest + " is not set\n");
        } else {
            Out(rest + "=" + value + "\n");
        }
    } else if (command == "lines") {
        int count = std::atoi(rest.c_str());
        for (int i = 1; i <= count; ++i) Out("line " + std::to_string(i) + "\n");
    } else if (command == "sleep") {
        Sleep(static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10)));
    } else if (command == "fullscreen") {
        FullScreen(input);
    } else if (command == "chatter") {
        SetChatter(static_cast<LONG>(std::min(std::strtoul(rest.c_str(), nullptr, 10), 1000ul)));
    } else {
        Out("unknown command: " + command + "\n");
    }
    return true;
}

int CopyInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) return 0;
        Out(std::string(buffer, got));
    }
}

std::string Hex4(WCHAR unit) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(unit));
    return text;
}

int Run() {
    // Key events come from the console, also when the standard input is a pipe (started by a
    // host rather than by the translator).
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {
        input = tools::OpenConsole("CONIN$");
        if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
            Log("no console input: %lu", GetLastError());
            return 3;
        }
    }
    Log("start mode 0x%lx", mode);
    std::string line;
    if (g_prompt) Out(kPrompt);
    static INPUT_RECORD records[512];
    DWORD got = 0;
    DWORD next = 0;
    for (;;) {
        if (next == got) {
            next = got = 0;
            if (!(g_wide ? ReadConsoleInputW : ReadConsoleInputA)(input, records, g_batch ? 512 : 1,
                                                                  &got)) {
                Log("ReadConsoleInputA failed: %lu", GetLastError());
                return 3;
            }
            if (got == 0) continue;
        }
        const INPUT_RECORD record = records[next++];
        if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
            COORD size = record.Event.WindowBufferSizeEvent.dwSize;
            Log("buffer-size %dx%d", size.X, size.Y);
            continue;
        }
        if (record.EventType == MOUSE_EVENT) {
            const MOUSE_EVENT_RECORD& mouse = record.Event.MouseEvent;
            Log("mouse %d,%d buttons=0x%lx flags=0x%lx state=0x%lx", mouse.dwMousePosition.X,
                mouse.dwMousePosition.Y, mouse.dwButtonState, mouse.dwEventFlags,
                mouse.dwControlKeyState);
            continue;
        }
        if (record.EventType != KEY_EVENT) {
            Log("event %u", record.EventType);
            continue;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
        if (g_wide) {
            // The line holds what an A read would give: the unit in the input code page.
            char narrow = '?';
            WideCharToMultiByte(GetConsoleCP(), 0, &key.uChar.UnicodeChar, 1, &narrow, 1, nullptr,
                                nullptr);
            c = static_cast<unsigned char>(key.uChar.UnicodeChar == 0 ? 0 : narrow);
        }
        Log("key %s vk=0x%02x scan=0x%02x char=0x%02x state=0x%04lx repeat=%u%s",
            key.bKeyDown ? "down" : "up", key.wVirtualKeyCode, key.wVirtualScanCode, c,
            key.dwControlKeyState, key.wRepeatCount,
            g_wide ? (" unicode=" + Hex4(key.uChar.UnicodeChar)).c_str() : "");
        if (!key.bKeyDown) continue;
        if (key.wVirtualKeyCode == VK_RETURN || c == '\r') {
            if (g_echo) Out("\n");
            Log("line: %s", line.c_str());
            int status = 0;
            if (!RunLine(input, line, &status)) return status;
            line.clear();
            if (g_prompt) Out(kPrompt);
        } else if (c == '\b') {
            if (!line.empty()) {
                line.pop_back();
                if (g_echo) Out("\b \b");
            }
        } else if (c != 0) {
            line += static_cast<char>(c);
            if (g_echo) Out(std::string(1, static_cast<char>(c)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string log_path;
    bool cat = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--log" && i + 1 < argc) {
            log_path = argv[++i];
        } else if (word == "--echo") {
            g_echo = true;
        } else if (word == "--prompt") {
            g_prompt = true;
        } else if (word == "--wide") {
            g_wide = true;
        } else if (word == "--batch") {
            g_batch = true;
        } else if (word == "--cat") {
            cat = true;
        } else {
            Out(kUsage);
            return word == "--help" ? 0 : 2;
        }
    }
    if (cat) return CopyInput();
    if (log_path.empty()) {
        char path[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("TESTCMD_LOG", path, sizeof path);
        if (length > 0 && length < sizeof path) log_path = path;
    }
    if (!log_path.empty()) {
        g_log = CreateFileA(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    g_console_out = tools::OpenConsole("CONOUT$");
    // An ignore flag inherited from the starting process would keep Ctrl-C from the handler.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnCtrl, TRUE);
    int status = Run();
    Log("end %d", status);
    return status;
}
