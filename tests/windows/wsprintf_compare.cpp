// Formats a table of cases with the simulation's formatter and with the real wsprintfA and
// compares the two byte for byte: the result, the terminating zero, the untouched bytes after it,
// and the return value.
//
// Left out on purpose, where the simulation does the sound thing and the platform does not:
//   - '#' with d, i or u: the platform emits two stray bytes; the simulation ignores the flag.
//   - a "%#x" field that reaches the end of the 1024 bytes: the platform writes past them; the
//     simulation cuts the field like any other.
//   - 'h' with a value outside 16 bits: the platform ignores 'h'; the simulation keeps 16 bits.
//   - wide characters outside ASCII and Latin-1: the platform picks look-alikes, the simulation
//     writes '?'.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "check.h"
#include "format.h"

namespace {

// Room for the result and a guard area that must stay untouched.
constexpr size_t kAreaSize = winsim::kFormatBufferSize + 64;
constexpr char kFill = 'Z';

struct Outputs {
    char real[kAreaSize];
    char mine[kAreaSize];
    int real_result = 0;
    int mine_result = 0;
    Outputs() {
        std::memset(real, kFill, sizeof real);
        std::memset(mine, kFill, sizeof mine);
    }
};

int Mine(char* out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = winsim::FormatWin32(out, format, arguments);
    va_end(arguments);
    return result;
}

void PrintBytes(const char* label, int result, const char* area) {
    size_t end = 0;
    while (end < kAreaSize && area[end] != kFill) ++end;
    std::printf("  %s returned %d: \"", label, result);
    // Long results are shown by their last characters only.
    size_t start = end > 60 ? end - 60 : 0;
    if (start > 0) std::printf("...");
    for (size_t i = start; i < end; ++i) {
        unsigned char c = static_cast<unsigned char>(area[i]);
        if (c >= 0x20 && c < 0x7F) {
            std::putchar(c);
        } else {
            std::printf("\\x%02x", c);
        }
    }
    std::printf("\" (%u bytes written)\n", static_cast<unsigned>(end));
}

void Compare(const Outputs& out, const char* text, int line) {
    bool same =
        out.real_result == out.mine_result && std::memcmp(out.real, out.mine, kAreaSize) == 0;
    if (!same) {
        std::printf("case at line %d differs: %s\n", line, text);
        PrintBytes("wsprintfA  ", out.real_result, out.real);
        PrintBytes("FormatWin32", out.mine_result, out.mine);
    }
    wincheck::Check(same, text, __FILE__, line);
}

}  // namespace

