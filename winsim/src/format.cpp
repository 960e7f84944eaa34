// The platform's printf dialect.  What it accepts, in this order after the '%':
//   flags      '-' (left-align), '#' ("0x"/"0X" before hex digits), '0' (pad with zeros), each at
//              most once and only in that order;
//   width      decimal digits ('*' is not a width but an unknown conversion);
//   precision  '.' and digits: at most that many characters of a string, at least that many
//              characters of a number with its sign; ".0" and "." mean no precision;
//   size       one of 'h' (16 bits, 8-bit text), 'l' and 'w' (32 bits, wide text), "I64",
//              "I32", and 'I' (pointer-sized);
//   conversion c C s S d i u x X p.
// Any other character ends the directive without taking an argument: the field's width is filled
// with spaces (unless left-aligned) and the character is then read as ordinary format text.
#include "format.h"

#include <cstdint>

namespace winsim {
namespace {

// Characters a result may hold; the byte after them is the terminating zero.
constexpr std::size_t kMaxChars = kFormatBufferSize - 1;

enum class Conversion {
    kUnknown,
    kChar,
    kWideChar,
    kString,
    kWideString,
    kSigned,
    kUnsigned,
    kHex,
    kPointer,
};

enum class Size { kDefault, kShort, kLong, kWide, kPointerSized, kInt32, kInt64 };

struct Directive {
    bool left_align = false;
    bool alternate = false;
    bool zero_pad = false;
    uint32_t width = 0;
    uint32_t precision = 0;  // 0: none given
    Size size = Size::kDefault;
    Conversion conversion = Conversion::kUnknown;
    bool upper_case = false;
};

// The argument list, held in one place so that every reader advances the same list.
struct Arguments {
    va_list list;
};

std::size_t Min(std::size_t a, std::size_t b) {
    return a < b ? a : b;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads decimal digits; overlong numbers wrap around in 32 bits as they do on the platform.
const char* ReadNumber(const char* p, uint32_t& value) {
    while (IsDigit(*p)) value = value * 10u + static_cast<uint32_t>(*p++ - '0');
    return p;
}

bool WantsWideText(Size size, bool upper_case_conversion) {
    if (size == Size::kShort) return false;
    if (size == Size::kLong || size == Size::kWide) return true;
    return upper_case_conversion;
}

// Parses a directive from just after its '%'.  Returns where the format goes on: past the
// conversion character, or at an unknown one, which is then copied as text.
const char* ParseDirective(const char* p, Directive& directive) {
    if (*p == '-') {
        directive.left_align = true;
        ++p;
    }
    if (*p == '#') {
        directive.alternate = true;
        ++p;
    }
    if (*p == '0') {
        directive.zero_pad = true;
        ++p;
    }
    p = ReadNumber(p, directive.width);
    if (*p == '.') p = ReadNumber(p + 1, directive.precision);

    switch (*p) {
        case 'h':
            directive.size = Size::kShort;
            ++p;
            break;
        case 'l':
            directive.size = Size::kLong;
            ++p;
            break;
        case 'w':
            directive.size = Size::kWide;
            ++p;
            break;
        case 'I':
            if (p[1] == '6' && p[2] == '4') {
                directive.size = Size::kInt64;
                p += 3;
            } else if (p[1] == '3' && p[2] == '2') {
                directive.size = Size::kInt32;
                p += 3;
            } else {
                directive.size = Size::kPointerSized;
                ++p;
            }
            break;
        default:
            break;
    }

    switch (*p) {
        case 'c':
        case 'C':
            directive.conversion = WantsWideText(directive.size, *p == 'C') ? Conversion::kWideChar
                                                                            : Conversion::kChar;
            break;
        case 's':
        case 'S':
            directive.conversion = WantsWideText(directive.size, *p == 'S')
                                       ? Conversion::kWideString
                                       : Conversion::kString;
            break;
        case 'd':
        case 'i':
            directive.conversion = Conversion::kSigned;
            break;
        case 'u':
            directive.conversion = Conversion::kUnsigned;
            break;
        case 'x':
            directive.conversion = Conversion::kHex;
            break;
        case 'X':
            directive.conversion = Conversion::kHex;
            directive.upper_case = true;
            break;
        case 'p':
            directive.conversion = Conversion::kPointer;
            directive.upper_case = true;
            break;
        default:
            return p;
    }
    return p + 1;
}

// Wide text becomes 8-bit text the way code page 1252 has it for ASCII and the Latin-1 letters;
// anything else becomes '?'.
char NarrowChar(uint32_t c) {
    return (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) ? static_cast<char>(c) : '?';
}

// The output side: never more than kMaxChars characters, whatever is asked of it.
class Writer {
  public:
    explicit Writer(char* out) : out_(out) {}

    std::size_t Room() const { return kMaxChars - used_; }

    void Put(char c) {
        if (used_ < kMaxChars) out_[used_++] = c;
    }

    void Repeat(char c, std::size_t count) {
        for (count = Min(count, Room()); count > 0; --count) out_[used_++] = c;
    }

    void Append(const char* text, std::size_t length) {
        for (length = Min(length, Room()); length > 0; --length) out_[used_++] = *text++;
    }

    // One converted field: the spaces that fill its width, then prefix, sign, zeros and body.
    // The width counts everything but the prefix.  Near the end of the buffer the body keeps
    // priority: zeros and then spaces shrink to what is left after it, and only what does not
    // fit even so is cut off at the end.
    void Field(const Directive& directive, uint32_t width, const char* prefix,
               std::size_t prefix_length, const char* sign, std::size_t sign_length,
               std::size_t zeros, const char* body, std::size_t body_length) {
        std::size_t counted = sign_length + zeros + body_length;
        std::size_t spaces = width > counted ? width - counted : 0;
        std::size_t essential = prefix_length + sign_length + body_length;
        std::size_t room = Room();
        if (essential >= room) {
            zeros = 0;
            spaces = 0;
        } else {
            zeros = Min(zeros, room - essential);
            spaces = Min(spaces, room - essential - zeros);
        }
        if (!directive.left_align) Repeat(' ', spaces);
        Append(prefix, prefix_length);
        Append(sign, sign_length);
        Repeat('0', zeros);
        Append(body, body_length);
        if (directive.left_align) Repeat(' ', spaces);
    }

    int Finish() {
        out_[used_] = '\0';
        return used_ == kMaxChars ? static_cast<int>(kFormatBufferSize) : static_cast<int>(used_);
    }

  private:
    char* out_;
    std::size_t used_ = 0;
};

const char kNullText[] = "(null)";

// How many characters of a text the field shows: up to its end, the precision, or the room left.
template <typename CharT>
std::size_t ShownLength(const CharT* text, const Directive& directive, std::size_t room) {
    std::size_t limit = directive.precision != 0 ? Min(directive.precision, room) : room;
    std::size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    return length;
}

void FormatString(Writer& writer, const Directive& directive, Arguments& args) {
    const char* text = va_arg(args.list, const char*);
    if (text == nullptr) text = kNullText;
    std::size_t length = ShownLength(text, directive, writer.Room());
    writer.Field(directive, directive.width, "", 0, "", 0, 0, text, length);
}

void FormatWideString(Writer& writer, const Directive& directive, Arguments& args) {
    const wchar_t* wide = va_arg(args.list, const wchar_t*);
    if (wide == nullptr) {
        std::size_t length = ShownLength(kNullText, directive, writer.Room());
        writer.Field(directive, directive.width, "", 0, "", 0, 0, kNullText, length);
        return;
    }
    char text[kMaxChars];
    std::size_t length = ShownLength(wide, directive, writer.Room());
    for (std::size_t i = 0; i < length; ++i) text[i] = NarrowChar(static_cast<uint32_t>(wide[i]));
    writer.Field(directive, directive.width, "", 0, "", 0, 0, text, length);
}

void FormatChar(Writer& writer, const Directive& directive, char c) {
    writer.Field(directive, directive.width, "", 0, "", 0, 0, &c, 1);
}

// Reads an integer argument of the directive's size; signed values come back as their magnitude
// and a sign.
uint64_t ReadInteger(const Directive& directive, Arguments& args, bool& negative) {
    negative = false;
    if (directive.conversion == Conversion::kPointer) {
        return reinterpret_cast<uintptr_t>(va_arg(args.list, void*));
    }
    if (directive.conversion != Conversion::kSigned) {
        switch (directive.size) {
            case Size::kInt64:
                return va_arg(args.list, unsigned long long);
            case Size::kPointerSized:
                return va_arg(args.list, uintptr_t);
            case Size::kShort:
                return static_cast<uint16_t>(va_arg(args.list, unsigned int));
            default:
                return va_arg(args.list, unsigned int);
        }
    }
    int64_t value;
    switch (directive.size) {
        case Size::kInt64:
            value = va_arg(args.list, long long);
            break;
        case Size::kPointerSized:
            value = va_arg(args.list, intptr_t);
            break;
        case Size::kShort:
            value = static_cast<int16_t>(va_arg(args.list, int));
            break;
        default:
            value = va_arg(args.list, int);
            break;
    }
    negative = value < 0;
    return negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

void FormatInteger(Writer& writer, const Directive& directive, Arguments& args) {
    bool negative;
    uint64_t magnitude = ReadInteger(directive, args, negative);

    bool hex =
        directive.conversion == Conversion::kHex || directive.conversion == Conversion::kPointer;
    const char* digit_set = directive.upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
    uint64_t base = hex ? 16 : 10;
    char digits[24];
    char* first = digits + sizeof digits;
    do {
        *--first = digit_set[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    std::size_t digit_count = static_cast<std::size_t>(digits + sizeof digits - first);

    // '#' means something only for hex; decimal conversions ignore it.
    const char* prefix = directive.upper_case ? "0X" : "0x";
    std::size_t prefix_length = directive.alternate && hex ? 2 : 0;
    std::size_t sign_length = negative ? 1 : 0;

    // A pointer is always shown with all its digits, whatever width was asked for.
    uint32_t width = directive.width;
    bool zero_pad = directive.zero_pad;
    if (directive.conversion == Conversion::kPointer) {
        width = 2 * sizeof(void*);
        zero_pad = true;
    }

    // The sign counts towards the precision, so "%.3d" of -7 is "-07"; with '0' the zeros fill
    // the whole width, precision or not, but never in a left-aligned field.
    std::size_t counted = sign_length + digit_count;
    std::size_t zeros = directive.precision > counted ? directive.precision - counted : 0;
    if (zero_pad && !directive.left_align && width > counted + zeros) zeros = width - counted;

    writer.Field(directive, width, prefix, prefix_length, "-", sign_length, zeros, first,
                 digit_count);
}

void FormatUnknown(Writer& writer, const Directive& directive) {
    if (!directive.left_align && directive.width > directive.precision) {
        writer.Repeat(' ', directive.width - directive.precision);
    }
}

void FormatDirective(Writer& writer, const Directive& directive, Arguments& args) {
    switch (directive.conversion) {
        case Conversion::kChar:
            FormatChar(writer, directive, static_cast<char>(va_arg(args.list, int)));
            break;
        case Conversion::kWideChar:
            // A wide character travels as an int of which only the low 16 bits count.
            FormatChar(writer, directive,
                       NarrowChar(static_cast<uint16_t>(va_arg(args.list, int))));
            break;
        case Conversion::kString:
            FormatString(writer, directive, args);
            break;
        case Conversion::kWideString:
            FormatWideString(writer, directive, args);
            break;
        case Conversion::kSigned:
        case Conversion::kUnsigned:
        case Conversion::kHex:
        case Conversion::kPointer:
            FormatInteger(writer, directive, args);
            break;
        case Conversion::kUnknown:
            FormatUnknown(writer, directive);
            break;
    }
}

}  // namespace

int FormatWin32(char* out, const char* format, va_list args) {
    Writer writer(out);
    Arguments arguments;
    va_copy(arguments.list, args);

    const char* p = format;
    while (*p != '\0' && writer.Room() > 0) {
        if (*p != '%') {
            writer.Put(*p++);
            continue;
        }
        ++p;
        if (*p == '%') {
            writer.Put(*p++);
            continue;
        }
        Directive directive;
        p = ParseDirective(p, directive);
        FormatDirective(writer, directive, arguments);
    }

    va_end(arguments.list);
    return writer.Finish();
}

}  // namespace winsim
