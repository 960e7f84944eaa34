// login-bench: times whole logins of the real translator.  Like the test host it plays the
// server: it makes a console of its own, starts the translator in it (sharing the console, so
// that nothing else holds the pipes) with three pipes as its standard handles, answers the
// start-up question and then measures.  Prints one line per figure: "NAME VALUE".
//
//   login-bench echo TRANSLATOR simple|advanced SAMPLES [LABEL]
//       keystrokes at the command processor's prompt, each timed from the write into the socket
//       input to the arrival of the bytes that show it on the socket output
//   login-bench escape TRANSLATOR advanced SAMPLES [LABEL]
//       the same, each letter followed by a lone Escape (key sequences on), whose time to the
//       row update that shows it is timed too
//   login-bench idle TRANSLATOR simple|advanced SECONDS [LABEL]
//       the translator's CPU time over an idle stretch, as a share of one core; prints
//       "idle_start PID" and "idle_end PID" around the stretch for an outside observer
//   login-bench typing TRANSLATOR simple|advanced SECONDS [LABEL]
//       keystrokes at 10 a second (a letter, then its erase) over SECONDS, with "typing_start PID"
//       and "typing_end PID" around the stretch for an outside observer that takes the CPU time
//   login-bench scroll TRANSLATOR FILE LINES COLUMNS STREAM [LABEL [WIDTHxHEIGHT]]
//       an advanced-mode login at 80x24 that types FILE (LINES lines of COLUMNS characters,
//       the first starting "line 1 "); prints the bytes sent per byte of text and writes
//       the whole socket output to STREAM, for a terminal to count what it kept.  With a size,
//       a telnet window-size message for it comes before the command
//   login-bench paste TRANSLATOR raw|lines|simple
//       raw: 100,000 characters written into the socket input of an advanced-mode login whose
//       command processor is testcmd.exe, read by its "take" as raw key events, timed from the
//       first byte written to the last key event read; lines: 100 numbered echo commands pasted
//       at the prompt of an advanced-mode login, timed to the last one's output; simple: 100
//       lines of 60 characters pasted at testcmd's prompt in simple mode, timed to the last
//       line's output.  Key sequences, bracketed paste and batching as the settings say.
//   login-bench switch TRANSLATOR SAMPLES
//       an advanced-mode login (FullScreenPrograms set) in whose console this program shows a
//       screen buffer of its own, filled anew each time, and then the start-up buffer again;
//       each switch timed from SetConsoleActiveScreenBuffer to the arrival of the repaint's last
//       row on the socket output
//   login-bench command TRANSLATOR ID
//       a simple-mode login that runs one command and ends; exit status 0 when all went well
// The figures are named after the mode, or after LABEL when given (a run with other settings).
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "login_protocol.h"
#include "tool_helpers.h"
#include "win32.h"

namespace {

LARGE_INTEGER g_frequency;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(g_frequency.QuadPart);
}

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
}

// The socket output as it arrives, with the time each read completed.
struct Stream {
    HANDLE pipe = nullptr;
    CRITICAL_SECTION lock;
    std::string data;
    std::vector<std::pair<size_t, double>> arrivals;  // end offset of each read, its time
    double last_arrival = 0;
    bool ended = false;
    HANDLE arrived = nullptr;  // auto-reset: set after each read and at the end
};

DWORD WINAPI ReaderThread(void* parameter) {
    Stream* stream = static_cast<Stream*>(parameter);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        BOOL ok = ReadFile(stream->pipe, buffer, sizeof buffer, &got, nullptr);
        double now = NowMs();
        EnterCriticalSection(&stream->lock);
        if (ok && got > 0) {
            stream->data.append(buffer, got);
            stream->arrivals.emplace_back(stream->data.size(), now);
            stream->last_arrival = now;
        }
        if (!ok) stream->ended = true;
        LeaveCriticalSection(&stream->lock);
        SetEvent(stream->arrived);
        if (!ok) return 0;
    }
}

