// The console screen buffer as the screen mirror sees it.
#include "ConsoleScreen.h"

#include "Reporter.h"

// Failed console calls are checked in the name of the translator's main module.
constexpr char kModule[] = "transcmd.cpp";

CONSOLE_SCREEN_BUFFER_INFO ConsoleScreen::Info() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    AssertCheck(GetConsoleScreenBufferInfo(output_, &info) != FALSE, kModule, __LINE__);
    return info;
}

void ConsoleScreen::ReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const {
    // A read the console refuses leaves the mirror nothing to show: the check ends the login.  It
    // reports the line this check has always had, which readers of the event log may know, so it
    // stays at its place in the file.
    AssertCheck(TryReadBlock(into, left, top, size), kModule, __LINE__);
}

bool ConsoleScreen::TryReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const {
    SMALL_RECT region{left, static_cast<SHORT>(top), static_cast<SHORT>(left + size.X - 1),
                      static_cast<SHORT>(top + size.Y - 1)};
    auto read = wide_ ? ReadConsoleOutputW : ReadConsoleOutputA;
    return read(output_, into, size, COORD{0, 0}, &region) != FALSE;
}

void ConsoleScreen::ReadRect(CHAR_INFO* into, SHORT left, int top, COORD size) const {
    if (size.X <= 0 || size.Y <= 0) return;
    // Whole rows when one fits, so each read takes as many as fit; otherwise a row in pieces.
    const int piece = size.X < kMaxCellsPerRead ? size.X : kMaxCellsPerRead;
    const int per_read = kMaxCellsPerRead / piece;
    for (int y = 0; y < size.Y; y += per_read) {
        const int rows = size.Y - y < per_read ? size.Y - y : per_read;
        for (int x = 0; x < size.X; x += piece) {
            const int columns = size.X - x < piece ? size.X - x : piece;
            ReadBlock(into + static_cast<size_t>(y) * size.X + x, static_cast<SHORT>(left + x),
                      top + y, COORD{static_cast<SHORT>(columns), static_cast<SHORT>(rows)});
        }
    }
}

// Not checked: a mark that did not reach its cell is told by the next read.
void ConsoleScreen::WriteAttribute(COORD cell, WORD attributes) const {
    DWORD written = 0;
    WriteConsoleOutputAttribute(output_, &attributes, 1, cell, &written);
}