// CASE(format, arguments...): both formatters get the same arguments.
#define CASE(...)                                           \
    do {                                                    \
        Outputs out;                                        \
        out.real_result = wsprintfA(out.real, __VA_ARGS__); \
        out.mine_result = Mine(out.mine, __VA_ARGS__);      \
        Compare(out, #__VA_ARGS__, __LINE__);               \
    } while (0)

int main() {
    static char text1022[1023];
    static char text1023[1024];
    static char text2000[2001];
    std::memset(text1022, 'a', 1022);
    std::memset(text1023, 'b', 1023);
    std::memset(text2000, 'c', 2000);

    // Integers and sizes.
    CASE("[%d|%i|%u|%x|%X]", 42, -42, 42u, 0xBEEFu, 0xBEEFu);
    CASE("[%d|%d|%d]", 0, -2147483647 - 1, 2147483647);
    CASE("[%u|%x|%X]", -1, -1, -1);
    CASE("[%ld|%li|%lu|%lx|%lX]", -5L, -5L, 4294967295UL, 0xDEADBEEFUL, 0xDEADBEEFUL);
    CASE("[%lu|%ld]", -7L, -7L);
    CASE("[%hd|%hu|%hx|%hX|%hi]", -5, 65535, 0xABCD, 0xABCD, 32767);
    CASE("[%I64d|%I64u|%I64x|%I64X]", -1234567890123LL, 18446744073709551615ULL,
         0x123456789ABCDEFULL, 0x123456789ABCDEFULL);
    CASE("[%I64d]", static_cast<long long>(0x8000000000000000ULL));
    CASE("[%I32d|%I32x|%Id|%Ix|%Iu]", -3, 0xABC, static_cast<INT_PTR>(-1234567890123LL),
         static_cast<UINT_PTR>(0x123456789ABULL), static_cast<UINT_PTR>(7));
    CASE("[%p|%p|%p]", reinterpret_cast<void*>(0xABCDEF), static_cast<void*>(nullptr),
         reinterpret_cast<void*>(0xFEDCBA9876543210ULL));
    CASE("[%20p|%-20p|%#p|%-#20p|%.20p|%020p|%.4p|%lp]", reinterpret_cast<void*>(0xABC),
         reinterpret_cast<void*>(0xABC), reinterpret_cast<void*>(0xABC),
         reinterpret_cast<void*>(0xABC), reinterpret_cast<void*>(0xABC),
         reinterpret_cast<void*>(0xABC), reinterpret_cast<void*>(0xABC),
         reinterpret_cast<void*>(0xABC));
    CASE("[%wd|%wu]", 5, 6u);

    // Flags, width and precision.
    CASE("[%5d|%-5d|%05d|%5d|%-5d|%05d]", 42, 42, 42, -42, -42, -42);
    CASE("[%-05d|%005d|%3d|%1d]", -42, 5, -123, 123);
    CASE("[%.3d|%.3d|%.1d|%.2d|%5.5d]", 7, -7, -7, -7, -7);
    CASE("[%5.3d|%05.3d|%08.3d|%08.3d|%-8.5d|]", 7, 7, 5, -5, -12);
    CASE("[%.0d|%.d|%5.0d|%.0x]", 0, 0, 0, 0);
    CASE("[%.5u|%5u|%-5u|%05u|%.8x|%8.4X]", 12u, 7u, 7u, 7u, 0xABu, 0xABu);
    CASE("[%#x|%#X|%#x|%#X|%#lX|%#I64X]", 255, 255, 0, 0, 0xABCUL, 0xABCULL);
    CASE("[%#08x|%#08X|%#5x|%#5x|%-#10x|%#010.3x|%#.2x|%#.4x|%#.6x]", 255, 0xAB, 1, 0xABC, 0xABC,
         0xABC, 0xABC, 255, 0xAB);
    CASE("[%-#08x|%08x|%08X|%-#8x|]", 0xAB, -1, 0xAB, 0xAB);
    CASE("[%-#10I64x|%020I64d|%.25I64u]", 0xABCULL, -5LL, 5ULL);

    // Strings and characters.
    CASE("[%s|%5s|%-5s|%.2s|%8.3s|%-8.3s|]", "abc", "ab", "ab", "abc", "abcdef", "abcdef");
    CASE("[%.0s|%.s|%5.0s|%.10s|%05s|%-05s|%3s]", "abc", "abc", "ab", "abc", "ab", "ab", "");
    CASE("[%s|%.2s|%10s|%-8s|]", static_cast<char*>(nullptr), static_cast<char*>(nullptr),
         static_cast<char*>(nullptr), static_cast<char*>(nullptr));
    CASE("[%hs|%hS|%I64s|%I32s|%#5s|]", "n", "n", "n", "n", "ab");
    CASE("[%ls|%S|%ws|%lS|%wS|%I64S|%5ls|%-5.2S|]", L"wide", L"wide", L"w", L"w", L"w", L"ws",
         L"ab", L"wxyz");
    CASE("[%ls|%S|%.2ls]", static_cast<wchar_t*>(nullptr), static_cast<wchar_t*>(nullptr),
         static_cast<wchar_t*>(nullptr));
    CASE("[%c|%5c|%-5c|%05c|%5.3c|%#3c|]", 'a', 'b', 'c', 'd', 'e', 'f');
    CASE("[%c|%c|%hc|%hC|%I64c|%Ic]", 0x141, -23, 'h', 'H', 'i', 'j');
    CASE("[%C|%lc|%wc|%IC|%C]", L'w', L'x', L'y', L'z', 0x10061);
    CASE("[%c|%lc|]", 0, 0);

    // The 1024-byte cut.
    CASE(text1022);
    CASE(text1023);
    CASE(text2000);
    CASE("%s", text1022);
    CASE("%s", text1023);
    CASE("%s", text2000);
    CASE("%sXY", text1022);
    CASE("%sXY", text1022 + 1);
    CASE("%s%d", text1022 + 5, 12345);
    CASE("%s%d", text1022 + 4, 12345);
    CASE("%s%d", text1022 + 1, 12345);
    CASE("%s%d", text1022 + 2, -12345);
    CASE("%s%d", text1023, 7);
    CASE("%s%5d", text1022 + 4, 1);
    CASE("%s%5d", text1022 + 2, 1);
    CASE("%s%-5d|", text1022 + 2, 1);
    CASE("%s%.5d", text1022 + 2, 1);
    CASE("%s%05d", text1022 + 2, 1);
    CASE("%s%10.5d", text1022 + 6, 1);
    CASE("%s%#x", text1022 + 3, 1);
    CASE("%s%#x", text1022 + 2, 1);
    CASE("%s%s", text1022 + 2, "xyz");
    CASE("%s%5s", text1022 + 2, "xyz");
    CASE("%s%-5s|", text1022 + 2, "xyz");
    CASE("%s%c", text1022 + 1, 'q');
    CASE("%s%c", text1022, 'q');
    CASE("%s%3c|", text1022 + 1, 'q');
    CASE("%s%-3c|", text1022 + 1, 'q');
    CASE("%s%%", text1022);
    CASE("%s%q", text1022);
    CASE("%s%5q", text1022);
    CASE("%s%5q", text1022 + 2);
    CASE("%1022d", 5);
    CASE("%1023d", 5);
    CASE("%2000d|", 5);
    CASE("%-2000d|", 5);
    CASE("%2000s|", "abc");
    CASE("%-2000s|", "abc");
    CASE("%.2000d", 5);
    CASE("%.2000d", -5);
    CASE("%02000d", -5);
    CASE("[%99999999999d]", 5);
    CASE("[%4294967301d|%.4294967298d]", 5, 5);

    // Odd directives: unknown conversions take no argument and leave their character as text.
    CASE("[%q|%d]", 42, 7);
    CASE("[%5y|%-5y|%05y|%-5.3y|%#5.3y|%5.7y|]");
    CASE("[%f|%e|%g|%n|%o|%P|%d]", 42);
    CASE("[%*d|%-*d|%.*s|%d]", 5, 42);
    CASE("[%%|%5%|%-5%]");
    CASE("abc%");
    CASE("[%5");
    CASE("[%-");
    CASE("[%l");
    CASE("[%I");
    CASE("[%I64");
    CASE("[%5.3]");
    CASE("[%+d|% d|%d]", 5);
    CASE("[%0-5d|%--5d|%#-8x|%#0-5x|%d]", 5);
    CASE("[%lld|%hld|%lhd|%hI64d|%I64hd|%zd|%d]", 5);
    CASE("[%I6d|%I3d|%d]", 5);
    CASE("");

    return wincheck::Finish();
}
