// The formatter with any directives.  Every directive takes at most one argument, so the format
// is kept short and given more arguments than it can take, all of them one value that reads
// safely as any kind: a number, a character, and a pointer to a text that is "A" both as 8-bit
// and as wide text.  The result must stay within the 1024-byte buffer and be terminated.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "winsim/windows.h"

namespace {

constexpr size_t kMaxFormat = 256;

// "A" followed by zeros, at an address whose low byte is not zero (a character conversion takes
// the value's low bits) and that suits wide text.
alignas(512) char g_text[1024] = {};
char* const kValue = g_text + 0x44;

#define FUZZ_ARGS8 kValue, kValue, kValue, kValue, kValue, kValue, kValue, kValue
#define FUZZ_ARGS64 \
    FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8, FUZZ_ARGS8

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kValue[0] = 'A';
    std::string format(reinterpret_cast<const char*>(data), size < kMaxFormat ? size : kMaxFormat);
    format = format.substr(0, format.find('\0'));
    // Exactly the buffer's size, so that a byte written past it is caught.
    std::unique_ptr<char[]> out(new char[1024]);
    int result = wsprintfA(out.get(), format.c_str(), FUZZ_ARGS64, FUZZ_ARGS64, FUZZ_ARGS8);
    if (result < 0 || result > 1024) abort();
    if (out[result < 1024 ? result : 1023] != '\0') abort();
    return 0;
}
