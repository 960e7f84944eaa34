#!/bin/sh
# The soak: the real translator under Wine, login after login, for SECONDS (default 600):
#   sh tools/soak.sh [SECONDS]
# Each login runs in login-host (tests/windows/login_host.cpp), which plays the telnet or rlogin
# server, with every modern setting on (those tools/hosts.sh writes, Utf8Client 1) and testcmd as
# the command processor (Wine's cmd.exe dies on Ctrl-C, and random input must not run commands
# on this machine's files).  Logins answer the start-up question with y and n in turn, so that
# advanced and simple logins alternate; each is fed random client input (bytes, UTF-8 good and
# bad, key sequences whole and cut, Ctrl-A commands, window-size messages of any value, large
# pastes) while testcmd prints, and ends by exit or by a hang-up at a random moment.  (In advanced
# mode every key waits for a pass of the mirror, tens of ms while the screen scrolls: a paste of
# 2000 bytes can take a minute to reach the command processor, and the limits allow for it.)
# Checked:
# - every step of login-host held: the translator exits 0 (1 after a hang-up during the start-up
#   question) and its pipes end;
# - no event-log report but those a hang-up gives: "Error (RF) asking about ANSI escape
#   sequences" (a hang-up during the start-up question) and the failed writes to a client that
#   is gone;
# - no process left in the login's console, and none of the session's left at the end;
# - in an advanced login that ends by exit, at a marker testcmd prints just before, the terminal
#   (the socket output rendered by libvterm) shows the console's window, row for row, with the
#   cursor in its place.
# Runs in a Wine session and prefix of its own (build/windows/soak-prefix); the files of a login
# that failed are kept in build/soak (every login's with SOAK_KEEP=1; SOAK_SEED=N repeats a
# run's scenarios).  Needs the windows preset (built when needed) and python3.
set -u
cd "$(dirname "$0")/.."
root=$PWD
case "${1:-600}" in
'' | *[!0-9]*) echo "usage: sh tools/soak.sh [SECONDS]" >&2; exit 2 ;;
esac
seconds=${1:-600}
out="$root/build/soak"

if [ "${SOAK_SESSION:-}" != 1 ]; then
    . tools/common/wine-session.sh
    build_windows soak
    command -v python3 >/dev/null 2>&1 || {
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq python3
    }
    rm -rf "$out"
    mkdir -p "$out"
    # shellcheck disable=SC2046
    cc -o "$out/vterm_render" tests/windows/vterm_render.c $(pkg-config --cflags --libs vterm) ||
        exit 1
    SOAK_SESSION=1 WINEPREFIX="$build/soak-prefix" xvfb-run -a sh tools/soak.sh "$seconds"
    exit $?
fi

# ---- Inside the session's display --------------------------------------------------------
. tools/common/wine-session.sh
export WINEDEBUG=-all
bin="$root/build/windows/tests/windows"
translator="$root/build/windows/translator/command-translator.exe"
prepare_prefix
winpath() { winepath -w "$1" 2>/dev/null; }
wout=$(winpath "$out")
{
    echo REGEDIT4
    for product in 'Orvane Telnetd Server' 'Orvane Rlogind Server'; do
        echo
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Software, Inc.\\%s\\CurrentVersion]\n' "$product"
        echo '"ModeSelection"=-'
        echo '"KeySequences"=dword:00000001'
        echo '"ColorMode"=dword:00000010'
        echo '"Utf8Client"=dword:00000001'
        echo '"AdvancedTerminalTypes"="xterm-* screen* tmux* rxvt* linux"'
        echo '"InputSettleDelay"=dword:00000002'
        echo '"ScrollbackLines"=dword:000007d0'
        echo '"MouseInput"=dword:00000001'
        echo '"InputBatching"=dword:00000001'
        echo '"BracketedPaste"=dword:00000001'
        echo '"FullScreenPrograms"=dword:00000001'
        echo '"MaxWindowSize"="500x200"'
        printf '"CommandProcessor"="%s --prompt --echo"\n' "$(winpath "$bin/testcmd.exe" | sed 's/\\/\\\\/g')"
    done
} >"$out/settings.reg"
wine reg import "$(winpath "$out/settings.reg")" >"$out/settings.log" 2>&1 ||
    { cat "$out/settings.log"; echo "the settings could not be written"; exit 1; }

# The scenario generator and the screen comparison.
cat >"$out/soak.py" <<'PYTHON'
import random, sys

KEYS = [b"\x1b[A", b"\x1b[B", b"\x1b[C", b"\x1b[D", b"\x1b[1;5D", b"\x1b[1;2A", b"\x1b[H",
        b"\x1b[F", b"\x1b[2~", b"\x1b[3~", b"\x1b[5~", b"\x1b[6~", b"\x1b[24~", b"\x1b[15;3~",
        b"\x1bOP", b"\x1bOQ", b"\x1bOS", b"\x1b[Z", b"\x1bx", b"\x1b", b"\x1b[200~"]

