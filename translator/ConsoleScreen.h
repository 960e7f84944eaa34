// The console screen buffer as the screen mirror sees it: its geometry, its cells and the one
// attribute the mirror writes.  Every call is checked here, in the translator's main module's
// name, so that a console the mirror cannot read ends the login the same way from any read.
#pragma once

#include "win32.h"

class ConsoleScreen {
  public:
    // The most cells one read moves: 32 KB, well within what any console version accepts in one
    // ReadConsoleOutputA (older ones fail beyond about 64 KB).
    static constexpr int kMaxCellsPerRead = 8192;

    // `wide`: cells are read as UTF-16 characters (a UTF-8 client is sent the characters the
    // cells hold), otherwise as the code page's bytes.
    ConsoleScreen(HANDLE output, bool wide) : output_(output), wide_(wide) {}

    CONSOLE_SCREEN_BUFFER_INFO Info() const;

    // The `size` cells from column `left`, row `top` into `into` (rows of size.X cells), in
    // reads of at most kMaxCellsPerRead cells: as many whole rows as fit in each, or a row in
    // pieces when one does not fit.
    void ReadRect(CHAR_INFO* into, SHORT left, int top, COORD size) const;
    // The same cells in one read, which the console answers from one moment of its buffer.
    void ReadBlock(CHAR_INFO* into, SHORT left, int top, COORD size) const;
    // The cells of `column` in rows `top` to `top + rows - 1`.
    void ReadColumn(CHAR_INFO* into, SHORT column, int top, int rows) const {
        ReadRect(into, column, top, COORD{1, static_cast<SHORT>(rows)});
    }
    CHAR_INFO ReadCell(COORD cell) const;

    // Not checked: a mark that did not reach the cell is told by the next read.
    void WriteAttribute(COORD cell, WORD attributes) const;

  private:
    HANDLE output_;
    bool wide_;
};
