// The ANSI terminal writer.
#include "AnsiWriter.h"

#include "ColorEncoding.h"
#include "Reporter.h"
#include "translator.h"

AnsiWriter::AnsiWriter(Sink sink, void* context, const Rendition& rendition)
    : sink_(sink), context_(context), rendition_(rendition), buffer_{}, count_(0) {}

void AnsiWriter::set_rendition(const Rendition& rendition) {
    rendition_ = rendition;
    attributes_known_ = false;
    held_ = HeldHalf{};
}

void AnsiWriter::PutCell(WCHAR character, WORD attributes) {
    CellBytes cells[2];
    const int count = rendition_.Encode(character, attributes, &held_, cells);
    for (int i = 0; i < count; ++i) Put(cells[i]);
}

void AnsiWriter::EndSpan() {
    CellBytes cell;
    if (rendition_.EncodeHeld(&held_, &cell) > 0) Put(cell);
}

void AnsiWriter::Put(const CellBytes& cell) {
    if (rendition_.sends_colors()) SetAttributes(cell.attributes);
    // Each reverse-video cell is switched on and off by itself; its sequences may be split.
    if (cell.reverse) AppendString("\033[7m");
    // Each flush stays whole UTF-8: a terminal that decodes write by write shows it right.
    AppendWhole(cell.text, cell.length);
    if (cell.reverse) AppendString("\033[0m");
}

void AnsiWriter::PutString(const char* text) {
    EndSpan();
    for (; *text != '\0'; ++text) Append(rendition_.ToAnsi(static_cast<BYTE>(*text)));
}

void AnsiWriter::MoveCursor(unsigned row, unsigned column) {
    EndSpan();
    char sequence[32];
    wsprintfA(sequence, "\033[%u;%uf", row + 1, column + 1);
    AppendString(sequence);
    attributes_known_ = false;
}

void AnsiWriter::ClearScreen() {
    PutErase("\033[2J");
}

void AnsiWriter::EraseBelow() {
    PutErase("\033[J");
}

void AnsiWriter::EraseToEndOfLine() {
    PutErase("\033[0K");
}

void AnsiWriter::PutControl(const char* bytes, DWORD length) {
    EndSpan();
    AppendWhole(bytes, length);
}

void AnsiWriter::LineFeed() {
    PutErase("\n");
}

void AnsiWriter::PutErase(const char* sequence) {
    EndSpan();
    if (rendition_.sends_colors()) SetAttributes(rendition_.default_attributes());
    AppendString(sequence);
}

void AnsiWriter::SetAttributes(WORD attributes) {
    if (attributes_known_ && attributes == attributes_) return;
    char sequence[kMaxSgrLength];
    DWORD length = EncodeSgr(attributes, rendition_.default_attributes(), sequence);
    // The sequence and what it is for go out in one write (an erase is 4 bytes).
    if (count_ + length + 4 > kBufferSize) SendBuffer();
    AppendWhole(sequence, length);
    attributes_known_ = true;
    attributes_ = attributes;
}

void AnsiWriter::Flush() {
    EndSpan();
    SendBuffer();
}

void AnsiWriter::SendBuffer() {
    if (count_ == 0) return;
    DWORD count = count_;
    count_ = 0;
    attributes_known_ = false;
    sink_(context_, buffer_, count);
}

void AnsiWriter::AppendWhole(const char* bytes, DWORD length) {
    if (count_ + length > kBufferSize) SendBuffer();
    for (DWORD i = 0; i < length; ++i) buffer_[count_++] = bytes[i];
}

void AnsiWriter::AppendString(const char* text) {
    for (; *text != '\0'; ++text) Append(static_cast<BYTE>(*text));
}

void AnsiWriter::Append(BYTE byte) {
    if (count_ == kBufferSize) SendBuffer();
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
