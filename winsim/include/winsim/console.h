// Consoles, keyboard and code pages of the simulated Win32; included by winsim/windows.h.
#pragma once

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define OPEN_EXISTING 3

#define ERROR_FULLSCREEN_MODE 1007L

// Exit code of a process that a Ctrl-C or Ctrl-Break event ended.
#define STATUS_CONTROL_C_EXIT ((DWORD)0xC000013AL)

// Console input modes
#define ENABLE_PROCESSED_INPUT 0x0001
#define ENABLE_LINE_INPUT 0x0002
#define ENABLE_ECHO_INPUT 0x0004
#define ENABLE_WINDOW_INPUT 0x0008
#define ENABLE_MOUSE_INPUT 0x0010
#define ENABLE_INSERT_MODE 0x0020
#define ENABLE_QUICK_EDIT_MODE 0x0040
#define ENABLE_EXTENDED_FLAGS 0x0080
// Console output modes
#define ENABLE_PROCESSED_OUTPUT 0x0001
#define ENABLE_WRAP_AT_EOL_OUTPUT 0x0002

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1

#define KEY_EVENT 0x0001
#define MOUSE_EVENT 0x0002

// A mouse event's buttons (the high word of dwButtonState carries a wheel's delta) and flags.
#define FROM_LEFT_1ST_BUTTON_PRESSED 0x0001
#define RIGHTMOST_BUTTON_PRESSED 0x0002
#define FROM_LEFT_2ND_BUTTON_PRESSED 0x0004
#define MOUSE_MOVED 0x0001
#define DOUBLE_CLICK 0x0002
#define MOUSE_WHEELED 0x0004
#define MOUSE_HWHEELED 0x0008

#define RIGHT_ALT_PRESSED 0x0001
#define LEFT_ALT_PRESSED 0x0002
#define RIGHT_CTRL_PRESSED 0x0004
#define LEFT_CTRL_PRESSED 0x0008
#define SHIFT_PRESSED 0x0010

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B

#define VK_PACKET 0xE7

#define MAPVK_VK_TO_VSC 0

// Code pages: the ANSI and OEM ones of the system (1252 and 437) and UTF-8.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001

// A character that takes two cells marks its halves (under the East Asian code pages).
#define COMMON_LVB_LEADING_BYTE 0x0100
#define COMMON_LVB_TRAILING_BYTE 0x0200

#define FOREGROUND_BLUE 0x0001
#define FOREGROUND_GREEN 0x0002
#define FOREGROUND_RED 0x0004
#define FOREGROUND_INTENSITY 0x0008
#define BACKGROUND_BLUE 0x0010
#define BACKGROUND_GREEN 0x0020
#define BACKGROUND_RED 0x0040
#define BACKGROUND_INTENSITY 0x0080
#define COMMON_LVB_REVERSE_VIDEO 0x4000
#define COMMON_LVB_UNDERSCORE 0x8000

typedef struct _COORD {
    SHORT X;
    SHORT Y;
} COORD, *PCOORD;

typedef struct _SMALL_RECT {
    SHORT Left;
    SHORT Top;
    SHORT Right;
    SHORT Bottom;
} SMALL_RECT, *PSMALL_RECT;

typedef struct _CHAR_INFO {
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } Char;
    WORD Attributes;
} CHAR_INFO, *PCHAR_INFO;

typedef struct _CONSOLE_SCREEN_BUFFER_INFO {
    COORD dwSize;
    COORD dwCursorPosition;
    WORD wAttributes;
    SMALL_RECT srWindow;
    COORD dwMaximumWindowSize;
} CONSOLE_SCREEN_BUFFER_INFO, *PCONSOLE_SCREEN_BUFFER_INFO;

typedef struct _KEY_EVENT_RECORD {
    BOOL bKeyDown;
    WORD wRepeatCount;
    WORD wVirtualKeyCode;
    WORD wVirtualScanCode;
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } uChar;
    DWORD dwControlKeyState;
} KEY_EVENT_RECORD, *PKEY_EVENT_RECORD;

typedef struct _MOUSE_EVENT_RECORD {
    COORD dwMousePosition;
    DWORD dwButtonState;
    DWORD dwControlKeyState;
    DWORD dwEventFlags;
} MOUSE_EVENT_RECORD, *PMOUSE_EVENT_RECORD;

typedef struct _INPUT_RECORD {
    WORD EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        MOUSE_EVENT_RECORD MouseEvent;
    } Event;
} INPUT_RECORD, *PINPUT_RECORD;

typedef struct _CONSOLE_CURSOR_INFO {
    DWORD dwSize;
    BOOL bVisible;
} CONSOLE_CURSOR_INFO, *PCONSOLE_CURSOR_INFO;

