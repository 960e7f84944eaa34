// The helpers the tool programs share, under Wine: whole writes and whole lines through real
// pipes, number parsing, the growing process list, screen rows, and hosting a program on three
// pipes in a console of this program's own.  Started with --echo or --linger it plays the hosted
// program instead.
#include <windows.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "check.h"
#include "tool_helpers.h"

namespace {

// Everything a pipe delivers until it ends, or until the limit passes; *ended tells which, and
// *error the error that ended it.
std::string Drain(HANDLE pipe, DWORD limit_ms, bool* ended, DWORD* error) {
    std::string data;
    DWORD began = GetTickCount();
    *ended = false;
    while (GetTickCount() - began < limit_ms) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            *error = GetLastError();
            *ended = true;
            break;
        }
        if (available == 0) {
            Sleep(10);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
            *error = GetLastError();
            *ended = true;
            break;
        }
        data.append(buffer, got);
    }
    return data;
}

struct Reader {
    HANDLE pipe;
    std::string data;
};

DWORD WINAPI ReadToEnd(void* parameter) {
    Reader* reader = static_cast<Reader*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader->pipe, buffer, sizeof buffer, &got, nullptr)) {
        reader->data.append(buffer, got);
    }
    return 0;
}

// What a write of `data` delivers at the far end of a new pipe.
std::string ThroughPipe(bool (*write)(HANDLE, const std::string&), const std::string& data,
                        bool* written) {
    Reader reader = {nullptr, ""};
    HANDLE ours = nullptr;
    CreatePipe(&reader.pipe, &ours, nullptr, 0);
    HANDLE thread = CreateThread(nullptr, 0, ReadToEnd, &reader, 0, nullptr);
    *written = write(ours, data);
    CloseHandle(ours);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(reader.pipe);
    return reader.data;
}

bool WriteWhole(HANDLE handle, const std::string& data) {
    return tools::WriteAll(handle, data);
}

bool WriteLine(HANDLE handle, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    bool ok = tools::WriteLineV(handle, "[pre] ", format, arguments);
    va_end(arguments);
    return ok;
}

bool WriteLongLine(HANDLE handle, const std::string& text) {
    return WriteLine(handle, "%s|%d", text.c_str(), 42);
}

void Writes() {
    // More than one WriteFile takes at once, every byte value, in order.
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 256);
    bool written = false;
    CHECK(ThroughPipe(WriteWhole, big, &written) == big);
    CHECK(written);

    // A line longer than any fixed buffer the programs once used arrives whole, in one piece.
    std::string text(9000, 'x');
    text += "end";
    CHECK(ThroughPipe(WriteLongLine, text, &written) == "[pre] " + text + "|42\n");
    CHECK(tools::Format("%s-%05d", std::string(700, 'y').c_str(), 7) ==
          std::string(700, 'y') + "-00007");

    // A reader that went away: the write fails instead of spinning or claiming success.
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    CreatePipe(&read_end, &write_end, nullptr, 0);
    CloseHandle(read_end);
    CHECK(!tools::WriteAll(write_end, std::string("lost")));
    CloseHandle(write_end);
}

void Numbers() {
    unsigned long value = 7;
    CHECK(tools::ParseNumber("0", 10ul, &value) && value == 0);
    CHECK(tools::ParseNumber("65535", 65535ul, &value) && value == 65535);
    CHECK(tools::ParseNumber("000000000000042", 100ul, &value) && value == 42);
    CHECK(tools::ParseNumber("4294967295", 0xFFFFFFFFul, &value) && value == 0xFFFFFFFFul);
    value = 7;
    for (const char* bad : {"", "65536", "-1", "+1", " 1", "1 ", "1x", "0x10", "4294967296",
                            "99999999999999999999999"}) {
        CHECK(!tools::ParseNumber(bad, 65535ul, &value));
    }
    CHECK(!tools::ParseNumber(static_cast<const char*>(nullptr), 10ul, &value));
    CHECK(!tools::ParseNumber(std::string("1\0002", 3), 999ul, &value));
    CHECK(value == 7);
    unsigned long long wide = 0;
    CHECK(tools::ParseNumber("18446744073709551615", ~0ull, &wide) && wide == ~0ull);
    CHECK(!tools::ParseNumber("18446744073709551616", ~0ull, &wide));
    CHECK(tools::AsksForHelp("--help") && tools::AsksForHelp("-h") && !tools::AsksForHelp("-help"));
}

void ProcessLists() {
    // 100 processes do not fit the first buffer: the list is asked again with room for them.
    int calls = 0;
    std::vector<DWORD> ids = tools::ListGrowing([&calls](DWORD* out, DWORD capacity) {
        ++calls;
        if (capacity >= 100) {
            for (DWORD i = 0; i < 100; ++i) out[i] = 1000 + i;
        }
        return DWORD{100};
    });
    CHECK(ids.size() == 100 && ids.front() == 1000 && ids.back() == 1099 && calls == 2);
    CHECK(tools::ListGrowing([](DWORD*, DWORD) { return DWORD{0}; }).empty());
    // A list that outgrows every buffer gives up rather than loop forever.
    calls = 0;
    CHECK(tools::ListGrowing([&calls](DWORD*, DWORD capacity) {
              ++calls;
              return capacity * 2;
          }).empty());
    CHECK(calls > 1 && calls < 20);
}

