// The in-band window-size messages of both protocols, in a stream that arrives in reads of any
// size.  Checked against a plain model of the stream, read one byte at a time, so a parser that
// depends on how reads split the stream shows up as a difference.
//
// A byte of the input also selects the whole input path of a UTF-8 login, with or without key
// decoding: the stream goes through a pipe as the socket input, the socket reader takes the
// messages out and resizes a console that can show every valid size, and the key reader decodes
// the bytes left as UTF-8.  Without key decoding what comes back must be the model's data bytes as
// a decoder written here from the table of well-formed sequences gives them (each maximal invalid
// subpart one U+FFFD, a sequence cut off by the end dropped), and after each result the requested
// size must be the last one the stream held before the byte that completed it.  With key decoding
// each key must start at an Escape where that decoding stands and take bytes that are there, and
// everything else must be what the decoding gives.  In both the final size is the stream's last
// (80x24 for one out of range), the console has it, and no size was refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "KeyInput.h"
#include "SocketInput.h"
#include "WindowSizing.h"
#include "winsim/console_control.h"
#include "winsim/control.h"

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

// What one step of UTF-8 decoding at `at` gives: a byte below 0x80 as itself, a character, or
// U+FFFD for a maximal invalid subpart; `next` is where decoding goes on, and `last` is the byte
// that completed the step (the one that cut a sequence short gives its U+FFFD).  `complete` is
// false for a sequence cut off by the end of the bytes.
struct Decoded {
    bool complete;
    char32_t value;
    size_t next;
    size_t last;
};

Decoded DecodeAt(const std::vector<uint8_t>& bytes, size_t at) {
    const uint8_t lead = bytes[at];
    if (lead < 0x80) return {true, lead, at + 1, at};
    // The well-formed sequences: their length and the range of the byte after the lead; the
    // bytes after that are 80..BF.
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {true, 0xFFFD, at + 1, at};  // a continuation byte, C0, C1 or F5..FF
    }
    for (size_t k = 1; k < length; ++k) {
        if (at + k >= bytes.size()) return {false, 0, bytes.size(), bytes.size()};
        const uint8_t byte = bytes[at + k];
        if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF))
            return {true, 0xFFFD, at + k, at + k};
        value = (value << 6) | (byte & 0x3F);
    }
    return {true, value, at + length, at + length - 1};
}

// What the input path of a UTF-8 login gave: each result of the key reader, with the window size
// requested once it was given, then the size and the console at the end.
struct PathResult {
    std::vector<ClientInput> inputs;
    std::vector<WindowSize> sizes;
    WindowSize final_size{};
    COORD buffer{};
    std::string notices;  // what the resizing told the client
};

// Before the first message the requested size is one that resizing never leaves.
constexpr WindowSize kNoSize{0, 0};

bool SameSize(WindowSize a, WindowSize b) {
    return a.columns == b.columns && a.rows == b.rows;
}

WindowSize Unpacked(int packed) {
    return WindowSize{static_cast<SHORT>(static_cast<uint32_t>(packed) >> 16),
                      static_cast<SHORT>(packed & 0xFFFF)};
}

// The console that the window sizes go to, made once: one that can show every valid size.  Its
// screen buffer handle is the test runner's, so that the path runs on the runner's own thread and
// leaves nothing behind from one input to the next.
HANDLE LoginConsole() {
    static HANDLE console = [] {
        winsim::SimProcess owner;
        winsim::test::ConsoleSettings settings;
        settings.largest_window = COORD{kMaxWindowColumns, kMaxWindowRows};
        winsim::test::NewConsole(owner, settings);
        static HANDLE made;
        static DWORD runner_id;
        made = nullptr;
        runner_id = GetCurrentProcessId();
        owner.Start([] {
            HANDLE output =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            HANDLE runner = OpenProcess(PROCESS_DUP_HANDLE, FALSE, runner_id);
            return DuplicateHandle(GetCurrentProcess(), output, runner, &made, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS)
                       ? 0
                       : 1;
        });
        if (owner.Wait().code != 0 || made == nullptr) abort();
        return made;
    }();
    return console;
}

