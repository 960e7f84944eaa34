// The OEM code page 437, the ANSI code page 1252 and the US keyboard layout, as the platform's
// user32 answers for them.  It needs nothing but the standard library, so that a Windows program
// can build it beside the real user32 and compare the two.
#pragma once

namespace winsim {

// CharToOemBuffA of one byte: ANSI 1252 to OEM 437 through Unicode, with best fit (0xFC gives
// 0x81, a character without a look-alike gives '?').
unsigned char Cp1252ToCp437(unsigned char ansi);

// OemToCharBuffA of one byte: OEM 437 to ANSI 1252 through Unicode, with best fit (0x81 gives
// 0xFC, the box-drawing characters give '+', '-' or 0xA6).
unsigned char Cp437ToCp1252(unsigned char oem);

// VkKeyScanA of an ANSI character on the US layout: the low byte is the virtual key, the high
// byte the shift state (1 Shift, 2 Ctrl, 4 Alt); 0xFFFF when no key gives the character.
unsigned short UsKeyScan(unsigned char ansi);

// MapVirtualKeyA(vk, 0) on the US layout: the scan code of a virtual key, 0 when it has none.
unsigned char UsScanCode(unsigned char vk);

}  // namespace winsim
