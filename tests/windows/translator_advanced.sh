#!/bin/sh
# The translator in advanced mode under Wine, login-host playing the server and testcmd the
# command processor: the first pass painting the console, typed keys reaching the console as key
# events, the Ctrl-A key commands, Ctrl-C as an event, Ctrl-R repainting, a window-size message
# repainting at the new size, colours shown as reverse video, and exit ending the login.  Each
# screen step leaves the console's rows (NAME.screen, attributes in NAME.screen.attr) beside the
# socket output received so far (NAME.raw), for comparison through a terminal emulator.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
for program in "$login_host" "$testcmd" "$translator"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
wtranslator=$(winpath "$translator")
log="$bin/advanced-testcmd.log"
cleanup() { clear_settings telnet; clear_settings rlogin; }
cleanup
trap cleanup EXIT
set_setting telnet ModeSelection advanced
set_setting rlogin ModeSelection advanced
# testcmd echoes what it reads onto the console, as a command processor at a prompt does.
use_testcmd telnet "$log" --prompt --echo

# The first pass clears the terminal and paints every row; typed keys arrive as key events and
# their echo on the console reaches the client.
expect_login advanced-first --console 80x25 "$wtranslator telnet vt100" 'expect \e[2J' \
    'expect "testcmd> "' 'wait 700' "screen $(winpath "$bin/advanced-first.screen")" \
    'send echo hi\r' 'expect "hi"' 'expect "testcmd> "' 'send exit\r' 'expect-exit 0'
expect_no_grep "$bin/advanced-first.out" "Use advanced" "ModeSelection advanced: no question"
expect_grep "$bin/advanced-first.screen" "testcmd> " "first screen"
expect_log_line "$log" '^key down vk=0x45 scan=0x12 char=0x65 state=0x0000 repeat=1$' "key e"
expect_log_line "$log" '^key down vk=0x0d scan=0x1c char=0x0d ' "Enter"
expect_log_line "$log" '^line: echo hi$' "typed line"

# Ctrl-A commands: F1, Up, sticky Shift with Up, a literal Ctrl-A; Escape at the prompt comes
# with its virtual key; Ctrl-C is an event, not a key.
expect_login advanced-keys "$wtranslator telnet vt100" 'expect "testcmd> "' 'send \x011' \
    'send \x01U' 'send \x01S\x01U' 'send \x01\x01' 'send \e' 'send \x03' 'expect "^C caught"' \
    'send \x01Z' 'wait 500' 'send \r' 'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^key down vk=0x70 ' "Ctrl-A 1 gives F1"
expect_log_line "$log" '^key down vk=0x26 scan=0x[0-9a-f]* char=0x00 state=0x0000' "Ctrl-A U"
expect_log_line "$log" '^key down vk=0x10 scan=0x[0-9a-f]* char=0x00 state=0x0010' \
    "sticky Shift pressed"
expect_log_line "$log" '^key down vk=0x26 scan=0x[0-9a-f]* char=0x00 state=0x0010' "Shift+Up"
expect_log_line "$log" '^key down vk=0x41 scan=0x1e char=0x01 state=0x0008' "literal Ctrl-A"
expect_log_line "$log" '^key down vk=0x1b scan=0x01 char=0x1b state=0x0000' "Escape"
expect_log_line "$log" '^key down vk=0x12 scan=0x[0-9a-f]* char=0x00 state=0x0002' "Alt alone"
expect_log_line "$log" '^CTRL_C$' "Ctrl-C event"
if grep -q '^key down vk=0x43 scan=0x[0-9a-f]* char=0x03' "$log" 2>/dev/null; then
    fail "Ctrl-C at the prompt arrived as a key"
else
    pass
fi

# Ctrl-R at the prompt repaints the whole terminal; with raw input it is a key.
expect_login advanced-redraw "$wtranslator telnet vt100" 'expect "testcmd> "' 'wait 700' \
    'mark' 'send \x12' 'expect \e[2J 2000' 'expect "testcmd> "' 'send mode raw\r' \
    'expect "now 0x1f0"' 'wait 700' 'mark' 'send \x12\x03' 'expect-no \e[2J 1000' \
    'send \r' 'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^key down vk=0x52 scan=0x[0-9a-f]* char=0x12 state=0x0008' "raw Ctrl-R"
expect_log_line "$log" '^key down vk=0x43 scan=0x[0-9a-f]* char=0x03 state=0x0008' "raw Ctrl-C"

# Colours: grey and green backgrounds in reverse video, blue not; the screen and the output are
# kept for comparison.
expect_login advanced-draw "$wtranslator telnet vt100" 'expect "testcmd> "' 'send cls\r' \
    'expect "testcmd> "' 'send draw\r' 'expect "\e[7mb\e[0m"' 'expect "testcmd> "' \
    'wait 700' "screen $(winpath "$bin/advanced-draw.screen")" 'send exit\r' 'expect-exit 0'
expect_grep "$bin/advanced-draw.screen" "  black on grey" "drawn screen"

# A window-size message resizes the console and repaints at the new size.
expect_login advanced-size "$wtranslator telnet vt100" 'expect "testcmd> "' 'wait 700' \
    'mark' 'telnet-size 30 100' 'expect-size 100x30' 'expect \e[2J' 'expect \e[30;1f' \
    'send size\r' 'expect "size 100x30 window 100x30"' 'wait 700' \
    "screen $(winpath "$bin/advanced-size.screen")" 'send exit\r' 'expect-exit 0'
expect_grep "$bin/advanced-size.screen" "size 100 30" "resized screen"

# Rlogin in advanced mode: control bytes, a window-size message, the end when the server closes
# the input.
use_testcmd rlogin "$log" --prompt --echo
expect_login advanced-rlogin "$wtranslator rlogin xterm" 'expect-control 10 80' \
    'expect "testcmd> "' 'rlogin-size 24 80' 'expect-size 80x24' 'close-input' 'expect-exit 0'
expect_no_grep "$bin/advanced-rlogin.log" "left in the console" "the command processor ended"
finish
