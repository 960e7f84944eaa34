// The simple-mode relay's rules, over any stream cut into chunks of any size up to the relay's
// read size and console modes that change between any two chunks: the output fits its buffer of
// twice the chunk, keeps every byte in order (the upper half converted, the rest as read), and
// adds nothing but a carriage return before a line feed whose preceding byte in the stream is
// none, only where line ends are translated.  The relay reads the modes only for chunks that hold
// a line feed; its bytes are those of a relay that reads them for every chunk.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "OutputRelay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    RelayCarry carry;        // the relay's, which reads the modes only for line feeds
    RelayCarry every_carry;  // a relay's that reads them for every chunk
    BYTE previous = 0;       // the model's: the last byte sent, across chunks
    while (input.remaining_bytes() > 0) {
        const DWORD output_mode = input.ConsumeIntegral<DWORD>();
        const DWORD input_mode = input.ConsumeIntegral<DWORD>();
        const bool translate = TranslatesLineEnds(output_mode, input_mode);
        if (translate != ((output_mode & ENABLE_PROCESSED_OUTPUT) != 0 &&
                          (input_mode & (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT)) != 0))
            abort();
        const DWORD count = input.ConsumeIntegralInRange<DWORD>(0, kRelayChunkSize);
        std::vector<BYTE> chunk = input.ConsumeBytes<BYTE>(count);
        const DWORD got = static_cast<DWORD>(chunk.size());
        // Buffers of exactly the sizes the relay promises, so that any overrun is caught.
        std::unique_ptr<BYTE[]> converted(new BYTE[got + 1]);
        std::unique_ptr<BYTE[]> output(new BYTE[2 * got + 1]);
        std::unique_ptr<BYTE[]> every_output(new BYTE[2 * got + 1]);
        if (got > 0 && !OemToCharBuffA(reinterpret_cast<const char*>(chunk.data()),
                                       reinterpret_cast<char*>(converted.get()), got))
            abort();
        const bool holds_line_feed = HoldsLineFeed(chunk.data(), got);
        if (holds_line_feed != (std::find(chunk.begin(), chunk.end(), '\n') != chunk.end()))
            abort();
        const DWORD length = BuildRelayOutput(chunk.data(), converted.get(), got,
                                              holds_line_feed && translate, &carry, output.get());
        const DWORD every_length = BuildRelayOutput(chunk.data(), converted.get(), got, translate,
                                                    &every_carry, every_output.get());
        if (length != every_length || std::memcmp(output.get(), every_output.get(), length) != 0 ||
            carry.after_carriage_return != every_carry.after_carriage_return)
            abort();
        if (length < got || length > 2 * got) abort();

        DWORD j = 0;
        for (DWORD i = 0; i < got; ++i) {
            const BYTE sent = chunk[i] <= 0x7F ? chunk[i] : converted[i];
            const bool bare_line_feed = sent == '\n' && previous != '\r';
            previous = sent;
            if (translate && bare_line_feed) {
                if (j >= length || output[j] != '\r') abort();
                ++j;
            }
            if (j >= length || output[j] != sent) abort();
            ++j;
        }
        if (j != length) abort();
        if (carry.after_carriage_return != (previous == '\r')) abort();
    }
    return 0;
}
