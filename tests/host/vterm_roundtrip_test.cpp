// Round trips through a real terminal emulator: the bytes of screen mirror passes are fed into
// libvterm, and what it then shows must be the console screen the pass was made from: the same
// characters, reverse video exactly where the colour rule puts it, the cursor in the same place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ColorEncoding.h"
#include "ScreenMirror.h"
#include "vterm_terminal.h"
#include "winsim/console_control.h"
#include "winsim/control.h"

namespace {

// The client's terminal (its code page the ANSI one), which also counts the flushes larger than
// the writer's buffer.
class Terminal : public RecordingTerminal {
  public:
    Terminal(int rows, int columns, bool utf8) : RecordingTerminal(rows, columns, utf8) {}

    void Feed(const char* bytes, DWORD count) {
        RecordingTerminal::Feed(bytes, count);
        if (count > AnsiWriter::kBufferSize) oversized_flushes_++;
    }
    int oversized_flushes() const { return oversized_flushes_; }

  private:
    int oversized_flushes_ = 0;
};

// An SGR sequence of the colour mode: a reset, then colours, reverse video, underline.
bool IsColorSequence(const std::string& sequence) {
    if (sequence.compare(0, 3, "\033[0") != 0 || sequence.back() != 'm') return false;
    std::istringstream parameters(sequence.substr(3, sequence.size() - 4));
    std::string parameter;
    std::getline(parameters, parameter, ';');  // empty: the text before the first ";"
    if (!parameter.empty()) return false;
    while (std::getline(parameters, parameter, ';')) {
        int n = std::atoi(parameter.c_str());
        if (parameter.empty() ||
            !((n >= 30 && n <= 37) || (n >= 40 && n <= 47) || (n >= 90 && n <= 97) ||
              (n >= 100 && n <= 107) || n == 7 || n == 4))
            return false;
    }
    return true;
}

// The control sequences in a stream, checked against the five the writer may use.  Returns the
// first one that is none of them, or an empty text.
std::string ForeignSequence(const std::string& stream) {
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] != '\033') continue;
        size_t end = stream.find_first_of("fJKm", i);
        std::string sequence = stream.substr(i, end == std::string::npos ? 8 : end - i + 1);
        if (sequence == "\033[2J" || sequence == "\033[0K" || sequence == "\033[7m" ||
            sequence == "\033[0m" || IsColorSequence(sequence)) {
            continue;
        }
        unsigned row = 0, column = 0;
        char final = 0;
        int consumed = 0;
        if (std::sscanf(sequence.c_str(), "\033[%u;%u%c%n", &row, &column, &final, &consumed) ==
                3 &&
            final == 'f' && static_cast<size_t>(consumed) == sequence.size() && row > 0 &&
            column > 0) {
            continue;
        }
        return sequence;
    }
    return "";
}

std::string Printable(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == 0x1B) {
            text += "\\e";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        } else {
            text += c;
        }
    }
    return text;
}

// Where the terminal differs from `screen`; empty when it shows it exactly.
std::string ScreenDifference(const VtermTerminal& terminal, const ScreenSnapshot& screen,
                             DWORD suppress, int color_default, bool utf8) {
    const int rows = screen.allocated.Y, columns = screen.allocated.X;
    std::ostringstream out;
    for (int y = 0; y < rows; ++y) {
        const CHAR_INFO* row = screen.cells.get() + static_cast<size_t>(y) * columns;
        const std::vector<uint32_t> wide =
            utf8 ? ShownUtf8Row(row, columns) : std::vector<uint32_t>();
        for (int x = 0; x < columns; ++x) {
            const CHAR_INFO& cell = row[x];
            auto byte = static_cast<BYTE>(cell.Char.AsciiChar);
            uint32_t expected = byte >= 0x80 ? TestOemToAnsi(byte) : ShownCharacter(byte);
            if (utf8) expected = wide[x];
            // The second cell of a two-cell character shows nothing of its own.
            if (expected == 0) continue;
            if (color_default >= 0) {
                const bool blank = expected == ' ';
                std::string colors = ExpectedColors(cell.Attributes, color_default, blank);
                std::string shown = ShownColors(terminal, y, x, blank);
                if (terminal.CharAt(y, x) != expected || shown != colors) {
                    out << "cell (" << y << "," << x << "): shows U+" << std::hex
                        << terminal.CharAt(y, x) << " " << shown << ", expected U+" << expected
                        << " " << colors << " (attributes 0x" << cell.Attributes << ", default 0x"
                        << color_default << std::dec << ")\n";
                    return out.str();
                }
                continue;
            }
            bool reverse = IsReverseVideo(cell.Attributes, suppress != 0);
            if (terminal.CharAt(y, x) != expected || terminal.ReverseAt(y, x) != reverse) {
                out << "cell (" << y << "," << x << "): shows U+" << std::hex
                    << terminal.CharAt(y, x) << (terminal.ReverseAt(y, x) ? " reverse" : "")
                    << ", expected U+" << expected << (reverse ? " reverse" : "") << std::dec
                    << " (attributes 0x" << std::hex << cell.Attributes << std::dec << ")\n";
                return out.str();
            }
        }
    }
    VTermPos cursor = terminal.Cursor();
    COORD expected = screen.info.dwCursorPosition;
    if (cursor.row != expected.Y || cursor.col != expected.X) {
        out << "cursor at (" << cursor.row << "," << cursor.col << "), expected (" << expected.Y
            << "," << expected.X << ")\n";
    }
    return out.str();
}

