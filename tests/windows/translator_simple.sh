#!/bin/sh
# The translator in simple mode under Wine, login-host playing the server: the start-up question
# and its answers, local echo and erasing, command output with CR LF, TERM, the rlogin control
# bytes, window-size messages resizing the console, Ctrl-C, the character and raw input modes,
# and both ways a login ends.  testcmd stands in for the command processor where Wine's own
# dies on Ctrl-C or cannot show what the console reads.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
for program in "$login_host" "$testcmd" "$translator"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
wtranslator=$(winpath "$translator")
log="$bin/simple-testcmd.log"
question='Use advanced features (requires ANSI terminal emulation)? (y/n)'
cleanup() { clear_settings telnet; clear_settings rlogin; rm -f "$WINEPREFIX/drive_c/remote.cmd"; }
cleanup
trap cleanup EXIT

# The start-up question: an unknown answer asks again, the answers are not echoed, "n" chooses
# simple mode even where advanced is the default.
use_testcmd telnet "$log" --prompt
expect_login simple-question "$wtranslator telnet vt100" \
    "expect \"$question [y]? \"" 'send x' 'expect "\r\n"' "expect \"$question [y]? \"" \
    'send n' 'expect "\r\ntestcmd> "' 'send exit\r' 'expect-exit 0'
