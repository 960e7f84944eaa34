// login-host: plays the telnet or rlogin server for one login on this machine, so that scripts
// can drive the translator under Wine.  It makes a console of its own, starts the program in it
// with three pipes as its standard handles (socket input, socket output, control channel), and
// runs a small scenario of steps: it sends client bytes and window-size messages, waits for
// texts on the socket output and bytes on the control channel, reads its console's screen and
// checks how the program ends.  Every wait has a limit; the program is ended if it still runs.
//
// The program shares this console (no CREATE_NEW_CONSOLE): under Wine the console host that a
// new console brings would inherit the pipe handles and keep them open after the program has
// closed them.  Sharing the console also means that the screen read here is the one the program
// and its command processor see, and that key events written here reach them.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_helpers.h"
#include "win32.h"

namespace {

const char kUsage[] =
    "usage: login-host [options] COMMAND-LINE [STEP...]\n"
    "\n"
    "Starts COMMAND-LINE (one argument, e.g. \"command-translator.exe telnet vt100\") in a\n"
    "console of this program's own, its standard input, output and error being the socket\n"
    "input, the socket output and the control channel, and runs the steps of --script FILE\n"
    "and then the STEP arguments, each one step.\n"
    "\n"
    "  --script FILE       steps, one a line; blank lines and lines starting with # skipped\n"
    "  --output FILE       write the whole socket output there, escaped (see below)\n"
    "  --output-raw FILE   write the whole socket output there, byte for byte\n"
    "  --control FILE      write the control channel there: per read, the milliseconds since\n"
    "                      the start and the bytes in hex\n"
    "  --console CxR       make the console buffer and window C columns by R rows first\n"
    "  --limit SECONDS     end everything after this long (default 120)\n"
    "  --output-buffer N   make the socket output pipe with a buffer of N bytes\n"
    "\n"
    "Steps (TEXT takes the escapes \\r \\n \\t \\e \\a \\b \\0 \\\\ \\\" \\xNN; it is the rest\n"
    "of the step, or a \"quoted\" text; in the expect steps a last word of digits after it is\n"
    "the limit MS, so quote a text that ends in a number there):\n"
    "  send TEXT              write the bytes to the socket input\n"
    "  sendfile FILE          write the file's bytes to the socket input\n"
    "  telnet-size ROWS COLS  send a telnet state message (0xFF and a 92-byte block)\n"
    "  rlogin-size ROWS COLS  send an rlogin window-size message (12 bytes)\n"
    "  close-input            close the socket input\n"
    "  hold-output            stop reading the socket output (a read under way completes)\n"
    "  release-output         read the socket output again\n"
    "  expect TEXT [MS]       wait until the socket output holds TEXT after the last match\n"
    "                         (default limit 10000 ms); the match point moves behind it\n"
    "  expect-no TEXT [MS]    wait MS (default 500), then fail if TEXT came after the match\n"
    "                         point\n"
    "  expect-control HEX [MS]  the same for the control channel, bytes given in hex\n"
    "  expect-exit CODE [MS]  wait until the program ends with exit status CODE and both its\n"
    "                         socket output and control channel have ended\n"
    "  expect-size CxR [MS]   wait until the buffer the console shows and its window are C by R\n"
    "  mark                   move both match points to the end of what has arrived\n"
    "  quiet MS [LIMIT]       wait until nothing has arrived on the socket output for MS\n"
    "                         (fails after LIMIT, default 10000)\n"
    "  wait MS                pause\n"
    "  key TEXT               write key events for TEXT into the console input\n"
    "  ctrl-c                 raise a Ctrl-C event in the console (this program ignores it)\n"
    "  screen FILE            write the buffer the console shows to FILE (size, window, cursor, "
    "rows)\n"
    "                         and its attributes in hex to FILE.attr, and the socket\n"
    "                         output received so far, byte for byte, to FILE.raw\n"
    "  screen-utf8 FILE       the same with the wide cells, the rows in UTF-8\n"
    "  size                   print the console buffer and window size\n"
    "  note TEXT              print TEXT\n"
    "\n"
    "The escaped output shows printable bytes as they are, \\r \\n \\t \\\\ and \\xNN for the\n"
    "rest, with a line break after each \\n.  Exit status: 0 when every expectation held.\n";

const DWORD kDefaultExpectLimit = 10000;

HANDLE g_stdout;
DWORD g_start;

DWORD Now() {
    return GetTickCount() - g_start;
}

// One line to this program's saved standard output, with the time since the start.
void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    tools::WriteLineV(g_stdout, tools::Format("[%6lu ms] ", Now()), format, arguments);
    va_end(arguments);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes a scenario text stands for; false (with the reason) on a bad escape.
bool Unescape(const std::string& text, std::string* bytes, std::string* problem) {
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *bytes += text[i];
            continue;
        }
        if (++i == text.size()) {
            *problem = "a lone backslash at the end";
            return false;
        }
        switch (text[i]) {
            case 'r':
                *bytes += '\r';
                break;
            case 'n':
                *bytes += '\n';
                break;
            case 't':
                *bytes += '\t';
                break;
            case 'e':
                *bytes += '\x1b';
                break;
            case 'a':
                *bytes += '\a';
                break;
            case 'b':
                *bytes += '\b';
                break;
            case '0':
                *bytes += '\0';
                break;
            case '\\':
            case '"':
                *bytes += text[i];
                break;
            case 'x': {
                int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    *problem = "\\x needs two hex digits";
                    return false;
                }
                *bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                *problem = std::string("unknown escape \\") + text[i];
                return false;
        }
    }
    return true;
}

