// The simulation's wsprintfA/wvsprintfA: the platform's printf dialect and its 1024-byte limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "winsim/windows.h"

namespace {

constexpr size_t kLimit = 1024;
constexpr char kFill = 'Z';

struct Formatted {
    int result;
    std::string text;   // up to the terminating zero
    std::string bytes;  // everything before the terminating zero's successor, zeros included
};

// Formats through wvsprintfA into a buffer with a guard area that must stay untouched.
Formatted Format(const char* format, ...) {
    char buffer[kLimit + 64];
    std::memset(buffer, kFill, sizeof buffer);
    va_list arguments;
    va_start(arguments, format);
    int result = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    for (size_t i = kLimit; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], kFill) << "byte " << i << " written for \"" << format << "\"";
    }
    size_t written = 0;
    while (written < kLimit && buffer[written] != kFill) ++written;
    return {result, std::string(buffer), std::string(buffer, written)};
}

std::string Text(const char* format, ...) {
    char buffer[kLimit];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

}  // namespace

TEST(WsprintfIntegers, ConversionsAndTheReturnedLength) {
    char buffer[kLimit];
    EXPECT_EQ(wsprintfA(buffer, "%d|%i|%u|%x|%X", -42, 7, 42u, 0xbeefu, 0xbeefu), 18);
    EXPECT_STREQ(buffer, "-42|7|42|beef|BEEF");
    EXPECT_EQ(Text("%d|%u", -2147483647 - 1, 0xFFFFFFFFu), "-2147483648|4294967295");
}

TEST(WsprintfIntegers, LongIsThirtyTwoBits) {
    DWORD all_ones = 0xFFFFFFFFu;
    LONG minus_one = -1;
    EXPECT_EQ(Text("%lu|%lx|%lX|%ld|%li", all_ones, all_ones, all_ones, minus_one, minus_one),
              "4294967295|ffffffff|FFFFFFFF|-1|-1");
}

TEST(WsprintfIntegers, ShortIsSixteenBits) {
    SHORT rows = -5;
    EXPECT_EQ(Text("%hd|%hu|%hx", rows, -1, -1), "-5|65535|ffff");
    EXPECT_EQ(Text("%hd|%hu", 70000, 70000), "4464|4464");
}

TEST(WsprintfIntegers, SixtyFourBitsAndPointers) {
    EXPECT_EQ(
        Text("%I64d|%I64u|%I64X", -1234567890123LL, 18446744073709551615ULL, 0x123456789ABCDEFULL),
        "-1234567890123|18446744073709551615|123456789ABCDEF");
    EXPECT_EQ(Text("%I32d|%d", -3, 7), "-3|7");
    // All sixteen digits, upper case, whatever width is asked for.
    EXPECT_EQ(Text("%p|%20p|%#p", reinterpret_cast<void*>(0xABCDEF), reinterpret_cast<void*>(0xABC),
                   reinterpret_cast<void*>(0xABC)),
              "0000000000ABCDEF|0000000000000ABC|0X0000000000000ABC");
}

TEST(WsprintfFields, WidthFlagsAndPrecision) {
    EXPECT_EQ(Text("[%5d|%-5d|%05d|%-05d]", -42, -42, -42, -42), "[  -42|-42  |-0042|-42  ]");
    // The sign counts towards the precision; '0' fills the width even with a precision.
    EXPECT_EQ(Text("[%.3d|%5.3d|%08.3d|%.0d]", -7, 7, 5, 0), "[-07|  007|00000005|0]");
    // The prefix is not part of the width, and zero still gets it.
    EXPECT_EQ(Text("[%#x|%#X|%#08x|%#5x]", 0, 255, 255, 1), "[0x0|0XFF|0x000000ff|    0x1]");
    EXPECT_EQ(Text("[%#d|%#u|%#5i]", 5, 6u, 7), "[5|6|    7]");
}

TEST(WsprintfText, Strings) {
    EXPECT_EQ(Text("[%s|%5s|%-5s|%.2s|%8.3s|%05s]", "abc", "ab", "ab", "abc", "abcdef", "ab"),
              "[abc|   ab|ab   |ab|     abc|   ab]");
    // ".0" is no precision at all.
    EXPECT_EQ(Text("[%.0s]", "abc"), "[abc]");
    const char* none = nullptr;
    EXPECT_EQ(Text("[%s|%.3s|%8s]", none, none, none), "[(null)|(nu|  (null)]");
}

