#!/bin/sh
# The translator in advanced mode under Wine, login-host playing the server and testcmd the
# command processor.  Each login first sends a window-size message, so that the console and the
# terminal agree (a new Wine console has 150 rows).  Checked: what the client's terminal shows
# (the socket output rendered by a terminal emulator) is the console screen, row for row, with
# the cursor in its place and reverse video exactly where the background colour calls for it;
# typed keys reach the command processor as key events; the Ctrl-A key commands give function
# and cursor keys, sticky modifiers and the Alt key; Ctrl-C is an event at the prompt and a key
# in raw input; Ctrl-R repaints at the prompt and is a key in raw input; a window-size message
# repaints at the new size; exit ends the login, the command processor's last output reaching
# the terminal first; rlogin sends its control bytes,
# SuppressColorSimulation turns reverse video off, with InputSettleDelay 2 keys typed one by one
# are echoed as before, KeySequences turns the terminal's key sequences into keys and ColorMode 16
# sends the console's colours, with MouseInput a program asking for mouse input gets the
# terminal's mouse reports as mouse events, and MaxWindowSize gives a 200x50 terminal a console
# its size.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
for program in "$login_host" "$testcmd" "$translator"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
render="$bin/vterm_render"
# shellcheck disable=SC2046
cc -o "$render" "$TESTS_DIR/vterm_render.c" $(pkg-config --cflags --libs vterm) || {
    echo "cannot build vterm_render: tools/install-deps.sh installs libvterm-dev and pkg-config"
    exit 1
}
wtranslator=$(winpath "$translator")
cleanup() { clear_settings telnet; clear_settings rlogin; }
cleanup
trap cleanup EXIT
set_setting telnet ModeSelection advanced
set_setting rlogin ModeSelection advanced
wine reg add "$(settings_key rlogin)" /v SuppressColorSimulation /t REG_DWORD /d 1 /f \
    >/dev/null 2>&1
# testcmd echoes what it reads onto the console, as a command processor at a prompt does.  Each
# login gets its own log through TESTCMD_LOG, which the translator passes on.
set_setting telnet CommandProcessor "$(winpath "$testcmd") --prompt --echo"
set_setting rlogin CommandProcessor "$(winpath "$testcmd") --prompt --echo"

# login NAME STEP...: a login whose testcmd logs to NAME.testcmd ($log).
login() {
    log="$bin/$1.testcmd"
    rm -f "$log"
    TESTCMD_LOG=$(winpath "$log")
    export TESTCMD_LOG
    expect_login "$@"
}

# The first steps of a telnet login: the terminal is 24x80.  The console is made that size from
# the start (login-host --console), so that the message changes nothing and the first pass is
# the only full paint; advanced-first alone starts from Wine's 150-row console.  The mirror leaves
# out a row's trailing blanks where nothing else changed there, so the prompt is awaited as
# "testcmd>"; a command has ended when the prompt's row arrives, "\e[ROW;1ftestcmd>" (rows
# counted from 1), which no earlier pass can have sent.
size24='telnet-size 24 80'
start24='expect-size 80x24'

# screen_step NAME: the step that reads the console into NAME.screen (.attr, and .raw with the
# socket output so far); a "quiet" step before it lets the mirror's last pass arrive.
screen_step() { printf "screen %s" "$(winpath "$bin/$1.screen")"; }