#define CONSOLE_TEXTMODE_BUFFER 1

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD control_type);

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE template_file);
BOOL AllocConsole();
BOOL FreeConsole();
BOOL SetConsoleMode(HANDLE console, DWORD mode);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
BOOL GenerateConsoleCtrlEvent(DWORD event, DWORD process_group);

BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD* records, DWORD count, LPDWORD written);
BOOL ReadConsoleInputA(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read);
BOOL PeekConsoleInputA(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read);
BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count);

BOOL WriteConsoleA(HANDLE output, const void* buffer, DWORD length, LPDWORD written, LPVOID);
BOOL GetConsoleScreenBufferInfo(HANDLE output, PCONSOLE_SCREEN_BUFFER_INFO info);
// The largest window the display can show for the console's font; {0, 0} on failure.
COORD GetLargestConsoleWindowSize(HANDLE output);
BOOL ReadConsoleOutputA(HANDLE output, PCHAR_INFO buffer, COORD buffer_size, COORD buffer_origin,
                        PSMALL_RECT region);
BOOL WriteConsoleOutputA(HANDLE output, const CHAR_INFO* buffer, COORD buffer_size,
                         COORD buffer_origin, PSMALL_RECT region);
BOOL WriteConsoleOutputAttribute(HANDLE output, const WORD* attributes, DWORD count, COORD first,
                                 LPDWORD written);
BOOL FillConsoleOutputCharacterA(HANDLE output, CHAR character, DWORD count, COORD first,
                                 LPDWORD written);
BOOL FillConsoleOutputAttribute(HANDLE output, WORD attribute, DWORD count, COORD first,
                                LPDWORD written);
BOOL SetConsoleScreenBufferSize(HANDLE output, COORD size);
BOOL SetConsoleWindowInfo(HANDLE output, BOOL absolute, const SMALL_RECT* window);
BOOL SetConsoleCursorPosition(HANDLE output, COORD position);
BOOL SetConsoleTextAttribute(HANDLE output, WORD attributes);

// A console has screen buffers, one of them shown: the one "CONOUT$" opens.  A new one (flags
// CONSOLE_TEXTMODE_BUFFER) has the size of the shown buffer's window; the console holds the
// shown one while it is shown.  The cursor's shape and the title are those of Windows.
HANDLE CreateConsoleScreenBuffer(DWORD access, DWORD share, const SECURITY_ATTRIBUTES* attributes,
                                 DWORD flags, LPVOID reserved);
BOOL SetConsoleActiveScreenBuffer(HANDLE output);
BOOL GetConsoleCursorInfo(HANDLE output, PCONSOLE_CURSOR_INFO info);
BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO* info);
DWORD GetConsoleTitleW(LPWSTR title, DWORD size);
BOOL SetConsoleTitleW(LPCWSTR title);

// The W functions take and give UTF-16 units; the A functions convert through the console's
// input code page (key records) or output code page (text and cells), 437 until changed.
BOOL WriteConsoleInputW(HANDLE input, const INPUT_RECORD* records, DWORD count, LPDWORD written);
BOOL ReadConsoleInputW(HANDLE input, PINPUT_RECORD records, DWORD count, LPDWORD read);
BOOL WriteConsoleW(HANDLE output, const void* buffer, DWORD length, LPDWORD written, LPVOID);
BOOL ReadConsoleOutputW(HANDLE output, PCHAR_INFO buffer, COORD buffer_size, COORD buffer_origin,
                        PSMALL_RECT region);
UINT GetConsoleCP();
UINT GetConsoleOutputCP();
BOOL SetConsoleCP(UINT code_page);
BOOL SetConsoleOutputCP(UINT code_page);

// Conversions for the code pages 437, 1252, 932 (part of it) and 65001 (and CP_ACP, CP_OEMCP);
// flags are not modelled.  A length of -1 takes the text up to and with its terminating zero; a
// destination size of 0 asks for the size needed.
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int length, LPWSTR destination,
                        int size);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR source, int length, LPSTR destination,
                        int size, LPCSTR default_character, LPBOOL default_used);

// Of the code pages above only 932 has lead bytes: 0x81 to 0x9F and 0xE0 to 0xFC.
BOOL IsDBCSLeadByteEx(UINT code_page, BYTE byte);

SHORT VkKeyScanW(WCHAR character);
SHORT VkKeyScanA(CHAR character);
UINT MapVirtualKeyA(UINT code, UINT map_type);
// The user's double-click time, ms: 500, the system's default.
UINT GetDoubleClickTime();
BOOL CharToOemBuffA(LPCSTR source, LPSTR destination, DWORD length);
BOOL OemToCharBuffA(LPCSTR source, LPSTR destination, DWORD length);
