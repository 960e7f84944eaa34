// console-screen: prints the console screen of a running process, for looking into a login of
// the loopback hosts (their log names each login's helper process): the buffer size, the
// window, the cursor, then every row of the buffer with trailing blanks cut.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool_helpers.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: console-screen PROCESS-ID\n", stderr);
        return 2;
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD pid = std::strtoul(argv[1], nullptr, 10);
    FreeConsole();
    if (!AttachConsole(pid)) {
        std::fprintf(stderr, "console-screen: AttachConsole(%lu) failed: %lu\n", pid,
                     GetLastError());
        return 1;
    }
    HANDLE console = tools::OpenConsole("CONOUT$");
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
        std::fprintf(stderr, "console-screen: reading the console failed: %lu\n", GetLastError());
        return 1;
    }
    std::string text = tools::ScreenHead(info);
    if (!tools::ReadScreenRows(console, info.dwSize.X, info.dwSize.Y, &text, nullptr)) {
        std::fprintf(stderr, "console-screen: ReadConsoleOutputA failed: %lu\n", GetLastError());
        return 1;
    }
    tools::WriteAll(out, text);
    return 0;
}
