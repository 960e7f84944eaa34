// The OEM code page 437, the ANSI code page 1252, part of code page 932 and the US keyboard layout,
// as the platform's
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

// Code page 932, the Japanese double-byte code page: lead bytes 0x81 to 0x9F and 0xE0 to 0xFC,
// trail bytes 0x40 to 0x7E and 0x80 to 0xFC.  The table holds the single bytes as the platform
// has them (0xA1 to 0xDF the half-width katakana, 0x80, 0xA0 and 0xFD to 0xFF private-use or C1
// characters) and a few double-byte characters: ideographic punctuation, some hiragana,
// katakana and full-width letters and digits, and a handful of kanji.
constexpr unsigned short kCp932Default = 0x30FB;  // what an undefined or cut pair gives
bool Cp932IsLeadByte(unsigned char byte);
unsigned short Cp932SingleToUnicode(unsigned char byte);
// MultiByteToWideChar of a lead byte and the byte after it: the table's character, or
// kCp932Default for a pair the table lacks.  The platform pairs a lead byte with any byte but
// zero, a byte that cannot trail included.
unsigned short Cp932PairToUnicode(unsigned char lead, unsigned char trail);
// WideCharToMultiByte of one UTF-16 unit: one or two bytes (the lead byte first) and their
// count, '?' for a character the table lacks.
int UnicodeToCp932(unsigned short unit, unsigned char* bytes);

}  // namespace winsim
