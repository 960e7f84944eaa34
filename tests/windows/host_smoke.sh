#!/bin/sh
# login-host and testcmd by themselves, without the translator: the host relays the program's
# pipes, waits for texts and for the exit, reports a failed expectation, writes key events into
# its console, sends window-size messages byte for byte, sizes and reads its console; testcmd
# logs the key events it reads, sets the console input mode and survives Ctrl-C.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
for program in "$login_host" "$testcmd"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
# testcmd_log NAME: a fresh testcmd log for one run, NAME.testcmd ($log, Windows form $wlog).
testcmd_log() {
    log="$bin/$1.testcmd"
    wlog=$(winpath "$log")
    rm -f "$log"
}

# A program's output arrives; its end closes both pipes.
expect_login smoke-echo "cmd.exe /c echo hello" "expect hello" "expect-exit 0"
expect_grep "$bin/smoke-echo.out" 'hello\r\n' "escaped socket output"

# A failed expectation is reported and fails the run; the other steps still run.
run_login smoke-fail "cmd.exe /c echo hello" "expect goodbye 300" "expect-exit 0"
expect_status 1 $? "a failed expectation"
expect_grep "$bin/smoke-fail.log" "1 passed, 1 failed" "a failed expectation"

# What the program writes to its standard error arrives on the control channel.
expect_login smoke-control "cmd.exe /c echo ctl 1>&2" "expect-control 63 74 6c" "expect-exit 0"
expect_log_line "$bin/smoke-control.ctl" '^[0-9][0-9]* 63 74 6c' "control channel timeline"

# Key events written into the host's console reach testcmd; it logs each one.
testcmd_log smoke-keys
expect_login smoke-keys "$(winpath "$testcmd") --log $wlog --prompt" \
    'expect "testcmd> "' 'key echo Hi\r' 'expect Hi\n' 'expect "testcmd> "' \
    'key exit 7\r' 'expect-exit 7'
expect_log_line "$log" '^key down vk=0x48 scan=0x23 char=0x48 state=0x0010 repeat=1$' \
    "shifted key"
expect_log_line "$log" '^key up vk=0x0d scan=0x1c char=0x0d state=0x0000 repeat=1$' "Enter"
expect_log_line "$log" '^line: echo Hi$' "collected line"

# SetConsoleMode works on the console input of our own process.  A Ctrl-C event is caught; in
# raw input a Ctrl+C key record stays a key, in processed input it raises the event.
testcmd_log smoke-ctrl
expect_login smoke-ctrl "$(winpath "$testcmd") --log $wlog --prompt" \
    'expect "testcmd> "' 'ctrl-c' 'expect "^C caught\n"' \
    'key mode raw\r' 'expect "set 0x1f0 ok 0, now 0x1f0"' 'key \x03\r' \
    'expect "unknown command: \x03\n"' \
    'key mode char\r' 'expect "set 0x1f1 ok 0, now 0x1f1"' 'key \x03' 'expect "^C caught\n"' \
    'key mode line\r' 'expect "now 0x1f7"' 'key exit\r' 'expect-exit 0'
expect_log_line "$log" '^key down vk=0x43 scan=0x2e char=0x03 state=0x0008 repeat=1$' \
    "Ctrl+C key in raw input"
if [ "$(grep -c '^CTRL_C$' "$log")" -ge 2 ]; then
    pass
else
    fail "Ctrl-C events in the log: $(grep -c '^CTRL_C$' "$log")"
fi

# Window-size messages reach the program byte for byte; closing the input ends it.
expect_login smoke-sizes "$(winpath "$testcmd") --cat" 'send ab' 'telnet-size 30 100' \
    'rlogin-size 25 80' 'send \xff\0z' 'close-input' 'expect-exit 0'
{
    printf 'ab\377'
    head -c 84 /dev/zero
    printf '\036\000\000\000\144\000\000\000'
    printf '\377\377ss\000\031\000\120\000\000\000\000\377\000z'
} >"$bin/smoke-sizes.want"
if cmp -s "$bin/smoke-sizes.want" "$bin/smoke-sizes.raw"; then
    pass
else
    fail "window-size messages: bytes differ"
    od -An -tx1 "$bin/smoke-sizes.raw" | head -10
fi

# The console takes the size asked for; the screen dump shows texts and attributes where
# testcmd drew them.
testcmd_log smoke-screen
screen="$bin/smoke-screen.txt"
expect_login smoke-screen --console 100x30 "$(winpath "$testcmd") --log $wlog --prompt" \
    'expect-size 100x30 1000' 'expect "testcmd> "' 'key size\r' \
    'expect "size 100x30 window 100x30\ntestcmd> "' 'key cls\r' 'expect "testcmd> "' 'key draw\r' \
    'expect "testcmd> "' 'key draw 9 95 0f edge\r' 'expect "testcmd> "' \
    "screen $(winpath "$screen")" 'key exit\r' 'expect-exit 0'
expect_grep "$screen" "size 100 30" "screen size"
expect_grep "$screen" "window 0 0 99 29" "screen window"
if [ "$(sed -n 6p "$screen")" = "  black on grey" ] && [ "$(sed -n 13p "$screen")" = \
    "$(printf '%95sedge' '')" ]; then
    pass
else
    fail "screen rows"
    sed 's/^/  | /' "$screen" | head -16
fi
if [ "$(sed -n 6p "$screen.attr" | cut -c5-30)" = "70707070707070707070707070" ] &&
    [ "$(sed -n 7p "$screen.attr" | cut -c1-6)" = "0f0f20" ]; then
    pass
else
    fail "screen attributes"
    sed 's/^/  | /' "$screen.attr" | head -10
fi

# Whatever is left running in the console when the scenario ends is ended with it.
testcmd_log smoke-leftover
run_login smoke-leftover "cmd.exe /c start /b $(winpath "$testcmd") --log $wlog" 'wait 1500'
expect_status 0 $? "leftover processes"
expect_grep "$bin/smoke-leftover.log" "left in the console" "leftover processes"
expect_log_line "$log" "^start mode" "leftover testcmd started"
finish
