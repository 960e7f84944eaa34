// The in-band window-size messages of both protocols, in a stream that arrives in reads of any
// size.  Checked against a plain model of the stream, read one byte at a time, so a parser that
// depends on how reads split the stream shows up as a difference.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "SocketInput.h"

namespace {

// What a stream yields: data bytes, and window sizes as (columns << 16 | rows) tagged entries.
struct Event {
    bool window_size;
    int value;
    bool operator==(const Event& other) const {
        return window_size == other.window_size && value == other.value;
    }
};

int Packed(WindowSize size) {
    return (static_cast<int>(static_cast<uint16_t>(size.columns)) << 16) |
           static_cast<uint16_t>(size.rows);
}

// The stream as the servers send it: 0xFF opens a message; telnet sends the 92-byte state block
// after it (rows and columns little-endian at 84 and 88), rlogin FF 73 73 and four big-endian
// 16-bit sizes (rows, columns, then two pixel sizes).  An rlogin message whose magic does not
// match is dropped up to and with the first byte that differs.
std::vector<Event> Model(bool telnet, const std::vector<uint8_t>& stream) {
    std::vector<Event> events;
    size_t i = 0;
    while (i < stream.size()) {
        if (stream[i] != 0xFF) {
            events.push_back({false, stream[i++]});
            continue;
        }
        ++i;
        if (telnet) {
            if (stream.size() - i < kTelnetStateSize) break;
            const uint8_t* block = &stream[i];
            auto low16 = [block](size_t at) {
                return static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
            };
            events.push_back({true, (low16(88) << 16) | low16(84)});
            i += kTelnetStateSize;
            continue;
        }
        static const uint8_t kMagic[3] = {0xFF, 0x73, 0x73};
        bool matched = true;
        for (uint8_t expected : kMagic) {
            if (i >= stream.size()) return events;
            if (stream[i++] != expected) {
                matched = false;
                break;
            }
        }
        if (!matched) continue;
        if (stream.size() - i < 8) break;
        const uint8_t* sizes = &stream[i];
        uint16_t rows = static_cast<uint16_t>((sizes[0] << 8) | sizes[1]);
        uint16_t columns = static_cast<uint16_t>((sizes[2] << 8) | sizes[3]);
        events.push_back({true, (columns << 16) | rows});
        i += 8;
    }
    return events;
}

// The parser driven as the socket reader drives it: single bytes outside the telnet state block,
// within it pieces of what is still wanted, as many bytes as the pipe delivers at once.
std::vector<Event> Parse(bool telnet, const std::vector<uint8_t>& stream,
                         const std::vector<uint8_t>& splits) {
    BYTE block[kTelnetStateSize];
    InBandParser parser(telnet ? LoginProtocol::kTelnet : LoginProtocol::kRlogin, block);
    std::vector<Event> events;
    size_t at = 0, split = 0;
    while (at < stream.size()) {
        InBandParser::Step step;
        if (DWORD wanted = parser.StateBytesWanted(); wanted > 0) {
            if (wanted > kTelnetStateSize) abort();
            DWORD delivered = splits.empty() ? 1 : splits[split++ % splits.size()] % wanted + 1;
            if (delivered > stream.size() - at) delivered = static_cast<DWORD>(stream.size() - at);
            step = parser.FeedState(&stream[at], delivered);
            at += delivered;
        } else {
            BYTE byte = stream[at++];
            step = parser.Feed(byte);
            if (step == InBandParser::Step::kData) events.push_back({false, byte});
        }
        if (step == InBandParser::Step::kWindowSize) {
            if (telnet && Packed(parser.size()) != Packed(TelnetWindowSize(block))) abort();
            events.push_back({true, Packed(parser.size())});
        }
        if (step != InBandParser::Step::kInMessage && parser.InMessage()) abort();
    }
    return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool telnet = input.ConsumeBool();
    std::vector<uint8_t> splits = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 16));
    std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();

    std::vector<Event> expected = Model(telnet, stream);
    if (!(Parse(telnet, stream, {}) == expected)) abort();
    if (!(Parse(telnet, stream, splits) == expected)) abort();
    return 0;
}
