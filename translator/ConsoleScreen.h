// The console screen buffer as the screen mirror sees it: its geometry, its cells and the one
// attribute the mirror writes.  A console it cannot read fails the assertion check.
#pragma once

#include "win32.h"

class ConsoleScreen {
  public:
    // The most cells one read moves: 32 KB, well within what any console version accepts in one
    // ReadConsoleOutputA (older ones fail beyond about 64 KB).
    static constexpr int kMaxCellsPerRead = 8192;

    // `wide`: cells hold UTF-16 characters (for a UTF-8 client), else the code page's bytes.
    ConsoleScreen(HANDLE output, bool wide) : output_(output), wide_(wide) {}

    CONSOLE_SCREEN_BUFFER_INFO Info() const;
    // The same reads of another screen buffer of the console.
    ConsoleScreen On(HANDLE output) const { return ConsoleScreen(output, wide_); }

    // The `size` cells from column `left`, row `top` into `into` (rows of size.X cells), in
    // reads of at most kMaxCellsPerRead cells.
    void ReadRect(CHAR_INFO* into, SHORT left, int top, COORD size) const;
    // The same cells in one read, which the console answers from one moment of its buffer.
    void ReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const;
    // The same, false when the console refuses a read that large (older consoles take no more
    // than 64 KB).
    bool TryReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const;
    void ReadColumn(CHAR_INFO* into, SHORT column, int top, int rows) const {
        ReadRect(into, column, top, COORD{1, static_cast<SHORT>(rows)});
    }
    CHAR_INFO ReadCell(COORD cell) const {
        CHAR_INFO value{};
        ReadBlock(&value, cell.X, cell.Y, COORD{1, 1});
        return value;
    }

    void WriteAttribute(COORD cell, WORD attributes) const;

  private:
    HANDLE output_;
    bool wide_;
};
