// Whole logins in the simulated Win32.
#include "login_harness.h"

#include <cstdio>
#include <new>

#include "ZEVENT.h"

void FreshTranslatorProcess() {
    g_translator.~TranslatorState();
    new (&g_translator) TranslatorState();
    // The objects of the previous login belonged to its process, which has ended and closed
    // their handles: build new ones over them, as static initialisation does in a new process.
    new (&g_output_gate) EventObject();
    new (&g_screen_lock) StaticLock();
    new (&g_mirror_wake_up) EventObject();
}

void SetSetting(const char* name, DWORD type, const std::string& data) {
    winsim::test::RegSetValue(HKEY_LOCAL_MACHINE, kTelnetKey, name, type, data);
}

namespace {

void Write(HANDLE handle, const std::string& text) {
    DWORD written;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::shared_ptr<FakeCommandProcessorLog> g_fake_log;

BOOL WINAPI CountCtrlC(DWORD event) {
    if (event == CTRL_C_EVENT && g_fake_log) ++g_fake_log->ctrl_c_events;
    return TRUE;
}

// A full-screen program: a buffer of its own, shown, without a cursor, the title "program", and
// each line read (echoed on the buffer shown) written on it, until "q" puts the start-up buffer
// and the title back; with `stay` the command processor ends at once, the program's buffer shown.
bool RunFullScreenProgram(HANDLE input, HANDLE output, bool stay) {
    HANDLE buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              CONSOLE_TEXTMODE_BUFFER, nullptr);
    WCHAR title[256];
    const DWORD title_length = GetConsoleTitleW(title, 256);
    SetConsoleTitleW(L"program");
    const CONSOLE_CURSOR_INFO hidden{25, FALSE};
    SetConsoleCursorInfo(buffer, &hidden);
    Write(buffer, "full screen\n");
    SetConsoleActiveScreenBuffer(buffer);
    if (stay) return false;
    char line[256];
    DWORD count = 0;
    while (ReadFile(input, line, sizeof line, &count, nullptr) && count > 0 && line[0] != 'q')
        Write(buffer, std::string(line, count));
    SetConsoleActiveScreenBuffer(output);
    title[title_length < 256 ? title_length : 255] = 0;
    SetConsoleTitleW(title);
    CloseHandle(buffer);
    return true;
}

// Runs one command line of the fake command processor; false for "exit".
bool RunFakeCommand(FakeCommandProcessorLog& log, const std::string& line, HANDLE input,
                    HANDLE output) {
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.lines.push_back(line);
    }
    if (line == "exit") return false;
    if (line.rfind("exit ", 0) == 0) {  // last words, then the end
        Write(output, line.substr(5) + "\n");
        return false;
    }
    if (line == "program" || line == "program exit") {
        if (!RunFullScreenProgram(input, output, line == "program exit")) return false;
    } else if (line.rfind("echo ", 0) == 0) {
        Write(output, line.substr(5) + "\n");
    } else if (line == "raw") {
        SetConsoleMode(input, 0);
    } else if (line == "char") {
        SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    } else if (int columns, rows; std::sscanf(line.c_str(), "size %d %d", &columns, &rows) == 2) {
        SetConsoleScreenBufferSize(output,
                                   COORD{static_cast<SHORT>(columns), static_cast<SHORT>(rows)});
    } else if (unsigned code_page; std::sscanf(line.c_str(), "chcp %u", &code_page) == 1) {
        SetConsoleCP(code_page);
        SetConsoleOutputCP(code_page);
    } else if (int row; std::sscanf(line.c_str(), "row %d", &row) == 1) {
        SetConsoleCursorPosition(output, COORD{0, static_cast<SHORT>(row)});
    } else if (!line.empty()) {
        Write(output, "unknown: " + line + "\n");
    }
    Write(output, "C:\\>");
    return true;
}

// Lines end at a carriage return, a line feed or both.  Without line input the console hands
// over characters in pieces of any size, so a line is collected across reads.
int FakeCommandProcessor(const std::string&) {
    auto log = g_fake_log;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    SetConsoleCtrlHandler(CountCtrlC, TRUE);
    Write(output, "C:\\>");
    char buffer[512];
    DWORD count = 0;
    std::string line;
    char previous = 0;
    while (ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        for (DWORD i = 0; i < count; ++i) {
            char c = buffer[i];
            bool line_feed_after_return = c == '\n' && previous == '\r';
            previous = c;
            if (line_feed_after_return) continue;
            if (c != '\r' && c != '\n') {
                line += c;
                continue;
            }
            if (!RunFakeCommand(*log, line, input, output)) return 0;
            line.clear();
        }
    }
    return 0;
}

}  // namespace

std::shared_ptr<FakeCommandProcessorLog> RegisterFakeCommandProcessor() {
    g_fake_log = std::make_shared<FakeCommandProcessorLog>();
    winsim::test::RegisterProgram("cmd", FakeCommandProcessor);
    return g_fake_log;
}

void SimLogin::Collect(HANDLE pipe, Collected* into) {
    char buffer[256];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr)) {
        std::lock_guard<std::mutex> guard(into->lock);
        into->bytes.append(buffer, count);
    }
    std::lock_guard<std::mutex> guard(into->lock);
    into->ended = true;
}