// Bytes as the escapes of a scenario text; with break_lines each \n is followed by a line break.
// Backslashes stay as they are when keep_backslashes is set (for showing a step as written).
std::string Escape(const std::string& bytes, bool break_lines, bool keep_backslashes = false) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\' && !keep_backslashes) {
            text += "\\\\";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += break_lines ? "\\n\n" : "\\n";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

std::string Hex(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", c);
        if (!text.empty()) text += ' ';
        text += hex;
    }
    return text;
}

// Hex digits in pairs; blanks between the pairs are allowed.
bool ParseHex(const std::string& text, std::string* bytes) {
    bytes->clear();
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        int high = HexDigit(text[i]);
        int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) return false;
        *bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !bytes->empty();
}

using tools::ParseNumber;

// "CxR", both 1 to 9999.
bool ParseSize(const std::string& text, SHORT* columns, SHORT* rows) {
    size_t x = text.find('x');
    unsigned long c = 0;
    unsigned long r = 0;
    if (x == std::string::npos || !ParseNumber(text.substr(0, x), 9999, &c) ||
        !ParseNumber(text.substr(x + 1), 9999, &r) || c == 0 || r == 0) {
        return false;
    }
    *columns = static_cast<SHORT>(c);
    *rows = static_cast<SHORT>(r);
    return true;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        size_t end = text.find(' ', i);
        if (end == std::string::npos) end = text.size();
        if (end > i) words.push_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

// A step's text argument: a "quoted" text, or the rest of the step; either may be followed by a
// last word of digits, the limit in milliseconds, where the step takes one (limit not null).
bool ParseTextAndLimit(const std::string& rest, std::string* bytes, DWORD* limit,
                       std::string* problem) {
    std::string text = rest;
    std::string tail;
    if (!rest.empty() && rest[0] == '"') {
        size_t i = 1;
        while (i < rest.size() && rest[i] != '"') i += rest[i] == '\\' ? 2 : 1;
        if (i >= rest.size()) {
            *problem = "no closing quote";
            return false;
        }
        text = rest.substr(1, i - 1);
        tail = rest.substr(i + 1);
        while (!tail.empty() && tail[0] == ' ') tail.erase(0, 1);
    } else if (limit != nullptr) {
        size_t space = rest.find_last_of(' ');
        unsigned long value = 0;
        if (space != std::string::npos && space > 0 &&
            ParseNumber(rest.substr(space + 1), 3600000, &value)) {
            text = rest.substr(0, space);
            tail = rest.substr(space + 1);
        }
    }
    if (!tail.empty()) {
        unsigned long value = 0;
        if (limit == nullptr) {
            *problem = "text after the closing quote: " + tail;
            return false;
        }
        if (!ParseNumber(tail, 3600000, &value)) {
            *problem = "the limit must be milliseconds: " + tail;
            return false;
        }
        *limit = value;
    }
    return Unescape(text, bytes, problem);
}

std::string ReadWholeFile(const std::string& path, bool* ok) {
    std::string data;
    *ok = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return data;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
    *ok = !std::ferror(file);
    std::fclose(file);
    return data;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    return std::fclose(file) == 0 && ok;
}

// Wakes the scenario whenever a reader thread has taken something in or seen its pipe end.
HANDLE g_arrived;

// What one of the program's output pipes delivered, collected by its own reader thread.
// Its lock is ready from the start: the end of a login reads both streams also when the program
// never started.
struct Stream {
    Stream() { InitializeCriticalSection(&lock); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    HANDLE pipe = nullptr;
    HANDLE thread = nullptr;
    CRITICAL_SECTION lock;
    std::string data;
    std::string timeline;  // per read: "MS HEX\n"
    bool ended = false;
    DWORD end_error = 0;
    HANDLE reading = nullptr;  // the reader reads while this is set
};

DWORD WINAPI ReaderThread(void* parameter) {
    Stream* stream = static_cast<Stream*>(parameter);
    char buffer[4096];
    for (;;) {
        WaitForSingleObject(stream->reading, INFINITE);
        DWORD got = 0;
        BOOL ok = ReadFile(stream->pipe, buffer, sizeof buffer, &got, nullptr);
        DWORD error = ok ? 0 : GetLastError();
        EnterCriticalSection(&stream->lock);
        if (ok && got > 0) {
            stream->data.append(buffer, got);
            char time[16];
            std::snprintf(time, sizeof time, "%lu ", Now());
            stream->timeline += time + Hex(std::string(buffer, got)) + "\n";
        }
        if (!ok) {
            stream->ended = true;
            stream->end_error = error;
        }
        LeaveCriticalSection(&stream->lock);
        SetEvent(g_arrived);
        if (!ok) return 0;
    }
}

struct Options {
    std::string command_line;
    std::string script;
    std::vector<std::string> steps;
    std::string output;
    std::string output_raw;
    std::string control;
    SHORT columns = 0;
    SHORT rows = 0;
    unsigned long limit_seconds = 120;
    unsigned long output_buffer = 0;
};

std::string ParseOptions(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string word = argv[i];
        if (word.size() < 2 || word[0] != '-' || word[1] != '-') break;
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (next == nullptr) return word + " needs a value";
        ++i;
        if (word == "--script") {
            options->script = next;
        } else if (word == "--output") {
            options->output = next;
        } else if (word == "--output-raw") {
            options->output_raw = next;
        } else if (word == "--control") {
            options->control = next;
        } else if (word == "--console") {
            if (!ParseSize(next, &options->columns, &options->rows)) {
                return "--console needs COLUMNSxROWS";
            }
        } else if (word == "--output-buffer") {
            if (!ParseNumber(next, 1 << 20, &options->output_buffer)) {
                return "--output-buffer needs a number of bytes";
            }
        } else if (word == "--limit") {
            if (!ParseNumber(next, 3600, &options->limit_seconds) || options->limit_seconds == 0) {
                return "--limit needs 1 to 3600 seconds";
            }
        } else {
            return "unknown option " + word;
        }
    }
    if (i >= argc) return "no command line given";
    options->command_line = argv[i++];
    for (; i < argc; ++i) options->steps.push_back(argv[i]);
    return "";
}

class Login {
  public:
    ~Login() {
        if (process_.hProcess != nullptr) CloseHandle(process_.hProcess);
    }

    bool Start(const Options& options) {
        // AllocConsole replaces the standard handles; what this program says goes to the saved
        // ones.
        if (!tools::MakeOwnConsole(true)) {
            return Problem("AllocConsole failed: %lu", GetLastError());
        }
        console_out_ = tools::OpenConsole("CONOUT$");
        console_in_ = tools::OpenConsole("CONIN$");
        if (console_out_ == INVALID_HANDLE_VALUE || console_in_ == INVALID_HANDLE_VALUE) {
            return Problem("opening the console failed: %lu", GetLastError());
        }
        if (options.columns > 0 && !SetConsoleSize(options.columns, options.rows)) return false;

        tools::HostedPipes pipes;
        tools::StartStep step = tools::StartOnPipes(options.command_line, &pipes, &process_,
                                                    static_cast<DWORD>(options.output_buffer));
        if (step == tools::StartStep::kPipes) {
            return Problem("CreatePipe failed: %lu", GetLastError());
        }
        if (step == tools::StartStep::kProcess) {
            return Problem("CreateProcess of \"%s\" failed: %lu", options.command_line.c_str(),
                           GetLastError());
        }
        input_ = pipes.input;
        output_.pipe = pipes.output;
        control_.pipe = pipes.control;
        CloseHandle(process_.hThread);
        Say("started \"%s\", process %lu", options.command_line.c_str(), process_.dwProcessId);
        return StartReader(&output_) && StartReader(&control_);
    }

    // Runs one step and counts its expectations.
    void Step(int number, const std::string& step) {
        Say("step %d: %s", number, Escape(step, false, true).c_str());
        size_t space = step.find(' ');
        std::string verb = step.substr(0, space);
        std::string rest = space == std::string::npos ? "" : step.substr(space + 1);
        std::string problem;
        if (!Run(verb, rest, &problem)) Fail("%s", problem.c_str());
    }

    void Finish(const Options& options) {
        if (process_.hProcess != nullptr &&
            WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            Say("the program still runs: ending it");
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        tools::EndConsoleLeftovers(
            [](DWORD id) { Say("ending process %lu left in the console", id); });
        if (input_ != nullptr) CloseHandle(input_);
        input_ = nullptr;
        // What the pipes still deliver after the end has a moment to arrive.
        HANDLE threads[2] = {output_.thread, control_.thread};
        DWORD count = 0;
        for (HANDLE thread : threads) {
            if (thread != nullptr) threads[count++] = thread;
        }
        if (count > 0) WaitForMultipleObjects(count, threads, TRUE, 1000);
        std::string output = Snapshot(&output_);
        EnterCriticalSection(&control_.lock);
        std::string timeline = control_.timeline;
        LeaveCriticalSection(&control_.lock);
        if (!options.output.empty() && !WriteWholeFile(options.output, Escape(output, true))) {
            Fail("cannot write %s", options.output.c_str());
        }
        if (!options.output_raw.empty() && !WriteWholeFile(options.output_raw, output)) {
            Fail("cannot write %s", options.output_raw.c_str());
        }
        if (!options.control.empty() && !WriteWholeFile(options.control, timeline)) {
            Fail("cannot write %s", options.control.c_str());
        }
    }

    int passed() const { return passed_; }
    int failed() const { return failed_; }
    void Fail(const char* format, ...) {
        char text[4096];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(text, sizeof text, format, arguments);
        va_end(arguments);
        Say("FAILED: %s", text);
        ++failed_;
    }

    HANDLE process() const { return process_.hProcess; }

  private:
    bool Problem(const char* format, DWORD value) {
        Fail(format, value);
        return false;
    }
    bool Problem(const char* format, const char* text, DWORD value) {
        Fail(format, text, value);
        return false;
    }

    void Pass(const char* what) {
        Say("  ok: %s", what);
        ++passed_;
    }

    bool StartReader(Stream* stream) {
        stream->reading = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (stream->reading == nullptr) return Problem("CreateEvent failed: %lu", GetLastError());
        stream->thread = CreateThread(nullptr, 0, ReaderThread, stream, 0, nullptr);
        if (stream->thread == nullptr) return Problem("CreateThread failed: %lu", GetLastError());
        return true;
    }

    static std::string Snapshot(Stream* stream) {
        EnterCriticalSection(&stream->lock);
        std::string data = stream->data;
        LeaveCriticalSection(&stream->lock);
        return data;
    }

    // Grows the buffer first and shrinks the window first: the console refuses a window larger
    // than its buffer at every step.
    bool SetConsoleSize(SHORT columns, SHORT rows) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(console_out_, &info)) {
            return Problem("GetConsoleScreenBufferInfo failed: %lu", GetLastError());
        }
        SMALL_RECT smallest = {0, 0, static_cast<SHORT>(std::min(columns, info.dwSize.X) - 1),
                               static_cast<SHORT>(std::min(rows, info.dwSize.Y) - 1)};
        SMALL_RECT window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
        if (!SetConsoleWindowInfo(console_out_, TRUE, &smallest)) {
            return Problem("SetConsoleWindowInfo failed: %lu", GetLastError());
        }
        if (!SetConsoleScreenBufferSize(console_out_, {columns, rows})) {
            return Problem("SetConsoleScreenBufferSize failed: %lu", GetLastError());
        }
        if (!SetConsoleWindowInfo(console_out_, TRUE, &window)) {
            return Problem("SetConsoleWindowInfo failed: %lu", GetLastError());
        }
        return true;
    }

    bool Write(const std::string& bytes, std::string* problem) {
        if (input_ == nullptr) {
            *problem = "the socket input is closed";
            return false;
        }
        if (tools::WriteAll(input_, bytes)) return true;
        *problem = "writing the socket input failed: " + std::to_string(GetLastError());
        return false;
    }

    // Waits until the stream holds the bytes after its match point.  On success the match point
    // moves behind them.
    bool Await(Stream* stream, size_t* point, const std::string& bytes, DWORD limit,
               const char* name, bool show_as_hex, std::string* problem) {
        DWORD began = GetTickCount();
        for (;;) {
            EnterCriticalSection(&stream->lock);
            size_t found = stream->data.find(bytes, *point);
            bool ended = stream->ended;
            std::string seen = found == std::string::npos ? stream->data.substr(*point) : "";
            LeaveCriticalSection(&stream->lock);
            if (found != std::string::npos) {
                *point = found + bytes.size();
                return true;
            }
            DWORD waited = GetTickCount() - began;
            if (ended || waited >= limit) {
                if (seen.size() > 600) seen = "..." + seen.substr(seen.size() - 600);
                *problem = std::string(ended ? "the " : "not within the limit: the ") + name +
                           (ended ? " ended first" : "") + "; after the last match it holds: " +
                           (show_as_hex ? Hex(seen) : "\"" + Escape(seen, false) + "\"");
                return false;
            }
            WaitForSingleObject(g_arrived, limit - waited);
        }
    }

    // Waits until the socket output has taken in nothing for the quiet time, or has ended.
    bool Quiet(DWORD quiet, DWORD limit, std::string* problem) {
        DWORD began = GetTickCount();
        size_t size = Snapshot(&output_).size();
        DWORD since = began;
        for (;;) {
            DWORD now = GetTickCount();
            if (now - since >= quiet) return true;
            if (now - began >= limit) {
                *problem = "the socket output was never quiet for " + std::to_string(quiet) +
                           " ms within " + std::to_string(limit) + " ms";
                return false;
            }
            WaitForSingleObject(g_arrived, std::min(quiet - (now - since), limit - (now - began)));
            EnterCriticalSection(&output_.lock);
            size_t grown = output_.data.size();
            bool ended = output_.ended;
            LeaveCriticalSection(&output_.lock);
            if (ended) return true;
            if (grown != size) {
                size = grown;
                since = GetTickCount();
            }
        }
    }

    bool ExpectExit(unsigned long code, DWORD limit, std::string* problem) {
        DWORD began = GetTickCount();
        if (WaitForSingleObject(process_.hProcess, limit) != WAIT_OBJECT_0) {
            *problem = "the program still runs after " + std::to_string(limit) + " ms";
            return false;
        }
        DWORD exit_code = 0;
        GetExitCodeProcess(process_.hProcess, &exit_code);
        // The pipes end once no process holds the program's ends any more: at least a second
        // more for that, even when the program took the whole limit.
        DWORD spent = GetTickCount() - began;
        DWORD rest = spent + 1000 > limit ? 1000 : limit - spent;
        HANDLE threads[2] = {output_.thread, control_.thread};
        WaitForMultipleObjects(2, threads, TRUE, rest);
        bool ok = true;
        *problem = "";
        if (exit_code != code) {
            *problem =
                "exit status " + std::to_string(exit_code) + ", wanted " + std::to_string(code);
            ok = false;
        }
        const char* names[2] = {"socket output", "control channel"};
        Stream* streams[2] = {&output_, &control_};
        for (int i = 0; i < 2; ++i) {
            EnterCriticalSection(&streams[i]->lock);
            bool ended = streams[i]->ended;
            DWORD error = streams[i]->end_error;
            LeaveCriticalSection(&streams[i]->lock);
            if (!ended) {
                *problem += std::string(ok ? "" : "; ") + "the " + names[i] +
                            " did not end: another process still holds it";
                ok = false;
            } else if (error != ERROR_BROKEN_PIPE) {
                *problem += std::string(ok ? "" : "; ") + "the " + names[i] + " ended with error " +
                            std::to_string(error);
                ok = false;
            }
        }
        return ok;
    }

    // The screen buffer the console shows now, which a program may have made: "CONOUT$" opened
    // again at each look, the handle of the last one closed.
    HANDLE ShownBuffer() {
        if (shown_out_ != INVALID_HANDLE_VALUE) CloseHandle(shown_out_);
        shown_out_ = tools::OpenConsole("CONOUT$");
        return shown_out_ != INVALID_HANDLE_VALUE ? shown_out_ : console_out_;
    }

    // The size of the buffer shown, which the next read of the screen reads.
    bool ConsoleSize(CONSOLE_SCREEN_BUFFER_INFO* info, std::string* problem) {
        if (GetConsoleScreenBufferInfo(ShownBuffer(), info)) return true;
        *problem = "GetConsoleScreenBufferInfo failed: " + std::to_string(GetLastError());
        return false;
    }

    static std::string SizeText(const CONSOLE_SCREEN_BUFFER_INFO& info) {
        char text[96];
        std::snprintf(text, sizeof text, "buffer %dx%d window %dx%d", info.dwSize.X, info.dwSize.Y,
                      info.srWindow.Right - info.srWindow.Left + 1,
                      info.srWindow.Bottom - info.srWindow.Top + 1);
        return text;
    }

    bool ExpectSize(SHORT columns, SHORT rows, DWORD limit, std::string* problem) {
        DWORD began = GetTickCount();
        for (;;) {
            CONSOLE_SCREEN_BUFFER_INFO info;
            if (!ConsoleSize(&info, problem)) return false;
            if (info.dwSize.X == columns && info.dwSize.Y == rows &&
                info.srWindow.Right - info.srWindow.Left + 1 == columns &&
                info.srWindow.Bottom - info.srWindow.Top + 1 == rows) {
                return true;
            }
            // Once the program has ended nobody is left to change the size.
            bool ended = WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
            if (ended || GetTickCount() - began >= limit) {
                *problem = std::string(ended ? "the program has ended; " : "") +
                           "the console has " + SizeText(info);
                return false;
            }
            Sleep(20);
        }
    }

    // The screen as text rows (trailing blanks cut) and the attributes as hex, a row a line.
    bool Screen(const std::string& path, std::string* problem, bool wide = false) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!ConsoleSize(&info, problem)) return false;
        std::string text = tools::ScreenHead(info);
        std::string attributes = text;
        HANDLE shown = shown_out_ != INVALID_HANDLE_VALUE ? shown_out_ : console_out_;
        if (!tools::ReadScreenRows(shown, info.dwSize.X, info.dwSize.Y, &text, &attributes, wide)) {
            *problem = "ReadConsoleOutputA failed: " + std::to_string(GetLastError());
            return false;
        }
        if (!WriteWholeFile(path, text) || !WriteWholeFile(path + ".attr", attributes) ||
            !WriteWholeFile(path + ".raw", Snapshot(&output_))) {
            *problem = "cannot write " + path;
            return false;
        }
        return true;
    }

    bool Key(const std::string& bytes, std::string* problem) {
        for (unsigned char c : bytes) {
            SHORT scan = VkKeyScanA(static_cast<char>(c));
            WORD vk = scan == -1 ? 0 : LOBYTE(scan);
            DWORD state = 0;
            if (scan != -1 && (HIBYTE(scan) & 1)) state |= SHIFT_PRESSED;
            if (scan != -1 && (HIBYTE(scan) & 2)) state |= LEFT_CTRL_PRESSED;
            if (scan != -1 && (HIBYTE(scan) & 4)) state |= LEFT_ALT_PRESSED;
            INPUT_RECORD records[2] = {};
            for (int i = 0; i < 2; ++i) {
                records[i].EventType = KEY_EVENT;
                KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
                key.bKeyDown = i == 0;
                key.wRepeatCount = 1;
                key.wVirtualKeyCode = vk;
                key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(vk, 0));
                key.uChar.AsciiChar = static_cast<CHAR>(c);
                key.dwControlKeyState = state;
            }
            DWORD written = 0;
            if (!WriteConsoleInputA(console_in_, records, 2, &written) || written != 2) {
                *problem = "WriteConsoleInputA failed: " + std::to_string(GetLastError());
                return false;
            }
        }
        return true;
    }

    // False with the reason when the step is malformed or its expectation fails.
    bool Run(const std::string& verb, const std::string& rest, std::string* problem) {
        std::vector<std::string> words = Words(rest);
        std::string bytes;
        DWORD limit = kDefaultExpectLimit;
        unsigned long first = 0;
        unsigned long second = 0;
        if (verb == "send") {
            return ParseTextAndLimit(rest, &bytes, nullptr, problem) && Write(bytes, problem);
        } else if (verb == "sendfile") {
            bool ok = false;
            bytes = ReadWholeFile(rest, &ok);
            if (!ok) *problem = "cannot read " + rest;
            return ok && Write(bytes, problem);
        } else if (verb == "telnet-size" || verb == "rlogin-size") {
            if (words.size() != 2 || !ParseNumber(words[0], 0xFFFFFFFF, &first) ||
                !ParseNumber(words[1], 0xFFFFFFFF, &second)) {
                *problem = "wanted: " + verb + " ROWS COLUMNS";
                return false;
            }
            return Write(verb[0] == 't' ? TelnetSize(first, second) : RloginSize(first, second),
                         problem);
        } else if (verb == "close-input") {
            if (input_ != nullptr) CloseHandle(input_);
            input_ = nullptr;
            return true;
        } else if (verb == "hold-output" || verb == "release-output") {
            if (verb[0] == 'h') return ResetEvent(output_.reading) != 0;
            return SetEvent(output_.reading) != 0;
        } else if (verb == "expect" || verb == "expect-no") {
            if (verb == "expect-no") limit = 500;
            if (!ParseTextAndLimit(rest, &bytes, &limit, problem)) return false;
            if (bytes.empty()) {
                *problem = "nothing to expect";
                return false;
            }
            if (verb == "expect") {
                if (!Await(&output_, &output_point_, bytes, limit, "socket output", false,
                           problem)) {
                    return false;
                }
                Pass(("socket output has \"" + Escape(bytes, false) + "\"").c_str());
                return true;
            }
            Sleep(limit);
            std::string after = Snapshot(&output_).substr(output_point_);
            if (after.find(bytes) != std::string::npos) {
                *problem =
                    "\"" + Escape(bytes, false) + "\" came: \"" + Escape(after, false) + "\"";
                return false;
            }
            Pass(("no \"" + Escape(bytes, false) + "\" on the socket output").c_str());
            return true;
        } else if (verb == "expect-control") {
            size_t last = words.size();
            if (last > 1 && ParseNumber(words.back(), 3600000, &first)) {
                limit = first;
                --last;
            }
            std::string hex;
            for (size_t i = 0; i < last; ++i) hex += words[i];
            if (!ParseHex(hex, &bytes)) {
                *problem = "wanted: expect-control HEX [MS]";
                return false;
            }
            if (!Await(&control_, &control_point_, bytes, limit, "control channel", true,
                       problem)) {
                return false;
            }
            Pass(("control channel has " + Hex(bytes)).c_str());
            return true;
        } else if (verb == "expect-exit") {
            if (words.empty() || words.size() > 2 || !ParseNumber(words[0], 0xFFFFFFFF, &first) ||
                (words.size() == 2 && !ParseNumber(words[1], 3600000, &second))) {
                *problem = "wanted: expect-exit CODE [MS]";
                return false;
            }
            if (words.size() == 2) limit = second;
            if (!ExpectExit(first, limit, problem)) return false;
            Pass(("exit status " + words[0] + ", socket output and control channel ended").c_str());
            return true;
        } else if (verb == "expect-size") {
            SHORT columns = 0;
            SHORT rows = 0;
            if (words.empty() || words.size() > 2 || !ParseSize(words[0], &columns, &rows) ||
                (words.size() == 2 && !ParseNumber(words[1], 3600000, &second))) {
                *problem = "wanted: expect-size COLUMNSxROWS [MS]";
                return false;
            }
            if (words.size() == 2) limit = second;
            if (!ExpectSize(columns, rows, limit, problem)) return false;
            Pass(("console is " + words[0]).c_str());
            return true;
        } else if (verb == "mark") {
            output_point_ = Snapshot(&output_).size();
            control_point_ = Snapshot(&control_).size();
            return true;
        } else if (verb == "quiet") {
            if (words.empty() || words.size() > 2 || !ParseNumber(words[0], 3600000, &first) ||
                (words.size() == 2 && !ParseNumber(words[1], 3600000, &second))) {
                *problem = "wanted: quiet MS [LIMIT]";
                return false;
            }
            if (words.size() == 2) limit = second;
            return Quiet(first, limit, problem);
        } else if (verb == "wait") {
            if (!ParseNumber(rest, 3600000, &first)) {
                *problem = "wanted: wait MS";
                return false;
            }
            Sleep(first);
            return true;
        } else if (verb == "key") {
            return ParseTextAndLimit(rest, &bytes, nullptr, problem) && Key(bytes, problem);
        } else if (verb == "ctrl-c") {
            if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return true;
            *problem = "GenerateConsoleCtrlEvent failed: " + std::to_string(GetLastError());
            return false;
        } else if (verb == "screen" || verb == "screen-utf8") {
            if (rest.empty()) {
                *problem = "wanted: " + verb + " FILE";
                return false;
            }
            return Screen(rest, problem, verb == "screen-utf8");
        } else if (verb == "size") {
            CONSOLE_SCREEN_BUFFER_INFO info;
            if (!ConsoleSize(&info, problem)) return false;
            Say("  console: %s", SizeText(info).c_str());
            return true;
        } else if (verb == "note") {
            Say("  note: %s", rest.c_str());
            return true;
        }
        *problem = "unknown step " + verb;
        return false;
    }

    static void PutLittleEndian(std::string* bytes, size_t at, unsigned long value) {
        for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
    }

    // 0xFF, then the 92-byte state block with the rows at offset 84 and the columns at 88.
    static std::string TelnetSize(unsigned long rows, unsigned long columns) {
        std::string message(93, '\0');
        message[0] = '\xff';
        PutLittleEndian(&message, 1 + 84, rows);
        PutLittleEndian(&message, 1 + 88, columns);
        return message;
    }

    // FF FF 's' 's', rows and columns big-endian, then four pixel bytes.
    static std::string RloginSize(unsigned long rows, unsigned long columns) {
        std::string message = "\xff\xff\x73\x73";
        message += static_cast<char>(rows >> 8);
        message += static_cast<char>(rows);
        message += static_cast<char>(columns >> 8);
        message += static_cast<char>(columns);
        message += std::string(4, '\0');
        return message;
    }

    PROCESS_INFORMATION process_ = {};
    HANDLE input_ = nullptr;
    HANDLE console_out_ = INVALID_HANDLE_VALUE;
    HANDLE shown_out_ = INVALID_HANDLE_VALUE;
    HANDLE console_in_ = INVALID_HANDLE_VALUE;
    Stream output_;
    Stream control_;
    size_t output_point_ = 0;
    size_t control_point_ = 0;
    int passed_ = 0;
    int failed_ = 0;
};

