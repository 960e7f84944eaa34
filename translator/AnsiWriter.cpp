// The ANSI terminal writer.
#include "AnsiWriter.h"

#include "ColorEncoding.h"
#include "Reporter.h"
#include "translator.h"

namespace {
constexpr WORD kBackgroundWithoutIntensity = 0x70;
// What PutWideCell hands PutCell for a character beyond ASCII.
constexpr BYTE kWidePlaceholder = 0x80;
}  // namespace

bool IsReverseVideo(WORD attributes, bool suppress_color_simulation) {
    if (suppress_color_simulation) return false;
    switch (attributes & kBackgroundWithoutIntensity) {
        case BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN:
        case BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE:
            return true;
        default:
            return false;
    }
}

AnsiWriter::AnsiWriter(Sink sink, void* context, Converter convert,
                       const DWORD* suppress_color_simulation)
    : sink_(sink),
      context_(context),
      convert_(convert),
      suppress_color_simulation_(suppress_color_simulation),
      buffer_{},
      count_(0) {}

bool AnsiWriter::IsReverseVideo(WORD attributes) const {
    return ::IsReverseVideo(attributes, suppress_color_simulation());
}

void AnsiWriter::PutCell(BYTE character, WORD attributes) {
    if (sends_colors_) {
        PutColoredCell(character, attributes);
        return;
    }
    bool reverse = IsReverseVideo(attributes);
    if (count_ == kBufferSize) Flush();
    if (character >= 0x80 && wide_length_ == 0) character = convert_(character);
    if (reverse) {
        PutString("\033[7m");
        if (count_ == kBufferSize) Flush();
    }
    AppendCharacter(character);
    if (reverse) PutString("\033[0m");
}

void AnsiWriter::PutWideCell(WCHAR unit, WORD attributes) {
    char32_t character = unit;
    if (high_surrogate_ != 0) {
        // The pair's second half completes the character the first half's cell held back.
        const char32_t high = high_surrogate_;
        high_surrogate_ = 0;
        if ((unit & 0xFC00) != 0xDC00) {
            PutWideCell(static_cast<WCHAR>(kReplacementCharacter), attributes);
            PutWideCell(unit, attributes);
            return;
        }
        character = 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00);
    } else if ((unit & 0xFC00) == 0xD800) {
        high_surrogate_ = unit;
        return;
    } else if ((unit & 0xFC00) == 0xDC00) {
        character = kReplacementCharacter;
    }
    if (character < 0x80) {
        PutCell(static_cast<BYTE>(character), attributes);
        return;
    }
    wide_length_ = EncodeUtf8(character, wide_bytes_);
    PutCell(kWidePlaceholder, attributes);  // AppendCharacter puts the bytes in its place
}

void AnsiWriter::PutString(const char* text) {
    for (; *text != '\0'; ++text) {
        if (sends_colors_) {
            Append(static_cast<BYTE>(*text));  // the control sequences, ASCII
        } else {
            PutCell(static_cast<BYTE>(*text), 0);
        }
    }
}

void AnsiWriter::MoveCursor(unsigned row, unsigned column) {
    char sequence[32];
    wsprintfA(sequence, "\033[%u;%uf", row + 1, column + 1);
    PutString(sequence);
    attributes_known_ = false;
}

void AnsiWriter::ClearScreen() {
    // A terminal fills what it erases with the current background.
    if (sends_colors_) SetAttributes(default_attributes_);
    PutString("\033[2J");
}

void AnsiWriter::EraseToEndOfLine() {
    if (sends_colors_) SetAttributes(default_attributes_);
    PutString("\033[0K");
}

void AnsiWriter::SetColorMode(DWORD mode, WORD default_attributes) {
    sends_colors_ = mode == kColorModeSixteen;
    default_attributes_ = default_attributes;
    attributes_known_ = false;
}

void AnsiWriter::PutColoredCell(BYTE character, WORD attributes) {
    if (character >= 0x80 && wide_length_ == 0) character = convert_(character);
    SetAttributes(attributes);
    AppendCharacter(character);
}

void AnsiWriter::SetAttributes(WORD attributes) {
    if (attributes_known_ && attributes == attributes_) return;
    char sequence[kMaxSgrLength];
    DWORD length = EncodeSgr(attributes, default_attributes_, sequence);
    // The sequence and what it is for go out in one write (an erase is 4 bytes).
    if (count_ + length + 4 > kBufferSize) Flush();
    for (DWORD i = 0; i < length; ++i) Append(static_cast<BYTE>(sequence[i]));
    attributes_known_ = true;
    attributes_ = attributes;
}

void AnsiWriter::LineFeed() {
    // The line a line feed opens takes the current background: the terminal's own colours first.
    if (sends_colors_) SetAttributes(default_attributes_);
    Append('\n');
}

void AnsiWriter::Flush() {
    if (count_ == 0) return;
    DWORD count = count_;
    count_ = 0;
    attributes_known_ = false;
    sink_(context_, buffer_, count);
}

void AnsiWriter::AppendCharacter(BYTE character) {
    // The sequences around the cell are ASCII: only the placeholder stands for the character.
    if (wide_length_ == 0 || character != kWidePlaceholder) {
        Append(character);
        return;
    }
    const DWORD length = wide_length_;
    wide_length_ = 0;
    // Each flush stays whole UTF-8: a terminal that decodes write by write shows it right.
    if (count_ + length > kBufferSize) Flush();
    for (DWORD i = 0; i < length; ++i) Append(static_cast<BYTE>(wide_bytes_[i]));
}

void AnsiWriter::Append(BYTE byte) {
    if (count_ == kBufferSize) Flush();
    buffer_[count_++] = static_cast<char>(byte);
}

void WriteToSocketOutput(void*, const char* bytes, DWORD count) {
    if (WriteToClient(bytes, count)) return;
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_HANDLE) ReportError("Error writing output characters: %lu", error);
}

BYTE OemToAnsi(BYTE oem) {
    char in = static_cast<char>(oem);
    char out = in;  // the conversion has no failure that is looked at
    OemToCharBuffA(&in, &out, 1);
    return static_cast<BYTE>(out);
}
