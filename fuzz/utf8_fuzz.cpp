// The UTF-8 decoder over any bytes: every character it gives is a scalar value, at most one per
// byte plus the one a cut-off sequence gives, and text it decodes without a replacement encodes
// back to the very bytes it came from.  The same bytes recorded as a UTF-8 and as an 8-bit
// client's output, in one event and cut into many: every line is one JSON array without a raw
// control character, and the text of the lines is the same however the bytes were cut.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SessionRecording.h"
#include "Utf8.h"

namespace {

// The recorded text of every "o" line, joined; aborts on a line that is not one of its form.
std::string RecordedText(const std::string& lines) {
    std::string text;
    size_t start = 0;
    for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = lines.substr(start, end - start);
        const size_t open = line.find(", \"o\", \"");
        if (line[0] != '[' || open == std::string::npos || line.compare(line.size() - 2, 2, "\"]"))
            abort();
        for (size_t i = open + 8; i + 2 < line.size(); ++i) {
            const char c = line[i];
            if (static_cast<unsigned char>(c) < 0x20 || c == '"') abort();
            if (c != '\\') {
                text += c;
            } else if (line[++i] == 'u') {
                text += static_cast<char>(std::stoi(line.substr(i + 3, 2), nullptr, 16));
                i += 4;
            } else {
                const char* escapes = "n\nr\rt\t\"\"\\\\";
                const char* at = std::strchr(escapes, line[i]);
                if (at == nullptr || (at - escapes) % 2 != 0) abort();
                text += at[1];
            }
        }
    }
    if (start != lines.size()) abort();
    return text;
}

void CheckRecording(const uint8_t* data, size_t size) {
    for (bool utf8 : {true, false}) {
        RecordingFormatter whole(utf8);
        RecordingFormatter cut(utf8);
        std::string one;
        std::string many;
        whole.Append({'o', 0, std::string(data, data + size)}, 437, &one);
        for (size_t at = 0, n = 0; at < size; at += n) {
            n = std::min<size_t>(1 + data[at] % 7, size - at);
            cut.Append({'o', static_cast<int64_t>(at), std::string(data + at, data + at + n)}, 437,
                       &many);
        }
        if (RecordedText(one) != RecordedText(many)) abort();
    }
}

}  // namespace

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
    CheckRecording(data, size);
    return 0;
}