# expect_terminal NAME ROWS COLUMNS [off|colours]: the socket output received up to the screen
# step, rendered by a terminal of ROWS x COLUMNS, shows the console's rows and cursor, and
# reverse video in exactly the cells whose background (attribute AND 0x70) is 0x20, 0x60 or 0x70
# (in no cell with "off" or "colours", colour simulation off).  With "colours" every cell shows
# the console's colours: the terminal's own where they are the start-up attribute's (that of the
# first cell, where the command processor's first prompt is), elsewhere the palette colour of the
# console's (its blue, green and red bits as ANSI's red, green and blue); a blank shows only its
# background.
expect_terminal() {
    screen="$bin/$1.screen"
    rows=$2
    if [ ! -f "$screen" ] || ! "$render" "$rows" "$3" "$screen.raw" >"$screen.term"; then
        fail "$1: no screen or no rendering"
        return
    fi
    if [ "$(sed -n 1p "$screen")" = "size $3 $rows" ]; then pass; else
        fail "$1: console $(sed -n 1p "$screen"), terminal $3 $rows"
    fi
    sed -n "4,$((rows + 3))p" "$screen" >"$screen.rows"
    head -n "$rows" "$screen.term" >"$screen.term.rows"
    if cmp -s "$screen.rows" "$screen.term.rows"; then pass; else
        fail "$1: the terminal shows other rows than the console (< console, > terminal)"
        diff "$screen.rows" "$screen.term.rows" | head -20 | sed 's/^/  | /'
    fi
    # The console says "cursor COLUMN ROW", the renderer "cursor ROW COLUMN".
    console_cursor=$(sed -n 3p "$screen" | awk '{ print $3, $2 }')
    terminal_cursor=$(sed -n "$((rows + 1))p" "$screen.term" | awk '{ print $2, $3 }')
    if [ "$console_cursor" = "$terminal_cursor" ]; then pass; else
        fail "$1: cursor at $terminal_cursor on the terminal, $console_cursor in the console"
    fi
    # The background's high hex digit without the intensity bit: 2, 6 or 7 (a, e, f with it).
    awk -v colour="${4:-on}" 'NR > 3 {
        for (i = 0; 2 * i < length($0); ++i)
            if (colour == "on" && index("267aef", substr($0, 2 * i + 1, 1)) > 0)
                print "reverse", NR - 4, i
    }' "$screen.attr" >"$screen.reverse"
    grep '^reverse' "$screen.term" >"$screen.term.reverse"
    if cmp -s "$screen.reverse" "$screen.term.reverse"; then pass; else
        fail "$1: reverse video differs from the colours (< console, > terminal)"
        diff "$screen.reverse" "$screen.term.reverse" | head -10 | sed 's/^/  | /'
    fi
    [ "${4:-}" = colours ] || return
    awk -v rows="$rows" 'function digit(c) { return index("0123456789abcdef", c) - 1 }
    function ansi(n) { return int(n / 4) % 2 + 2 * (int(n / 2) % 2) + 4 * (n % 2) + 8 * int(n / 8) }
    NR == FNR { if (FNR > 3 && FNR <= rows + 3) text[FNR - 4] = $0; next }
    FNR == 4 { fg0 = digit(substr($0, 2, 1)); bg0 = digit(substr($0, 1, 1)) }
    FNR > 3 {
        for (i = 0; 2 * i < length($0); ++i) {
            b = digit(substr($0, 2 * i + 1, 1))
            f = digit(substr($0, 2 * i + 2, 1))
            c = substr(text[FNR - 4], i + 1, 1)
            fg = c == "" || c == " " ? "-" : f == fg0 ? "d" : ansi(f)
            bg = b == bg0 ? "d" : ansi(b)
            if ((fg != "-" && fg != "d") || bg != "d") print "colour", FNR - 4, i, fg, bg
        }
    }' "$screen" "$screen.attr" >"$screen.colours"
    grep '^colour' "$screen.term" >"$screen.term.colours"
    if cmp -s "$screen.colours" "$screen.term.colours"; then pass; else
        fail "$1: the terminal's colours differ from the console's (< console, > terminal)"
        diff "$screen.colours" "$screen.term.colours" | head -10 | sed 's/^/  | /'
    fi
}

# expect_row NAME ROW TEXT: row ROW (0-based) of the rendered terminal is TEXT.
expect_row() {
    got=$(sed -n "$(($2 + 1))p" "$bin/$1.screen.term")
    if [ "$got" = "$3" ]; then pass; else fail "$1: terminal row $2 is '$got', wanted '$3'"; fi
}

# The first pass after the size message clears the terminal and paints the console; typed keys
# arrive as key events (shifted letters with Shift pressed around them) and their echo on the
# console reaches the terminal; drawn colours show as reverse video where the colour rule says.
login advanced-first "$wtranslator telnet vt100" "$size24" "$start24" 'expect \e[2J' \
    'expect testcmd>' 'send echo Hi\r' 'expect \e[3;1ftestcmd>' \
    'send draw 12 2 e0 brown bright\r' 'expect \e[4;1ftestcmd>' \
    'send draw 13 2 c7 red bright\r' 'expect \e[5;1ftestcmd>' 'send draw\r' \
    'expect \e[6;1ftestcmd>' 'quiet 500' "$(screen_step advanced-first)" 'send exit\r' \
    'expect-exit 0'
expect_no_grep "$bin/advanced-first.out" "Use advanced" "ModeSelection advanced: no question"
if [ "$(head -c 4 "$bin/advanced-first.raw")" = "$(printf '\033[2J')" ]; then pass; else
    fail "the first bytes to the terminal are not the clear: $(head -2 "$bin/advanced-first.out")"
