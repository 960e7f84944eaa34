// wsprintfA and wvsprintfA of the simulation, on the formatter that follows the platform's rules.
#include "winsim/windows.h"

#include "format.h"

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = winsim::FormatWin32(buffer, format, arguments);
    va_end(arguments);
    return length;
}

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments) {
    return winsim::FormatWin32(buffer, format, arguments);
}