class Login {
  public:
    bool Start(const std::string& translator, bool size_80x24) {
        if (!tools::MakeOwnConsole(true)) return Problem("AllocConsole failed", GetLastError());
        if (size_80x24 && !SizeConsole(80, 24)) return false;
        tools::HostedPipes pipes;
        switch (tools::StartOnPipes("\"" + translator + "\" telnet vt100", &pipes, &process_)) {
            case tools::StartStep::kPipes:
                return Problem("CreatePipe failed", GetLastError());
            case tools::StartStep::kProcess:
                return Problem("CreateProcess of the translator failed", GetLastError());
            case tools::StartStep::kStarted:
                break;
        }
        input_ = pipes.input;
        output_.pipe = pipes.output;
        control_.pipe = pipes.control;
        CloseHandle(process_.hThread);
        return StartReader(&output_) && StartReader(&control_);
    }

    // Answers the start-up question and waits for the command processor's prompt and for the
    // output to settle.
    bool ReachPrompt(bool advanced) {
        if (!Await("(y/n)", 0, 30000, nullptr)) return Problem("no start-up question", 0);
        if (!Send(advanced ? "y" : "n")) return false;
        if (!Await(">", size(), 30000, nullptr)) return Problem("no prompt", 0);
        return Quiet(advanced ? 800 : 300, 30000);
    }

    bool Send(const std::string& bytes) {
        if (tools::WriteAll(input_, bytes)) return true;
        return Problem("writing the socket input failed", GetLastError());
    }

    size_t size() {
        EnterCriticalSection(&output_.lock);
        size_t result = output_.data.size();
        LeaveCriticalSection(&output_.lock);
        return result;
    }

    // Waits until `text` arrives at or after `from`; `when` gets the time of the read that
    // completed it.
    bool Await(const std::string& text, size_t from, DWORD limit, double* when) {
        const double give_up = NowMs() + limit;
        for (;;) {
            EnterCriticalSection(&output_.lock);
            size_t at = output_.data.find(text, from);
            bool ended = output_.ended;
            if (at != std::string::npos && when != nullptr) {
                size_t end = at + text.size();
                for (const auto& arrival : output_.arrivals) {
                    if (arrival.first >= end) {
                        *when = arrival.second;
                        break;
                    }
                }
            }
            LeaveCriticalSection(&output_.lock);
            if (at != std::string::npos) return true;
            double left = give_up - NowMs();
            if (ended || left <= 0) return false;
            WaitForSingleObject(output_.arrived, static_cast<DWORD>(left) + 1);
        }
    }

    // Waits until nothing has arrived for `ms`.
    bool Quiet(DWORD ms, DWORD limit) {
        const double give_up = NowMs() + limit;
        for (;;) {
            EnterCriticalSection(&output_.lock);
            double last = output_.last_arrival;
            LeaveCriticalSection(&output_.lock);
            double now = NowMs();
            if (now - last >= ms) return true;
            if (now >= give_up) return Problem("the output did not settle", 0);
            Sleep(static_cast<DWORD>(last + ms - now) + 1);
        }
    }

    // Ends the login by the command processor's "exit"; true when the translator ended with
    // status 0 and its socket output ended too.
    bool Exit(DWORD limit) {
        if (!Send("exit\r")) return false;
        if (WaitForSingleObject(process_.hProcess, limit) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 1);
            return Problem("the translator did not end", 0);
        }
        DWORD code = 1;
        GetExitCodeProcess(process_.hProcess, &code);
        if (code != 0) return Problem("the translator's exit status", code);
        const double give_up = NowMs() + 5000;
        for (;;) {
            EnterCriticalSection(&output_.lock);
            bool ended = output_.ended;
            LeaveCriticalSection(&output_.lock);
            if (ended) return true;
            if (NowMs() >= give_up) return Problem("the socket output did not end", 0);
            WaitForSingleObject(output_.arrived, 100);
        }
    }

    void Abandon() {
        if (process_.hProcess != nullptr) TerminateProcess(process_.hProcess, 1);
    }

    HANDLE process() const { return process_.hProcess; }
    DWORD process_id() const { return process_.dwProcessId; }

    bool Problem(const char* what, DWORD value) {
        Say("problem %s (%lu)", what, value);
        return false;
    }

    std::string Snapshot(size_t from) {
        EnterCriticalSection(&output_.lock);
        std::string data = output_.data.substr(from);
        LeaveCriticalSection(&output_.lock);
        return data;
    }

  private:
    // Grows the buffer first and shrinks the window first: the console refuses a window larger
    // than its buffer at every step.
    bool SizeConsole(SHORT columns, SHORT rows) {
        HANDLE screen = tools::OpenConsole("CONOUT$");
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(screen, &info)) {
            return Problem("GetConsoleScreenBufferInfo failed", GetLastError());
        }
        SMALL_RECT smallest = {0, 0, static_cast<SHORT>(std::min(columns, info.dwSize.X) - 1),
                               static_cast<SHORT>(std::min(rows, info.dwSize.Y) - 1)};
        SMALL_RECT window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
        bool ok = SetConsoleWindowInfo(screen, TRUE, &smallest) &&
                  SetConsoleScreenBufferSize(screen, {columns, rows}) &&
                  SetConsoleWindowInfo(screen, TRUE, &window);
        DWORD error = GetLastError();
        CloseHandle(screen);
        return ok || Problem("sizing the console failed", error);
    }

    bool StartReader(Stream* stream) {
        InitializeCriticalSection(&stream->lock);
        stream->arrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        stream->last_arrival = NowMs();
        HANDLE thread = CreateThread(nullptr, 0, ReaderThread, stream, 0, nullptr);
        if (thread == nullptr) return Problem("CreateThread failed", GetLastError());
        CloseHandle(thread);
        return true;
    }

    PROCESS_INFORMATION process_ = {};
    HANDLE input_ = nullptr;
    Stream output_;
    Stream control_;
};

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    // Nearest rank.
    size_t rank = static_cast<size_t>(share * values.size() + 0.999999);
    if (rank < 1) rank = 1;
    if (rank > values.size()) rank = values.size();
    return values[rank - 1];
}