// The mirror's two snapshots and a writer into a terminal, driven pass by pass the way the
// mirror thread drives them: the roles change at every pass, and the snapshot about to be filled
// keeps its cells unless the console's size changed.
class Session {
  public:
    // With `color_default` not -1 the console's colours are sent, that the default attributes;
    // with utf8 the writer and the terminal take UTF-8 and the cells hold UTF-16.
    Session(int rows, int columns, DWORD suppress_color_simulation, int color_default = -1,
            bool utf8 = false)
        : terminal_(rows, columns, utf8),
          suppress_(suppress_color_simulation),
          color_default_(color_default),
          writer_(&FeedTo<Terminal>, &terminal_,
                  MakeRendition(utf8, color_default >= 0 ? kColorModeSixteen : 0,
                                static_cast<WORD>(color_default >= 0 ? color_default : 0x07),
                                suppress_color_simulation != 0, &TestOemToAnsi)),
          utf8_(utf8) {}

    // The snapshot the next pass reads into, sized for `columns` x `rows` as ReadScreen sizes it.
    ScreenSnapshot& NextScreen(int rows, int columns) {
        ScreenSnapshot& next = snapshots_[shown_];  // becomes the current one at the exchange
        COORD size{static_cast<SHORT>(columns), static_cast<SHORT>(rows)};
        next.info.dwSize = size;
        if (next.allocated.X != size.X || next.allocated.Y != size.Y) {
            next.cells.reset(new CHAR_INFO[static_cast<size_t>(rows) * columns]());
            next.allocated = size;
        }
        return next;
    }
    const ScreenSnapshot& Previous() const { return snapshots_[1 - shown_]; }

    // One pass over the screen filled in by NextScreen; the terminal follows a new size first,
    // as the client's window does in a login.
    PassResult Pass(bool redraw) {
        shown_ = 1 - shown_;
        ScreenSnapshot& current = snapshots_[1 - shown_];
        terminal_.Resize(current.allocated.Y, current.allocated.X);
        return UpdateTerminal(snapshots_[shown_], current, redraw, writer_);
    }

    // Where the terminal differs from the screen just sent; empty when it shows it exactly.
    std::string Difference() const {
        return ScreenDifference(terminal_, snapshots_[1 - shown_], suppress_, color_default_,
                                utf8_);
    }

    Terminal& terminal() { return terminal_; }

  private:
    Terminal terminal_;
    DWORD suppress_;
    int color_default_;
    AnsiWriter writer_;
    ScreenSnapshot snapshots_[2];
    int shown_ = 0;
    bool utf8_;
};

// Random screens, one after the other, in the ways a console changes: a few cells, a typed
// line, a scroll, a cleared screen, colours, a moved cursor, a new size, a redraw request.
class RandomScreens {
  public:
    // With utf8 the characters include some beyond the code pages, controls of U+0080 to U+009F,
    // characters that take two cells, marked as the console marks them, at the ends of rows too,
    // and characters beyond U+FFFF, their two surrogate halves in two cells, now and then one
    // without the other.
    explicit RandomScreens(uint32_t seed, bool utf8 = false) : random_(seed), utf8_(utf8) {}

