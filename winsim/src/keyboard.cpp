// Keyboard and code pages of the simulated Win32.  Not modelled yet.
#include "internal.h"

SHORT VkKeyScanA(CHAR) {
    return -1;
}
UINT MapVirtualKeyA(UINT, UINT) {
    return 0;
}
BOOL CharToOemBuffA(LPCSTR, LPSTR, DWORD) {
    return FALSE;
}
BOOL OemToCharBuffA(LPCSTR, LPSTR, DWORD) {
    return FALSE;
}