// Letters that no escape sequence of the stream contains.
const char kLetters[] = "qwrtyuiopasdfgzxcvb";

// With `escape` (advanced mode, key sequences on) a lone Escape follows each letter, and the
// time from its write to the row update that shows it is a figure of its own: the wait for the
// rest of a sequence that never comes, plus the echo's usual path.
int Echo(Login& login, bool advanced, int samples, const char* mode, bool escape = false) {
    if (!login.ReachPrompt(advanced)) return 1;
    std::vector<double> times;
    std::vector<double> escapes;
    for (int i = 0; i < samples; ++i) {
        const char letter = kLetters[i % (sizeof kLetters - 1)];
        size_t mark = login.size();
        double sent = NowMs();
        double shown = 0;
        if (!login.Send(std::string(1, letter))) return 1;
        if (!login.Await(std::string(1, letter), mark, 5000, &shown)) {
            return login.Problem("a keystroke was not shown", i);
        }
        times.push_back(shown - sent);
        // Rub it out again and let everything settle before the next one.  An Escape waits for
        // the letter's update to end, so as not to be timed by the rest of it.
        if (escape && !login.Quiet(100, 10000)) return 1;
        mark = login.size();
        sent = NowMs();
        if (!login.Send(escape ? "\033" : advanced ? "\b" : "\x7f")) return 1;
        if (!login.Await(advanced ? "\033[" : "\b \b", mark, 5000, &shown)) {
            return login.Problem("the erase was not shown", i);
        }
        if (escape) {
            // Wine's line editor takes the Escape key for a character: rub both out.
            escapes.push_back(shown - sent);
            if (!login.Quiet(100, 10000)) return 1;
            mark = login.size();
            if (!login.Send("\b\b")) return 1;
            if (!login.Await("\033[", mark, 5000, nullptr)) {
                return login.Problem("the erase was not shown", i);
            }
        }
        // Keystrokes come at no fixed phase of the mirror's polling.
        if (!login.Quiet(advanced ? 150 + (i * 97) % 400 : 20 + (i * 7) % 50, 10000)) return 1;
    }
    Say("echo_ms_%s_median %.3f", mode, Percentile(times, 0.5));
    Say("echo_ms_%s_p95 %.3f", mode, Percentile(times, 0.95));
    Say("echo_ms_%s_min %.3f", mode, Percentile(times, 0));
    Say("echo_ms_%s_max %.3f", mode, Percentile(times, 1));
    Say("echo_ms_%s_samples %d", mode, samples);
    if (escape) {
        Say("escape_ms_%s_median %.3f", mode, Percentile(escapes, 0.5));
        Say("escape_ms_%s_p95 %.3f", mode, Percentile(escapes, 0.95));
    }
    return login.Exit(20000) ? 0 : 1;
}