    int Below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }

    BYTE Character() {
        int kind = Below(10);
        if (kind < 4) return ' ';
        if (kind == 4 && OneIn(4)) return OneIn(2) ? 0x7F : static_cast<BYTE>(Below(0x20));
        if (kind < 9) return static_cast<BYTE>(0x21 + Below(0x7F - 0x21));  // printable ASCII
        return static_cast<BYTE>(0x80 + Below(0x80));                       // OEM
    }
    // Sets a cell's character: its byte, or for a UTF-8 client its UTF-16 unit, a byte above
    // ASCII standing for one of a few characters beyond the code pages.
    void SetCharacter(CHAR_INFO& cell, BYTE character) {
        static const WCHAR kBeyond[] = {0xE9,  0x2500, 0x2502, 0x250C, 0x2588,
                                        0x3B1, 0x20AC, 0xFFFD, 0x9B,   0x85};
        if (!utf8_) {
            cell.Char.AsciiChar = static_cast<CHAR>(character);
            return;
        }
        cell.Attributes &= ~(COMMON_LVB_LEADING_BYTE | COMMON_LVB_TRAILING_BYTE);
        cell.Char.UnicodeChar = character < 0x80 ? character : kBeyond[character % 10];
    }

    // A few two-cell characters, then every half without its other half made a blank; the two
    // halves of a surrogate pair are left as they are.
    void PlaceWideCharacters(ScreenSnapshot& next) {
        static const WCHAR kWide[] = {0x65E5, 0x672C, 0x3042, 0xFF21};
        // Two columns on the terminal, as they take two cells in the console.
        static const char32_t kPairs[] = {0x1F600, 0x1F64F, 0x1F300, 0x20000, 0x2A6D6};
        const int rows = next.allocated.Y, columns = next.allocated.X;
        for (int n = OneIn(2) ? Below(8) : 0; n > 0 && columns > 1; --n) {
            CHAR_INFO* row = next.cells.get() + static_cast<size_t>(Below(rows)) * columns;
            int x = OneIn(3) ? columns - 2 : Below(columns - 1);
            WORD attributes = Attributes();
            if (OneIn(2)) {
                WCHAR units[2];
                EncodeUtf16(kPairs[Below(5)], units);
                for (int k = 0; k < 2; ++k) {
                    row[x + k].Char.UnicodeChar = units[k];
                    row[x + k].Attributes = attributes;
                }
                continue;
            }
            WCHAR unit = kWide[Below(4)];
            row[x].Char.UnicodeChar = row[x + 1].Char.UnicodeChar = unit;
            row[x].Attributes = attributes | COMMON_LVB_LEADING_BYTE;
            row[x + 1].Attributes = attributes | COMMON_LVB_TRAILING_BYTE;
        }
        constexpr WORD kHalves = COMMON_LVB_LEADING_BYTE | COMMON_LVB_TRAILING_BYTE;
        for (int y = 0; y < rows; ++y) {
            CHAR_INFO* row = next.cells.get() + static_cast<size_t>(y) * columns;
            for (int x = 0; x < columns; ++x) {
                if ((row[x].Attributes & COMMON_LVB_LEADING_BYTE) && x + 1 < columns &&
                    (row[x + 1].Attributes & kHalves) == COMMON_LVB_TRAILING_BYTE &&
                    row[x + 1].Char.UnicodeChar == row[x].Char.UnicodeChar &&
                    (row[x].Attributes & kHalves) == COMMON_LVB_LEADING_BYTE) {
                    ++x;  // a whole pair
                    continue;
                }
                // A two-cell character whose marks a colour change took goes too.
                const WCHAR unit = row[x].Char.UnicodeChar;
                const bool wide =
                    std::find(std::begin(kWide), std::end(kWide), unit) != std::end(kWide);
                if ((row[x].Attributes & kHalves) || wide) {
                    row[x].Attributes &= ~kHalves;
                    row[x].Char.UnicodeChar = ' ';
                }
            }
        }
    }

    WORD Attributes() {
        static const WORD common[] = {0x07, 0x07, 0x07, 0x0F, 0x1F, 0x70, 0x2F,
                                      0x47, 0xF0, 0x60, 0x0E, 0x30, 0x9F, 0xE0};
        // Now and then any colours, reversed or underscored.
        if (OneIn(8))
            return static_cast<WORD>(Below(0x100) | (OneIn(4) ? COMMON_LVB_REVERSE_VIDEO : 0) |
                                     (OneIn(4) ? COMMON_LVB_UNDERSCORE : 0));
        return common[Below(sizeof common / sizeof common[0])];
    }

    // Fills `next` (already sized) from `previous` (possibly of another size).
    void Transform(const ScreenSnapshot& previous, ScreenSnapshot& next) {
        const int rows = next.allocated.Y, columns = next.allocated.X;
        auto at = [&](ScreenSnapshot& s, int y, int x) -> CHAR_INFO& {
            return s.cells[static_cast<size_t>(y) * columns + x];
        };
        const bool same_size =
            previous.allocated.X == columns && previous.allocated.Y == rows && previous.cells;
        // Start from the previous screen, or from a blank one.
        WORD blank = OneIn(6) ? Attributes() : 0x07;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                CHAR_INFO& cell = at(next, y, x);
                if (same_size) {
                    cell = previous.cells[static_cast<size_t>(y) * columns + x];
                } else {
                    cell.Attributes = blank;
                    SetCharacter(cell, ' ');
                }
            }
        }
        switch (Below(7)) {
            case 0:  // a few cells
                for (int n = Below(6); n >= 0; --n) {
                    CHAR_INFO& cell = at(next, Below(rows), Below(columns));
                    if (OneIn(3)) {
                        cell.Attributes = Attributes();
                    } else {
                        SetCharacter(cell, Character());
                    }
                }
                break;
            case 1: {  // a line of text, its tail blank
                int y = Below(rows), length = Below(columns + 1);
                WORD attributes = OneIn(3) ? Attributes() : 0x07;
                for (int x = 0; x < columns; ++x) {
                    SetCharacter(at(next, y, x), x < length ? Character() : ' ');
                    at(next, y, x).Attributes = x < length || OneIn(2) ? attributes : 0x07;
                }
                break;
            }
            case 2: {  // scroll up by some rows, new text at the bottom
                int by = 1 + Below(rows);
                for (int y = 0; y < rows; ++y) {
                    for (int x = 0; x < columns; ++x) {
                        if (y + by < rows) {
                            at(next, y, x) = at(next, y + by, x);
                        } else {
                            SetCharacter(at(next, y, x), OneIn(3) ? Character() : ' ');
                            at(next, y, x).Attributes = blank;
                        }
                    }
                }
                break;
            }
            case 3:  // cleared
                for (int y = 0; y < rows; ++y) {
                    for (int x = 0; x < columns; ++x) {
                        SetCharacter(at(next, y, x), ' ');
                        at(next, y, x).Attributes = blank;
                    }
                }
                break;
            case 4:  // everything new
                for (int y = 0; y < rows; ++y) {
                    for (int x = 0; x < columns; ++x) {
                        SetCharacter(at(next, y, x), Character());
                        at(next, y, x).Attributes = Attributes();
                    }
                }
                break;
            case 5: {  // a row's colours only
                int y = Below(rows);
                WORD attributes = Attributes();
                for (int x = Below(columns); x < columns; ++x)
                    at(next, y, x).Attributes = attributes;
                break;
            }
            default:  // nothing but perhaps the cursor
                break;
        }
        if (utf8_) PlaceWideCharacters(next);
        COORD cursor = previous.info.dwCursorPosition;
        if (!same_size || OneIn(2) || cursor.X >= columns || cursor.Y >= rows) {
            cursor = COORD{static_cast<SHORT>(Below(columns)), static_cast<SHORT>(Below(rows))};
        }
        next.info.dwCursorPosition = cursor;
    }

  private:
    std::mt19937 random_;
    bool utf8_;
};