void Screens() {
    CHAR_INFO cells[6] = {};
    const char text[] = {'a', '\0', 'b', ' ', '\0', ' '};
    for (int i = 0; i < 6; ++i) {
        cells[i].Char.AsciiChar = text[i];
        cells[i].Attributes = static_cast<WORD>(i == 0 ? 0x1F : 0x107);
    }
    CHECK(tools::RowText(cells, 6) == "a b");
    CHECK(tools::RowText(cells + 3, 3).empty());
    CHECK(tools::RowAttributes(cells, 3) == "1f0707");

    CONSOLE_SCREEN_BUFFER_INFO info = {};
    info.dwSize = {80, 150};
    info.srWindow = {0, 10, 79, 34};
    info.dwCursorPosition = {3, 12};
    CHECK(tools::ScreenHead(info) == "size 80 150\nwindow 0 10 79 34\ncursor 3 12\n");
}

void Files() {
    std::string folder = tools::ProgramFolder();
    CHECK(!folder.empty() && folder.back() == '\\');
    CHECK(tools::FileExists(folder + "tool_helpers_win.exe"));
    CHECK(!tools::FileExists(folder));
    CHECK(!tools::FileExists(folder + "no-such-file.exe"));
    // Not beside this program: the build tree's place for it.
    CHECK(tools::SiblingProgram("no-such.exe", "elsewhere") ==
          folder + "..\\..\\elsewhere\\no-such.exe");
    CHECK(tools::SiblingProgram("tool_helpers_win.exe", "x") == folder + "tool_helpers_win.exe");
}

std::vector<DWORD> g_reported;

void Hosting() {
    if (!tools::MakeOwnConsole(true)) {
        CHECK(!"a console of its own");
        return;
    }
    HANDLE screen = tools::OpenConsole("CONOUT$");
    CHECK(screen != INVALID_HANDLE_VALUE);
    CHAR_INFO cells[4] = {};
    for (int i = 0; i < 4; ++i) {
        cells[i].Char.AsciiChar = "hi! "[i];
        cells[i].Attributes = 0x1F;
    }
    SMALL_RECT area = {0, 1, 3, 1};
    CHECK(WriteConsoleOutputA(screen, cells, {4, 1}, {0, 0}, &area));
    std::string rows;
    std::string attributes;
    CHECK(tools::ReadScreenRows(screen, 80, 2, &rows, &attributes));
    CHECK(rows == "\nhi!\n");
    CHECK(attributes.size() == 2 * (160 + 1) && attributes.compare(161, 8, "1f1f1f1f") == 0);

    // The program on three pipes, then a second one that inherits whatever this process lets it.
    const std::string self = "\"" + tools::ProgramFolder() + "tool_helpers_win.exe\"";
    tools::HostedPipes pipes;
    PROCESS_INFORMATION echo = {};
    CHECK(tools::StartOnPipes(self + " --echo", &pipes, &echo) == tools::StartStep::kStarted);
    PROCESS_INFORMATION linger = {};
    CHECK(tools::StartWithStdHandles(nullptr, self + " --linger", nullptr, nullptr, nullptr,
                                     &linger));
    // Only the hosted program held the pipes' far ends: closing the input ends it, and its
    // output and error end with it although the second program still runs.
    CHECK(tools::WriteAll(pipes.input, std::string("hello")));
    CloseHandle(pipes.input);
    bool ended = false;
    DWORD error = 0;
    CHECK(Drain(pipes.output, 15000, &ended, &error) == "hello");
    CHECK(ended && error == ERROR_BROKEN_PIPE);
    CHECK(Drain(pipes.control, 15000, &ended, &error) == "done");
    CHECK(ended && error == ERROR_BROKEN_PIPE);
    CHECK(WaitForSingleObject(linger.hProcess, 0) == WAIT_TIMEOUT);
    // A new process joins the console while it starts up, a moment after CreateProcess.
    bool joined = false;
    for (DWORD began = GetTickCount(); !joined && GetTickCount() - began < 10000; Sleep(10)) {
        for (DWORD id : tools::ConsoleProcessIds()) joined = joined || id == linger.dwProcessId;
    }
    CHECK(joined);

    // The leftover is named and ended; this process is not.
    tools::EndConsoleLeftovers([](DWORD id) { g_reported.push_back(id); });
    bool named = false;
    for (DWORD id : g_reported) named = named || id == linger.dwProcessId;
    CHECK(named);
    for (DWORD id : g_reported) CHECK(id != GetCurrentProcessId());
    CHECK(WaitForSingleObject(linger.hProcess, 5000) == WAIT_OBJECT_0);
    DWORD code = 0;
    CHECK(GetExitCodeProcess(linger.hProcess, &code) && code == 1);

    // A program that cannot start leaves nothing open and says why.
    tools::HostedPipes none;
    PROCESS_INFORMATION missing;
    FillMemory(&missing, sizeof missing, 0x5A);
    CHECK(tools::StartOnPipes("no-such-program.exe", &none, &missing) ==
          tools::StartStep::kProcess);
    CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
    CHECK(none.input == nullptr && none.output == nullptr && none.control == nullptr);
    CHECK(missing.hProcess == nullptr && missing.dwProcessId == 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--echo") {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
               got > 0) {
            tools::WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), buffer, got);
        }
        tools::WriteAll(GetStdHandle(STD_ERROR_HANDLE), std::string("done"));
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--linger") {
        Sleep(60000);
        return 0;
    }
    Writes();
    Numbers();
    ProcessLists();
    Screens();
    Files();
    Hosting();
    return wincheck::Finish();
}
