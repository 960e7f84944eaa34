// The formatter behind wsprintfA and wvsprintfA: the platform's printf dialect, 32-bit 'l',
// no floating point, and a result cut to fit 1024 bytes.  It needs nothing but the standard
// library, so that a Windows program can build it beside the real user32 and compare the two.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace winsim {

// Bytes a formatted result may take, terminating zero included.
constexpr std::size_t kFormatBufferSize = 1024;

// Formats into out, which must hold kFormatBufferSize bytes; the result is always terminated.
// Returns the number of characters before the zero, except that a result filling the whole
// buffer (1023 characters, cut or not) returns 1024, as the platform's formatter does.
int FormatWin32(char* out, const char* format, va_list args);

}  // namespace winsim
