// The UTF-8 decoder over any bytes: every character it gives is a scalar value, at most one per
// byte plus the one a cut-off sequence gives, and text it decodes without a replacement encodes
// back to the very bytes it came from.
#include <cstdlib>
#include <string>

#include "Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Utf8Decoder decoder;
    std::u32string text;
    bool replaced = false;
    for (size_t i = 0; i < size; ++i) {
        char32_t out[2];
        int count = decoder.Feed(data[i], out);
        if (count < 0 || count > 2) abort();
        for (int k = 0; k < count; ++k) {
            if (out[k] > 0x10FFFF || (out[k] >= 0xD800 && out[k] <= 0xDFFF)) abort();
            replaced |= out[k] == kReplacementCharacter;
            text += out[k];
        }
        if (text.size() > i + 1) abort();
    }
    std::string encoded;
    for (char32_t c : text) {
        char bytes[kMaxUtf8Length];
        encoded.append(bytes, EncodeUtf8(c, bytes));
        WCHAR units[2];
        if (EncodeUtf16(c, units) != (c > 0xFFFF ? 2 : 1)) abort();
        if (CharacterColumns(c) < 0 || CharacterColumns(c) > 2) abort();
    }
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (!replaced && !decoder.Pending() && encoded != input) abort();
    if (!encoded.empty()) {
        DWORD start = LastCharacterStart(reinterpret_cast<const BYTE*>(encoded.data()),
                                         static_cast<DWORD>(encoded.size()));
        char last[kMaxUtf8Length];
        if (encoded.compare(start, std::string::npos, last, EncodeUtf8(text.back(), last)) != 0)
            abort();
    }
    return 0;
}
