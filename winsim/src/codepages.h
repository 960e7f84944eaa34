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

// MultiByteToWideChar of one byte of OEM 437 or ANSI 1252 (no flags): the upper halves as the
// code pages define them, the bytes below 0x80 as themselves, and the five bytes that 1252 leaves
// undefined as the C1 controls of the same value.
unsigned short Cp437ToUnicode(unsigned char oem);
unsigned short Cp1252ToUnicode(unsigned char ansi);

// WideCharToMultiByte of one UTF-16 unit with best fit: the code page's own byte when it has the
// character, else the look-alike that the other code page's best fit gives (so 1252 shows the
// box-drawing characters of 437 as '+', '-' and 0xA6, and 437 the accented letters of 1252 as
// the bare ones), else '?'.
unsigned char UnicodeToCp437(unsigned short unit);
unsigned char UnicodeToCp1252(unsigned short unit);

}  // namespace winsim