fi
expect_terminal advanced-first 24 80
expect_row advanced-first 0 'testcmd> echo Hi'
expect_row advanced-first 12 '  brown bright'
expect_row advanced-first 13 '  red bright'
if grep -q '^reverse 6 63$' "$bin/advanced-first.screen.term" &&
    grep -q '^reverse 12 2$' "$bin/advanced-first.screen.term" &&
    ! grep -q '^reverse 13 2$' "$bin/advanced-first.screen.term"; then
    pass
else
    fail "reverse video: grey blanks and brown with intensity, not red with intensity"
fi
expect_log_line "$log" '^key down vk=0x45 scan=0x12 char=0x65 state=0x0000 repeat=1$' "key e"
expect_log_line "$log" '^key down vk=0x10 scan=0x[0-9a-f]* char=0x00 state=0x0010 repeat=1$' \
    "Shift pressed for H"
expect_log_line "$log" '^key down vk=0x48 scan=0x23 char=0x48 state=0x0010 repeat=1$' "key H"
expect_log_line "$log" '^key up vk=0x0d scan=0x1c char=0x0d state=0x0000 repeat=1$' "Enter"
expect_log_line "$log" '^line: echo Hi$' "typed line"
expect_log_line "$log" '^exit 0$' "exit"

# Ctrl-A commands: F1, Up, sticky Shift with Up, a literal Ctrl-A, the Alt key by itself;
# Escape at the prompt comes with its virtual key; Ctrl-C is an event, not a key.
login advanced-keys --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' \
    'send \x011' 'send \x01U' 'send \x01S\x01U' 'send \x01\x01' 'send \e' 'send \x01Z' \
    'send \x03' 'expect "^C caught"' 'send \r' 'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^key down vk=0x70 scan=0x[0-9a-f]* char=0x00 state=0x0000' \
    "Ctrl-A 1 gives F1"
expect_log_line "$log" '^key down vk=0x26 scan=0x[0-9a-f]* char=0x00 state=0x0000' \
    "Ctrl-A U gives Up"
expect_log_line "$log" '^key down vk=0x10 scan=0x[0-9a-f]* char=0x00 state=0x0010' \
    "sticky Shift pressed"
expect_log_line "$log" '^key down vk=0x26 scan=0x[0-9a-f]* char=0x00 state=0x0010' "Shift+Up"
expect_log_line "$log" '^key down vk=0x41 scan=0x1e char=0x01 state=0x0008' "literal Ctrl-A"
expect_log_line "$log" '^key down vk=0x1b scan=0x01 char=0x1b state=0x0000' "Escape"
expect_log_line "$log" '^key down vk=0x12 scan=0x[0-9a-f]* char=0x00 state=0x0002' "Alt alone"
expect_log_line "$log" '^CTRL_C$' "Ctrl-C event"
expect_log_line "$log" "^line: $(printf '\001\033')\$" "the line: literal Ctrl-A and Escape"
if grep -q '^key down vk=0x43 ' "$log" 2>/dev/null; then
    fail "Ctrl-C at the prompt arrived as a key"
else
    pass
fi

# Ctrl-R and Ctrl-A Ctrl-R at the prompt repaint the whole terminal, which then still shows the
# console; with raw input Ctrl-R and Ctrl-C are keys and nothing is repainted.
login advanced-redraw --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'quiet 500' 'mark' 'send \x12' 'expect \e[2J 2000' 'expect \e[24;1f' 'mark' \
    'send \x01\x12' 'expect \e[2J 2000' 'expect \e[24;1f' 'quiet 500' \
    "$(screen_step advanced-redraw)" 'send mode raw\r' 'expect "now 0x1f0"' 'quiet 500' \
    'mark' 'send \x12\x03' 'expect-no \e[2J 600' 'send \r' 'send exit\r' 'expect-exit 0'
expect_terminal advanced-redraw 24 80
expect_row advanced-redraw 0 'testcmd>'
expect_log_line "$log" '^key down vk=0x52 scan=0x13 char=0x12 state=0x0008' "raw Ctrl-R"
expect_log_line "$log" '^key down vk=0x43 scan=0x2e char=0x03 state=0x0008' "raw Ctrl-C"
if grep -q '^CTRL_C$' "$log" 2>/dev/null; then fail "raw Ctrl-C raised an event"; else pass; fi

