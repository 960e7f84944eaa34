// The ANSI terminal writer and the row rule.  The writer's flushes, put together, must be exactly
// the bytes of the calls made, each flush between 1 and the buffer's size and, for a UTF-8
// client, never ending inside a character; a row update must cover every changed cell and leave
// out only equal cells or, behind an erase, blank ones.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScreenMirror.h"

namespace {

struct Received {
    std::string bytes;
    std::vector<size_t> ends;  // where each flush ended in `bytes`
};

void Collect(void* context, const char* bytes, DWORD count) {
    if (count == 0 || count > AnsiWriter::kBufferSize) abort();
    auto received = static_cast<Received*>(context);
    received->bytes.append(bytes, count);
    received->ends.push_back(received->bytes.size());
}

// The model of the stream: the bytes expected, and the places inside a UTF-8 character, where no
// flush may end.
struct Expected {
    std::string bytes;
    std::vector<size_t> inside;
    char16_t high = 0;  // a UTF-8 client's pair's first half, waiting
    bool high_reverse = false;

    void Character(char32_t character, bool reverse) {
        if (reverse) bytes += "\033[7m";
        char utf8[kMaxUtf8Length];
        const DWORD length = EncodeUtf8(character, utf8);
        for (DWORD i = 1; i < length; ++i) inside.push_back(bytes.size() + i);
        bytes.append(utf8, length);
        if (reverse) bytes += "\033[0m";
    }
    // A UTF-8 client's cell: pairs joined across two cells in the first one's colours, a half
    // without its partner U+FFFD in its own.
    void Unit(char16_t unit, bool reverse) {
        const bool low = (unit & 0xFC00) == 0xDC00;
        if (high != 0 && low) {
            Character(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), high_reverse);
            high = 0;
            return;
        }
        EndSpan();
        if ((unit & 0xFC00) == 0xD800) {
            high = unit;
            high_reverse = reverse;
        } else {
            Character(low ? kReplacementCharacter : unit, reverse);
        }
    }
    // Whatever is not a cell: a first half still waiting is U+FFFD where it stands.
    void EndSpan() {
        if (high != 0) Character(kReplacementCharacter, high_reverse);
        high = 0;
    }
};

BYTE Convert(BYTE oem) {
    return static_cast<BYTE>(oem ^ 0x20);
}

CHAR_INFO Cell(FuzzedDataProvider& input) {
    CHAR_INFO cell{};
    // Mostly blanks and a few characters and colours, so that rows often agree.
    static const char kCharacters[] = {' ', ' ', ' ', 'a', 'b', 0, 0x1B, '\x80'};
    cell.Char.AsciiChar = input.ConsumeBool() ? kCharacters[input.ConsumeIntegralInRange(0, 7)]
                                              : input.ConsumeIntegral<char>();
    static const WORD kAttributes[] = {0x07, 0x07, 0x70, 0x20, 0x0F};
    cell.Attributes = input.ConsumeBool() ? kAttributes[input.ConsumeIntegralInRange(0, 4)]
                                          : input.ConsumeIntegral<WORD>();
    return cell;
}

void CheckRowRule(FuzzedDataProvider& input, const Rendition& rendition) {
    const int columns = input.ConsumeIntegralInRange(1, 160);
    std::vector<CHAR_INFO> shown(columns), current(columns);
    for (int x = 0; x < columns; ++x) {
        shown[x] = Cell(input);
        current[x] = input.ConsumeIntegralInRange(0, 3) == 0 ? Cell(input) : shown[x];
    }
    RowUpdate update = DecideRowUpdate(current.data(), shown.data(), columns, rendition);
    int first_difference = -1, last_difference = -1;
    for (int x = 0; x < columns; ++x) {
        if (rendition.CellsEqual(current[x], shown[x])) continue;
        if (first_difference < 0) first_difference = x;
        last_difference = x;
    }
    if (update.changed != (first_difference >= 0)) abort();
    if (!update.changed) return;
    if (update.first != first_difference || update.last < update.first || update.last >= columns)
        abort();
    for (int x = update.last + 1; x < columns; ++x) {
        if (update.erase ? !rendition.IsBlank(current[x]) : x <= last_difference) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    DWORD suppress = input.ConsumeBool() ? 1 : 0;
    const bool utf8 = input.ConsumeBool();
    const Rendition rendition = MakeRendition(utf8, 0, 0x07, suppress != 0, &Convert);
    CheckRowRule(input, rendition);

    Received received;
    AnsiWriter writer(&Collect, &received, rendition);
    Expected model;
    std::string& expected = model.bytes;
    while (input.remaining_bytes() > 0) {
        const int operation = input.ConsumeIntegralInRange(0, 6);
        if (operation > 1) model.EndSpan();
        switch (operation) {
            case 0:
            case 1: {
                if (utf8) {
                    const auto unit = input.ConsumeIntegral<char16_t>();
                    const WORD attributes = input.ConsumeIntegral<WORD>();
                    writer.PutCell(unit, attributes);
                    model.Unit(unit, IsReverseVideo(attributes, suppress != 0));
                    break;
                }
                BYTE character = input.ConsumeIntegral<BYTE>();
                WORD attributes = input.ConsumeIntegral<WORD>();
                writer.PutCell(character, attributes);
                bool reverse = IsReverseVideo(attributes, suppress != 0);
                if (reverse) expected += "\033[7m";
                expected += static_cast<char>(character >= 0x80 ? Convert(character) : character);
                if (reverse) expected += "\033[0m";
                break;
            }
            case 2: {
                std::string text = input.ConsumeRandomLengthString(200);
                writer.PutString(text.c_str());
                // Up to its first zero, each byte as a cell without attributes.
                for (const char* p = text.c_str(); *p != '\0'; ++p) {
                    auto byte = static_cast<BYTE>(*p);
                    expected += static_cast<char>(byte >= 0x80 ? Convert(byte) : byte);
                }
                break;
            }
            case 3: {
                unsigned row = input.ConsumeIntegral<unsigned>();
                unsigned column = input.ConsumeIntegral<unsigned>();
                writer.MoveCursor(row, column);
                char sequence[32];
                std::snprintf(sequence, sizeof sequence, "\033[%u;%uf", row + 1, column + 1);
                expected += sequence;
                break;
            }
            case 4:
                writer.ClearScreen();
                expected += "\033[2J";
                break;
            case 5:
                writer.EraseToEndOfLine();
                expected += "\033[0K";
                break;
            case 6:
                writer.Flush();
                if (writer.buffered_count() != 0) abort();
                break;
        }
        if (writer.buffered_count() > AnsiWriter::kBufferSize) abort();
    }
    writer.Flush();
    model.EndSpan();
    if (received.bytes != expected) abort();
    for (size_t end : received.ends) {
        if (std::find(model.inside.begin(), model.inside.end(), end) != model.inside.end()) abort();
    }
    return 0;
}