unsigned long EnvironmentNumber(const char* name, unsigned long otherwise) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 0) : otherwise;
}

// VTERM_ROUNDTRIP_SEED replays a run; VTERM_ROUNDTRIP_COUNT sets the number of transitions.
void RunRandomTransitions(bool utf8) {
    const auto seed =
        static_cast<uint32_t>(EnvironmentNumber("VTERM_ROUNDTRIP_SEED", std::random_device()()));
    const unsigned long count = EnvironmentNumber("VTERM_ROUNDTRIP_COUNT", 10000);
    std::printf("seed %u, %lu transitions (VTERM_ROUNDTRIP_SEED=%u replays)\n", seed, count, seed);
    RandomScreens random(seed, utf8);

    unsigned long done = 0;
    while (done < count) {
        // A session: one terminal, one login's worth of passes.
        int rows = 1 + random.Below(30), columns = 1 + random.Below(100);
        if (random.OneIn(3)) rows = 24, columns = 80;
        if (random.OneIn(40)) rows = 200, columns = 500;  // a maximised terminal
        DWORD suppress = random.OneIn(4) ? 1 : 0;
        // Half the sessions send the colours, mostly with the usual default.
        static const int kDefaults[] = {0x07, 0x07, 0x07, 0x1F, 0xF0, 0x00};
        const int color_default = random.OneIn(2) ? kDefaults[random.Below(6)] : -1;
        Session session(rows, columns, suppress, color_default, utf8);
        for (int pass = 0; pass < 200 && done < count; ++pass, ++done) {
            if (random.OneIn(25)) {
                rows = 1 + random.Below(30);
                columns = 1 + random.Below(random.OneIn(10) ? 300 : 100);
            }
            ScreenSnapshot& next = session.NextScreen(rows, columns);
            random.Transform(session.Previous(), next);
            session.Pass(random.OneIn(30));

            std::string stream = session.terminal().TakeStream();
            std::string difference = session.Difference();
            std::string foreign = ForeignSequence(stream);
            if (!difference.empty() || !foreign.empty() ||
                session.terminal().oversized_flushes() != 0) {
                ADD_FAILURE() << "transition " << done << " of seed " << seed << " (" << columns
                              << "x" << rows << ", colour simulation " << (suppress ? "off" : "on")
                              << ", colours " << color_default << "): " << difference
                              << (foreign.empty()
                                      ? ""
                                      : "unexpected sequence " + Printable(foreign) + "\n")
                              << "bytes: " << Printable(stream)
                              << "\nreplay with VTERM_ROUNDTRIP_SEED=" << seed;
                return;
            }
        }
    }
}

// Scrollback: a console with history rows above its window prints lines, repeated and blank ones
// among them, and is cleared now and then; mirror passes come at random moments, mostly no more
// lines apart than the history holds.  Now and then the command processor prints in the middle of a
// pass, after one of its console reads: far more rows than the window has may then pass between
// the mirror's search for its mark, its read of the rows and its new mark.  What the terminal
// pushed into its scrollback since the last clear, then its screen, must be the lines printed since
// then, each once and in order; its screen must be the console's window.  A clear takes the mark
// with it, so the pass after it repaints: the test makes that pass before more lines are printed.
// So does a pass after more lines than the history holds.  Some consoles are larger than one read
// of the console takes (up to 200 x 100, and 500 x 200 as a maximised terminal gets), some
// histories as long as the setting's cap, and some terminals taller than the window, which shows on
// their bottom rows: their rows above the window hold the rows that left it last (blanks at the
// start, which the check skips), and a repaint (a redraw, a new size) erases only the window's
// rows.  Lines printed between the start-up mark and the first pass reach the scrollback too.
class ScrollingConsole {
  public:
    ScrollingConsole(HANDLE output, uint32_t seed) : output_(output), random_(seed) {}

