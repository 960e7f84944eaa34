// Differential: two screens from the input, the first sent whole and the second as the mirror's
// update, fed to a real terminal emulator (libvterm).  The terminal must then show the second
// screen: its characters as the client's code page gives them, reverse video where the colour
// rule puts it (or, when colours are sent, each cell's colours, reverse video and underline),
// the cursor in its place.  With scrollback, rows that left the window come between the two,
// sent into the terminal's scrollback: it must then hold exactly those rows.  Screens go beyond
// what one console read takes (up to 200 x 120); with scrollback the terminal may be taller and
// wider than the window, which it shows on its bottom rows: the rows above the window, after the
// scrollback, then hold the rows that left the window, below the blanks they held.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    DWORD suppress = input.ConsumeBool() ? 1 : 0;
    // The console's colours are sent, or the reverse-video simulation.
    const int color_default = input.ConsumeBool() ? input.ConsumeIntegral<BYTE>() : -1;
    const bool redraw = input.ConsumeBool();
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
    CHAR_INFO background = Cell(input);
    for (size_t i = 0; i < cells; ++i) first.cells[i] = background;
    for (int n = input.ConsumeIntegralInRange(0, 64); n > 0; --n)
        first.cells[input.ConsumeIntegralInRange<size_t>(0, cells - 1)] = Cell(input);
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
    std::vector<CHAR_INFO> history(static_cast<size_t>(scrolled) * columns, background);
    for (int n = scrolled > 0 ? input.ConsumeIntegralInRange(0, 64) : 0; n > 0; --n)
        history[input.ConsumeIntegralInRange<size_t>(0, history.size() - 1)] = Cell(input);
    while (input.remaining_bytes() > 0)
        second.cells[input.ConsumeIntegralInRange<size_t>(0, second_cells - 1)] = Cell(input);
    PlaceCursor(input, second);

    RecordingTerminal terminal(first.allocated.Y + place.top, first.allocated.X + wider);
    AnsiWriter writer(&FeedTerminal, &terminal,
                      MakeRendition(false, color_default >= 0 ? kColorModeSixteen : 0,
                                    static_cast<WORD>(color_default >= 0 ? color_default : 0x07),
                                    suppress != 0, &TestOemToAnsi));
    UpdateTerminal(empty, first, false, writer, place);
    terminal.Resize(rows + place.top, columns + wider);
    terminal.KeepScrollback();
    if (scrolled > 0) SendScrolledRows(history.data(), scrolled, first, second, place, writer);
    UpdateTerminal(first, second, redraw, writer, place);

    std::vector<std::string> expected_history(static_cast<size_t>(place.top));
    for (int y = 0; y < scrolled; ++y) {
        std::string text;
        for (int x = 0; x < columns; ++x) {
            auto byte =
                static_cast<BYTE>(history[static_cast<size_t>(y) * columns + x].Char.AsciiChar);
            text += static_cast<char>(byte >= 0x80 ? TestOemToAnsi(byte) : ShownCharacter(byte));
        }
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

    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            const CHAR_INFO& cell = second.cells[static_cast<size_t>(y) * columns + x];
            auto byte = static_cast<BYTE>(cell.Char.AsciiChar);
            uint32_t expected = byte >= 0x80 ? TestOemToAnsi(byte) : ShownCharacter(byte);
            const bool reverse = IsReverseVideo(cell.Attributes, suppress != 0);
            if (color_default >= 0) {
                const bool blank = expected == ' ';
                std::string colors = ExpectedColors(cell.Attributes, color_default, blank);
                std::string shown = ShownColors(terminal, y + place.top, x, blank);
                if (terminal.CharAt(y + place.top, x) == expected && shown == colors) continue;
                std::fprintf(stderr,
                             "cell (%d,%d) attributes 0x%X, default 0x%X: shows %s, expected %s\n",
                             y, x, cell.Attributes, color_default, shown.c_str(), colors.c_str());
            }
            if (terminal.CharAt(y + place.top, x) != expected ||
                (color_default < 0 && terminal.ReverseAt(y + place.top, x) != reverse) ||
                color_default >= 0) {
                std::fprintf(stderr, "cell (%d,%d) of %dx%d: shows U+%X%s, expected U+%X%s\n", y, x,
                             rows, columns, terminal.CharAt(y + place.top, x),
                             terminal.ReverseAt(y + place.top, x) ? " reverse" : "", expected,
                             reverse ? " reverse" : "");
                std::fprintf(stderr, "the bytes sent:");
                for (char c : terminal.stream())
                    std::fprintf(stderr, " %02X", static_cast<BYTE>(c));
                std::fprintf(stderr, "\n");
                abort();
            }
        }
    }
    VTermPos cursor = terminal.Cursor();
    if (cursor.row != second.info.dwCursorPosition.Y + place.top ||
        cursor.col != second.info.dwCursorPosition.X)
        abort();
    return 0;
}
