// The simulation's code pages and US keyboard: the conversions the translator makes between the
// console's OEM characters and the client's ANSI ones, and the keys it injects for characters.
#include <gtest/gtest.h>

#include <string>

#include "winsim/control.h"
#include "winsim/windows.h"

namespace {

namespace test = winsim::test;

class CodePageTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
};

std::string ToOem(std::string text) {
    EXPECT_TRUE(CharToOemBuffA(text.data(), text.data(), static_cast<DWORD>(text.size())));
    return text;
}

std::string ToAnsi(std::string text) {
    EXPECT_TRUE(OemToCharBuffA(text.data(), text.data(), static_cast<DWORD>(text.size())));
    return text;
}

TEST_F(CodePageTest, AsciiPassesUnchangedBothWays) {
    std::string ascii;
    for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(ToOem(ascii), ascii);
    EXPECT_EQ(ToAnsi(ascii), ascii);
}

TEST_F(CodePageTest, LettersWithAccentsRoundTrip) {
    // u-umlaut, e-acute, a-grave, c-cedilla, n-tilde, A-umlaut, sharp s, pound sign
    const std::string ansi = "\xFC\xE9\xE0\xE7\xF1\xC4\xDF\xA3";
    const std::string oem = "\x81\x82\x85\x87\xA4\x8E\xE1\x9C";
    EXPECT_EQ(ToOem(ansi), oem);
    EXPECT_EQ(ToAnsi(oem), ansi);
}

TEST_F(CodePageTest, CharactersWithoutACounterpartTakeALookAlike) {
    // ANSI A-grave has no OEM form and becomes "A"; the euro sign becomes "?".
    EXPECT_EQ(ToOem("\xC0\x80"), "A?");
    // OEM box drawing: a single horizontal line, a corner, a shaded block.
    EXPECT_EQ(ToAnsi("\xC4\xDA\xB0"), "-+\xA6");
}

TEST_F(CodePageTest, ConvertsExactlyTheGivenLengthZerosIncluded) {
    char source[] = {'\xFC', '\0', '\xE9', '\xE9'};
    char destination[] = {'z', 'z', 'z', 'z'};
    ASSERT_TRUE(CharToOemBuffA(source, destination, 3));
    EXPECT_EQ(std::string(destination, 4), std::string("\x81\0\x82z", 4));
    EXPECT_TRUE(OemToCharBuffA(source, destination, 0));
    EXPECT_EQ(std::string(destination, 4), std::string("\x81\0\x82z", 4));
}

TEST_F(CodePageTest, OverlappingBuffersConvertTheWholeSource) {
    char buffer[] = {'\x81', '\x82', '\x84', 'z'};
    ASSERT_TRUE(OemToCharBuffA(buffer, buffer + 1, 3));
    EXPECT_EQ(std::string(buffer, 4), "\x81\xFC\xE9\xE4");
}

