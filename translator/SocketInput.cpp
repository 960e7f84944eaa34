// Socket input: the one reader of the socket input pipe, and the rlogin control bytes.
#include "SocketInput.h"

#include "Reporter.h"
#include "SessionRecording.h"
#include "ZEVENT.h"

namespace {

constexpr BYTE kMessageStart = 0xFF;
constexpr BYTE kRloginMagic[3] = {0xFF, 0x73, 0x73};

SHORT LittleEndianLow16(const BYTE* bytes) {
    return static_cast<SHORT>(bytes[0] | (bytes[1] << 8));
}

SHORT BigEndian16(const BYTE* bytes) {
    return static_cast<SHORT>((bytes[0] << 8) | bytes[1]);
}

// The end of the pipe (the server or the child watcher closed it) is not worth a report.
bool IsEndOfInput(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_INVALID_HANDLE;
}

// Reads socket input as ReadFile does.  With batching, the bytes come from the batch, which a
// read refills with what is waiting once it is empty.
bool ReadSocketInput(BYTE* bytes, DWORD wanted, DWORD* count) {
    TranslatorState& t = g_translator;
    if (!t.input_batching) return ReadFile(t.socket_input, bytes, wanted, count, nullptr) != FALSE;
    if (t.batch_next == t.batch_end) {
        DWORD read = 0;
        t.batch_next = t.batch_end = 0;
        if (!ReadFile(t.socket_input, t.socket_batch, sizeof t.socket_batch, &read, nullptr))
            return false;
        t.batch_end = read;
    }
    const DWORD left = t.batch_end - t.batch_next;
    *count = wanted < left ? wanted : left;
    for (DWORD i = 0; i < *count; ++i) bytes[i] = t.socket_batch[t.batch_next + i];
    t.batch_next += *count;
    return true;
}

// Polls the socket input until a byte waits in it or `wait_ms` have passed since `start`.  A
// handle that cannot be peeked at (the end of the pipe, or no pipe) counts as one with a byte:
// the read that follows finds out what it holds.
bool SocketInputArrives(DWORD start, DWORD wait_ms) {
    constexpr DWORD kPollStepMs = 5;
    if (g_translator.batch_next < g_translator.batch_end) return true;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(g_translator.socket_input, nullptr, 0, nullptr, &available, nullptr) ||
            available > 0) {
            return true;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= wait_ms) return false;
        Sleep(wait_ms - waited < kPollStepMs ? wait_ms - waited : kPollStepMs);
    }
}

}  // namespace

WindowSize TelnetWindowSize(const BYTE* block) {
    return WindowSize{LittleEndianLow16(block + 88), LittleEndianLow16(block + 84)};
}

InBandParser::InBandParser(LoginProtocol protocol, BYTE* telnet_block)
    : protocol_(protocol), telnet_block_(telnet_block) {}

DWORD InBandParser::StateBytesWanted() const {
    return stage_ == Stage::kTelnetState ? kTelnetStateSize - received_ : 0;
}

InBandParser::Step InBandParser::Feed(BYTE byte) {
    switch (stage_) {
        case Stage::kIdle:
            if (byte != kMessageStart) return Step::kData;
            stage_ =
                protocol_ == LoginProtocol::kTelnet ? Stage::kTelnetState : Stage::kRloginMagic;
            received_ = 0;
            return Step::kInMessage;
        case Stage::kTelnetState:
            return FeedState(&byte, 1);
        case Stage::kRloginMagic:
            if (byte != kRloginMagic[received_]) {
                stage_ = Stage::kIdle;
                return Step::kAbandoned;
            }
            if (++received_ == sizeof kRloginMagic) {
                stage_ = Stage::kRloginSizes;
                received_ = 0;
            }
            return Step::kInMessage;
        case Stage::kRloginSizes:
            sizes_[received_++] = byte;
            if (received_ < sizeof sizes_) return Step::kInMessage;
            // Rows, then columns, most significant byte first; the pixel sizes are ignored.
            size_ = WindowSize{BigEndian16(sizes_ + 2), BigEndian16(sizes_)};
            stage_ = Stage::kIdle;
            return Step::kWindowSize;
    }
    return Step::kData;
}

