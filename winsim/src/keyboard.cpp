// Keyboard and code pages of the simulated Win32: the US layout, ANSI code page 1252 and OEM code
// page 437, on the tables that the platform's user32 gives.
#include <cstring>
#include <string>

#include "codepages.h"
#include "winsim/control.h"
#include "winsim/windows.h"

namespace {

// Converts `length` bytes one by one through `map`.  The source may be the destination, or
// overlap it: the whole source is read before anything is written.
BOOL ConvertBuffer(const char* api, LPCSTR source, LPSTR destination, DWORD length,
                   unsigned char (*map)(unsigned char)) {
    DWORD error = 0;
    if (winsim::test::TakeFault(api, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (source == nullptr || destination == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string converted(source, length);
    for (char& byte : converted) byte = static_cast<char>(map(static_cast<unsigned char>(byte)));
    if (length > 0) std::memcpy(destination, converted.data(), length);
    return TRUE;
}

}  // namespace

SHORT VkKeyScanA(CHAR character) {
    DWORD error = 0;
    if (winsim::test::TakeFault("VkKeyScanA", &error)) {
        SetLastError(error);
        return -1;
    }
    return static_cast<SHORT>(winsim::UsKeyScan(static_cast<unsigned char>(character)));
}

UINT MapVirtualKeyA(UINT code, UINT map_type) {
    DWORD error = 0;
    if (winsim::test::TakeFault("MapVirtualKeyA", &error)) {
        SetLastError(error);
        return 0;
    }
    // Only virtual key to scan code (map type 0) is modelled; the programs use no other, and the
    // other map types answer 0 here.
    if (map_type != 0 || code > 0xFF) return 0;
    return winsim::UsScanCode(static_cast<unsigned char>(code));
}

BOOL CharToOemBuffA(LPCSTR source, LPSTR destination, DWORD length) {
    return ConvertBuffer("CharToOemBuffA", source, destination, length, winsim::Cp1252ToCp437);
}

BOOL OemToCharBuffA(LPCSTR source, LPSTR destination, DWORD length) {
    return ConvertBuffer("OemToCharBuffA", source, destination, length, winsim::Cp437ToCp1252);
}