# A window-size message resizes the console and repaints at the new size, down to the last row.
login advanced-size --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'quiet 500' 'mark' 'telnet-size 30 100' 'expect-size 100x30' \
    'expect \e[2J' 'expect \e[30;1f' 'send size\r' 'expect \e[3;1ftestcmd>' 'quiet 500' \
    "$(screen_step advanced-size)" 'send exit\r' 'expect-exit 0'
expect_terminal advanced-size 30 100
expect_row advanced-size 1 'size 100x30 window 100x30'

# MaxWindowSize 500x200: a 200x50 terminal, beyond the 128x100 of the written rule, gets a 200x50
# console (Wine takes sizes beyond the largest window it reports), shown row for row.
set_setting telnet MaxWindowSize 500x200
login advanced-wide --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'quiet 500' 'telnet-size 50 200' 'expect-size 200x50' 'expect \e[50;1f' \
    'send size\r' 'expect \e[3;1ftestcmd>' 'quiet 500' "$(screen_step advanced-wide)" \
    'send exit\r' 'expect-exit 0'
wine reg delete "$(settings_key telnet)" /v MaxWindowSize /f >/dev/null 2>&1
expect_terminal advanced-wide 50 200
expect_row advanced-wide 1 'size 200x50 window 200x50'

# KeySequences and ColorMode 16: the terminal's key sequences reach the command processor as
# keys (a lone Escape, once the wait for more has passed, still as the Escape key), and drawn
# colours reach the terminal as SGR, the terminal then showing the console.  (The Escape typed
# at the prompt is erased before Enter: the console shows it as a glyph, the terminal as "?".)
dword() { wine reg add "$(settings_key telnet)" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }
dword KeySequences 1
dword ColorMode 16
login advanced-sequences --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'send \e[A' 'send \e[1;5D' 'send \e[24~' 'send \eOP' 'send \e[H\e[F' \
    'send \e[Z' 'send \ex' 'quiet 300' 'send \e' 'quiet 500' 'send \b' 'send \r' \
    'send draw 12 2 1e blue yellow\r' 'quiet 800' "$(screen_step advanced-sequences)" \
    'send exit\r' 'expect-exit 0'
wine reg delete "$(settings_key telnet)" /v KeySequences /f >/dev/null 2>&1
wine reg delete "$(settings_key telnet)" /v ColorMode /f >/dev/null 2>&1
expect_terminal advanced-sequences 24 80 colours
expect_log_line "$log" '^key down vk=0x26 scan=0x[0-9a-f]* char=0x00 state=0x0000' "ESC [ A: Up"
expect_log_line "$log" '^key down vk=0x25 scan=0x[0-9a-f]* char=0x00 state=0x0008' \
    "ESC [ 1;5D: Ctrl+Left"
expect_log_line "$log" '^key down vk=0x7b scan=0x[0-9a-f]* char=0x00 state=0x0000' "F12"
expect_log_line "$log" '^key down vk=0x70 scan=0x[0-9a-f]* char=0x00 state=0x0000' "ESC O P: F1"
expect_log_line "$log" '^key down vk=0x24 scan=0x[0-9a-f]* char=0x00 state=0x0000' "Home"
expect_log_line "$log" '^key down vk=0x23 scan=0x[0-9a-f]* char=0x00 state=0x0000' "End"
expect_log_line "$log" '^key down vk=0x09 scan=0x[0-9a-f]* char=0x09 state=0x0010' "back-tab"
expect_log_line "$log" '^key down vk=0x58 scan=0x[0-9a-f]* char=0x78 state=0x0002' "Alt+x"
expect_log_line "$log" '^key down vk=0x1b scan=0x01 char=0x1b state=0x0000' "lone Escape"
if grep -q '^key down vk=0xdb ' "$log" 2>/dev/null; then
    fail "a sequence's [ reached the command processor"
else
    pass
fi
if grep -q "$(printf '\033')\\[0;93;44mblue yellow" "$bin/advanced-sequences.raw"; then pass; else
    fail "colour 1e did not reach the terminal as SGR 93;44"
fi

# Rlogin: the control bytes, a window-size message, no reverse video with SuppressColorSimulation
# set, and the end when the server closes the input (the command processor is ended with it).
login advanced-rlogin --console 80x24 "$wtranslator rlogin xterm" 'expect-control 10 80 5000' \
    'rlogin-size 24 80' 'expect-size 80x24' 'expect testcmd>' 'send draw\r' \
    'expect \e[2;1ftestcmd>' 'quiet 500' "$(screen_step advanced-rlogin)" 'close-input' \
    'expect-exit 0'