TEST_F(CodePageTest, NullPointersAndInjectedFaultsFail) {
    char byte = '\xFC';
    SetLastError(0);
    EXPECT_FALSE(CharToOemBuffA(nullptr, &byte, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(OemToCharBuffA(&byte, nullptr, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    test::FailCall("CharToOemBuffA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(CharToOemBuffA(&byte, &byte, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(byte, '\xFC');
    EXPECT_TRUE(CharToOemBuffA(&byte, &byte, 1));
    EXPECT_EQ(byte, '\x81');

    test::FailCall("VkKeyScanA", ERROR_INVALID_HANDLE);
    EXPECT_EQ(VkKeyScanA('a'), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    test::FailCall("MapVirtualKeyA", ERROR_INVALID_HANDLE);
    EXPECT_EQ(MapVirtualKeyA('A', 0), 0u);
    EXPECT_EQ(MapVirtualKeyA('A', 0), 0x1Eu);
}

TEST_F(CodePageTest, KeysOfTheUsLayout) {
    EXPECT_EQ(VkKeyScanA('a'), 0x0041);
    EXPECT_EQ(VkKeyScanA('A'), 0x0141);     // Shift+A
    EXPECT_EQ(VkKeyScanA('\x03'), 0x0243);  // Ctrl+C
    EXPECT_EQ(VkKeyScanA('\r'), VK_RETURN);
    EXPECT_EQ(VkKeyScanA('('), 0x0139);                  // Shift+9
    EXPECT_EQ(VkKeyScanA('<'), 0x01BC);                  // Shift+comma
    EXPECT_EQ(VkKeyScanA('|'), 0x01DC);                  // Shift+backslash
    EXPECT_EQ(VkKeyScanA(static_cast<CHAR>(0xE9)), -1);  // e-acute: no key
    EXPECT_EQ(VkKeyScanA('\x1C'), -1);
    for (char c = 'A'; c <= 'Z'; ++c) {
        EXPECT_EQ(VkKeyScanA(static_cast<CHAR>(c + 'a' - 'A')), c) << c;
        EXPECT_EQ(VkKeyScanA(c), 0x100 | c) << c;
    }
}

TEST_F(CodePageTest, ScanCodesOfVirtualKeys) {
    EXPECT_EQ(MapVirtualKeyA('A', 0), 0x1Eu);
    EXPECT_EQ(MapVirtualKeyA(VK_RETURN, 0), 0x1Cu);
    EXPECT_EQ(MapVirtualKeyA(VK_ESCAPE, 0), 0x01u);
    EXPECT_EQ(MapVirtualKeyA(0x141, 0), 0u);
    EXPECT_EQ(MapVirtualKeyA(0x1E, 1), 0u);  // other map types are not modelled
    // Every key that types a character has a scan code for its key events.
    for (int c = 0; c < 256; ++c) {
        SHORT key = VkKeyScanA(static_cast<CHAR>(c));
        if (key != -1) {
            EXPECT_NE(MapVirtualKeyA(key & 0xFF, 0), 0u) << "character " << c;
        }
    }
}

TEST_F(CodePageTest, WideConversionsOf437125265001AndTheirLookAlikes) {
    WCHAR wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(437, 0, "\x82\xc4\xda", 3, wide, 8), 3);
    EXPECT_EQ(wide[0], 0xE9);
    EXPECT_EQ(wide[1], 0x2500);
    EXPECT_EQ(wide[2], 0x250C);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xf0\x9f\x98\x80\xc3", 5, wide, 8), 3);
    EXPECT_EQ(wide[0], 0xD83D);
    EXPECT_EQ(wide[1], 0xDE00);
    EXPECT_EQ(wide[2], 0xFFFD);
    EXPECT_EQ(MultiByteToWideChar(850, 0, "a", 1, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    const WCHAR text[] = {0xE9, 0x2500, 0xC0, 0x65E5};
    char bytes[16] = {};
    ASSERT_EQ(WideCharToMultiByte(437, 0, text, 4, bytes, 16, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(bytes, 4),
              "\x82\xc4"
              "A?");
    ASSERT_EQ(WideCharToMultiByte(1252, 0, text, 4, bytes, 16, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(bytes, 4), "\xe9-\xc0?");
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 4, bytes, 16, nullptr, nullptr), 10);
    EXPECT_EQ(std::string(bytes, 10), "\xc3\xa9\xe2\x94\x80\xc3\x80\xe6\x97\xa5");

    // Only ASCII has keys on the US layout.
    EXPECT_EQ(VkKeyScanW(L'A'), 0x0141);
    EXPECT_EQ(VkKeyScanW(0xE9), -1);
    EXPECT_EQ(VkKeyScanW(0x2500), -1);
}

// Code page 932 as the platform converts it: single bytes, lead bytes paired with the next byte
// but zero, and its default for what the table lacks.
TEST_F(CodePageTest, Cp932HasLeadBytesAndPairsThemWithTheNextByte) {
    for (int byte : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsDBCSLeadByteEx(932, byte)) << byte;
    for (int byte : {0x40, 0x80, 0xA0, 0xDF, 0xFD}) EXPECT_FALSE(IsDBCSLeadByteEx(932, byte));
    EXPECT_FALSE(IsDBCSLeadByteEx(437, 0x81));
    WCHAR wide[16] = {};
    // Kanji, a half-width katakana, an undefined pair, a lead byte before a line feed (taken as
    // its trail), then a lead byte before zero (the default alone, then the zero).
    ASSERT_EQ(MultiByteToWideChar(932, 0, "\x93\xfa\xb1\x85\x40\x81\nA\x81", 10, wide, 16), 7);
    EXPECT_EQ(std::wstring(wide, 7),
              (std::wstring{0x65E5, 0xFF71, 0x30FB, 0x30FB, L'A', 0x30FB, 0}));
    ASSERT_EQ(MultiByteToWideChar(932, 0, "\x82", 1, wide, 16), 1);
    EXPECT_EQ(wide[0], 0x30FB);
    const WCHAR text[] = {0x65E5, 0xFF71, L'a', 0x2603};
    char bytes[16] = {};
    ASSERT_EQ(WideCharToMultiByte(932, 0, text, 4, bytes, 16, nullptr, nullptr), 5);
    EXPECT_EQ(std::string(bytes, 5),
              "\x93\xfa\xb1"
              "a?");
}

}  // namespace