SimLogin::SimLogin(const Options& options) {
    winsim::test::NewConsole(translator_, options.console);
    SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE input_read, output_read, output_write, control_read, control_write;
    CreatePipe(&input_read, &input_write_, &plain, static_cast<DWORD>(options.input_capacity));
    CreatePipe(&output_read, &output_write, &plain, static_cast<DWORD>(options.output_capacity));
    output_release_ = CreateEventA(nullptr, TRUE, options.hold_output ? FALSE : TRUE, nullptr);
    CreatePipe(&control_read, &control_write, &plain, 0);

    // The server hands the translator its ends as inheritable standard handles, and keeps the
    // others: the readers of the output and the control channel run as a process of their own.
    auto move = [](HANDLE handle, winsim::SimProcess& to, BOOL inherit) {
        HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, winsim::test::ProcessIdOf(to));
        HANDLE moved = nullptr;
        DuplicateHandle(GetCurrentProcess(), handle, process, &moved, 0, inherit,
                        DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE);
        CloseHandle(process);
        return moved;
    };
    translator_.SetStdHandle(STD_INPUT_HANDLE, move(input_read, translator_, TRUE));
    translator_.SetStdHandle(STD_OUTPUT_HANDLE, move(output_write, translator_, TRUE));
    translator_.SetStdHandle(STD_ERROR_HANDLE, move(control_write, translator_, TRUE));
    HANDLE output = move(output_read, output_reader_, FALSE);
    HANDLE control = move(control_read, control_reader_, FALSE);
    HANDLE release = nullptr;
    {
        HANDLE process =
            OpenProcess(PROCESS_DUP_HANDLE, FALSE, winsim::test::ProcessIdOf(output_reader_));
        DuplicateHandle(GetCurrentProcess(), output_release_, process, &release, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        CloseHandle(process);
    }
    output_reader_.Start([this, output, release] {
        WaitForSingleObject(release, INFINITE);
        Collect(output, &output_);
        return 0;
    });
    control_reader_.Start([this, control] {
        Collect(control, &control_);
        return 0;
    });

    arguments_ = {"command-translator", options.protocol, options.terminal};
    at_exit_ = options.at_exit;
    bool exit_list = options.run_exit_list || options.at_exit;
    translator_.Start([this, exit_list] {
        FreshTranslatorProcess();
        std::vector<char*> argv;
        for (auto& argument : arguments_) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int status = TranslatorMain(static_cast<int>(arguments_.size()), argv.data());
        if (exit_list) {
            // A destructor cannot be left by the simulation's end of a thread: the zero sleep
            // after each ends this one when the object's end was a misuse that ended the process.
            g_mirror_wake_up.~EventObject();
            Sleep(0);
            g_screen_lock.~StaticLock();
            Sleep(0);
            g_output_gate.~EventObject();
            if (at_exit_) at_exit_();
        }
        return status;
    });
}

SimLogin::~SimLogin() {
    CloseInput();
    if (!waited_) Wait();
    CloseHandle(output_release_);
    // The static objects now hold handles of the ended process: give the test program its own
    // again, for later tests and for their destruction at exit.
    FreshTranslatorProcess();
}

void SimLogin::ReleaseOutput() {
    SetEvent(output_release_);
    winsim::test::RunUntilIdle();
}

void SimLogin::Send(const std::string& bytes) {
    DWORD written;
    WriteFile(input_write_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    winsim::test::RunUntilIdle();
}

void SimLogin::CloseInput() {
    if (input_write_ == nullptr) return;
    CloseHandle(input_write_);
    input_write_ = nullptr;
}

std::string SimLogin::Output() {
    winsim::test::RunUntilIdle();
    std::lock_guard<std::mutex> guard(output_.lock);
    return output_.bytes;
}

std::string SimLogin::NewOutput() {
    std::string all = Output();
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
}

std::string SimLogin::Control() {
    winsim::test::RunUntilIdle();
    std::lock_guard<std::mutex> guard(control_.lock);
    return control_.bytes;
}

bool SimLogin::OutputEnded() {
    winsim::test::RunUntilIdle();
    std::lock_guard<std::mutex> guard(output_.lock);
    return output_.ended;
}

winsim::ExitStatus SimLogin::Wait() {
    waited_ = true;
    winsim::ExitStatus status = translator_.Wait();
    SetEvent(output_release_);
    output_reader_.Wait();
    control_reader_.Wait();
    winsim::test::WaitForCreatedProcesses();
    return status;
}

std::string TelnetStateMessage(int rows, int columns) {
    std::string message(93, '\0');
    message[0] = '\xff';
    for (int i = 0; i < 4; ++i) {
        message[1 + 84 + i] = static_cast<char>((rows >> (8 * i)) & 0xff);
        message[1 + 88 + i] = static_cast<char>((columns >> (8 * i)) & 0xff);
    }
    return message;
}

std::string RloginSizeMessage(int rows, int columns) {
    return std::string("\xff\xff\x73\x73", 4) + static_cast<char>((rows >> 8) & 0xff) +
           static_cast<char>(rows & 0xff) + static_cast<char>((columns >> 8) & 0xff) +
           static_cast<char>(columns & 0xff) + std::string(4, '\0');
}

std::vector<std::string> Reports() {
    std::vector<std::string> texts;
    for (auto& record : winsim::test::EventLog()) texts.push_back(record.strings.at(0));
    return texts;
}
