// Keyboard and code pages of the simulated Win32: the US layout, ANSI code page 1252 and OEM code
// page 437, on the tables that the platform's user32 gives, part of code page 932, and UTF-8.
#include <algorithm>
#include <cstring>
#include <string>

#include "codepages.h"
#include "internal.h"
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

UINT Resolve(UINT code_page) {
    if (code_page == CP_ACP) return 1252;
    if (code_page == CP_OEMCP) return 437;
    return code_page;
}

// UTF-8 to UTF-16, each maximal invalid subpart one U+FFFD, as the system's decoder does.
std::wstring Utf8ToWide(const unsigned char* bytes, size_t length) {
    std::wstring text;
    size_t i = 0;
    while (i < length) {
        unsigned char lead = bytes[i++];
        if (lead < 0x80) {
            text += static_cast<WCHAR>(lead);
            continue;
        }
        int needed = lead >= 0xC2 && lead <= 0xDF   ? 1
                     : lead >= 0xE0 && lead <= 0xEF ? 2
                     : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                    : 0;
        unsigned value = lead & (0x3F >> needed);
        unsigned char lower = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        unsigned char upper = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        int seen = 0;
        while (seen < needed && i < length && bytes[i] >= lower && bytes[i] <= upper) {
            value = (value << 6) | (bytes[i++] & 0x3F);
            lower = 0x80;
            upper = 0xBF;
            ++seen;
        }
        if (needed == 0 || seen < needed) {
            text += static_cast<WCHAR>(0xFFFD);
        } else if (value >= 0x10000) {
            text += static_cast<WCHAR>(0xD800 + ((value - 0x10000) >> 10));
            text += static_cast<WCHAR>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            text += static_cast<WCHAR>(value);
        }
    }
    return text;
}

std::string WideToUtf8(const WCHAR* units, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        unsigned value = static_cast<unsigned>(units[i]) & 0xFFFF;
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < length &&
            (units[i + 1] & 0xFC00) == 0xDC00) {
            value = 0x10000 + ((value - 0xD800) << 10) + (units[++i] & 0x3FF);
        } else if (value >= 0xD800 && value <= 0xDFFF) {
            value = 0xFFFD;
        }
        if (value < 0x80) {
            text += static_cast<char>(value);
        } else if (value < 0x800) {
            text += static_cast<char>(0xC0 | (value >> 6));
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            text += static_cast<char>(0xE0 | (value >> 12));
            text += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (value >> 18));
            text += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return text;
}

}  // namespace

namespace winsim {
namespace detail {

bool KnownCodePage(UINT code_page) {
    code_page = Resolve(code_page);
    return code_page == 437 || code_page == 1252 || code_page == 932 || code_page == CP_UTF8;
}

std::wstring ToWide(UINT code_page, const char* bytes, size_t length) {
    code_page = Resolve(code_page);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
    if (code_page == CP_UTF8) return Utf8ToWide(data, length);
    std::wstring text;
    if (code_page == 932) {
        // A lead byte takes the next byte but zero as its trail; alone it is the default.
        for (size_t i = 0; i < length; ++i) {
            if (!Cp932IsLeadByte(data[i])) {
                text += static_cast<WCHAR>(Cp932SingleToUnicode(data[i]));
            } else if (i + 1 < length && data[i + 1] != 0) {
                text += static_cast<WCHAR>(Cp932PairToUnicode(data[i], data[i + 1]));
                ++i;
            } else {
                text += static_cast<WCHAR>(kCp932Default);
            }
        }
        return text;
    }
    for (size_t i = 0; i < length; ++i)
        text += static_cast<WCHAR>(code_page == 437 ? Cp437ToUnicode(data[i])
                                                    : Cp1252ToUnicode(data[i]));
    return text;
}

std::string FromWide(UINT code_page, const WCHAR* units, size_t length) {
    code_page = Resolve(code_page);
    if (code_page == CP_UTF8) return WideToUtf8(units, length);
    std::string text;
    if (code_page == 932) {
        for (size_t i = 0; i < length; ++i) {
            unsigned char bytes[2];
            const int count = UnicodeToCp932(static_cast<unsigned short>(units[i]), bytes);
            text.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
        }
        return text;
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned short unit = static_cast<unsigned short>(units[i]);
        text += static_cast<char>(code_page == 437 ? UnicodeToCp437(unit) : UnicodeToCp1252(unit));
    }
    return text;
}

}  // namespace detail
}  // namespace winsim

int MultiByteToWideChar(UINT code_page, DWORD, LPCSTR source, int length, LPWSTR destination,
                        int size) {
    DWORD error = 0;
    if (winsim::test::TakeFault("MultiByteToWideChar", &error)) {
        SetLastError(error);
        return 0;
    }
    if (!winsim::detail::KnownCodePage(code_page) || source == nullptr || size < 0 ||
        (size > 0 && destination == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = length < 0 ? std::strlen(source) + 1 : static_cast<size_t>(length);
    std::wstring text = winsim::detail::ToWide(code_page, source, count);
    if (size == 0) return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), destination);
    return static_cast<int>(text.size());
}

int WideCharToMultiByte(UINT code_page, DWORD, LPCWSTR source, int length, LPSTR destination,
                        int size, LPCSTR, LPBOOL default_used) {
    DWORD error = 0;
    if (winsim::test::TakeFault("WideCharToMultiByte", &error)) {
        SetLastError(error);
        return 0;
    }
    if (!winsim::detail::KnownCodePage(code_page) || source == nullptr || size < 0 ||
        (size > 0 && destination == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = 0;
    if (length >= 0) {
        count = static_cast<size_t>(length);
    } else {
        while (source[count] != 0) ++count;
        ++count;
    }
    std::string text = winsim::detail::FromWide(code_page, source, count);
    if (default_used != nullptr) *default_used = FALSE;
    if (size == 0) return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), destination);
    return static_cast<int>(text.size());
}

BOOL IsDBCSLeadByteEx(UINT code_page, BYTE byte) {
    return Resolve(code_page) == 932 && winsim::Cp932IsLeadByte(byte);
}

// The US layout has keys for ASCII alone: above it VkKeyScanW finds none.
SHORT VkKeyScanW(WCHAR character) {
    DWORD error = 0;
    if (winsim::test::TakeFault("VkKeyScanW", &error)) {
        SetLastError(error);
        return -1;
    }
    if (static_cast<unsigned>(character) > 0xFF) return -1;
    return static_cast<SHORT>(winsim::UsKeyScan(static_cast<unsigned char>(character)));
}

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

UINT GetDoubleClickTime() {
    return 500;
}
