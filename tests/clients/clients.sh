#!/bin/sh
# Debian's own telnet and rlogin clients against the loopback hosts under Wine, driven through a
# pseudo-terminal, with what they print rendered by libvterm: the checks are on what a user at
# the client sees, and on the login's real console read back on the Windows side.  Runs
# tools/hosts.sh on random ports in a Wine session and prefix of its own
# (build/windows/clients-prefix), so it can run beside the other Windows tests.
#   sh tests/clients/clients.sh [--recording]      (--recording: the recording checks alone)
# Needs the windows preset built; the files of each run are kept in build/clients.
set -u
cd "$(dirname "$0")/../.."
root=$PWD
out="$root/build/clients"
export WINEPREFIX="$root/build/windows/clients-prefix"
export WINEDEBUG=-all
hosts="$root/build/windows/tools/hosts"

# The console of the newest login into build/clients/NAME.console (size, window, cursor, rows).
console() {
    helper=$(sed -n 's/^login [0-9]*: helper process \([0-9]*\)$/\1/p' "$out/hosts.log" | tail -1)
    wine "$hosts/console-screen.exe" "$helper" >"$out/$1.console" 2>&1
}
# The processes of logins still running in this prefix, one a line.
leftovers() {
    for dir in /proc/[0-9]*; do
        { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" ||
            continue
        { tr '\0' ' ' <"$dir/cmdline"; } 2>/dev/null |
            grep -iE 'command-translator|login-console|cmd\.exe|conhost|ping' |
            sed "s|^|  ${dir#/proc/}: |"
    done
}
# Called by the pty driver's run steps:
#   --compare NAME ROWS   the newest login's console rows equal the client screen NAME.screen
#   --size NAME COLS ROWS the newest login's console buffer has that size
#   --window NAME COLS ROWS the newest login's console window has that size
#   --running PATTERN     a process of a login matching PATTERN runs
case "${1:-}" in
--compare)
    console "$2" || exit 1
    tail -n +4 "$out/$2.console" | head -n "$3" >"$out/$2.console-rows"
    head -n "$3" "$out/$2.screen" >"$out/$2.client-rows"
    if ! cmp -s "$out/$2.console-rows" "$out/$2.client-rows"; then
        echo "the client screen differs from the console (< console, > client):"
        diff "$out/$2.console-rows" "$out/$2.client-rows" | head -30
        exit 1
    fi
    exit 0
    ;;
--size)
    tries=0
    until console "$2" && grep -qx "size $3 $4" "$out/$2.console"; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || { echo "console: $(head -2 "$out/$2.console")"; exit 1; }
        sleep 0.1
    done
    exit 0
    ;;
--window)
    tries=0
    until console "$2" && sed -n 2p "$out/$2.console" |
        awk -v c="$3" -v r="$4" '{ exit !($4 - $2 + 1 == c && $5 - $3 + 1 == r) }'; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || { echo "console: $(head -2 "$out/$2.console")"; exit 1; }
        sleep 0.1
    done
    exit 0
    ;;
--running)
    tries=0
    until leftovers | grep -qi "$2"; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || { echo "no process $2 running"; exit 1; }
        sleep 0.1
    done
    exit 0
    ;;
esac

mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.raw "$out"/*.screen "$out"/*.console "$out"/*-rows
vterm_flags=$(pkg-config --cflags --libs vterm)
cc -O1 -Wall -Wextra -Werror -o "$out/pty_drive" tests/clients/pty_drive.c $vterm_flags -lutil &&
    cc -O1 -Wall -Wextra -Werror -o "$out/rlogin_probe" tests/clients/rlogin_probe.c ||
    { echo "cannot build the client test programs"; exit 1; }

failures=0
passes=0
pass() { passes=$((passes + 1)); echo "ok: $*"; }
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }

# Ports from 20000-29999, different for each run.
base=$((20000 + ($$ * 7 + $(date +%s)) % 9900))
telnet_port=$base
rlogin_port=$((base + 50))
started=$(date +%s)
# --classic: each test below sets the settings it needs.
HOSTS_WINEPREFIX="$WINEPREFIX" sh tools/hosts.sh --telnet $telnet_port --rlogin $rlogin_port \
    --classic >"$out/hosts.log" 2>&1 &
hosts_pid=$!
stop_hosts() {
    kill -TERM $hosts_pid 2>/dev/null
    wait $hosts_pid 2>/dev/null
}
trap stop_hosts EXIT
tries=0
until grep -q '^listening' "$out/hosts.log"; do
    tries=$((tries + 1))
    if [ $tries -gt 1800 ] || ! kill -0 $hosts_pid 2>/dev/null; then
        echo "the hosts did not start:"
        cat "$out/hosts.log"
        exit 1
    fi
    sleep 0.1
done
echo "$(grep '^listening' "$out/hosts.log") after $(($(date +%s) - started)) s"

settings_key() {
    case "$1" in
    rlogin) echo 'HKLM\Software\Orvane Software, Inc.\Orvane Rlogind Server\CurrentVersion' ;;
    *) echo 'HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion' ;;
    esac
}
set_mode() {
    wine reg add "$(settings_key "$1")" /v ModeSelection /t REG_SZ /d "$2" /f >/dev/null 2>&1
}
set_number() {
    wine reg add "$(settings_key "$1")" /v "$2" /t REG_DWORD /d "$3" /f >/dev/null 2>&1
}
clear_mode() { wine reg delete "$(settings_key "$1")" /f >/dev/null 2>&1; true; }
# Telnet logins in advanced mode with the keys, colours, UTF-8, fast echo and scrollback of the
# main job's settings.
scrollback_login() {
    clear_mode telnet
    set_mode telnet advanced
    for setting in "KeySequences 1" "ColorMode 16" "Utf8Client 1" "InputSettleDelay 2" \
        "ScrollbackLines 2000"; do
        set_number telnet $setting
    done
}

# drive NAME [pty_drive arguments...]: runs the driver; NAME.log keeps what it said.
drive() {
    name=$1
    shift
    if "$out/pty_drive" --raw "$out/$name.raw" "$@" >"$out/$name.log" 2>&1; then
        pass "$name"
    else
        fail "$name"
        sed 's/^/  | /' "$out/$name.log" | tail -40
    fi
}
self="sh $root/tests/clients/clients.sh"

# expect_clean WHAT ENDED: once the hosts' log shows ENDED ended logins (at most 30 s), no
# process of any login is left (at most 10 s more).
expect_clean() {
    tries=0
    while [ "$(grep -c '^login [0-9]* ended' "$out/hosts.log")" -lt "$2" ] && [ $tries -lt 300 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    tries=0
    while [ -n "$(leftovers)" ] && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    left=$(leftovers)
    ended=$(grep -c '^login [0-9]* ended' "$out/hosts.log")
    if [ -z "$left" ] && [ "$ended" -ge "$2" ]; then
        pass "$1: nothing left running"
    else
        fail "$1: $ended of $2 logins ended; left running:"
        echo "$left"
    fi
}
telnet="telnet 127.0.0.1 $telnet_port"

# Session recording: an advanced-mode telnet login from an 8-bit and from a UTF-8 terminal runs
# a command and dir and is resized.  The recording as it stands when the client's screen is taken
# is JSON line by line; its output, rendered by libvterm at its last size, shows the client's
# screen; and asciinema plays it back as that output.
recording_checks() {
    rec="$out/recordings"
    clear_mode telnet
    set_mode telnet advanced
    for client in 8bit utf8; do
        rm -rf "$rec"
        mkdir -p "$rec"
        wine reg add "$(settings_key telnet)" /v SessionRecordingFolder /t REG_SZ \
            /d "$(winepath -w "$rec")" /f >/dev/null 2>&1
        flags=
        [ $client = utf8 ] && flags="--utf8 1" && set_number telnet Utf8Client 1
        # shellcheck disable=SC2086
        drive telnet-recording-$client $flags --size 24x80 'expect:>' \
            'send:echo mark^er-rec\r' 'expect:\nmarker-rec\n' 'send:dir\r' 'expect:free' \
            'resize:30x100' "run:$self --size recording 100 30" 'quiet:1500' \
            "screen:$out/recording-$client.screen" "run:cp -r $rec $out/recording-$client.at-screen" \
            'send:exit\r' 'expect:Connection closed by foreign host.' exit -- $telnet
        if python3 - "$out/recording-$client.at-screen" "$out/recording-$client.o" <<'PY'; then
import glob, json, sys
(cast,) = glob.glob(sys.argv[1] + "/*.cast")
lines = open(cast, encoding="utf-8").read().split("\n")
header = json.loads(lines[0])
assert header["version"] == 2 and header["env"]["TERM"].lower() == "xterm", header
events = [json.loads(line) for line in lines[1:] if line]
sizes = [e[2] for e in events if e[1] == "r"]
assert sizes[-1] == "100x30", sizes
open(sys.argv[2], "w", encoding="utf-8").write("".join(e[2] for e in events if e[1] == "o"))
PY
            pass "telnet-recording-$client: the recording is sound"
        else
            fail "telnet-recording-$client: the recording is not sound"
        fi
        "$out/vterm_render" --utf8 30 100 "$out/recording-$client.o" | head -n 30 \
            >"$out/recording-$client.replay-rows"
        head -n 30 "$out/recording-$client.screen" >"$out/recording-$client.client-rows"
        if cmp -s "$out/recording-$client.replay-rows" "$out/recording-$client.client-rows"; then
            pass "telnet-recording-$client: the replay shows the client's screen"
        else
            fail "telnet-recording-$client: replay and client differ (< replay, > client):"
            diff "$out/recording-$client.replay-rows" "$out/recording-$client.client-rows" | head -20
        fi
        cast=$(ls "$rec"/*.cast)
        if script -qec "asciinema cat '$cast' >'$out/recording-$client.cat'" /dev/null \
            </dev/null >/dev/null && [ -s "$out/recording-$client.cat" ]; then
            pass "telnet-recording-$client: asciinema reads the recording"
        else
            fail "telnet-recording-$client: asciinema cannot read $cast"
        fi
    done
    wine reg delete "$(settings_key telnet)" /v SessionRecordingFolder /f >/dev/null 2>&1
    clear_mode telnet
}
cc -O1 -o "$out/vterm_render" tests/windows/vterm_render.c $vterm_flags ||
    { echo "cannot build vterm_render"; exit 1; }
if [ "${1:-}" = --recording ]; then
    recording_checks
    expect_clean recording 2
    echo "$passes passed, $failures failed"
    [ $failures -eq 0 ]
    exit
fi

# The main job's settings, MaxWindowSize "500x200" among them, in a 200x50 terminal: the console
# is 200x50, a line of 150 characters shows on one row, and 2,000 lines reach the terminal's
# scrollback (or its screen) once, in order.  CLIENTS_ONLY=wide runs this check alone.
wide_terminal() {
    scrollback_login
    wine reg add "$(settings_key telnet)" /v MaxWindowSize /t REG_SZ /d 500x200 /f >/dev/null 2>&1
    wide_line=$(awk 'BEGIN { s = "150 wide "; while (length(s) < 147) s = s "0123456789"
        print substr(s, 1, 147) "END" }')
    printf '%s\r\n' "$wide_line" >"$WINEPREFIX/drive_c/wide150.txt"
    seq 1 2000 | awk '{ printf "wide line %d\r\n", $1 }' >"$WINEPREFIX/drive_c/wide2000.txt"
    ended_before=$(grep -c '^login [0-9]* ended' "$out/hosts.log")
    drive telnet-wide --utf8 1 --size 50x200 --scrollback "$out/wide.history" 'expect:>' \
        "run:$self --window telnet-wide 200 50" 'send:type C:\\wide150.txt\r' \
        'expect:567END' 'quiet:1000' "screen:$out/wide150.screen" \
        'send:type C:\\wide2000.txt\r' 'expect:wide line 2000' 'quiet:2000' \
        "screen:$out/wide.screen" "run:cp $out/wide.history $out/wide.pushed" 'send:exit\r' \
        'expect:Connection closed by foreign host.' exit -- $telnet
    if grep -qxF "$wide_line" "$out/wide150.screen"; then
        pass "telnet-wide: a line of 150 characters shows on one row"
    else
        fail "telnet-wide: no row holds the line of 150 characters:"
        grep '150 wide' "$out/wide150.screen" | head -5
    fi
    seq 1 2000 | sed 's/^/wide line /' >"$out/wide.expected"
    cat "$out/wide.pushed" "$out/wide.screen" 2>/dev/null | sed 's/ *$//' |
        grep -x 'wide line [0-9]*' >"$out/wide.kept"
    if cmp -s "$out/wide.kept" "$out/wide.expected"; then
        pass "telnet-wide: a 200x50 client kept lines 1 to 2000 once each, in order"
    else
        fail "telnet-wide: the client's scrollback and screen (< expected, > kept):"
        diff "$out/wide.expected" "$out/wide.kept" | head -20
    fi
    expect_clean telnet-wide $((ended_before + 1))
}
if [ "${CLIENTS_ONLY:-}" = wide ]; then
    wide_terminal
    clear_mode telnet
    echo "$passes passed, $failures failed"
    [ $failures -eq 0 ]
    exit
fi

# No other address than the loopback one: there is no authentication.
wine "$hosts/telnet-host.exe" --bind 0.0.0.0 --port $((base + 99)) >"$out/bind.log" 2>&1
status=$?
if [ $status -eq 2 ] && grep -q 'refusing to listen on 0.0.0.0' "$out/bind.log"; then
    pass "another bind address is refused"
else
    fail "bind 0.0.0.0: status $status: $(cat "$out/bind.log")"
fi

# telnet, simple mode: the question, a command whose marker only its output shows (the caret
# goes), and exit ending the connection.
clear_mode telnet
drive telnet-simple --size 24x80 'expect:(y/n) [y]?' 'send:n' 'expect:>' \
    'send:echo mark^er-simple\r' 'expect:\nmarker-simple\n' 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
if grep -q 'telnet, terminal type "XTERM"' "$out/hosts.log"; then
    pass "the terminal type reaches the translator"
else
    fail "the terminal type: $(grep 'terminal type' "$out/hosts.log" | tail -1)"
fi
expect_clean telnet-simple 1

# telnet, advanced mode: after a command that fills the screen the client shows the console's
# screen; a resized client window resizes the console, and both agree again.
set_mode telnet advanced
drive telnet-advanced --size 24x80 'expect:>' 'send:for /l %i in (1,1,40) do @echo row %i\r' \
    'expect:row 40' 'quiet:1500' "screen:$out/advanced.screen" \
    "run:$self --compare advanced 24" 'resize:30x100' "run:$self --size advanced-resized 100 30" \
    'send:echo resized\r' 'expect:\nresized\n' 'quiet:1500' "screen:$out/advanced-resized.screen" \
    "run:$self --compare advanced-resized 30" 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
expect_clean telnet-advanced 2

# telnet, advanced mode with the main job's keys and colours: Up recalls the last command at
# the command processor's prompt, and the client's screen is the console's.
clear_mode telnet
set_mode telnet advanced
set_number telnet KeySequences 1
set_number telnet ColorMode 16
drive telnet-keys --size 24x80 'expect:>' 'send:echo mark^er-up\r' 'expect:\nmarker-up\n' \
    'send:\e[A' 'quiet:500' 'send:\r' 'quiet:1500' "screen:$out/keys.screen" \
    "run:$self --compare keys 24" 'send:color 1e\r' 'quiet:1500' 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
if [ "$(grep -c '^marker-up$' "$out/keys.screen")" -eq 2 ]; then
    pass "telnet-keys: Up recalled the command"
else
    fail "telnet-keys: Up did not recall the command: $(cat "$out/keys.screen")"
fi
if grep -q "$(printf '\033')\\[0;93;44m" "$out/telnet-keys.raw"; then
    pass "telnet-keys: color 1e reaches the client as SGR"
else
    fail "telnet-keys: no yellow on blue reached the client"
fi
expect_clean telnet-keys 3
clear_mode telnet

# A UTF-8 client in both modes (Utf8Client set, the telnet host negotiating binary): a typed
# "echo café ─│┌" prints the same characters on the client's screen.
wine reg add "$(settings_key telnet)" /v Utf8Client /t REG_DWORD /d 1 /f >/dev/null 2>&1
utf8_text='café ─│┌'
for mode in simple advanced; do
    set_mode telnet $mode
    drive telnet-utf8-$mode --utf8 1 --size 24x80 'expect:>' \
        "send:echo $utf8_text mark^er\\r" "expect:\\n$utf8_text marker" 'send:exit\r' \
        'expect:Connection closed by foreign host.' exit -- $telnet
done
wine reg delete "$(settings_key telnet)" /v Utf8Client /f >/dev/null 2>&1
expect_clean telnet-utf8 5

# rlogin with ModeSelection set: no question; the control bytes come as urgent data (the probe
# sees them; the real client answers 0x80 with its window size, which resizes the console), and
# a window change of the client reaches the console.
set_mode rlogin simple
if "$out/rlogin_probe" $rlogin_port >"$out/rlogin-probe.log" 2>&1 &&
    [ "$(cat "$out/rlogin-probe.log")" = "$(printf 'urgent 10\nurgent 80\nended')" ]; then
    pass "rlogin control bytes arrive as urgent data, in order"
else
    fail "rlogin probe: $(cat "$out/rlogin-probe.log")"
fi
drive rlogin --size 30x100 'expect:>' "run:$self --size rlogin 100 30" \
    'send:echo mark^er-rlogin\r' 'expect:\nmarker-rlogin\n' 'resize:40x90' \
    "run:$self --size rlogin-resized 90 40" 'send:exit\r' exit -- rlogin -p $rlogin_port 127.0.0.1
if grep -q 'Use advanced' "$out/rlogin.raw"; then fail "rlogin: the question was asked"; else pass "rlogin: no question"; fi
expect_clean rlogin 7

# rlogin from a UTF-8 terminal, Utf8Client under the rlogin key: the same characters come back.
set_number rlogin Utf8Client 1
drive rlogin-utf8 --utf8 1 --size 24x80 'expect:>' "send:echo $utf8_text mark^er\\r" \
    "expect:\\n$utf8_text marker" 'send:exit\r' exit -- rlogin -p $rlogin_port 127.0.0.1
expect_clean rlogin-utf8 8

# Ten telnet logins at once, each running a command and exiting.
set_mode telnet simple
pids=""
for n in 1 2 3 4 5 6 7 8 9 10; do
    "$out/pty_drive" --limit 60000 --raw "$out/many-$n.raw" 'expect:>' \
        "send:echo mark^er-$n-of-ten\\r" "expect:\\nmarker-$n-of-ten\\n" 'send:exit\r' \
        'expect:Connection closed by foreign host.' exit -- $telnet >"$out/many-$n.log" 2>&1 &
    pids="$pids $!"
done
good=0
for pid in $pids; do wait $pid && good=$((good + 1)); done
if [ $good -eq 10 ]; then
    pass "ten logins at once"
else
    fail "ten logins at once: $good passed"
    for n in 1 2 3 4 5 6 7 8 9 10; do grep -q FAILED "$out/many-$n.log" && tail -30 "$out/many-$n.log"; done
fi
expect_clean "ten logins" 18

# A client that goes away in the middle of a command leaves nothing behind.
drive disconnect --size 24x80 'expect:>' 'send:ping -n 120 127.0.0.1\r' \
    "run:$self --running ping.exe" 'wait:1000' kill -- $telnet
expect_clean disconnect 19
if grep -q 'the client left' "$out/hosts.log"; then pass "the host saw the client leave"; else fail "no client left in the log"; fi

# telnet, advanced mode with ScrollbackLines: the rows that a typed file scrolls off the screen
# reach the client terminal's own scrollback, which with its screen holds every line once, in
# order.
clear_mode telnet
set_mode telnet advanced
set_number telnet ScrollbackLines 2000
seq 1 300 | awk '{ printf "scrolled line %d\r\n", $1 }' >"$WINEPREFIX/drive_c/lines300.txt"
# The scrollback is taken with the screen: the client's closing line scrolls another row into it.
drive telnet-scrollback --size 24x80 --scrollback "$out/scrollback.history" 'expect:>' \
    'send:type C:\\lines300.txt\r' 'expect:scrolled line 300' 'quiet:1500' \
    "screen:$out/scrollback.screen" "run:cp $out/scrollback.history $out/scrollback.pushed" \
    'send:exit\r' 'expect:Connection closed by foreign host.' exit -- $telnet
seq 1 300 | sed 's/^/scrolled line /' >"$out/scrollback.expected"
cat "$out/scrollback.pushed" "$out/scrollback.screen" 2>/dev/null | grep '^scrolled line ' \
    >"$out/scrollback.kept"
if cmp -s "$out/scrollback.kept" "$out/scrollback.expected"; then
    pass "telnet-scrollback: the client kept lines 1 to 300 once each, in order"
else
    fail "telnet-scrollback: the client's scrollback and screen (< expected, > kept):"
    diff "$out/scrollback.expected" "$out/scrollback.kept" | head -20
fi
expect_clean telnet-scrollback 20

# The same with the main job's settings in a 200x50 terminal, which the size rule gives an 80x24
# console: the terminal is taller and wider than the window, and every one of 2,000 lines still
# reaches its scrollback (or its screen) once, in order.
scrollback_login
seq 1 2000 | awk '{ printf "tall line %d\r\n", $1 }' >"$WINEPREFIX/drive_c/lines2000.txt"
drive telnet-scrollback-tall --utf8 1 --size 50x200 --scrollback "$out/tall.history" 'expect:>' \
    'send:type C:\\lines2000.txt\r' 'expect:tall line 2000' 'quiet:2000' \
    "screen:$out/tall.screen" "run:cp $out/tall.history $out/tall.pushed" 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
seq 1 2000 | sed 's/^/tall line /' >"$out/tall.expected"
cat "$out/tall.pushed" "$out/tall.screen" 2>/dev/null | sed 's/ *$//' | grep '^tall line ' \
    >"$out/tall.kept"
if cmp -s "$out/tall.kept" "$out/tall.expected"; then
    pass "telnet-scrollback-tall: a 200x50 client kept lines 1 to 2000 once each, in order"
else
    fail "telnet-scrollback-tall: the client's scrollback and screen (< expected, > kept):"
    diff "$out/tall.expected" "$out/tall.kept" | head -20
fi
expect_clean telnet-scrollback-tall 21
wide_terminal

# telnet, advanced mode with MouseInput: the mouse mode the client's terminal is asked for
# (libvterm's VTERM_PROP_MOUSE) follows the console input mode: none at the shell's prompt, every
# motion once testcmd asks for mouse input, none again when quick edit takes the mouse back; a
# click of the terminal reaches testcmd as the console's mouse event.
clear_mode telnet
set_mode telnet advanced
set_number telnet MouseInput 1
windows_path() { printf 'Z:%s' "$1" | sed 's|/|\\\\|g'; }
rm -f "$out/mouse.testcmd"
drive telnet-mouse --size 24x80 'expect:>' 'quiet:1000' 'mouse:0' \
    "send:$(windows_path "$root/build/windows/tests/windows/testcmd.exe") --prompt --log $(windows_path "$out/mouse.testcmd")\\r" \
    'expect:testcmd>' 'send:mode mouse\r' 'mouse:3' 'click:5,10' 'quiet:500' \
    'send:mode quickedit\r' 'mouse:0' 'send:exit\r' 'quiet:500' 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
if grep -q '^mouse 10,5 buttons=0x1 flags=0x0 ' "$out/mouse.testcmd" 2>/dev/null &&
    grep -q '^mouse 10,5 buttons=0x0 flags=0x0 ' "$out/mouse.testcmd"; then
    pass "telnet-mouse: the click reached testcmd as a press and a release at 10,5"
else
    fail "telnet-mouse: testcmd's mouse events: $(grep '^mouse\|^mode' "$out/mouse.testcmd" 2>&1)"
fi
expect_clean telnet-mouse 23
# Bracketed paste with batching: 50 lines pasted through the terminal at cmd.exe's prompt run 50
# commands in both modes (with scrollback in advanced mode, so that each output line reaches the
# client); the caret keeps the echoed commands from matching.
ended=23
for mode in simple advanced; do
    clear_mode telnet
    set_mode telnet $mode
    for setting in "KeySequences 1" "InputBatching 1" "BracketedPaste 1" "ScrollbackLines 2000"; do
        set_number telnet $setting
    done
    lines=""
    for n in $(seq -w 1 50); do lines="${lines}echo pas^ted-$n\\r"; done
    drive telnet-paste-$mode --size 24x80 'expect:>' 'quiet:1000' "paste:$lines" \
        'stream:pasted-50' 'quiet:1500' 'send:exit\r' 'expect:Connection closed by foreign host.' \
        exit -- $telnet
    ran=$(grep -ao 'pasted-[0-9]*' "$out/telnet-paste-$mode.raw" | sort -u | wc -l)
    if [ "$ran" -eq 50 ]; then pass "telnet-paste-$mode: 50 commands ran"; else
        fail "telnet-paste-$mode: $ran of 50 pasted commands ran"
    fi
    ended=$((ended + 1))
    expect_clean telnet-paste-$mode $ended
done
# telnet, advanced mode with FullScreenPrograms: testcmd's full-screen program, with a buffer of
# its own, is the client's screen (the console's shown buffer) and a client resize reaches it;
# after q the command processor's screen is the client's again.
clear_mode telnet
set_mode telnet advanced
set_number telnet FullScreenPrograms 1
wine reg add "$(settings_key telnet)" /v CommandProcessor /t REG_SZ /d \
    "$(winepath -w "$root/build/windows/tests/windows/testcmd.exe") --prompt --echo" /f \
    >/dev/null 2>&1
drive telnet-fullscreen --size 24x80 'expect:testcmd>' 'send:echo before\r' \
    'expect:testcmd>' 'send:fullscreen\r' 'expect:FULL SCREEN PROGRAM' 'quiet:1500' \
    "screen:$out/fullscreen.screen" "run:$self --compare fullscreen 24" 'resize:30x100' \
    'expect:size 100x30' 'quiet:1500' "screen:$out/fullscreen-resized.screen" \
    "run:$self --compare fullscreen-resized 30" 'send:q' 'quiet:1500' \
    "screen:$out/fullscreen-back.screen" "run:$self --compare fullscreen-back 30" 'send:exit\r' \
    'expect:Connection closed by foreign host.' exit -- $telnet
expect_clean telnet-fullscreen 26
recording_checks
expect_clean recording 28

clear_mode telnet
clear_mode rlogin
echo "client tests took $(($(date +%s) - started)) s"
echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