unsigned long long CpuTime100ns(HANDLE process) {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return value(kernel) + value(user);
}

int Idle(Login& login, bool advanced, int seconds, const char* mode) {
    if (!login.ReachPrompt(advanced)) return 1;
    // The login is idle once its start-up has settled: under Wine a new process goes on working
    // for a moment after its first output.
    Sleep(3000);
    size_t mark = login.size();
    Say("idle_start %lu", login.process_id());
    double began = NowMs();
    unsigned long long cpu_before = CpuTime100ns(login.process());
    Sleep(static_cast<DWORD>(seconds) * 1000);
    unsigned long long cpu_after = CpuTime100ns(login.process());
    double ended = NowMs();
    Say("idle_end %lu", login.process_id());
    // The outside observer takes its reading after seeing that line: the end of the login must
    // not fall into its stretch.
    Sleep(5000);
    double cpu_ms = static_cast<double>(cpu_after - cpu_before) / 1e4;
    Say("idle_cpu_percent_%s_getprocesstimes %.4f", mode, 100.0 * cpu_ms / (ended - began));
    Say("idle_bytes_%s %lu", mode, static_cast<unsigned long>(login.size() - mark));
    return login.Exit(20000) ? 0 : 1;
}

int Typing(Login& login, bool advanced, int seconds, const char* mode) {
    if (!login.ReachPrompt(advanced)) return 1;
    Sleep(3000);  // as for the idle stretch
    Say("typing_start %lu", login.process_id());
    const double began = NowMs();
    unsigned long long cpu_before = CpuTime100ns(login.process());
    const char erase = advanced ? '\b' : '\x7f';
    const int keys = seconds * 10;
    for (int i = 0; i < keys; ++i) {
        // On a fixed schedule, whatever each write took.
        double due = began + 100.0 * i;
        double now = NowMs();
        if (due > now) Sleep(static_cast<DWORD>(due - now));
        char key = i % 2 == 0 ? kLetters[(i / 2) % (sizeof kLetters - 1)] : erase;
        if (!login.Send(std::string(1, key))) return 1;
    }
    double due = began + 100.0 * keys;
    double now = NowMs();
    if (due > now) Sleep(static_cast<DWORD>(due - now));
    unsigned long long cpu_after = CpuTime100ns(login.process());
    double ended = NowMs();
    Say("typing_end %lu", login.process_id());
    Sleep(5000);  // the observer's reading comes before the end of the login
    double cpu_ms = static_cast<double>(cpu_after - cpu_before) / 1e4;
    Say("typing_cpu_percent_%s_getprocesstimes %.4f", mode, 100.0 * cpu_ms / (ended - began));
    return login.Exit(20000) ? 0 : 1;
}

int Scroll(Login& login, const char* file, int lines, int columns, const char* stream,
           const char* label, const char* size) {
    if (!login.ReachPrompt(true)) return 1;
    unsigned width = 0, height = 0;
    if (size != nullptr) {
        if (std::sscanf(size, "%ux%u", &width, &height) != 2) return login.Problem("bad size", 0);
        if (!login.Send(hosts::TelnetStateMessage(height, width)) || !login.Quiet(800, 30000))
            return 1;
    }
    const size_t mark = login.size();
    const double began = NowMs();
    if (!login.Send(std::string("type ") + file + "\r")) return 1;
    // The output has begun with the first row of it that arrives (repaints show only the lines
    // on the screen at each pass, so not necessarily the first one), and has ended when nothing
    // has come for a while (a repaint need not show the last line's number whole).
    if (!login.Await("line ", mark, 60000, nullptr)) return login.Problem("no output", 0);
    if (!login.Quiet(3000, 300000)) return 1;
    const double ended = NowMs() - 3000;
    const std::string all = login.Snapshot(0);
    FILE* out = std::fopen(stream, "wb");
    if (out == nullptr || std::fwrite(all.data(), 1, all.size(), out) != all.size()) {
        return login.Problem("writing the stream failed", 0);
    }
    std::fclose(out);
    const double sent = static_cast<double>(all.size() - mark);
    const double text = static_cast<double>(lines) * columns;
    Say("scroll_bytes_%s %.0f", label, sent);
    Say("scroll_bytes_per_text_byte_%s %.4f", label, sent / text);
    Say("scroll_ms_%s %.1f", label, ended - began);
    return login.Exit(20000) ? 0 : 1;
}

