// Owned copies of texts.
#pragma once

#include <cstring>
#include <memory>

// A heap copy of a zero-terminated text, owned by the caller.
inline std::unique_ptr<char[]> CopyText(const char* text) {
    size_t length = std::strlen(text) + 1;
    std::unique_ptr<char[]> copy(new char[length]);
    std::memcpy(copy.get(), text, length);
    return copy;
}
