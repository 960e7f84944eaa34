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

#include "ScreenMirror.h"
#include "vterm_terminal.h"

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

void FeedTerminal(void* terminal, const char* bytes, DWORD count) {
    static_cast<Terminal*>(terminal)->Feed(bytes, count);
}

// The control sequences in a stream, checked against the five the writer may use.  Returns the
// first one that is none of them, or an empty text.
std::string ForeignSequence(const std::string& stream) {
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] != '\033') continue;
        size_t end = stream.find_first_of("fJKm", i);
        std::string sequence = stream.substr(i, end == std::string::npos ? 8 : end - i + 1);
        if (sequence == "\033[2J" || sequence == "\033[0K" || sequence == "\033[7m" ||
            sequence == "\033[0m") {
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

// The mirror's two snapshots and a writer into a terminal, driven pass by pass the way the
// mirror thread drives them: the roles change at every pass, and the snapshot about to be filled
// keeps its cells unless the console's size changed.
class Session {
  public:
    // With utf8 the writer and the terminal take UTF-8 and the cells hold UTF-16.
    Session(int rows, int columns, DWORD suppress_color_simulation, bool utf8 = false)
        : terminal_(rows, columns, utf8),
          suppress_(suppress_color_simulation),
          writer_(&FeedTerminal, &terminal_, &TestOemToAnsi, &suppress_),
          utf8_(utf8) {
        writer_.set_utf8(utf8);
    }

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
        const ScreenSnapshot& screen = snapshots_[1 - shown_];
        const int rows = screen.allocated.Y, columns = screen.allocated.X;
        std::ostringstream out;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const CHAR_INFO& cell = screen.cells[static_cast<size_t>(y) * columns + x];
                // The second half of a two-cell character shows nothing of its own.
                if (utf8_ && (cell.Attributes & COMMON_LVB_TRAILING_BYTE)) continue;
                auto byte = static_cast<BYTE>(cell.Char.AsciiChar);
                uint32_t expected = byte >= 0x80 ? TestOemToAnsi(byte) : ShownCharacter(byte);
                if (utf8_) expected = ShownWideCharacter(cell.Char.UnicodeChar);
                bool reverse = IsReverseVideo(cell.Attributes, suppress_ != 0);
                if (terminal_.CharAt(y, x) != expected || terminal_.ReverseAt(y, x) != reverse) {
                    out << "cell (" << y << "," << x << "): shows U+" << std::hex
                        << terminal_.CharAt(y, x) << (terminal_.ReverseAt(y, x) ? " reverse" : "")
                        << ", expected U+" << expected << (reverse ? " reverse" : "") << std::dec
                        << " (attributes 0x" << std::hex << cell.Attributes << std::dec << ")\n";
                    return out.str();
                }
            }
        }
        VTermPos cursor = terminal_.Cursor();
        COORD expected = screen.info.dwCursorPosition;
        if (cursor.row != expected.Y || cursor.col != expected.X) {
            out << "cursor at (" << cursor.row << "," << cursor.col << "), expected (" << expected.Y
                << "," << expected.X << ")\n";
        }
        return out.str();
    }

    Terminal& terminal() { return terminal_; }

  private:
    Terminal terminal_;
    DWORD suppress_;
    AnsiWriter writer_;
    ScreenSnapshot snapshots_[2];
    int shown_ = 0;
    bool utf8_;
};

// Random screens, one after the other, in the ways a console changes: a few cells, a typed
// line, a scroll, a cleared screen, colours, a moved cursor, a new size, a redraw request.
class RandomScreens {
  public:
    // With utf8 the characters include some beyond the code pages and characters that take two
    // cells, marked as the console marks them.
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
        static const WCHAR kBeyond[] = {0xE9,   0x2500, 0x2502, 0x250C,
                                        0x2588, 0x3B1,  0x20AC, 0xFFFD};
        if (!utf8_) {
            cell.Char.AsciiChar = static_cast<CHAR>(character);
            return;
        }
        cell.Attributes &= ~(COMMON_LVB_LEADING_BYTE | COMMON_LVB_TRAILING_BYTE);
        cell.Char.UnicodeChar = character < 0x80 ? character : kBeyond[character % 8];
    }

    // A few two-cell characters, then every half without its other half made a blank.
    void PlaceWideCharacters(ScreenSnapshot& next) {
        static const WCHAR kWide[] = {0x65E5, 0x672C, 0x3042, 0xFF21};
        const int rows = next.allocated.Y, columns = next.allocated.X;
        for (int n = OneIn(2) ? Below(8) : 0; n > 0 && columns > 1; --n) {
            CHAR_INFO* row = next.cells.get() + static_cast<size_t>(Below(rows)) * columns;
            int x = Below(columns - 1);
            WCHAR unit = kWide[Below(4)];
            WORD attributes = Attributes();
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
        if (OneIn(8)) return static_cast<WORD>(Below(0x100));
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
        DWORD suppress = random.OneIn(4) ? 1 : 0;
        Session session(rows, columns, suppress, utf8);
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
                              << "): " << difference
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

TEST(VtermRoundTripTest, RandomTransitionsShowExactlyTheConsoleScreen) {
    RunRandomTransitions(false);
}

// A UTF-8 client: the cells' characters, two-cell ones among them, as the terminal shows them.
TEST(VtermRoundTripTest, RandomTransitionsShowExactlyTheWideCellsToAUtf8Client) {
    RunRandomTransitions(true);
}

}  // namespace