expect_terminal advanced-rlogin 24 80 off
expect_row advanced-rlogin 2 '  black on grey'
expect_no_grep "$bin/advanced-rlogin.out" '\x1b[7m' "SuppressColorSimulation: reverse video"
expect_no_grep "$bin/advanced-rlogin.log" "left in the console" "the command processor ended"

# InputSettleDelay 2: a line typed key by key, each key's echo awaited before the next, is run,
# and the terminal still shows the console.
wine reg add "$(settings_key telnet)" /v InputSettleDelay /t REG_DWORD /d 2 /f >/dev/null 2>&1
set -- 'expect testcmd>' 'quiet 500' 'mark'
for key in e c h o '\x20' q u i c k; do set -- "$@" "send $key" "expect $key 2000"; done
login advanced-fast --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" "$@" \
    'send \r' 'expect \e[3;1ftestcmd>' 'quiet 500' "$(screen_step advanced-fast)" \
    'send exit\r' 'expect-exit 0'
expect_terminal advanced-fast 24 80
expect_row advanced-fast 0 'testcmd> echo quick'
expect_row advanced-fast 1 'quick'
expect_log_line "$log" '^line: echo quick$' "the line typed key by key"
wine reg delete "$(settings_key telnet)" /v InputSettleDelay /f >/dev/null 2>&1

# Scrollback: with ScrollbackLines the console keeps 2000 rows above a window at the bottom of its
# buffer, from start-up on (this client sends no window size).  The rows that leave the window
# reach the terminal's own scrollback: after 2000 numbered lines, its scrollback and screen hold
# each of them once, in order, and the screen is the console's window; cls then clears the screen
# and scrolls nothing into the scrollback.
wine reg add "$(settings_key telnet)" /v ScrollbackLines /t REG_DWORD /d 2000 /f >/dev/null 2>&1
login advanced-scrollback --console 80x24 "$wtranslator telnet vt100" 'expect testcmd>' \
    'send lines 2000\r' 'expect \e[24;1ftestcmd> 20000' 'quiet 1000' "$(screen_step advanced-scrollback)" \
    'send cls\r' 'expect \e[1;1ftestcmd>' 'quiet 1000' "$(screen_step advanced-scrollback-cls)" \
    'send exit\r' 'expect-exit 0'
wine reg delete "$(settings_key telnet)" /v ScrollbackLines /f >/dev/null 2>&1
# scrollback_rows NAME: the terminal's scrollback and then its 24 rows, into NAME.history; prints
# the number of scrollback rows.
scrollback_rows() {
    "$render" 24 80 "$bin/$1.screen.raw" scrollback | sed '/^cursor /,$d' >"$bin/$1.history"
    echo $(($(wc -l <"$bin/$1.history") - 24))
}
kept=$(scrollback_rows advanced-scrollback)
seq 1 2000 | sed 's/^/line /' >"$bin/advanced-scrollback.expected"
if grep '^line ' "$bin/advanced-scrollback.history" | cmp -s - "$bin/advanced-scrollback.expected"
then pass; else
    fail "scrollback: the terminal does not hold lines 1 to 2000 once each, in order"
    grep '^line ' "$bin/advanced-scrollback.history" |
        diff - "$bin/advanced-scrollback.expected" | head -10 | sed 's/^/  | /'
fi
top=$(sed -n 2p "$bin/advanced-scrollback.screen" | awk '{ print $3 }')
sed -n "$((top + 4)),$((top + 27))p" "$bin/advanced-scrollback.screen" >"$bin/advanced-scrollback.window"
if tail -n 24 "$bin/advanced-scrollback.history" | cmp -s - "$bin/advanced-scrollback.window"
then pass; else fail "scrollback: the terminal's screen is not the console's window"; fi
if [ "$(scrollback_rows advanced-scrollback-cls)" = "$kept" ]; then pass; else
    fail "scrollback: cls scrolled rows into the scrollback"
fi
if [ "$(sed -n "$((kept + 1))p" "$bin/advanced-scrollback-cls.history")" = "testcmd>" ]; then pass
else fail "scrollback: after cls the terminal's first row is not the prompt"; fi