    int Below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }

    // A console of the size, the window at the bottom of the buffer, the cursor at its top.
    void Size(SHORT columns, SHORT rows, SHORT history) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        ASSERT_TRUE(GetConsoleScreenBufferInfo(output_, &info));
        SMALL_RECT small{0, 0, static_cast<SHORT>(std::min(columns, info.dwSize.X) - 1),
                         static_cast<SHORT>(std::min(rows, info.dwSize.Y) - 1)};
        ASSERT_TRUE(SetConsoleWindowInfo(output_, TRUE, &small));
        ASSERT_TRUE(SetConsoleScreenBufferSize(output_, COORD{columns, SHORT(rows + history)}));
        SMALL_RECT window{0, history, SHORT(columns - 1), SHORT(history + rows - 1)};
        ASSERT_TRUE(SetConsoleWindowInfo(output_, TRUE, &window));
        Fill();
        ASSERT_TRUE(SetConsoleCursorPosition(output_, COORD{0, history}));
        columns_ = columns;
    }

    // A client of another size, as window sizing makes the console: the window's top row stays
    // the history's end; the cells keep their place, those beyond the new size are dropped.
    void Resize(SHORT columns, SHORT rows, SHORT history) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        ASSERT_TRUE(GetConsoleScreenBufferInfo(output_, &info));
        const SHORT old_rows = SHORT(info.srWindow.Bottom - info.srWindow.Top + 1);
        SMALL_RECT small{0, 0, static_cast<SHORT>(std::min(columns, info.dwSize.X) - 1),
                         static_cast<SHORT>(std::min(rows, old_rows) - 1)};
        ASSERT_TRUE(SetConsoleWindowInfo(output_, TRUE, &small));
        ASSERT_TRUE(SetConsoleScreenBufferSize(output_, COORD{columns, SHORT(rows + history)}));
        SMALL_RECT window{0, history, SHORT(columns - 1), SHORT(history + rows - 1)};
        ASSERT_TRUE(SetConsoleWindowInfo(output_, TRUE, &window));
        columns_ = columns;
    }
    CONSOLE_SCREEN_BUFFER_INFO Info() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(output_, &info);
        return info;
    }

    // As a command processor clears the screen: blanks everywhere, the cursor to the top.
    void Clear() {
        Fill();
        SetConsoleCursorPosition(output_, COORD{0, 0});
    }

    // A line shorter than the window, so that it takes one row.
    std::string Print() {
        static const char* const kWords[] = {"y", "dir", "  indented", "same", "12345"};
        std::string line;
        int kind = Below(8);
        if (kind < 2) {
            line = "";
        } else if (kind < 4) {
            line = last_;
        } else if (kind < 6) {
            line = kWords[Below(5)];
        } else {
            for (int n = Below(columns_); n > 0; --n) line += static_cast<char>('!' + Below(90));
        }
        if (static_cast<int>(line.size()) >= columns_) line.resize(columns_ - 1);
        last_ = line;
        std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        line.erase(
            line.find_last_not_of(' ') == std::string::npos ? 0 : line.find_last_not_of(' ') + 1);
        return line;
    }

    // The window's rows without their trailing blanks, and the cursor in the window.
    std::vector<std::string> Window(VTermPos* cursor) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(output_, &info);
        const SMALL_RECT& w = info.srWindow;
        std::vector<std::string> rows;
        std::vector<CHAR_INFO> cells(static_cast<size_t>(w.Right - w.Left + 1));
        for (SHORT y = w.Top; y <= w.Bottom; ++y) {
            SMALL_RECT region{w.Left, y, w.Right, y};
            ReadConsoleOutputA(output_, cells.data(), COORD{SHORT(cells.size()), 1}, COORD{0, 0},
                               &region);
            std::string text;
            for (const CHAR_INFO& cell : cells) text += cell.Char.AsciiChar;
            text.erase(text.find_last_not_of(' ') == std::string::npos
                           ? 0
                           : text.find_last_not_of(' ') + 1);
            rows.push_back(text);
        }
        *cursor = VTermPos{info.dwCursorPosition.Y - w.Top, info.dwCursorPosition.X - w.Left};
        return rows;
    }

  private:
    void Fill() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        GetConsoleScreenBufferInfo(output_, &info);
        DWORD cells = static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y, done = 0;
        FillConsoleOutputCharacterA(output_, ' ', cells, COORD{0, 0}, &done);
        FillConsoleOutputAttribute(output_, 0x07, cells, COORD{0, 0}, &done);
    }

    HANDLE output_;
    std::mt19937 random_;
    int columns_ = 1;
    std::string last_;
};

std::vector<std::string> WithoutTrailingBlankRows(std::vector<std::string> rows) {
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
}

