// console-screen: prints the console screen of a running process, for looking into a login of
// the loopback hosts (their log names each login's helper process): the buffer size, the
// window, the cursor, then every row of the buffer with trailing blanks cut.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
    HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
        std::fprintf(stderr, "console-screen: reading the console failed: %lu\n", GetLastError());
        return 1;
    }
    char head[160];
    std::snprintf(head, sizeof head, "size %d %d\nwindow %d %d %d %d\ncursor %d %d\n",
                  info.dwSize.X, info.dwSize.Y, info.srWindow.Left, info.srWindow.Top,
                  info.srWindow.Right, info.srWindow.Bottom, info.dwCursorPosition.X,
                  info.dwCursorPosition.Y);
    std::string text = head;
    std::vector<CHAR_INFO> row(info.dwSize.X);
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
        SMALL_RECT from = {0, y, static_cast<SHORT>(info.dwSize.X - 1), y};
        if (!ReadConsoleOutputA(console, row.data(), {info.dwSize.X, 1}, {0, 0}, &from)) {
            std::fprintf(stderr, "console-screen: ReadConsoleOutputA failed: %lu\n",
                         GetLastError());
            return 1;
        }
        std::string line;
        for (const CHAR_INFO& cell : row) {
            char c = cell.Char.AsciiChar;
            line += c == '\0' ? ' ' : c;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 0;
}
