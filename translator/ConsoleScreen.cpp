// The console screen buffer as the screen mirror sees it.
#include "ConsoleScreen.h"

#include "Reporter.h"

namespace {

// Failed console calls are checked in the name of the translator's main module.
constexpr char kModule[] = "transcmd.cpp";

}  // namespace

CONSOLE_SCREEN_BUFFER_INFO ConsoleScreen::Info() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    AssertCheck(GetConsoleScreenBufferInfo(output_, &info) != FALSE, kModule, __LINE__);
    return info;
}

void ConsoleScreen::ReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const {
    SMALL_RECT region{left, static_cast<SHORT>(top), static_cast<SHORT>(left + size.X - 1),
                      static_cast<SHORT>(top + size.Y - 1)};
    auto read = wide_ ? ReadConsoleOutputW : ReadConsoleOutputA;
    AssertCheck(read(output_, into, size, COORD{0, 0}, &region) != FALSE, kModule, __LINE__);
}

void ConsoleScreen::ReadRect(CHAR_INFO* into, SHORT left, int top, COORD size) const {
    if (size.X <= 0 || size.Y <= 0) return;
    if (size.X <= kMaxCellsPerRead) {
        const int per_read = kMaxCellsPerRead / size.X;
        for (int done = 0; done < size.Y; done += per_read) {
            const int rows = size.Y - done < per_read ? size.Y - done : per_read;
            ReadBlock(into + static_cast<size_t>(done) * size.X, left, top + done,
                      COORD{size.X, static_cast<SHORT>(rows)});
        }
        return;
    }
    for (int y = 0; y < size.Y; ++y) {
        for (int x = 0; x < size.X; x += kMaxCellsPerRead) {
            const int columns = size.X - x < kMaxCellsPerRead ? size.X - x : kMaxCellsPerRead;
            ReadBlock(into + static_cast<size_t>(y) * size.X + x, static_cast<SHORT>(left + x),
                      top + y, COORD{static_cast<SHORT>(columns), 1});
        }
    }
}

CHAR_INFO ConsoleScreen::ReadCell(COORD cell) const {
    CHAR_INFO value{};
    ReadBlock(&value, cell.X, cell.Y, COORD{1, 1});
    return value;
}

void ConsoleScreen::WriteAttribute(COORD cell, WORD attributes) const {
    DWORD written = 0;
    WriteConsoleOutputAttribute(output_, &attributes, 1, cell, &written);
}