TEST(VtermRoundTripTest, ScrolledLinesReachTheScrollbackOnceAndInOrder) {
    const auto seed =
        static_cast<uint32_t>(EnvironmentNumber("VTERM_ROUNDTRIP_SEED", std::random_device()()));
    const unsigned long count = EnvironmentNumber("VTERM_ROUNDTRIP_COUNT", 10000);
    std::printf("seed %u, %lu lines (VTERM_ROUNDTRIP_SEED=%u replays)\n", seed, count, seed);
    winsim::test::Reset();
    // A display that shows a window of up to 500 x 200.
    winsim::SimProcess process;
    winsim::test::ConsoleSettings settings;
    settings.largest_window = COORD{500, 200};
    winsim::test::NewConsole(process, settings);
    process.Start([&] {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
        HANDLE output =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &attributes, OPEN_EXISTING, 0, nullptr);
        ScrollingConsole console(output, seed);
        const ConsoleScreen screen(output, false);
        unsigned long done = 0;
        while (done < count) {
            // Two rows at least: libvterm keeps no scrollback for a screen of one row.
            SHORT rows = SHORT(2 + console.Below(9)), columns = SHORT(2 + console.Below(40));
            SHORT history = SHORT(1 + console.Below(console.Below(4) == 0 ? 3 : 40));
            // Each run begins with a maximised terminal, with a history up to the main job's, for
            // a fifth of its lines at most.
            unsigned long end = count;
            if (done == 0 || console.Below(100) == 0) {
                end = std::min(count, done + count / 5 + 1);
                rows = 200;
                columns = 500;
                history = SHORT(1 + console.Below(2000));
            } else if (console.Below(40) == 0) {  // beyond one read, or the longest history
                rows = SHORT(60 + console.Below(41));
                columns = SHORT(161 + console.Below(40));
            } else if (console.Below(40) == 0) {
                history = CappedScrollbackLines(0xFFFFFFFF, rows);
            }
            const bool taller = console.Below(4) == 0;
            int terminal_rows = taller ? rows + 1 + console.Below(30) : rows;
            int top = terminal_rows - rows;  // the terminal's rows above the window
            int skip = top;  // the rows above it at the start or the last clear, not printed
            const int wider = taller ? console.Below(9) : 0;
            console.Size(columns, rows, history);
            RecordingTerminal terminal(terminal_rows, columns + wider);
            terminal.KeepScrollback();
            AnsiWriter writer(&FeedTo<RecordingTerminal>, &terminal, Rendition(&TestOemToAnsi));
            ScreenSnapshot snapshots[2];
            int shown = 1;  // the snapshot that the first pass sent
            ScrollTracker tracker;
            tracker.terminal_rows = terminal_rows;
            // The maximised terminal's rows are read as the main job reads them.
            tracker.whole_reads = columns == 500;
            std::vector<std::string> printed;  // since the last clear
            size_t kept_before = 0;            // the scrollback's rows before the last clear
            // Start-up puts the mark before the command processor runs, which may print before
            // the first pass.
            ScreenSnapshot start;
            ReadScrolledScreen(screen, start, tracker);
            for (int n = console.Below(history + 1); n > 0; --n, ++done)
                printed.push_back(console.Print());
            ScrollbackPass(screen, snapshots[1], snapshots[0], false, writer, tracker);
            // A long history may take a few passes to catch up, each a read's worth.
            auto catch_up = [&] {
                for (int pass = 0; pass < 1000; ++pass) {
                    shown = 1 - shown;
                    if (ScrollbackPass(screen, snapshots[shown], snapshots[1 - shown], false,
                                       writer, tracker) == PassResult::kQuiet)
                        break;
                }
            };
            catch_up();

            int reads = 0, print_at = 0, print_count = 0;  // printing in the middle of a pass
            winsim::test::AfterConsoleRead([&] {
                if (++reads != print_at) return;
                for (; print_count > 0; --print_count, ++done) printed.push_back(console.Print());
            });
            for (int step = 0; step < 100 && done < end; ++step) {
                bool cleared = console.Below(25) == 0;
                // More lines than the history holds, a window's worth beyond it.
                bool overflow = !cleared && console.Below(30) == 0;
                // A client of another size before the pass: the lines printed since the last pass
                // cross it, but for a narrower one, which drops the mark's column with the cells
                // beyond its width (those lines would not reach the scrollback).
                const bool resize = !cleared && !overflow && console.Below(8) == 0;
                const SHORT new_columns = SHORT(
                    std::clamp(columns + console.Below(21) - 10, 2, std::max(200, int(columns))));
                const bool narrower = resize && new_columns < columns;
                reads = 0;
                print_at = 1 + console.Below(8);
                // Not with a history longer than a pass reads: the rows a pass leaves for the next
                // one and those printed in the middle of it could together overflow the history.
                print_count =
                    cleared || overflow || narrower || history > 200 || console.Below(3) != 0
                        ? 0
                        : console.Below(history + 1);
                const int planned = print_count;
                if (cleared) {
                    console.Clear();
                } else if (!narrower) {
                    int lines = overflow ? history + rows + console.Below(history + 1)
                                         : console.Below(history - planned + 1);
                    for (int n = lines; n > 0; --n, ++done) printed.push_back(console.Print());
                }
                const CONSOLE_SCREEN_BUFFER_INFO before = console.Info();
                if (resize && before.srWindow.Top == history) {
                    // Fewer rows only where the console drops none the cursor reached.
                    const int low = before.dwCursorPosition.Y - history + 1;
                    SHORT new_rows =
                        SHORT(std::clamp(rows + console.Below(7) - 3, 2, std::max(100, int(rows))));
                    if (new_rows < low) new_rows = SHORT(low);
                    if (history + new_rows > SHORT(kMaxConsoleRows)) new_rows = rows;
                    if (narrower) {
                        // The lines the terminal shows are cut to its new width, those of the
                        // window to the console's.
                        const int kept =
                            static_cast<int>(terminal.scrollback().size() - kept_before);
                        for (int y = 0; y < terminal_rows; ++y) {
                            const int line = kept + y - skip;
                            if (line < 0 || line >= static_cast<int>(printed.size())) continue;
                            std::string& text = printed[static_cast<size_t>(line)];
                            text.resize(std::min<size_t>(
                                text.size(), y < top ? new_columns + wider : new_columns));
                            text.erase(text.find_last_not_of(' ') + 1);
                        }
                    }
                    if (new_rows < rows) {
                        // Fewer rows on a terminal that keeps its height (one of fewer rows moves
                        // its rows as it sees fit, pushing some into its scrollback): the window
                        // shows on more of its bottom rows, and the repaint erases the rows the
                        // window left, which then pass into the scrollback as blank lines.
                        const int kept =
                            static_cast<int>(terminal.scrollback().size() - kept_before);
                        printed.insert(
                            printed.begin() +
                                std::min<int>(kept + top - skip, static_cast<int>(printed.size())),
                            static_cast<size_t>(rows - new_rows), std::string());
                        top += rows - new_rows;
                    }
                    console.Resize(new_columns, new_rows, history);
                    columns = new_columns;
                    rows = new_rows;
                    terminal_rows = rows + top;
                    terminal.Resize(terminal_rows, columns + wider);
                    tracker.terminal_rows = terminal_rows;
                }
                shown = 1 - shown;
                ScrollbackPass(screen, snapshots[shown], snapshots[1 - shown],
                               console.Below(taller ? 10 : 40) == 0, writer, tracker);
                const int during = planned - print_count;
                print_count = 0;
                if (during > 0) {
                    // The next pass finds the rest of what was printed during this one.
                    for (int n = console.Below(history - during + 1); n > 0; --n, ++done)
                        printed.push_back(console.Print());
                    shown = 1 - shown;
                    ScrollbackPass(screen, snapshots[shown], snapshots[1 - shown], false, writer,
                                   tracker);
                }
                catch_up();
                if (cleared) {
                    printed.clear();
                    kept_before = terminal.scrollback().size();
                    skip = top;
                }
                if (overflow) {
                    // The mark went off the top with the lines above the window: the pass
                    // repaints the window, its lines but the cursor's empty bottom row, and
                    // sends nothing into the scrollback.
                    printed.erase(printed.begin(), printed.end() - (rows - 1));
                    kept_before = terminal.scrollback().size();
                    skip = top;
                }

                VTermPos cursor;
                std::vector<std::string> window = console.Window(&cursor);
                std::vector<std::string> seen(terminal.scrollback().begin() + kept_before,
                                              terminal.scrollback().end());
                std::vector<std::string> screen;
                for (int y = 0; y < terminal_rows; ++y) screen.push_back(terminal.Row(y));
                seen.insert(seen.end(), screen.begin(), screen.end());
                seen.erase(seen.begin(), seen.begin() + skip);
                screen.erase(screen.begin(), screen.begin() + top);
                const std::string bytes = terminal.TakeStream();
                VTermPos shown_cursor = terminal.Cursor();
                shown_cursor.row -= top;
                if (screen != window ||
                    WithoutTrailingBlankRows(seen) != WithoutTrailingBlankRows(printed) ||
                    shown_cursor.row != cursor.row || shown_cursor.col != cursor.col) {
                    std::string report = "screen ";
                    for (const auto& row : screen) report += "[" + row + "]";
                    report += "\nwindow ";
                    for (const auto& row : window) report += "[" + row + "]";
                    report += "\ncursor " + std::to_string(shown_cursor.row) + "," +
                              std::to_string(shown_cursor.col) + " for " +
                              std::to_string(cursor.row) + "," + std::to_string(cursor.col) + "\n";
                    for (const auto& row : WithoutTrailingBlankRows(seen))
                        report += "[" + row + "]";
                    report += "\nexpected ";
                    for (const auto& row : printed) report += "[" + row + "]";
                    ADD_FAILURE() << "line " << done << " of seed " << seed << " (" << columns
                                  << "x" << rows << ", " << history
                                  << " history rows): terminal and "
                                  << "scrollback " << report << "\nbytes: " << Printable(bytes)
                                  << "\nreplay with VTERM_ROUNDTRIP_SEED=" << seed;
                    winsim::test::AfterConsoleRead(nullptr);
                    return 0;
                }
            }
            winsim::test::AfterConsoleRead(nullptr);
        }
        return 0;
    });
    EXPECT_FALSE(process.Wait().crashed);
}

