// Differential: two screens from the input, the first sent whole and the second as the mirror's
// update, fed to a real terminal emulator (libvterm).  The terminal must then show the second
// screen: its characters as the client's code page gives them, reverse video where the colour
// rule puts it (or, when colours are sent, each cell's colours, reverse video and underline),
// the cursor in its place.  With scrollback, rows that left the window come between the two,
// sent into the terminal's scrollback: it must then hold exactly those rows.  A UTF-8 client's
// screens hold characters that take two cells, as the console marks them, surrogate pairs in two
// cells (the halves also alone), and controls of U+0080 to U+009F.  Screens go beyond what one
// console read takes (up to 200 x 120); with scrollback the terminal may be taller and wider than
// the window, which it shows on its bottom rows: the rows above the window, after the
// scrollback, then hold the rows that left the window, below the blanks they held.  Now and then a
// full-screen program comes between the two: its own screen on the terminal's alternate screen,
// its cursor hidden or not, a title; back on the main screen, which the terminal restores by
// itself, the second screen is sent as the update of the first, and the cursor shows again.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ColorEncoding.h"
#include "ScreenMirror.h"
#include "vterm_terminal.h"

namespace {

// The client's terminal; a flush is never empty nor larger than the writer's buffer.
void FeedTerminal(void* terminal, const char* bytes, DWORD count) {
    if (count == 0 || count > AnsiWriter::kBufferSize) abort();
    static_cast<RecordingTerminal*>(terminal)->Feed(bytes, count);
}

// A UTF-8 client's cell: one column on the terminal, or half of something that takes two.
CHAR_INFO WideCell(FuzzedDataProvider& input) {
    static const WCHAR kUnits[] = {' ',  ' ',    'x',    0x1B,   0x85,   0x9B,   0x9F,  0xA0,
                                   0xE9, 0x2500, 0xFFFD, 0xD83D, 0xD840, 0xDE00, 0xDC00};
    CHAR_INFO cell{};
    cell.Char.UnicodeChar = kUnits[input.ConsumeIntegralInRange<size_t>(0, 14)];
    static const WORD kAttributes[] = {0x07, 0x70, 0x2F, 0x4007, 0x801E};
    cell.Attributes = kAttributes[input.ConsumeIntegralInRange(0, 4)];
    return cell;
}

CHAR_INFO Cell(FuzzedDataProvider& input) {
    CHAR_INFO cell{};
    static const char kCharacters[] = {' ', ' ', ' ', 'x', 'y', 0, 0x1B, '\x9B'};
    cell.Char.AsciiChar = input.ConsumeBool() ? kCharacters[input.ConsumeIntegralInRange(0, 7)]
                                              : input.ConsumeIntegral<char>();
    static const WORD kAttributes[] = {0x07, 0x07, 0x70, 0x2F, 0x1F, 0x00, 0x4007, 0x801E};
    cell.Attributes = input.ConsumeBool() ? kAttributes[input.ConsumeIntegralInRange(0, 7)]
                                          : input.ConsumeIntegral<WORD>();
    return cell;
}

// Puts a cell of the input at `i`, in a UTF-8 client's screen now and then a character of two
// cells there: a wide one, marked, or one beyond U+FFFF as its surrogate pair.
void Place(FuzzedDataProvider& input, bool utf8, CHAR_INFO* cells, size_t i, int columns) {
    if (!utf8) {
        cells[i] = Cell(input);
        return;
    }
    const int kind = input.ConsumeIntegralInRange(0, 3);
    cells[i] = WideCell(input);
    if (kind < 2 || static_cast<int>(i % columns) == columns - 1) return;
    static const char32_t kTwoColumns[] = {0x65E5, 0xFF21, 0x1F600, 0x1F64F, 0x20000};
    WCHAR units[2];
    const char32_t c = kTwoColumns[input.ConsumeIntegralInRange(0, 4)];
    if (EncodeUtf16(c, units) == 1) units[1] = units[0];
    for (int k = 0; k < 2; ++k) {
        cells[i + k].Char.UnicodeChar = units[k];
        cells[i + k].Attributes = cells[i].Attributes;
    }
    if (c < 0x10000) {
        cells[i].Attributes |= COMMON_LVB_LEADING_BYTE;
        cells[i + 1].Attributes |= COMMON_LVB_TRAILING_BYTE;
    }
}

// As the console keeps them: a marked half without its other half becomes a blank.
void KeepWholeWideCharacters(ScreenSnapshot& screen) {
    constexpr WORD kHalves = COMMON_LVB_LEADING_BYTE | COMMON_LVB_TRAILING_BYTE;
    const int columns = screen.allocated.X;
    for (int y = 0; y < screen.allocated.Y; ++y) {
        CHAR_INFO* row = screen.cells.get() + static_cast<size_t>(y) * columns;
        for (int x = 0; x < columns; ++x) {
            if ((row[x].Attributes & kHalves) == COMMON_LVB_LEADING_BYTE && x + 1 < columns &&
                (row[x + 1].Attributes & kHalves) == COMMON_LVB_TRAILING_BYTE &&
                row[x + 1].Char.UnicodeChar == row[x].Char.UnicodeChar) {
                ++x;
            } else if ((row[x].Attributes & kHalves) != 0 ||
                       CharacterColumns(row[x].Char.UnicodeChar) == 2) {
                row[x].Attributes &= ~kHalves;
                row[x].Char.UnicodeChar = ' ';
            }
        }
    }
}

void Size(ScreenSnapshot& screen, int rows, int columns) {
    screen.allocated = COORD{static_cast<SHORT>(columns), static_cast<SHORT>(rows)};
    screen.info.dwSize = screen.allocated;
    screen.cells.reset(new CHAR_INFO[static_cast<size_t>(rows) * columns]());
}

void PlaceCursor(FuzzedDataProvider& input, ScreenSnapshot& screen) {
    screen.info.dwCursorPosition =
        COORD{static_cast<SHORT>(input.ConsumeIntegralInRange(0, screen.allocated.X - 1)),
              static_cast<SHORT>(input.ConsumeIntegralInRange(0, screen.allocated.Y - 1))};
}

// What the terminal must show at each column of a row (0: nothing of its own, the second column
// of a character of two).
std::vector<uint32_t> ExpectedRow(const CHAR_INFO* row, int columns, bool utf8) {
    if (utf8) return ShownUtf8Row(row, columns);
    std::vector<uint32_t> shown(static_cast<size_t>(columns));
    for (int x = 0; x < columns; ++x) {
        auto byte = static_cast<BYTE>(row[x].Char.AsciiChar);
        shown[x] = byte >= 0x80 ? TestOemToAnsi(byte) : ShownCharacter(byte);
    }
    return shown;
}

// The rows sent into the scrollback, as the terminal keeps them: each character's low byte, and
// 0xFF for the second column of one of two columns.
void CheckScrollback(const RecordingTerminal& terminal, const ScreenSnapshot& history, int scrolled,
                     bool utf8, TerminalPlace place) {
    const int columns = history.allocated.X;
    std::vector<std::string> expected_history(static_cast<size_t>(place.top));
    for (int y = 0; y < scrolled; ++y) {
        std::string text;
        for (uint32_t c :
             ExpectedRow(history.cells.get() + static_cast<size_t>(y) * columns, columns, utf8))
            text += static_cast<char>(c == 0 ? 0xFF : c);
        text.erase(text.find_last_not_of(' ') + 1);
        expected_history.push_back(text);
    }
    std::vector<std::string> kept = terminal.scrollback();
    for (int y = 0; y < place.top; ++y) kept.push_back(terminal.Row(y));
    if (kept != expected_history) {
        std::fprintf(stderr, "scrollback of %zu rows, %d expected\n", terminal.scrollback().size(),
                     scrolled);
        abort();
    }
}

// The terminal's screen, cell by cell: the characters, and reverse video or the colours.
void CheckScreen(const RecordingTerminal& terminal, const ScreenSnapshot& second, int color_default,
                 bool suppress, bool utf8, int top) {
    const int rows = second.allocated.Y, columns = second.allocated.X;
    for (int y = 0; y < rows; ++y) {
        const CHAR_INFO* row = second.cells.get() + static_cast<size_t>(y) * columns;
        const std::vector<uint32_t> expected_row = ExpectedRow(row, columns, utf8);
        for (int x = 0; x < columns; ++x) {
            const CHAR_INFO& cell = row[x];
            const uint32_t expected = expected_row[x];
            if (expected == 0) continue;
            const bool reverse = IsReverseVideo(cell.Attributes, suppress);
            if (color_default >= 0) {
                const bool blank = expected == ' ';
                std::string colors = ExpectedColors(cell.Attributes, color_default, blank);
                std::string shown = ShownColors(terminal, y + top, x, blank);
                if (terminal.CharAt(y + top, x) == expected && shown == colors) continue;
                std::fprintf(stderr,
                             "cell (%d,%d) attributes 0x%X, default 0x%X: shows %s, expected %s\n",
                             y, x, cell.Attributes, color_default, shown.c_str(), colors.c_str());
            }
            if (terminal.CharAt(y + top, x) != expected ||
                (color_default < 0 && terminal.ReverseAt(y + top, x) != reverse) ||
                color_default >= 0) {
                std::fprintf(stderr, "cell (%d,%d) of %dx%d: shows U+%X%s, expected U+%X%s\n", y, x,
                             rows, columns, terminal.CharAt(y + top, x),
                             terminal.ReverseAt(y + top, x) ? " reverse" : "", expected,
                             reverse ? " reverse" : "");
                std::fprintf(stderr, "the bytes sent:");
                for (char c : terminal.stream())
                    std::fprintf(stderr, " %02X", static_cast<BYTE>(c));
                std::fprintf(stderr, "\n");
                abort();
            }
        }
    }
}

// A full-screen program's pass on the alternate screen: a screen of "P", the cursor hidden or not,
// the title "edit"; then the switch back.
void RunProgram(COORD size, bool hidden, bool utf8, TerminalView& view, AnsiWriter& writer,
                const RecordingTerminal& terminal) {
    ScreenSnapshot none, own;
    Size(own, size.Y, size.X);
    for (size_t i = 0; i < static_cast<size_t>(size.X) * size.Y; ++i) {
        own.cells[i].Char.UnicodeChar = 'P';
        own.cells[i].Attributes = 0x07;
    }
    SwitchScreen(true, view, writer);
    UpdateTerminal(none, own, false, writer, TerminalPlace{}, &view);
    ShowCursor(!hidden, view, writer);
    ShowTitle(TitleSequence(L"ed\x1bit", 5, utf8), view, writer);
    writer.Flush();
    if (!terminal.alternate_screen() || terminal.cursor_visible() == hidden ||
        terminal.CharAt(size.Y - 1, size.X - 1) != 'P')
        abort();
    SwitchScreen(false, view, writer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    DWORD suppress = input.ConsumeBool() ? 1 : 0;
    // The console's colours are sent, or the reverse-video simulation.
    const int color_default = input.ConsumeBool() ? input.ConsumeIntegral<BYTE>() : -1;
    const bool redraw = input.ConsumeBool();
    const bool utf8 = input.ConsumeBool();
    const bool program = input.ConsumeIntegralInRange(0, 3) == 0;
    const bool hidden = program && input.ConsumeBool();
    int rows = input.ConsumeIntegralInRange(1, 30);
    int columns = input.ConsumeIntegralInRange(1, 100);
    if (input.ConsumeIntegralInRange(0, 15) == 0) {
        rows = input.ConsumeIntegralInRange(1, 120);
        columns = input.ConsumeIntegralInRange(1, 200);
    }

    ScreenSnapshot empty, first, second;
    Size(first, rows, columns);
    const size_t cells = static_cast<size_t>(rows) * columns;
    // A screen of one colour with a few cells of the input on it.
    CHAR_INFO background = utf8 ? WideCell(input) : Cell(input);
    for (size_t i = 0; i < cells; ++i) first.cells[i] = background;
    for (int n = input.ConsumeIntegralInRange(0, 64); n > 0; --n)
        Place(input, utf8, first.cells.get(), input.ConsumeIntegralInRange<size_t>(0, cells - 1),
              columns);
    if (utf8) KeepWholeWideCharacters(first);
    PlaceCursor(input, first);

    if (input.ConsumeIntegralInRange(0, 7) == 0) {
        rows = input.ConsumeIntegralInRange(1, 30);
        columns = input.ConsumeIntegralInRange(1, 100);
    }
    Size(second, rows, columns);
    const size_t second_cells = static_cast<size_t>(rows) * columns;
    const bool same_size = second_cells == cells && first.allocated.X == columns;
    for (size_t i = 0; i < second_cells; ++i)
        second.cells[i] = same_size ? first.cells[i] : background;
    // Scrollback (libvterm keeps none for a screen of one row): rows that left the window.
    const int scrolled = same_size && rows > 1 && input.ConsumeBool()
                             ? input.ConsumeIntegralInRange(1, 2 * rows + 3)
                             : 0;
    // A terminal taller (and wider) than the window, with scrollback only.
    const int top = scrolled > 0 ? input.ConsumeIntegralInRange(0, 9) : 0;
    const TerminalPlace place{top, top};
    const int wider = place.top > 0 ? input.ConsumeIntegralInRange(0, 9) : 0;
    ScreenSnapshot history;
    if (scrolled > 0) Size(history, scrolled, columns);
    for (int i = 0; i < scrolled * columns; ++i) history.cells[i] = background;
    for (int n = scrolled > 0 ? input.ConsumeIntegralInRange(0, 64) : 0; n > 0; --n)
        Place(input, utf8, history.cells.get(),
              input.ConsumeIntegralInRange<size_t>(0, static_cast<size_t>(scrolled) * columns - 1),
              columns);
    while (input.remaining_bytes() > 0)
        Place(input, utf8, second.cells.get(),
              input.ConsumeIntegralInRange<size_t>(0, second_cells - 1), columns);
    if (utf8) {
        KeepWholeWideCharacters(second);
        if (scrolled > 0) KeepWholeWideCharacters(history);
    }
    PlaceCursor(input, second);

    RecordingTerminal terminal(first.allocated.Y + place.top, first.allocated.X + wider, utf8);
    AnsiWriter writer(&FeedTerminal, &terminal,
                      MakeRendition(utf8, color_default >= 0 ? kColorModeSixteen : 0,
                                    static_cast<WORD>(color_default >= 0 ? color_default : 0x07),
                                    suppress != 0, &TestOemToAnsi));
    UpdateTerminal(empty, first, false, writer, place);
    TerminalView view;
    if (program) RunProgram(first.allocated, hidden, utf8, view, writer, terminal);
    TerminalView* full_screen = program ? &view : nullptr;
    terminal.Resize(rows + place.top, columns + wider);
    terminal.KeepScrollback();
    if (scrolled > 0) SendScrolledRows(history.cells.get(), scrolled, first, second, place, writer);
    UpdateTerminal(first, second, redraw, writer, place, full_screen);
    if (program) {
        ShowCursor(true, view, writer);
        writer.Flush();
        if (terminal.alternate_screen() || !terminal.cursor_visible() || terminal.title() != "edit")
            abort();
    }

    CheckScrollback(terminal, history, scrolled, utf8, place);
    CheckScreen(terminal, second, color_default, suppress != 0, utf8, place.top);
    VTermPos cursor = terminal.Cursor();
    if (cursor.row != second.info.dwCursorPosition.Y + place.top ||
        cursor.col != second.info.dwCursorPosition.X)
        abort();
    return 0;
}