// The stream through a pipe as the socket input of a login with a console, read back by the key
// reader of a UTF-8 client until the end of the input; with `batching`, read as many bytes as
// wait at a time.
PathResult ReadThroughPath(bool telnet, bool decode, bool batching,
                           const std::vector<uint8_t>& stream) {
    static winsim::test::Sink client = winsim::test::MakeSink();
    g_translator.input_batching = batching;
    g_translator.batch_next = g_translator.batch_end = 0;
    g_translator.protocol = telnet ? LoginProtocol::kTelnet : LoginProtocol::kRlogin;
    g_translator.mode = TranslatorMode::kUndecided;
    g_translator.socket_output = client.handle();
    g_translator.console_output = LoginConsole();
    // Every input starts from the same console: 80x24, as after a login's first resize.
    g_translator.requested_size = WindowSize{80, 24};
    ResizeConsole();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(g_translator.console_output, &info) || info.dwSize.X != 80 ||
        info.dwSize.Y != 24) {
        abort();
    }
    g_translator.requested_size = kNoSize;

    HANDLE write_end = nullptr;
    if (!CreatePipe(&g_translator.socket_input, &write_end, nullptr,
                    static_cast<DWORD>(stream.size() + 1))) {
        abort();
    }
    DWORD written = 0;
    if (!stream.empty() && (!WriteFile(write_end, stream.data(), static_cast<DWORD>(stream.size()),
                                       &written, nullptr) ||
                            written != stream.size())) {
        abort();
    }
    CloseHandle(write_end);
    PathResult result;
    KeyReader reader(decode, true);
    ClientInput input;
    while (reader.Next(&input)) {
        // Each byte gives at most two results (a U+FFFD and itself).
        if (result.inputs.size() > 2 * stream.size()) abort();
        result.inputs.push_back(input);
        result.sizes.push_back(g_translator.requested_size);
    }
    CloseHandle(g_translator.socket_input);
    result.final_size = g_translator.requested_size;
    if (!GetConsoleScreenBufferInfo(g_translator.console_output, &info)) abort();
    result.buffer = info.dwSize;
    result.notices = client.Text();
    return result;
}

bool SameValue(const ClientInput& input, char32_t value) {
    if (input.is_key) return false;
    if (value < 0x80) return input.character == 0 && input.byte == value;
    return input.byte == 0 && input.character == value;
}

void CheckPath(bool telnet, bool decode, bool batching, const std::vector<uint8_t>& stream,
               const std::vector<Event>& events) {
    // The data bytes, and for each the window size the stream held before it.
    std::vector<uint8_t> data;
    std::vector<WindowSize> size_before;
    WindowSize size = kNoSize;
    for (const Event& event : events) {
        if (event.window_size) {
            size = ValidWindowSize(Unpacked(event.value));
        } else {
            data.push_back(static_cast<uint8_t>(event.value));
            size_before.push_back(size);
        }
    }

    PathResult result = ReadThroughPath(telnet, decode, batching, stream);
    if (!SameSize(result.final_size, size)) abort();
    if (!SameSize(size, kNoSize) &&
        (result.buffer.X != size.columns || result.buffer.Y != size.rows)) {
        abort();
    }
    // The console shows every valid size: no size is refused, nothing is said.
    if (!result.notices.empty()) abort();

    size_t at = 0;
    for (size_t k = 0; k < result.inputs.size(); ++k) {
        const ClientInput& input = result.inputs[k];
        if (input.is_key) {
            // Only with decoding, and only where an Escape starts afresh.
            if (!decode || at >= data.size() || data[at] != 0x1B || input.key.length == 0 ||
                input.key.length > data.size() - at) {
                abort();
            }
            at += input.key.length;
            continue;
        }
        if (at >= data.size()) abort();
        Decoded decoded = DecodeAt(data, at);
        if (!decoded.complete || !SameValue(input, decoded.value)) abort();
        // Without decoding the reader takes no byte beyond the one that completes a result.
        if (!decode && !SameSize(result.sizes[k], size_before[decoded.last])) abort();
        at = decoded.next;
    }
    // What is left is a sequence that the end of the input cut off.
    if (at < data.size() && DecodeAt(data, at).complete) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool telnet = input.ConsumeBool();
    std::vector<uint8_t> splits = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 16));
    // Bit 0: the input path of a UTF-8 login too; bit 1: with key decoding; bit 2: with input
    // batching, which must change nothing of what comes back nor when a size is taken.
    const uint8_t path = input.ConsumeIntegral<uint8_t>();
    std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();

    std::vector<Event> expected = Model(telnet, stream);
    if (!(Parse(telnet, stream, {}) == expected)) abort();
    if (!(Parse(telnet, stream, splits) == expected)) abort();
    if (path & 1) CheckPath(telnet, (path & 2) != 0, (path & 4) != 0, stream, expected);
    return 0;
}