TEST(VtermRoundTripTest, RandomTransitionsShowExactlyTheConsoleScreen) {
    RunRandomTransitions(false);
}

// A UTF-8 client: the cells' characters, two-cell ones among them, as the terminal shows them.
TEST(VtermRoundTripTest, RandomTransitionsShowExactlyTheWideCellsToAUtf8Client) {
    RunRandomTransitions(true);
}

}  // namespace

// Full-screen programs: passes over the start-up buffer and over programs' own buffers in random
// turns, as the mirror makes them with the setting on: the switch of screens, the rows, the
// cursor's visibility and the title.  After each pass the terminal shows the screen the pass
// read (a program's on the alternate screen, which starts anew at each switch to it, as a new
// program's buffer may be another one), the cursor shown or hidden as the console has it, and the
// title without its control characters; back on the main screen it shows the start-up buffer
// with whatever changed on it meanwhile.
TEST(VtermRoundTripTest, FullScreenSwitchesShowTheShownBufferItsCursorAndTitle) {
    const auto seed =
        static_cast<uint32_t>(EnvironmentNumber("VTERM_ROUNDTRIP_SEED", std::random_device()()));
    std::printf("seed %u (VTERM_ROUNDTRIP_SEED=%u replays)\n", seed, seed);
    RandomScreens random(seed);
    static const wchar_t* const kTitles[] = {L"", L"cmd", L"edit \x1b[2Jfile",
                                             L"a\tb\x7f\x9b"
                                             L"c",
                                             L"x"};
    for (int session = 0; session < 40; ++session) {
        const int rows = 1 + random.Below(30), columns = 1 + random.Below(100);
        Terminal terminal(rows, columns, false);
        AnsiWriter writer(&FeedTo<Terminal>, &terminal,
                          MakeRendition(false, 0, 0x07, false, &TestOemToAnsi));
        ScreenSnapshot screens[2][2];  // the start-up buffer's, a program's
        int shown[2] = {0, 0};
        TerminalView view;
        bool program = false, visible = true;
        std::wstring title;
        for (int pass = 0; pass < 100; ++pass) {
            if (random.OneIn(6)) program = !program;
            if (random.OneIn(5)) visible = !visible;
            if (random.OneIn(8)) title = kTitles[random.Below(5)];
            if (SwitchScreen(program, view, writer) && program) {
                for (ScreenSnapshot& copy : screens[1]) copy = ScreenSnapshot{};
            }
            ScreenSnapshot(&pair)[2] = screens[program ? 1 : 0];
            int& now = shown[program ? 1 : 0];
            ScreenSnapshot& next = pair[now];
            now = 1 - now;
            next.info.dwSize = COORD{static_cast<SHORT>(columns), static_cast<SHORT>(rows)};
            if (!next.cells) {
                next.cells.reset(new CHAR_INFO[static_cast<size_t>(rows) * columns]());
                next.allocated = next.info.dwSize;
            }
            random.Transform(pair[now], next);
            UpdateTerminal(pair[now], next, false, writer, TerminalPlace{}, &view);
            ShowCursor(visible, view, writer);
            ShowTitle(TitleSequence(title.data(), title.size(), false), view, writer);
            writer.Flush();

            std::string expected_title;
            for (wchar_t c : title)
                if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F)) expected_title += char(c);
            const std::string stream = terminal.TakeStream();
            const std::string difference = ScreenDifference(terminal, next, 0, -1, false);
            if (!difference.empty() || terminal.alternate_screen() != program ||
                terminal.cursor_visible() != visible || terminal.title() != expected_title ||
                terminal.strays() != 0) {
                ADD_FAILURE() << "pass " << pass << " of session " << session << " of seed " << seed
                              << " (" << columns << "x" << rows << ", "
                              << (program ? "a program's buffer" : "the start-up buffer")
                              << ", cursor " << (visible ? "shown" : "hidden")
                              << "): " << difference << "alternate " << terminal.alternate_screen()
                              << ", cursor " << terminal.cursor_visible() << ", title \""
                              << terminal.title() << "\", " << terminal.strays()
                              << " strays\nbytes: " << Printable(stream)
                              << "\nreplay with VTERM_ROUNDTRIP_SEED=" << seed;
                return;
            }
        }
    }
}
namespace {

// A program that prints on through the passes, after the mirror's console reads (between its
// search for the mark, its read of the rows and its new mark): a few lines after each, or now and
// then a burst of up to 80, as a command processor writes a file out in large pieces.  At 80
// columns and at 200 (whose rows and those above them one whole read holds) each line reaches the
// terminal's scrollback or its screen once and in order.  A mark the output moved up after the
// search, the rows above it with it, must not end the pass with those rows unsent; a pass whose
// read ends above the old mark (a burst left many rows to send) puts the new mark above it, and
// must still tell how far the output moved on from where the old mark is, not from an older one.
TEST(VtermRoundTripTest, LinesPrintedThroughEveryReadReachTheScrollbackOnceAndInOrder) {
    constexpr int kLines = 1500;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        const bool bursts = seed % 2 == 0;
        for (SHORT columns : {SHORT(80), SHORT(200)}) {
            winsim::test::Reset();
            winsim::SimProcess process;
            winsim::test::ConsoleSettings settings;
            settings.largest_window = COORD{500, 200};
            winsim::test::NewConsole(process, settings);
            process.Start([&] {
                HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                ScrollingConsole console(output, seed);
                const ConsoleScreen screen(output, false);
                console.Size(columns, 50, 500);
                RecordingTerminal terminal(50, columns);
                terminal.KeepScrollback();
                AnsiWriter writer(&FeedTo<RecordingTerminal>, &terminal, Rendition(&TestOemToAnsi));
                ScreenSnapshot snapshots[2];
                ScrollTracker tracker;
                tracker.whole_reads = true;
                tracker.terminal_rows = 50;
                ScreenSnapshot start;  // the start-up mark, as window sizing puts it
                ReadScrolledScreen(screen, start, tracker);
                std::vector<std::string> printed;
                winsim::test::AfterConsoleRead([&] {
                    int lines = bursts ? (console.Below(10) == 0 ? console.Below(81) : 0)
                                       : console.Below(9);
                    for (; lines > 0 && printed.size() < kLines; --lines) {
                        printed.push_back("line " + std::to_string(printed.size()));
                        const std::string text = printed.back() + "\r\n";
                        DWORD written = 0;
                        WriteFile(output, text.data(), DWORD(text.size()), &written, nullptr);
                    }
                });
                for (int pass = 0; pass < 2000; ++pass) {
                    const bool all_printed = printed.size() == kLines;  // none during this pass
                    const PassResult result =
                        ScrollbackPass(screen, snapshots[pass % 2], snapshots[1 - pass % 2], false,
                                       writer, tracker);
                    if (all_printed && result == PassResult::kQuiet) break;
                }
                winsim::test::AfterConsoleRead(nullptr);
                std::vector<std::string> seen;
                for (const std::string& row : terminal.scrollback())
                    if (row.rfind("line ", 0) == 0) seen.push_back(row);
                for (int y = 0; y < 50; ++y)
                    if (terminal.Row(y).rfind("line ", 0) == 0) seen.push_back(terminal.Row(y));
                size_t same = 0;
                while (same < seen.size() && same < printed.size() && seen[same] == printed[same])
                    ++same;
                EXPECT_EQ(same, printed.size())
                    << "seed " << seed << (bursts ? ", bursts, " : ", ") << columns
                    << " columns: " << (same < seen.size() ? seen[same] : "nothing") << " where "
                    << (same < printed.size() ? printed[same] : "nothing") << " was printed";
                EXPECT_EQ(seen.size(), printed.size());
                return 0;
            });
            EXPECT_FALSE(process.Wait().crashed);
        }
    }
}

}  // namespace
