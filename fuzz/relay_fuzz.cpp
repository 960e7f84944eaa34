// The simple-mode relay's rules for one chunk, over any stream cut into chunks of any size up to
// the relay's read size and any console modes: the output fits its buffer of twice the chunk,
// keeps every byte of the chunk in order (the upper half converted, the rest as read), and adds
// nothing but a carriage return before a bare line feed, only where line ends are translated.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "OutputRelay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const DWORD output_mode = input.ConsumeIntegral<DWORD>();
    const DWORD input_mode = input.ConsumeIntegral<DWORD>();
    const bool translate = TranslatesLineEnds(output_mode, input_mode);
    if (translate != ((output_mode & ENABLE_PROCESSED_OUTPUT) != 0 &&
                      (input_mode & (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT)) != 0))
        abort();

    while (input.remaining_bytes() > 0) {
        const DWORD count = input.ConsumeIntegralInRange<DWORD>(0, kRelayChunkSize);
        std::vector<BYTE> chunk = input.ConsumeBytes<BYTE>(count);
        const DWORD got = static_cast<DWORD>(chunk.size());
        // Buffers of exactly the sizes the relay promises, so that any overrun is caught.
        std::unique_ptr<BYTE[]> converted(new BYTE[got + 1]);
        std::unique_ptr<BYTE[]> output(new BYTE[2 * got + 1]);
        if (got > 0 && !OemToCharBuffA(reinterpret_cast<const char*>(chunk.data()),
                                       reinterpret_cast<char*>(converted.get()), got))
            abort();
        const DWORD length =
            BuildRelayOutput(chunk.data(), converted.get(), got, translate, output.get());
        if (length < got || length > 2 * got) abort();

        DWORD j = 0;
        BYTE previous = 0;  // none: each chunk starts afresh
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
    }
    return 0;
}