def esc(data):
    return "".join(chr(b) if b < 0x80 and chr(b).isalnum() else "\\x%02x" % b for b in data)

def utf8(r):
    if r.random() < 0.5:
        out = b""
        for _ in range(r.randint(1, 8)):
            c = r.choice([r.randint(0x80, 0x7ff), r.randint(0x800, 0xffff), r.randint(0x10000, 0x10ffff),
                          0x65e5, 0x2502, 0xe9, 0x1f600, 0x9b])
            if 0xd800 <= c < 0xe000:
                c = 0xe9
            out += chr(c).encode("utf-8")
        return out
    bad = [b"\xc3", b"\xe2\x94", b"\xf0\x9f\x98", b"\x80", b"\xbf\xbf", b"\xc0\xaf", b"\xed\xa0\x80",
           b"\xf8\x88\x80\x80\x80", b"\xe3\xff", b"\xff\xfe"]
    return b"".join(r.choice(bad) for _ in range(r.randint(1, 4)))

def chunk(r, protocol, paste):
    kind = r.choices(range(9), [3, 3, 3, 2, 2, 1, 1, 1, 2])[0]
    if kind == 0:
        return ["send " + esc(bytes(r.randrange(256) for _ in range(r.randint(1, 48))))]
    if kind == 1:
        return ["send " + esc(utf8(r))]
    if kind == 2:
        key = r.choice(KEYS)
        if r.random() < 0.3:
            key = key[:r.randint(1, len(key))]
        return ["send " + esc(key)]
    if kind == 3:
        return ["send " + esc(b"\x01" + bytes([r.randrange(256)]))]
    if kind == 4:
        size = [r.randint(0, 130), r.randint(0, 140)]
        if r.random() < 0.2:
            size = [r.randrange(1 << 32), r.randrange(1 << 32)]
        kind = protocol if r.random() < 0.9 else r.choice(["telnet", "rlogin"])
        if kind == "rlogin":
            size = [v & 0xffff for v in size]
        return ["%s-size %d %d" % (kind, size[0], size[1])]
    if kind == 5:
        # A large paste (every key of it a pass of its own in advanced mode, a few ms each).
        text = "".join(r.choice("abcdefghij klmnopqrstuvwxyz0123456789.,;\t\r\n")
                       for _ in range(r.randint(200, 2000)))
        with open(paste[0], "wb") as f:
            f.write(text.encode())
        return ["sendfile " + paste[1]]
    if kind == 6:
        return ["send " + esc(b"\rlines %d\r" % r.randint(1, 400))]
    if kind == 7:
        return ["send " + esc(b"\rchatter %d\r" % r.choice([0, 20, 100]))]
    return ["wait %d" % r.randint(0, 400)]

def generate(number, seed, folder, wfolder):
    r = random.Random(seed)
    name = "login-%d" % number
    protocol = r.choice(["telnet", "rlogin"])
    advanced = number % 2 == 1
    steps = []
    if r.random() < 0.5:
        steps.append("%s-size %d %d" % (protocol, r.randint(10, 50), r.randint(40, 128)))
    steps.append('expect "(y/n)" 30000')
    ending = r.choice(["exit", "exit", "exit", "hangup", "question"])
    if ending == "question":
        steps += ["close-input", "expect-exit 1 30000"]
    else:
        steps.append("send " + ("y" if advanced else "n"))
        steps.append('expect "testcmd>" 30000')
        count = r.randint(5, 25)
        hang = r.randint(0, count) if ending == "hangup" else -1
        for i in range(count):
            if i == hang:
                break
            paste = "%s.paste%d" % (name, i)
            steps += chunk(r, protocol, (folder + "/" + paste, wfolder + "\\" + paste))
        if ending == "hangup":
            # The translator reads what the pipe still holds before it sees the end.
            steps += ["close-input", "expect-exit 0 300000"]
        else:
            rows, columns = r.randint(10, 50), r.randint(40, 128)
            # A telnet state message begun by a random 0xFF takes 92 bytes more: fill it, then
            # end any partial line, cut sequence, Ctrl-A command or sticky modifier.
            steps += ["wait 300", "send " + "x" * 92, "send \\r\\r", "send chatter 0\\r",
                      "%s-size %d %d" % (protocol, rows, columns),
                      "send echo SOAK-MARK-%d\\r" % number, 'expect "SOAK-MARK-%d" 300000' % number,
                      "quiet 1500 300000"]
            if advanced:
                steps.append("screen-utf8 %s\\%s.screen" % (wfolder, name))
            steps += ["send exit\\r", "expect-exit 0 60000"]
    with open("%s/%s.steps" % (folder, name), "w") as f:
        f.write("\n".join(steps) + "\n")
    print(protocol, "advanced" if advanced else "simple", ending)

