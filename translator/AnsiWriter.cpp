// The ANSI terminal writer.
#include "AnsiWriter.h"

#include "Reporter.h"
#include "translator.h"

namespace {
constexpr WORD kBackgroundWithoutIntensity = 0x70;
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
    bool reverse = IsReverseVideo(attributes);
    if (count_ == kBufferSize) Flush();
    if (character >= 0x80) character = convert_(character);
    if (reverse) {
        PutString("\033[7m");
        if (count_ == kBufferSize) Flush();
    }
    Append(character);
    if (reverse) PutString("\033[0m");
}

void AnsiWriter::PutString(const char* text) {
    for (; *text != '\0'; ++text) PutCell(static_cast<BYTE>(*text), 0);
}

void AnsiWriter::MoveCursor(unsigned row, unsigned column) {
    char sequence[32];
    wsprintfA(sequence, "\033[%u;%uf", row + 1, column + 1);
    PutString(sequence);
}

void AnsiWriter::ClearScreen() {
    PutString("\033[2J");
}

void AnsiWriter::EraseToEndOfLine() {
    PutString("\033[0K");
}

void AnsiWriter::LineFeed() {
    Append('\n');
}

void AnsiWriter::Flush() {
    if (count_ == 0) return;
    DWORD count = count_;
    count_ = 0;
    sink_(context_, buffer_, count);
}

void AnsiWriter::Append(BYTE byte) {
    if (count_ == kBufferSize) Flush();
    buffer_[count_++] = static_cast<char>(byte);
}

void WriteToSocketOutput(void* context, const char* bytes, DWORD count) {
    DWORD written = 0;
    if (WriteFile(*static_cast<HANDLE*>(context), bytes, count, &written, nullptr)) return;
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_HANDLE) ReportError("Error writing output characters: %lu", error);
}

BYTE OemToAnsi(BYTE oem) {
    char in = static_cast<char>(oem);
    char out = in;  // the conversion has no failure that is looked at
    OemToCharBuffA(&in, &out, 1);
    return static_cast<BYTE>(out);
}

// The operations of the process-wide writer, which the screen mirror alone uses, under the
// screen lock.

bool IsReverseVideo(WORD attributes) {
    return IsReverseVideo(attributes, g_translator.suppress_color_simulation != 0);
}

void PutCell(BYTE character, WORD attributes) {
    g_translator.writer.PutCell(character, attributes);
}

void PutString(const char* text) {
    g_translator.writer.PutString(text);
}

void MoveCursor(unsigned row, unsigned column) {
    g_translator.writer.MoveCursor(row, column);
}

void ClearScreen() {
    g_translator.writer.ClearScreen();
}

void EraseToEndOfLine() {
    g_translator.writer.EraseToEndOfLine();
}

DWORD EraseToEndOfLineCost() {
    return AnsiWriter::kEraseToEndOfLineCost;
}

void FlushOutput() {
    g_translator.writer.Flush();
}
