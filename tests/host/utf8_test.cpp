// UTF-8 coding of the client's text: the decoder's replacements, its state across reads, the
// encoders and the column count.
#include <gtest/gtest.h>

#include <string>

#include "Utf8.h"

namespace {

// Decodes `bytes` byte by byte with one decoder; a sequence left open at the end is dropped, as
// at the end of the input.
std::u32string Decode(const std::string& bytes) {
    Utf8Decoder decoder;
    std::u32string text;
    for (char byte : bytes) {
        char32_t out[2];
        int count = decoder.Feed(static_cast<BYTE>(byte), out);
        text.append(out, out + count);
    }
    return text;
}

constexpr char32_t R = kReplacementCharacter;

TEST(Utf8Decoder, DecodesValidTextOfEveryLength) {
    EXPECT_EQ(Decode("a\xc3\xa9\xe2\x94\x80\xf0\x9f\x98\x80"),
              (std::u32string{'a', 0xE9, 0x2500, 0x1F600}));
    EXPECT_EQ(Decode("\xf4\x8f\xbf\xbf\xef\xbf\xbf\xed\x9f\xbf"),
              (std::u32string{0x10FFFF, 0xFFFF, 0xD7FF}));
}

TEST(Utf8Decoder, ReplacesEachMaximalInvalidSubpartOnce) {
    // Lone continuation bytes and bytes that never start a sequence: one each.
    EXPECT_EQ(Decode("\x80\xbf\xc0\xc1\xf5\xff"), (std::u32string{R, R, R, R, R, R}));
    // Overlong forms and encoded surrogates: one per byte.
    EXPECT_EQ(Decode("\xc0\xaf"), (std::u32string{R, R}));
    EXPECT_EQ(Decode("\xe0\x80\xaf"), (std::u32string{R, R, R}));
    EXPECT_EQ(Decode("\xed\xa0\x80"), (std::u32string{R, R, R}));
    EXPECT_EQ(Decode("\xf4\x90\x80\x80"), (std::u32string{R, R, R, R}));
    // A truncated sequence is one replacement, and the byte that cut it short counts afresh.
    EXPECT_EQ(Decode("\xe2\x94x"), (std::u32string{R, 'x'}));
    EXPECT_EQ(Decode("\xf0\x9f\x98\r"), (std::u32string{R, '\r'}));
    EXPECT_EQ(Decode("\xe2\xc3\xa9"), (std::u32string{R, 0xE9}));
    EXPECT_EQ(Decode("\xc3\x80\x80"), (std::u32string{0xC0, R}));
}

TEST(Utf8Decoder, CarriesASequenceAcrossFeedsAndDropsOneCutOffAtTheEnd) {
    Utf8Decoder decoder;
    char32_t out[2];
    EXPECT_EQ(decoder.Feed(0xE2, out), 0);
    EXPECT_TRUE(decoder.Pending());
    EXPECT_EQ(decoder.Feed(0x94, out), 0);
    ASSERT_EQ(decoder.Feed(0x8C, out), 1);
    EXPECT_EQ(out[0], 0x250Cu);
    EXPECT_FALSE(decoder.Pending());
    EXPECT_EQ(Decode("ab\xe2\x94"), U"ab");
    decoder.Feed(0xC3, out);
    decoder.Reset();
    ASSERT_EQ(decoder.Feed('z', out), 1);
    EXPECT_EQ(out[0], U'z');
}

TEST(Utf8Encoding, EncodesAndRoundTripsEveryLengthAndReplacesNonScalars) {
    for (char32_t c : {0x24u, 0x7Fu, 0x80u, 0xE9u, 0x7FFu, 0x800u, 0x2500u, 0x65E5u, 0xFFFFu,
                       0x10000u, 0x1F600u, 0x10FFFFu}) {
        char bytes[kMaxUtf8Length];
        DWORD length = EncodeUtf8(c, bytes);
        EXPECT_EQ(Decode(std::string(bytes, length)), std::u32string(1, c)) << c;
    }
    char bytes[kMaxUtf8Length];
    EXPECT_EQ(std::string(bytes, EncodeUtf8(0xD800, bytes)), "\xef\xbf\xbd");
    EXPECT_EQ(std::string(bytes, EncodeUtf8(0x110000, bytes)), "\xef\xbf\xbd");

    WCHAR units[2];
    ASSERT_EQ(EncodeUtf16(0x1F600, units), 2);
    EXPECT_EQ(units[0], 0xD83D);
    EXPECT_EQ(units[1], 0xDE00);
    ASSERT_EQ(EncodeUtf16(0x2500, units), 1);
    EXPECT_EQ(units[0], 0x2500);
}

// Both ends of the wide blocks are wide, and the characters just outside them are not.
TEST(Utf8Text, TheWideBlocksIncludeBothTheirEnds) {
    struct Case {
        char32_t c;
        int columns;
    };
    const Case cases[] = {
        {0x10FF, 1},  {0x1100, 2},  {0x115F, 2},  {0x4E00, 2},  {0x9FFF, 2},  {0xA000, 2},
        {0xAC00, 2},  {0xD7A3, 2},  {0xD7A4, 1},  {0xFF00, 2},  {0xFF60, 2},  {0xFF61, 1},
        {0x1F300, 2}, {0x1F64F, 2}, {0x1F650, 1}, {0x3FFFD, 2}, {0x3FFFE, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(CharacterColumns(c.c), c.columns) << std::hex << c.c;
}

TEST(Utf8Text, CountsWideColumnsAndFindsTheLastCharacter) {
    EXPECT_EQ(CharacterColumns(U'a'), 1);
    EXPECT_EQ(CharacterColumns(0x2500), 1);
    EXPECT_EQ(CharacterColumns(0x65E5), 2);
    EXPECT_EQ(CharacterColumns(0xFF21), 2);
    // Each range's first and last characters and those just outside it.
    for (char32_t c :
         {0x1100u, 0x115Fu, 0x2E80u, 0x4E00u, 0x9FFFu, 0xAC00u, 0xD7A3u, 0xFF60u, 0x1F300u,
          0x1F600u, 0x1F64Fu, 0x1F680u, 0x1F9FFu, 0x231Au, 0x2705u, 0x20000u})
        EXPECT_EQ(CharacterColumns(c), 2) << std::hex << c;
    for (char32_t c : {0x10FFu, 0x303Fu, 0xD7A4u, 0xFF61u, 0x1F650u, 0x1F6C6u, 0x2704u, 0x231Cu,
                       0x02FFu, 0x0370u, 0x200Au, 0x2010u, 0xFFFDu, 0x40000u})
        EXPECT_EQ(CharacterColumns(c), 1) << std::hex << c;
    for (char32_t c : {0x0300u, 0x0301u, 0x036Fu, 0x1160u, 0x11FFu, 0x200Bu, 0x200Du, 0x20D0u,
                       0xFE0Fu, 0xFEFFu, 0xE0100u})
        EXPECT_EQ(CharacterColumns(c), 0) << std::hex << c;
    const BYTE text[] = {'a', 0xC3, 0xA9, 0xE6, 0x97, 0xA5};
    EXPECT_EQ(LastCharacterStart(text, 6), 3u);
    EXPECT_EQ(LastCharacterStart(text, 3), 1u);
    EXPECT_EQ(LastCharacterStart(text, 1), 0u);
}

}  // namespace