if [ "$(cat "$bin/simple-question.out")" = "$question [y]? \\r\\n
$question [y]? \\r\\n
testcmd> exit\\r\\n" ]; then
    pass
else
    fail "start-up question: the whole socket output"
    sed 's/^/  | /' "$bin/simple-question.out"
fi

# A terminal type without ANSI support defaults to simple mode; a bare carriage return keeps it.
expect_login simple-default "$wtranslator telnet dumb" "expect \"$question [n]? \"" \
    'send \r' 'expect "\r\ntestcmd> "' 'send exit\r' 'expect-exit 0'
# "Y" chooses advanced mode: the console is painted.
expect_login simple-yes "$wtranslator telnet dumb" "expect \"$question [n]? \"" 'send Y' \
    'expect "\r\n"' 'expect \e[2J' 'send exit\r' 'expect-exit 0'

# ModeSelection "simple" (any case) asks nothing.  The translator echoes the line and erases
# with "\b \b"; the command processor gets the line at Enter, its LF arrives as CR LF; TERM is
# the terminal type byte for byte.
set_setting telnet ModeSelection Simple
use_testcmd telnet "$log" --prompt
expect_login simple-edit "$wtranslator telnet Odd-Term/1" 'expect "testcmd> "' \
    'send dix' 'expect dix' 'send \x7f' 'expect "\b \b"' 'send r\r' 'expect "r\r\n"' \
    'expect "unknown command: dir\r\ntestcmd> "' 'send a\x02\b\b' 'expect "a^B\b \b\b \b\b \b"' \
    'send env TERM\r' 'expect "TERM=Odd-Term/1\r\ntestcmd> "' \
    'send echo two  words\r' 'expect "two  words\r\n"' 'send exit\r' 'expect-exit 0'
expect_no_grep "$bin/simple-edit.out" "Use advanced" "ModeSelection simple: no question"
expect_log_line "$log" '^line: dir$' "edited line"
expect_log_line "$log" '^key down vk=0x44 scan=0x20 char=0x64 state=0x0000 repeat=1$' "key d"
if [ -s "$bin/simple-edit.ctl" ]; then fail "telnet: bytes on the control channel"; else pass; fi

# Wine's own command processor, started by its quoted path, runs the user's script first: Wine
# gives no home directory, so it is "\remote.cmd" on the current drive (C: for this login).  Its
# output comes back with CR LF, TERM is set for it.
clear_settings telnet
set_setting telnet ModeSelection simple
script="$WINEPREFIX/drive_c/remote.cmd"
printf '@echo remote-cmd-ran\r\n' >"$script"
cd "$WINEPREFIX/drive_c"
expect_login simple-cmd "$wtranslator telnet vt100" 'expect "remote-cmd-ran\r\n" 20000' \
    'send echo %TERM%-seen\r' 'expect "vt100-seen\r\n" 20000' 'send exit\r' 'expect-exit 0'
cd - >/dev/null
rm -f "$script"

# The command processor's last words, written just before it ends, reach the client in full
# before the login ends, and nothing is reported, even when the client is slow to take them (the
# relay is still writing when the command processor has ended).
use_testcmd telnet "$log" --prompt
words="last words $(printf '%070d' 7) bye"
debug=${WINEDEBUG:-}
WINEDEBUG=-all,err+eventlog,warn+eventlog
export WINEDEBUG
expect_login simple-last-words --output-buffer 64 "$wtranslator telnet vt100" \
    'expect "testcmd> "' "send exit 0 $words" "expect \"$words\"" 'hold-output' 'send \r' \
    'wait 300' 'release-output' "expect \"\\r\\n$words\\r\\n\"" 'expect-exit 0'
WINEDEBUG=$debug
expect_no_grep "$bin/simple-last-words.log" "Writing translated output" "no report at the end"

# A line end that the relay's 32-byte reads cut between its CR and its LF (31 characters and
# the CR fill the first read) reaches the client as one CR LF.
use_testcmd telnet "$log" --prompt
cut=$(printf '%031d' 5)
expect_login simple-cut-line-end "$wtranslator telnet vt100" 'expect "testcmd> "' \
    "send crlf $cut\\r" "expect \"\\r\\n$cut\\r\\ntestcmd> \"" 'send exit\r' 'expect-exit 0'

# Ctrl-C reaches the command processor as an event; the translator answers with "\r\n\n>".
use_testcmd telnet "$log" --prompt
expect_login simple-ctrlc "$wtranslator telnet vt100" 'expect "testcmd> "' 'send ab\x03' \
    'expect "^C caught\r\n"' 'send \x03' 'expect "\r\n\n>"' 'send echo after\r' \
    'expect "after\r\n"' 'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^CTRL_C$' "Ctrl-C event"
expect_log_line "$log" '^line: echo after$' "the line pending at Ctrl-C is dropped"

# The character input mode: every byte goes at once, Ctrl-A commands give the special keys; raw
# input passes Ctrl-C as a key.
expect_login simple-modes "$wtranslator telnet vt100" 'expect "testcmd> "' \
    'send mode char\r' 'expect "now 0x1f1"' 'send q' 'send \x011' 'send \x01U' 'send \x01S' \
    'send \x01L' 'send \r' 'expect "unknown command: q"' 'send mode raw\r' \
    'expect "now 0x1f0"' 'send \x03\r' 'expect "unknown command: \x03"' 'send exit\r' \
    'expect-exit 0'
expect_log_line "$log" '^key down vk=0x70 ' "Ctrl-A 1 gives F1"
expect_log_line "$log" '^key down vk=0x26 ' "Ctrl-A U gives Up"
expect_log_line "$log" '^key down vk=0x25 scan=0x[0-9a-f]* char=0x00 state=0x0010' "sticky Shift, Left"
expect_log_line "$log" '^key down vk=0x43 scan=0x2e char=0x03 state=0x0008' "raw Ctrl-C key"

# A telnet state message resizes the console, also while the question waits for its answer.
clear_settings telnet
use_testcmd telnet "$log" --prompt
expect_login simple-telnet-size "$wtranslator telnet dumb" "expect \"$question [n]? \"" \
    'telnet-size 30 100' 'expect-size 100x30' 'send n' 'expect "testcmd> "' 'size' \
    'send size\r' 'expect "size 100x30 window 100x30\r\n"' 'telnet-size 40 90' \
    'expect-size 90x40' 'telnet-size 0 90' 'expect-size 80x24' 'send exit\r' 'expect-exit 0'
expect_no_grep "$bin/simple-telnet-size.out" "refusing" "accepted sizes are not reported"

# Rlogin: the control bytes 0x10 and 0x80 after the question, a window-size message, the end
# when the server closes the input (the command processor is ended with it).
use_testcmd rlogin "$log" --prompt
expect_login simple-rlogin "$wtranslator rlogin xterm" "expect \"$question [y]? \"" \
    'send N' 'expect-control 10 80' 'rlogin-size 25 80' 'expect-size 80x25' \
    'send \xff\x41z\r' 'expect "unknown command: z"' 'close-input' 'expect-exit 0'
if [ "$(cut -d' ' -f2- "$bin/simple-rlogin.ctl" | tr -d '\n ')" = "1080" ]; then
    pass
else
    fail "rlogin control channel: $(cat "$bin/simple-rlogin.ctl")"
fi
expect_no_grep "$bin/simple-rlogin.log" "left in the console" "the command processor ended"
# A UTF-8 client ("café ─│┌", a sequence cut short and a lone continuation byte): the echo
# shows the characters as sent (U+FFFD for the malformed ones) and erases a wide one by its two
# columns (back over both, two blanks, back again), the console gets wide key records (VK_PACKET where the US layout has no key), and the
# command's output in code page 437 comes back as UTF-8; so does Wine's own command processor's.
# The relay follows the program's switches of the output code page, to UTF-8 and back.
clear_settings telnet
set_setting telnet ModeSelection simple
wine reg add "$(settings_key telnet)" /v Utf8Client /t REG_DWORD /d 1 /f >/dev/null 2>&1
use_testcmd telnet "$log" --prompt --wide
text='caf\xc3\xa9 \xe2\x94\x80\xe2\x94\x82\xe2\x94\x8c'
expect_login simple-utf8 "$wtranslator telnet vt100" 'expect "testcmd> "' \
    'send \xe6\x97\xa5\x7f' 'expect "\xe6\x97\xa5\b\b  \b\b"' \
    "send echo $text \\xe2\\x94x \\x80\\r" \
    "expect \"echo $text \\xef\\xbf\\xbdx \\xef\\xbf\\xbd\\r\\n\"" \
    "expect \"$text ?x ?\\r\\ntestcmd> \"" \
    'send cp 65001\r' 'expect "cp 65001 ok\r\ntestcmd> "' 'send utf8\r' \
    "expect \"utf8 $text \\xe6\\x97\\xa5\\xe6\\x9c\\xac\\r\\n\"" 'send cp 437\r' \
    'expect "cp 437 ok\r\ntestcmd> "' 'send oem\r' \
    'expect "oem \xc3\xa9\xc3\xa8\xc3\x9f\xe2\x94\x80\r\n"' 'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^key down vk=0xe7 scan=0x00 char=0x82 state=0x0000 repeat=1 unicode=0x00e9$' \
    "UTF-8: e-acute as VK_PACKET"
expect_log_line "$log" '^key down vk=0xe7 .* unicode=0x250c$' "UTF-8: box corner"
expect_log_line "$log" '^key down vk=0xe7 .* unicode=0xfffd$' "UTF-8: U+FFFD"
expect_log_line "$log" "$(printf '^line: echo caf\202 \304\263\332 ?x ?$')" \
    "UTF-8: the line in the console's code page"
wine reg delete "$(settings_key telnet)" /v CommandProcessor /f >/dev/null 2>&1
expect_login simple-utf8-cmd "$wtranslator telnet vt100" 'expect "windows>" 20000' \
    "send echo $text\\r" \
    "expect \"\\r\\n$text\\r\\n\" 20000" 'send exit\r' 'expect-exit 0'

# KeySequences: at the line prompt the terminal's keys edit the line (Left, a character inserted,
# Home, Delete, End in both their forms), Enter gives the command processor the edited line, and
# Up recalls it.
clear_settings telnet
set_setting telnet ModeSelection simple
wine reg add "$(settings_key telnet)" /v KeySequences /t REG_DWORD /d 1 /f >/dev/null 2>&1
use_testcmd telnet "$log" --prompt
expect_login simple-keys "$wtranslator telnet xterm" 'expect "testcmd> "' \
    'send ac\e[Db' 'expect "ac\bbc\b"' 'send \e[H\e[3~' 'expect "\b\bbc \b\b\b"' \
    'send \eOF\r' 'expect "bc\r\nunknown command: bc\r\ntestcmd> "' \
    'send \e[A' 'expect "bc"' 'send \r' 'expect "\r\nunknown command: bc\r\ntestcmd> "' \
    'send exit\r' 'expect-exit 0'
if [ "$(grep -c '^line: bc$' "$log")" = 2 ]; then pass; else fail "keys: the edited line twice"; fi
clear_settings telnet
finish