unsigned Fnv1a(const std::string& text) {
    unsigned hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// 100,000 characters into raw input: whole and in order (testcmd's count and hash), and fast.
int PasteRaw(Login& login) {
    constexpr int kCharacters = 100000;
    if (!login.ReachPrompt(true)) return 1;
    size_t mark = login.size();
    const double command_sent = NowMs();
    if (!login.Send("take " + std::to_string(kCharacters) + "\r")) return 1;
    if (!login.Await("take ready", mark, 30000, nullptr)) return login.Problem("no take", 0);
    if (!login.Quiet(300, 10000)) return 1;
    // The translator reads nothing more for the exit detection pause (400 ms) after the command's
    // carriage return: the paste is timed from a moment it would be read at once.
    const double pause_over = command_sent + 600;
    if (NowMs() < pause_over) Sleep(static_cast<DWORD>(pause_over - NowMs()) + 1);
    std::string text;
    for (int i = 0; i < kCharacters; ++i) text += static_cast<char>('!' + (i * 7) % 94);
    mark = login.size();
    const double sent = NowMs();
    if (!login.Send(text)) return 1;
    if (!login.Await("took ", mark, 120000, nullptr)) return login.Problem("nothing taken", 0);
    if (!login.Quiet(500, 30000)) return 1;
    const std::string shown = login.Snapshot(mark);
    unsigned long taken = 0;
    unsigned hash = 0;
    double last = 0;
    if (std::sscanf(shown.c_str() + shown.rfind("took "), "took %lu hash %x at %lf", &taken, &hash,
                    &last) != 3)
        return login.Problem("unreadable take", 0);
    if (taken != kCharacters || hash != Fnv1a(text)) return login.Problem("paste not whole", 0);
    Say("paste_kbps_advanced %.1f", kCharacters / 1024.0 / ((last - sent) / 1000.0));
    return login.Exit(20000) ? 0 : 1;
}

// Numbered lines pasted at a prompt; true when each one's output came, in order.
int PasteLines(Login& login, bool advanced) {
    constexpr int kLines = 100;
    if (!login.ReachPrompt(advanced)) return 1;
    std::string paste = "\033[200~";
    char line[96];
    for (int i = 1; i <= kLines; ++i) {
        // The caret is cmd.exe's escape (the echoed command has it, the output not); in simple
        // mode each line shows twice, echoed and run, and the second is awaited.
        if (advanced) {
            std::snprintf(line, sizeof line, "echo paste^-line^-%03d\r\n", i);
        } else {
            std::snprintf(line, sizeof line, "echo paste-line-%03d-%-40.40s\r\n", i,
                          "0123456789012345678901234567890123456789");
        }
        paste += line;
    }
    paste += "\033[201~";
    const char* shown_as = advanced ? "paste-line-%03d" : "paste-line-%03d-";
    const size_t mark = login.size();
    const double sent = NowMs();
    double done = 0;
    if (!login.Send(paste)) return 1;
    std::snprintf(line, sizeof line, shown_as, kLines);
    if (!login.Await(line, mark, 60000, &done))
        return login.Problem("the last line did not run", 0);
    if (!advanced && !login.Await(line, mark + login.Snapshot(mark).find(line) + 1, 60000, &done))
        return login.Problem("the last line did not run", 1);
    if (!login.Quiet(advanced ? 500 : 200, 30000)) return 1;
    const std::string output = login.Snapshot(mark);
    size_t at = 0;
    for (int i = 1; i <= kLines; ++i) {
        std::snprintf(line, sizeof line, shown_as, i);
        at = output.find(line, at);
        if (at == std::string::npos) return login.Problem("a line did not run", i);
    }
    if (advanced) {
        Say("paste_lines_advanced_s %.3f", (done - sent) / 1000.0);
    } else {
        Say("paste_kbps_simple %.1f", kLines * 60 / 1024.0 / ((done - sent) / 1000.0));
    }
    return login.Exit(20000) ? 0 : 1;
}

int Switch(Login& login, int samples) {
    if (!login.ReachPrompt(true)) return 1;
    HANDLE startup = tools::OpenConsole("CONOUT$");
    HANDLE own =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (own == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(own, &info)) {
        return login.Problem("no screen buffer of its own", GetLastError());
    }
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        // Every row of the window new, the last one's text unique to this sample.
        char row[64];
        std::string last;
        for (int y = info.srWindow.Top; y <= info.srWindow.Bottom; ++y) {
            std::snprintf(row, sizeof row, "switch %d row %d", i, y - info.srWindow.Top);
            DWORD written = 0;
            WriteConsoleOutputCharacterA(own, row, static_cast<DWORD>(std::strlen(row)),
                                         {0, static_cast<SHORT>(y)}, &written);
            last = row;
        }
        const size_t mark = login.size();
        const double began = NowMs();
        double shown = 0;
        SetConsoleActiveScreenBuffer(own);
        if (!login.Await(last, mark, 5000, &shown)) return login.Problem("no repaint", i);
        times.push_back(shown - began);
        if (!login.Quiet(200, 10000)) return 1;
        const size_t back = login.size();
        SetConsoleActiveScreenBuffer(startup);
        if (!login.Await("\033[?1049l", back, 5000, nullptr)) return login.Problem("no return", i);
        // Switches come at no fixed phase of the mirror's polling.
        if (!login.Quiet(150 + (i * 97) % 400, 10000)) return 1;
    }
    CloseHandle(own);
    Say("buffer_switch_ms_median %.3f", Percentile(times, 0.5));
    Say("buffer_switch_ms_p95 %.3f", Percentile(times, 0.95));
    Say("buffer_switch_ms_max %.3f", Percentile(times, 1));
    Say("buffer_switch_samples %d", samples);
    return login.Exit(20000) ? 0 : 1;
}

