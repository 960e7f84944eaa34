// Simple mode output relay: passes what the command processor writes to the client.
#include "OutputRelay.h"

#include <atomic>
#include <memory>

#include "Reporter.h"
#include "ZEVENT.h"

bool TranslatesLineEnds(DWORD output_mode, DWORD input_mode) {
    return (output_mode & ENABLE_PROCESSED_OUTPUT) != 0 &&
           (input_mode & (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT)) != 0;
}

bool HoldsLineFeed(const BYTE* chunk, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        if (chunk[i] == '\n') return true;
    }
    return false;
}

DWORD BuildRelayOutput(const BYTE* chunk, const BYTE* converted, DWORD count,
                       bool translate_line_ends, RelayCarry* carry, BYTE* output) {
    DWORD length = 0;
    // A carriage return that closed the previous chunk still pairs with a line feed that opens
    // this one: the pipe cuts the stream wherever its reads fall.
    bool after_carriage_return = carry->after_carriage_return;
    for (DWORD i = 0; i < count; ++i) {
        // Only the upper half is converted: control characters and ASCII pass as written.
        BYTE byte = chunk[i] <= 0x7F ? chunk[i] : converted[i];
        if (translate_line_ends && byte == '\n' && !after_carriage_return) output[length++] = '\r';
        output[length++] = byte;
        after_carriage_return = byte == '\r';
    }
    carry->after_carriage_return = after_carriage_return;
    return length;
}

DWORD AdvanceColumn(DWORD column, const BYTE* bytes, DWORD count, bool utf8) {
    Utf8Decoder decoder;
    for (DWORD i = 0; i < count; ++i) {
        char32_t decoded[2] = {bytes[i], 0};
        const int n = utf8 ? decoder.Feed(bytes[i], decoded) : 1;
        for (int k = 0; k < n; ++k) {
            const char32_t c = decoded[k];
            if (c == '\r') {
                column = 0;
            } else if (c == '\b') {
                column -= column > 0 ? 1 : 0;
            } else if (c == '\t') {
                column = (column / 8 + 1) * 8;
            } else if (c >= 0x20 && c != 0x7F) {
                column += utf8 ? static_cast<DWORD>(CharacterColumns(c)) : 1;
            }
        }
    }
    return column;
}

namespace {

std::atomic<DWORD> g_client_column{0};

}  // namespace

void NoteClientBytes(const void* bytes, DWORD count, bool utf8) {
    g_client_column.store(
        AdvanceColumn(g_client_column.load(), static_cast<const BYTE*>(bytes), count, utf8));
}

DWORD ClientColumn() {
    return g_client_column.load();
}

namespace {

bool IsEndOfPipe(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_INVALID_HANDLE;
}

int64_t Microseconds(int64_t ticks) {
    static const int64_t frequency = [] {
        LARGE_INTEGER f{};
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    // In two steps, so that no span of the counter overflows.
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

int64_t PerformanceCounter() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

// A UTF-8 client gets the text in the console's output code page of the moment, which a program
// may change (to UTF-8, say); while it cannot be read the last one known holds.  `read_began` is
// the performance counter before the read of the chunk.
DWORD OutputRelay::RelayUtf8Chunk(const BYTE* chunk, DWORD count, int64_t read_began,
                                  bool translate_line_ends, BYTE* output) {
    static_assert(RelayUtf8Converter::OutputSize(kRelayChunkSize) >= 2 * kRelayChunkSize);
    // ASCII is the same in every code page the console takes: only a chunk with other bytes
    // needs to know which one is in force.
    bool ascii = true;
    for (DWORD i = 0; i < count && ascii; ++i) ascii = chunk[i] < 0x80;
    if (!ascii) {
        const int64_t now = PerformanceCounter();
        if (!code_page_asked_ || !CodePageHolds(Microseconds(now - code_page_asked_at_),
                                                Microseconds(now - read_began))) {
            if (UINT code_page = GetConsoleOutputCP(); code_page != 0) {
                code_page_ = code_page;
                code_page_asked_ = true;
                code_page_asked_at_ = now;
            }
        }
    }
    return converter_.Convert(chunk, count, code_page_, translate_line_ends, output);
}

bool OutputRelay::RelayOneChunk() {
    g_output_gate.Wait();
    // The end of the login asked the relay to stop: it touches none of the process's objects
    // again, so that they can be torn down.
    if (g_translator.relay_stop.load() != 0) return false;

    const bool utf8 = utf8_;
    const int64_t read_began = utf8 ? PerformanceCounter() : 0;
    BYTE chunk[kRelayChunkSize];
    DWORD count = 0;
    if (!ReadFile(g_translator.translation_read, chunk, kRelayChunkSize, &count, nullptr)) {
        DWORD error = GetLastError();
        if (!IsEndOfPipe(error)) ReportError("Read of output translation pipe failed: %lu", error);
        return false;
    }
    // A write of no bytes reaches the pipe's reader as a read of none: nothing to pass on, and
    // an empty write might tell the client that the stream has ended.
    if (count == 0) return true;

    BYTE converted[kRelayChunkSize];
    if (!utf8 && !OemToCharBuffA(reinterpret_cast<const char*>(chunk),
                                 reinterpret_cast<char*>(converted), count)) {
        ReportError("Error translating output: %lu", GetLastError());
        return false;
    }

    // The modes are read for every chunk that holds a line feed, so the rule follows the console
    // program of the moment; the other chunks come out the same in any mode, and spare the two
    // round trips to the console.
    bool translate_line_ends = false;
    if (HoldsLineFeed(chunk, count)) {
        DWORD output_mode = 0;
        if (!GetConsoleMode(g_translator.console_output, &output_mode)) {
            ReportError("Error getting console output mode: %lu", GetLastError());
            return false;
        }
        DWORD input_mode = 0;
        if (!GetConsoleMode(g_translator.console_input, &input_mode)) {
            ReportError("Error getting console input mode: %lu", GetLastError());
            return false;
        }
        translate_line_ends = TranslatesLineEnds(output_mode, input_mode);
    }

    BYTE output[RelayUtf8Converter::OutputSize(kRelayChunkSize)];
    DWORD length =
        utf8 ? RelayUtf8Chunk(chunk, count, read_began, translate_line_ends, output)
             : BuildRelayOutput(chunk, converted, count, translate_line_ends, &carry_, output);
    if (!WriteToClient(output, length)) {
        ReportError("Writing translated output to socket: %lu", GetLastError());
        return false;
    }
    NoteClientBytes(output, length, utf8);
    return true;
}

void __cdecl OutputRelayThread(void* relay) {
    const std::unique_ptr<OutputRelay> owned(static_cast<OutputRelay*>(relay));
    while (owned->RelayOneChunk()) {
    }
    if (g_translator.relay_ended != nullptr) SetEvent(g_translator.relay_ended);
}