TEST(WsprintfText, Characters) {
    EXPECT_EQ(Text("[%c|%3c|%-3c|%c]", 'a', 'b', 'c', 0x141), "[a|  b|c  |A]");
    // A zero character is written like any other, and formatting goes on.
    Formatted zero = Format("[%c]", 0);
    EXPECT_EQ(zero.result, 3);
    EXPECT_EQ(zero.bytes, std::string("[\0]\0", 4));
}

TEST(WsprintfText, WideTextBecomesEightBit) {
    EXPECT_EQ(Text("[%ls|%S|%ws|%hS|%lc|%C]", L"wide", L"ab", L"w", "n", L'x', L'y'),
              "[wide|ab|w|n|x|y]");
    EXPECT_EQ(Text("[%ls|%.2S|%ls]", L"\u00e9t\u20ac", L"wxyz", static_cast<wchar_t*>(nullptr)),
              "[\xe9t?|wx|(null)]");
}

TEST(WsprintfCut, ResultsUpTo1022CharactersAreWhole) {
    std::string text(1022, 'a');
    Formatted out = Format("%s", text.c_str());
    EXPECT_EQ(out.result, 1022);
    EXPECT_EQ(out.text, text);
}

TEST(WsprintfCut, AFullBufferHolds1023CharactersAndReports1024) {
    for (size_t length : {size_t{1023}, size_t{1024}, size_t{5000}}) {
        std::string text(length, 'b');
        Formatted out = Format("%s", text.c_str());
        EXPECT_EQ(out.result, 1024) << length;
        EXPECT_EQ(out.text, text.substr(0, 1023)) << length;
        Formatted literal = Format(text.c_str());
        EXPECT_EQ(literal.result, 1024) << length;
        EXPECT_EQ(literal.text, out.text) << length;
    }
}

TEST(WsprintfCut, AFieldAtTheEndKeepsItsValueBeforeItsPadding) {
    std::string head(1018, 'a');
    EXPECT_EQ(Format("%s%d", head.c_str(), -123456).text, head + "-1234");
    EXPECT_EQ(Format("%s%8d", head.c_str(), 1).text, head + "    1");
    EXPECT_EQ(Format("%s%.8d", head.c_str(), 1).text, head + "00001");
    EXPECT_EQ(Format("%s%-8d|", head.c_str(), 1).text, head + "1    ");
    EXPECT_EQ(Format("%2000d", 5).text, std::string(1022, ' ') + "5");
    EXPECT_EQ(Format("%.2000d", -5).text, "-" + std::string(1021, '0') + "5");
}

TEST(WsprintfCut, AHexPrefixAtTheEndIsCutLikeTheRest) {
    std::string head(1020, 'a');
    Formatted out = Format("%s%#x", head.c_str(), 0xabc);
    EXPECT_EQ(out.result, 1024);
    EXPECT_EQ(out.text, head + "0xa");
    EXPECT_EQ(Format("%s%#.2000x", "", 0xab).text, "0x" + std::string(1019, '0') + "ab");
}

TEST(WsprintfOdd, UnknownConversionsTakeNoArgument) {
    EXPECT_EQ(Text("[%q|%d]", 42), "[q|42]");
    EXPECT_EQ(Text("[%f|%n|%o|%d]", 42), "[f|n|o|42]");
    // The width is filled before the character, except in a left-aligned field.
    EXPECT_EQ(Text("[%5y|%-5y|%5.3y]"), "[     y|y|  y]");
    EXPECT_EQ(Text("[%*d|%.*s|%d]", 5), "[*d|*s|5]");
    EXPECT_EQ(Text("[%+d|% d|%lld|%hld|%d]", 5), "[+d| d|ld|ld|5]");
}

TEST(WsprintfOdd, FlagsOnlyInTheirOrder) {
    EXPECT_EQ(Text("[%0-5d|%#-8x|%--5d|%d]", 5), "[-5d|-8x|-5d|5]");
}

TEST(WsprintfOdd, PercentSigns) {
    EXPECT_EQ(Text("[%%|%5%|%-5%]"), "[%|     |]");
    EXPECT_EQ(Format("abc%").result, 3);
    EXPECT_EQ(Text("[%5"), "[     ");
    EXPECT_EQ(Text("[%I64"), "[");
}