InBandParser::Step InBandParser::FeedState(const BYTE* bytes, DWORD count) {
    if (stage_ != Stage::kTelnetState) return Step::kAbandoned;
    DWORD wanted = kTelnetStateSize - received_;
    if (count > wanted) count = wanted;
    for (DWORD i = 0; i < count; ++i) telnet_block_[received_ + i] = bytes[i];
    received_ += count;
    if (received_ < kTelnetStateSize) return Step::kInMessage;
    size_ = TelnetWindowSize(telnet_block_);
    stage_ = Stage::kIdle;
    return Step::kWindowSize;
}

bool ReadSocketByte(BYTE* byte) {
    return ReadSocketByteWithin(byte, INFINITE, nullptr);
}

bool ReadSocketByteWithin(BYTE* byte, DWORD wait_ms, bool* timed_out) {
    const DWORD start = GetTickCount();
    InBandParser parser(g_translator.protocol, g_translator.telnet_state);
    for (;;) {
        InBandParser::Step step;
        DWORD count = 0;
        if (DWORD wanted = parser.StateBytesWanted(); wanted > 0) {
            // The rest of the telnet state block in one read; it may deliver less.
            BYTE piece[kTelnetStateSize];
            if (!ReadSocketInput(piece, wanted, &count)) {
                DWORD error = GetLastError();
                if (!IsEndOfInput(error))
                    ReportError("Read of socket input pipe for telnet state failed: %lu", error);
                parser.Abandon();
                continue;
            }
            step = parser.FeedState(piece, count);
        } else {
            BYTE read = 0;
            if (wait_ms != INFINITE && !parser.InMessage() && !SocketInputArrives(start, wait_ms)) {
                *timed_out = true;
                return false;
            }
            if (!ReadSocketInput(&read, 1, &count)) {
                DWORD error = GetLastError();
                if (!IsEndOfInput(error))
                    ReportError("Read of socket input pipe failed: %lu", error);
                if (!parser.InMessage()) return false;
                // A message cut short is dropped; the next read tells whether input goes on.
                parser.Abandon();
                continue;
            }
            // A successful read of no byte delivers nothing: read again.
            if (count == 0) continue;
            step = parser.Feed(read);
            if (step == InBandParser::Step::kData) {
                RecordInput(&read, 1);
                *byte = read;
                return true;
            }
        }
        if (step == InBandParser::Step::kWindowSize) {
            g_screen_lock.Enter();
            g_translator.requested_size = parser.size();
            g_translator.terminal_size = parser.size();
            g_screen_lock.Leave();
            RecordResize(parser.size());
            ResizeConsole();
        }
    }
}

bool PeekSocketBatch(BYTE* byte) {
    const TranslatorState& t = g_translator;
    if (t.batch_next == t.batch_end || t.socket_batch[t.batch_next] == kMessageStart) return false;
    *byte = t.socket_batch[t.batch_next];
    return true;
}

bool WriteToClient(const void* bytes, DWORD count) {
    if (g_translator.recorder.load() != nullptr) return WriteAndRecord(bytes, count);
    DWORD written = 0;
    return WriteFile(g_translator.socket_output, bytes, count, &written, nullptr) != FALSE;
}

void SendRloginControlBytes() {
    // 0x10 switches the client to raw mode; 0x80 asks it for its window size.
    static const BYTE kRawMode = 0x10;
    static const BYTE kWindowSizeRequest = 0x80;
    DWORD written = 0;
    if (!WriteFile(g_translator.control_channel, &kRawMode, 1, &written, nullptr))
        ReportError("Error setting raw mode: %lu", GetLastError());
    if (!WriteFile(g_translator.control_channel, &kWindowSizeRequest, 1, &written, nullptr))
        ReportError("Error asking for screen size: %lu", GetLastError());
}

void RefreshInputMode(DWORD* mode) {
    DWORD queried = 0;
    if (GetConsoleMode(g_translator.console_input, &queried)) {
        *mode = queried;
    } else {
        ReportError("Could get input mode: %lu", GetLastError());
    }
}
