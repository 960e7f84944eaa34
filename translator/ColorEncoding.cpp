// The console's colours as SGR.
#include "ColorEncoding.h"

namespace {

void AppendNumber(char* out, DWORD* length, unsigned number) {
    out[(*length)++] = ';';
    if (number >= 100) out[(*length)++] = static_cast<char>('0' + number / 100);
    if (number >= 10) out[(*length)++] = static_cast<char>('0' + number / 10 % 10);
    out[(*length)++] = static_cast<char>('0' + number % 10);
}

}  // namespace

BYTE AnsiColorNumber(WORD console_color) {
    return static_cast<BYTE>(((console_color & FOREGROUND_BLUE) ? 4 : 0) |
                             (console_color & FOREGROUND_GREEN) |
                             ((console_color & FOREGROUND_RED) ? 1 : 0));
}

DWORD EncodeSgr(WORD attributes, WORD default_attributes, char* out) {
    DWORD length = 0;
    out[length++] = '\033';
    out[length++] = '[';
    out[length++] = '0';
    const WORD foreground = attributes & 0x0F;
    const WORD background = (attributes >> 4) & 0x0F;
    if (foreground != (default_attributes & 0x0F)) {
        const unsigned base = (foreground & FOREGROUND_INTENSITY) ? 90 : 30;
        AppendNumber(out, &length, base + AnsiColorNumber(foreground));
    }
    if (background != ((default_attributes >> 4) & 0x0F)) {
        const unsigned base = (background & FOREGROUND_INTENSITY) ? 100 : 40;
        AppendNumber(out, &length, base + AnsiColorNumber(background));
    }
    if (attributes & COMMON_LVB_REVERSE_VIDEO) AppendNumber(out, &length, 7);
    if (attributes & COMMON_LVB_UNDERSCORE) AppendNumber(out, &length, 4);
    out[length++] = 'm';
    return length;
}