# A UTF-8 client ("café ─│┌ 日本"): the keys arrive as wide key records, and the terminal
# (libvterm in UTF-8) shows the console's wide cells row for row, with testcmd (whose echo, in
# code page 437, has "?" for the two East Asian characters) and with Wine's cmd.exe.  Under code
# page 437 Wine does not mark the two halves of such a character: it takes one cell and the
# terminal gives it two columns, so the rows' text is compared, not the cursor's column.
wine reg add "$(settings_key telnet)" /v Utf8Client /t REG_DWORD /d 1 /f >/dev/null 2>&1
set_setting telnet CommandProcessor "$(winpath "$testcmd") --prompt --echo --wide"
utext='caf\xc3\xa9 \xe2\x94\x80\xe2\x94\x82\xe2\x94\x8c \xe6\x97\xa5\xe6\x9c\xac'
# expect_utf8_rows NAME ROWS COLUMNS: the rendered rows are the console's, in UTF-8.
expect_utf8_rows() {
    screen="$bin/$1.screen"
    if [ ! -f "$screen" ] || ! "$render" --utf8 "$2" "$3" "$screen.raw" >"$screen.term"; then
        fail "$1: no screen or no rendering"
        return
    fi
    sed -n "4,$(($2 + 3))p" "$screen" >"$screen.rows"
    head -n "$2" "$screen.term" >"$screen.term.rows"
    if cmp -s "$screen.rows" "$screen.term.rows"; then pass; else
        fail "$1: the terminal shows other rows than the console (< console, > terminal)"
        diff "$screen.rows" "$screen.term.rows" | head -20 | sed 's/^/  | /'
    fi
}
login advanced-utf8 --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' "send echo $utext\\r" 'expect \e[3;1ftestcmd>' 'quiet 500' \
    "screen-utf8 $(winpath "$bin/advanced-utf8.screen")" 'send exit\r' 'expect-exit 0'
expect_utf8_rows advanced-utf8 24 80
expect_row advanced-utf8 1 "$(printf 'caf\303\251 \342\224\200\342\224\202\342\224\214 ??')"
expect_log_line "$log" '^key down vk=0xe7 scan=0x00 char=0x3f state=0x0000 repeat=1 unicode=0x65e5$' \
    "UTF-8: an East Asian character as VK_PACKET"
expect_log_line "$log" 'unicode=0x2502$' "UTF-8: a box-drawing character"
wine reg delete "$(settings_key telnet)" /v CommandProcessor /f >/dev/null 2>&1
login advanced-utf8-cmd --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    "send echo $utext\\r" 'expect "\xe6\x97\xa5\xe6\x9c\xac" 20000' 'quiet 500' \
    "screen-utf8 $(winpath "$bin/advanced-utf8-cmd.screen")" 'send exit\r' 'expect-exit 0'
expect_utf8_rows advanced-utf8-cmd 24 80
if grep -q "^$(printf 'caf\303\251 \342\224\200\342\224\202\342\224\214 \346\227\245\346\234\254')\$" \
    "$bin/advanced-utf8-cmd.screen.term"; then
    pass
else
    fail "cmd.exe's echo of the UTF-8 text is not on the terminal"
fi

# The last screen: "echo X & exit" at cmd.exe's prompt puts X on the terminal before the
# connection closes, with none of the modern settings and with all of them (the terminal's
# scrollback included, where a window at the bottom of a taller buffer may have sent it).
# expect_last_words NAME [--utf8]: a row of the terminal that NAME's socket output made is X.
expect_last_words() {
    if "$render" ${2:-} 24 80 "$bin/$1.raw" scrollback | grep -qx 'LAST-WORDS-BEFORE-EXIT'; then
        pass
    else
        fail "$1: the last words did not reach the terminal"
        "$render" ${2:-} 24 80 "$bin/$1.raw" | head -24 | sed 's/^/  | /'
    fi
}
# InputBatching: 100,000 characters pasted into testcmd's raw input ("take", 512 key events a
# read) arrive whole and in order (their count and FNV-1a hash).
wine reg add "$(settings_key telnet)" /v InputBatching /t REG_DWORD /d 1 /f >/dev/null 2>&1
set_setting telnet CommandProcessor "$(winpath "$testcmd") --prompt --echo"
python3 -c 'import sys; sys.stdout.write("".join(chr(33 + i * 7 % 94) for i in range(100000)))' \
    >"$bin/paste.txt"
hash=$(python3 -c '
h = 2166136261
for c in open("'"$bin/paste.txt"'", "rb").read(): h = ((h ^ c) * 16777619) & 0xffffffff
print("%08x" % h)')
login advanced-paste --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'send take 100000\r' 'expect "take ready"' 'quiet 300' \
    "sendfile $(winpath "$bin/paste.txt")" "expect \"took 100000 hash $hash\" 60000" 'quiet 500' \
    'send exit\r' 'expect-exit 0'
expect_log_line "$log" '^took 100000$' "a paste of 100,000 characters"

# BracketedPaste: asked for at the first pass; in raw input a paste's Ctrl-A, Escape, a key's
# sequence and Ctrl-C arrive as those characters, and no Ctrl-C event is raised.
wine reg add "$(settings_key telnet)" /v BracketedPaste /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$(settings_key telnet)" /v KeySequences /t REG_DWORD /d 1 /f >/dev/null 2>&1
login advanced-paste-keys --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'send mode raw\r' 'expect "mode 0x"' 'quiet 300' \
    'send \e[200~\x01\e\e[A\x03z\e[201~' 'quiet 500' 'send \rexit\r' 'expect-exit 0'
expect_grep "$bin/advanced-paste-keys.out" '\x1b[?2004h' "bracketed paste asked for"
sed -n '/^mode /,$p' "$log" | sed -n 's/^key down .* char=\(0x[0-9a-f]*\) .*/\1/p' |
    grep -v '^0x00$' | tr '\n' ' ' >"$bin/advanced-paste-keys.chars"
if grep -q '^0x01 0x1b 0x1b 0x5b 0x41 0x03 0x7a ' "$bin/advanced-paste-keys.chars"; then pass; else
    fail "a paste in raw input: $(cat "$bin/advanced-paste-keys.chars")"
fi
expect_no_grep "$log" 'CTRL_C' "a pasted Ctrl-C in raw input"

# A 20-line paste at Wine's cmd.exe prompt runs 20 commands; with ScrollbackLines every output
# line reaches the client.
wine reg delete "$(settings_key telnet)" /v CommandProcessor /f >/dev/null 2>&1
wine reg add "$(settings_key telnet)" /v ScrollbackLines /t REG_DWORD /d 2000 /f >/dev/null 2>&1
paste='\e[200~'
for n in $(seq -w 1 20); do paste="$paste"'echo pasted^-line^-'"$n"'\r\n'; done
login advanced-paste-cmd --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect >' 'quiet 500' "send $paste"'\e[201~' 'expect pasted-line-20 20000' 'quiet 1000' \
    'send exit\r' 'expect-exit 0 20000'
ran=$(grep -ao 'pasted-line-[0-9]*' "$bin/advanced-paste-cmd.raw" | sort -u | wc -l)
if [ "$ran" = 20 ]; then pass; else fail "a 20-line paste at cmd.exe ran $ran commands"; fi
for value in InputBatching BracketedPaste KeySequences ScrollbackLines; do
    wine reg delete "$(settings_key telnet)" /v "$value" /f >/dev/null 2>&1
done

wine reg delete "$(settings_key telnet)" /v Utf8Client /f >/dev/null 2>&1
login advanced-last --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'send echo LAST-WORDS-BEFORE-EXIT & exit\r' 'expect-exit 0 20000'
expect_last_words advanced-last
for setting in KeySequences:1 ColorMode:16 Utf8Client:1 InputSettleDelay:2 ScrollbackLines:2000 \
    InputBatching:1 BracketedPaste:1
do dword "${setting%:*}" "${setting#*:}"; done
login advanced-last-modern --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'send echo LAST-WORDS-BEFORE-EXIT & exit\r' 'expect-exit 0 20000'
expect_last_words advanced-last-modern --utf8
for setting in KeySequences ColorMode Utf8Client InputSettleDelay ScrollbackLines InputBatching \
    BracketedPaste; do
    wine reg delete "$(settings_key telnet)" /v "$setting" /f >/dev/null 2>&1
done

# MouseInput: testcmd with quick edit on asks for no mouse reports and a report sent anyway
# gets it nothing; asking for mouse input (quick edit off) has the terminal asked for reports,
# and a click, a double click, a drag, a wheel step and a click of the older form reach it as
# the console's mouse events; when quick edit takes the mouse again the terminal is told to stop.
set_setting telnet CommandProcessor "$(winpath "$testcmd") --prompt --echo"
dword MouseInput 1
mouse_on='\e[?1000h\e[?1002h\e[?1003h\e[?1006h'
login advanced-mouse --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'send mode quickedit\r' 'quiet 500' "expect-no $mouse_on" \
    'send \e[<0;9;5M\e[<0;9;5m' 'quiet 300' 'send mode mouse\r' "expect $mouse_on" \
    'send \e[<0;3;2M\e[<0;3;2m\e[<0;3;2M\e[<0;3;2m' 'send \e[<32;4;2M\e[<0;4;2m' \
    'send \e[<65;4;2M' 'send \e[M\x22!!\e[M#!!' 'quiet 300' 'send mode quickedit\r' \
    'expect \e[?1006l\e[?1003l\e[?1002l\e[?1000l' 'send exit\r' 'expect-exit 0'
wine reg delete "$(settings_key telnet)" /v MouseInput /f >/dev/null 2>&1
cat >"$bin/advanced-mouse.expected" <<'EVENTS'
mouse 2,1 buttons=0x1 flags=0x0 state=0x0
mouse 2,1 buttons=0x0 flags=0x0 state=0x0
mouse 2,1 buttons=0x1 flags=0x2 state=0x0
mouse 2,1 buttons=0x0 flags=0x0 state=0x0
mouse 3,1 buttons=0x1 flags=0x1 state=0x0
mouse 3,1 buttons=0x0 flags=0x0 state=0x0
mouse 3,1 buttons=0xff880000 flags=0x4 state=0x0
mouse 0,0 buttons=0x2 flags=0x0 state=0x0
mouse 0,0 buttons=0x0 flags=0x0 state=0x0
EVENTS
if grep '^mouse ' "$log" 2>/dev/null | cmp -s - "$bin/advanced-mouse.expected"; then pass; else
    fail "advanced-mouse: testcmd's mouse events (< expected, > logged):"
    grep '^mouse \|^mode ' "$log" 2>&1 | diff "$bin/advanced-mouse.expected" - | sed 's/^/  | /'
fi
# Full-screen programs (FullScreenPrograms 1): testcmd's "fullscreen" makes a screen buffer of
# its own, hides its cursor and sets a title.  The terminal shows that buffer on its alternate
# screen, without a cursor, with the title; a client resize reaches that buffer; after q the
# main screen is back (only its new rows sent, no clear, as the size stayed), the cursor shows
# and the title is the one testcmd found.  Then the same with a resize while the program runs:
# the start-up buffer takes the new size when it is shown again.
# expect_property NAME ROWS COLUMNS PROPERTY VALUE: the rendered terminal's property.
expect_property() {
    got=$("$render" "$2" "$3" "$bin/$1.screen.raw" | sed -n "s/^property $4 //p")
    if [ "$got" = "$5" ]; then pass; else fail "$1: $4 is '$got', wanted '$5'"; fi
}
dword FullScreenPrograms 1
set_setting telnet CommandProcessor "$(winpath "$testcmd") --prompt --echo"
login advanced-fullscreen --console 80x24 "$wtranslator telnet vt100" "$size24" "$start24" \
    'expect testcmd>' 'send echo before\r' 'expect \e[3;1ftestcmd>' 'send fullscreen\r' \
    'expect FULL SCREEN PROGRAM' 'quiet 500' "$(screen_step advanced-fullscreen)" 'mark' \
    'send q' 'expect \e[?1049l' 'expect-no \e[2J' 'quiet 500' \
    "$(screen_step advanced-fullscreen-back)" 'send fullscreen\r' 'expect FULL SCREEN PROGRAM' \
    'telnet-size 30 100' 'expect-size 100x30' 'expect "size 100x30"' 'quiet 500' \
    "$(screen_step advanced-fullscreen-resized)" 'send q' 'expect \e[?1049l' 'quiet 500' \
    "$(screen_step advanced-fullscreen-resized-back)" 'send exit\r' 'expect-exit 0'
wine reg delete "$(settings_key telnet)" /v FullScreenPrograms /f >/dev/null 2>&1
expect_terminal advanced-fullscreen 24 80
expect_row advanced-fullscreen 0 'FULL SCREEN PROGRAM'
expect_property advanced-fullscreen 24 80 alternate 1
expect_property advanced-fullscreen 24 80 cursor 0
expect_property advanced-fullscreen 24 80 title fullscreen-title
expect_terminal advanced-fullscreen-back 24 80
expect_row advanced-fullscreen-back 1 'before'
expect_property advanced-fullscreen-back 24 80 alternate 0
expect_property advanced-fullscreen-back 24 80 cursor 1
expect_property advanced-fullscreen-back 24 80 title "$(sed -n 's/^title //p' "$log" | head -1 | tr -d '\r')"
expect_terminal advanced-fullscreen-resized 30 100
expect_row advanced-fullscreen-resized 1 'size 100x30 window 100x30'
expect_terminal advanced-fullscreen-resized-back 30 100
expect_property advanced-fullscreen-resized-back 30 100 alternate 0
finish
