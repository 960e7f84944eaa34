// The start-up banner.
#include "Banner.h"

#include <cstring>

#include "win32.h"

const char* const kRightsLine =
    "Use, duplication or disclosure is restricted by the terms in LICENSE.TXT.";

namespace {

void Write(HANDLE handle, const char* text) {
    DWORD written;
    WriteFile(handle, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// wsprintfA writes at most 1024 bytes; texts longer than a line are cut, never overrun.
constexpr int kLineSize = 1024;

}  // namespace

void ShowBanner(const char* product, const char* version, const char* licensor,
                const char* rights_line, bool pre_release) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    if (!GetConsoleMode(error, &mode)) {
        // A pipe, a file or no handle at all: nobody reads a banner there.  Anything else means
        // the console itself misbehaves, which a debugger should see.
        if (GetLastError() != ERROR_INVALID_HANDLE) DebugBreak();
        return;
    }

    char header[kLineSize];
    wsprintfA(header, "\r\n%s Version %s\r\nCopyright (c) %s\r\nAll rights reserved.\r\n", product,
              version, licensor);
    Write(error, header);

    if (pre_release) {
        Write(error,
              "\r\n*** PRE-RELEASE VERSION ***\r\n"
              "\r\n"
              "This is pre-release code.\r\n"
              "Testing and performance tuning are not yet completed.\r\n"
              "Substantial modifications may be made before the first commercial shipment.\r\n");
    }

    Write(error,
          "\r\nThis program is licensed, not sold.\r\n"
          "The terms of its use are in the file LICENSE.TXT.\r\n");

    char rights[kLineSize];
    wsprintfA(rights, "%s\r\n", rights_line);
    Write(error, rights);

    if (pre_release) {
        Write(error,
              "\r\nPre-release code is provided as is, without warranty of any kind, and is not\r\n"
              "to be used where its failure could cause harm or loss.\r\n");
    }
}