// A scenario that hangs in a step (a write the program never reads, say) still ends.
struct Watchdog {
    unsigned long seconds;
    Login* login;
};

DWORD WINAPI WatchdogThread(void* parameter) {
    Watchdog* watchdog = static_cast<Watchdog*>(parameter);
    Sleep(watchdog->seconds * 1000);
    Say("FAILED: the overall limit of %lu s was reached; ending everything", watchdog->seconds);
    if (watchdog->login->process() != nullptr) TerminateProcess(watchdog->login->process(), 1);
    ExitProcess(1);
}

std::vector<std::string> ScriptSteps(const std::string& path, bool* ok) {
    std::vector<std::string> steps;
    std::string text = ReadWholeFile(path, ok);
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find('\n', i);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(i, end - i);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line[first] != '#') steps.push_back(line.substr(first));
        i = end + 1;
    }
    return steps;
}

}  // namespace

int main(int argc, char** argv) {
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    g_start = GetTickCount();
    if (argc > 1 && tools::AsksForHelp(argv[1])) {
        tools::WriteAll(g_stdout, kUsage);
        return 0;
    }
    Options options;
    std::string problem = ParseOptions(argc, argv, &options);
    if (!problem.empty()) {
        Say("login-host: %s", problem.c_str());
        tools::WriteAll(g_stdout, kUsage);
        return 2;
    }
    std::vector<std::string> steps;
    if (!options.script.empty()) {
        bool ok = false;
        steps = ScriptSteps(options.script, &ok);
        if (!ok) {
            Say("login-host: cannot read %s", options.script.c_str());
            return 2;
        }
    }
    steps.insert(steps.end(), options.steps.begin(), options.steps.end());

    g_arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Login login;
    Watchdog watchdog = {options.limit_seconds, &login};
    HANDLE watch = CreateThread(nullptr, 0, WatchdogThread, &watchdog, 0, nullptr);
    if (g_arrived == nullptr || watch == nullptr) {
        Say("login-host: CreateEvent or CreateThread failed: %lu", GetLastError());
        return 1;
    }
    if (login.Start(options)) {
        int number = 0;
        for (const std::string& step : steps) login.Step(++number, step);
    }
    login.Finish(options);
    tools::WriteAll(g_stdout,
                    tools::Format("%d passed, %d failed\n", login.passed(), login.failed()));
    // Reader threads may still block on pipes that a leftover process holds: end them all.
    ExitProcess(login.failed() == 0 ? 0 : 1);
}