def shown(row):
    # The mirror shows a control character in a cell as "?" (an empty cell as a blank).
    return "".join("?" if ord(c) < 0x20 or ord(c) == 0x7f else c for c in row).rstrip(" ")

def compare(screen, rendered):
    lines = open(screen, encoding="utf-8", errors="replace").read().split("\n")
    left, top, right, bottom = map(int, lines[1].split()[1:])
    cx, cy = map(int, lines[2].split()[1:])
    console = [shown(row) for row in lines[3 + top:4 + bottom]]
    term = open(rendered, encoding="utf-8", errors="replace").read().split("\n")
    rows = bottom - top + 1
    problems = ["row %d: console '%s', terminal '%s'" % (i, console[i], term[i])
                for i in range(rows) if console[i] != term[i].rstrip(" ")]
    if term[rows] != "cursor %d %d" % (cy - top, cx):
        problems.append("cursor: console %d %d, terminal %s" % (cy - top, cx, term[rows]))
    print("\n".join(problems[:12]))
    return 1 if problems else 0

if sys.argv[1] == "gen":
    generate(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5])
elif sys.argv[1] == "size":
    lines = open(sys.argv[2], encoding="utf-8", errors="replace").read().split("\n")
    left, top, right, bottom = map(int, lines[1].split()[1:])
    print(bottom - top + 1, right - left + 1)
else:
    sys.exit(compare(sys.argv[2], sys.argv[3]))
PYTHON

# The processes of this session's prefix that are still there, one a line.
leftovers() {
    for dir in /proc/[0-9]*; do
        { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" ||
            continue
        { tr '\0' ' ' <"$dir/cmdline"; } 2>/dev/null |
            grep -iE 'command-translator|testcmd|login_host|conhost' | sed "s|^|  ${dir#/proc/}: |"
    done
}

# Reports a hang-up may give: the question's read, a write to a client that is gone.
allowed='Error \(RF\) asking about ANSI escape sequences|Error writing output characters|Writing translated output to socket|Error echoing|Error erasing'
seed=${SOAK_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "soak: $seconds s, seed $seed, files in $out"
start=$(date +%s)
logins=0
failed=0
screens=0
hangups=0
while [ $(($(date +%s) - start)) -lt "$seconds" ]; do
    logins=$((logins + 1))
    name="login-$logins"
    what=$(python3 "$out/soak.py" gen "$logins" "$((seed + logins))" "$out" "$wout") || exit 1
    problems=""
    WINEDEBUG=-all,err+eventlog,warn+eventlog wine "$bin/login_host.exe" --limit 900 \
        --output-raw "$(winpath "$out/$name.raw")" --script "$(winpath "$out/$name.steps")" \
        "$(winpath "$translator") ${what%% *} xterm" >"$out/$name.log" 2>&1 ||
        problems="$problems; login-host reports failures"
    tr -d '\r' <"$out/$name.log" | grep 'eventlog:ReportEventW' | grep -vE "$allowed" >"$out/$name.reports"
    [ -s "$out/$name.reports" ] && problems="$problems; event-log reports"
    grep -q 'left in the console' "$out/$name.log" && problems="$problems; processes left behind"
    case $what in *exit) ;; *) hangups=$((hangups + 1)) ;; esac
    if [ -f "$out/$name.screen" ]; then
        screens=$((screens + 1))
        size=$(python3 "$out/soak.py" size "$out/$name.screen")
        # shellcheck disable=SC2086
        "$out/vterm_render" --utf8 $size "$out/$name.screen.raw" >"$out/$name.term" &&
            python3 "$out/soak.py" compare "$out/$name.screen" "$out/$name.term" >"$out/$name.diff" ||
            problems="$problems; the terminal does not show the console"
    fi
    if [ -n "$problems" ]; then
        failed=$((failed + 1))
        echo "login $logins ($what): FAILED${problems#;}"
        grep 'FAILED' "$out/$name.log" | head -5 | sed 's/^/  | /'
        sed 's/^/  | /' "$out/$name.reports" "$out/$name.diff" 2>/dev/null | head -12
    elif [ "${SOAK_KEEP:-}" != 1 ]; then
        rm -f "$out/$name".*
    fi
done
sleep 2
left=$(leftovers)
[ -n "$left" ] && { echo "processes left behind:"; echo "$left"; failed=$((failed + 1)); }
wineserver -k 2>/dev/null
echo "soak: $logins logins in $(($(date +%s) - start)) s ($hangups hung up, $screens screens" \
    "compared), $failed failed"
[ "$failed" -eq 0 ]