int Command(Login& login, int id) {
    if (!login.ReachPrompt(false)) return 1;
    char command[64];
    char result[64];
    // The caret is the command processor's escape: the echoed line has it, the output not.
    std::snprintf(command, sizeof command, "echo login^-%d^-ran\r", id);
    std::snprintf(result, sizeof result, "login-%d-ran", id);
    size_t mark = login.size();
    if (!login.Send(command)) return 1;
    if (!login.Await(result, mark, 60000, nullptr)) return login.Problem("no command output", 0);
    if (!login.Quiet(200, 30000)) return 1;
    if (!login.Exit(60000)) return 1;
    Say("command_ok %d", id);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&g_frequency);
    if (argc < 4) {
        Say("usage: login-bench echo|escape|idle|typing TRANSLATOR simple|advanced N [LABEL], "
            "scroll TRANSLATOR FILE LINES COLUMNS STREAM [LABEL [WIDTHxHEIGHT]], paste "
            "TRANSLATOR raw|lines|simple, switch TRANSLATOR SAMPLES, or command TRANSLATOR ID");
        return 2;
    }
    const std::string verb = argv[1];
    Login login;
    if (!login.Start(argv[2], verb == "scroll")) return 1;
    int status = 2;
    if (verb == "scroll" && argc >= 7 && argc <= 9) {
        status = Scroll(login, argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argv[6],
                        argc >= 8 ? argv[7] : "advanced", argc == 9 ? argv[8] : nullptr);
    } else if (verb == "switch") {
        status = Switch(login, std::atoi(argv[3]));
    } else if (verb == "command") {
        status = Command(login, std::atoi(argv[3]));
    } else if (verb == "paste" && std::strcmp(argv[3], "raw") == 0) {
        status = PasteRaw(login);
    } else if (verb == "paste") {
        status = PasteLines(login, std::strcmp(argv[3], "lines") == 0);
    } else if ((verb == "echo" || verb == "escape" || verb == "idle" || verb == "typing") &&
               (argc == 5 || argc == 6)) {
        const bool advanced = std::strcmp(argv[3], "advanced") == 0;
        const int count = std::atoi(argv[4]);
        const char* label = argc == 6 ? argv[5] : argv[3];
        status = verb == "echo"     ? Echo(login, advanced, count, label)
                 : verb == "escape" ? Echo(login, advanced, count, label, true)
                 : verb == "idle"   ? Idle(login, advanced, count, label)
                                    : Typing(login, advanced, count, label);
    } else {
        Say("unknown verb %s", verb.c_str());
    }
    if (status != 0) login.Abandon();
    // Reader threads may still block on pipes: end everything.
    ExitProcess(status);
}
