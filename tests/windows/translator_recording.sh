#!/bin/sh
# Session recording under Wine, login-host playing the server with Wine's cmd.exe: in both modes,
# for an 8-bit and a UTF-8 client, a login that types, runs dir, resizes and exits writes one
# file; every line is JSON, the header is right, the "o" events joined are the socket output as
# the client decodes it, the typing is there only when asked for, asciinema reads the file, and in
# advanced mode the recording rendered by libvterm at its last size shows the console's screen.
# Then the bad roads Wine can show: a folder that does not exist.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
for program in "$login_host" "$translator"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
command -v asciinema >/dev/null || { echo "missing asciinema: run tools/install-deps.sh"; exit 1; }
render="$bin/vterm_render"
# shellcheck disable=SC2046
cc -o "$render" "$TESTS_DIR/vterm_render.c" $(pkg-config --cflags --libs vterm) || {
    echo "cannot build vterm_render: tools/install-deps.sh installs libvterm-dev and pkg-config"
    exit 1
}
wtranslator=$(winpath "$translator")
cleanup() { clear_settings telnet; }
cleanup
trap cleanup EXIT
dword() { wine reg add "$(settings_key telnet)" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }

# check_recording NAME ENCODING TYPED: the one file in NAME.rec is sound (see check.py below) and
# its joined output, NAME.cast.out, is what asciinema cat prints.
check_recording() {
    files=$(ls "$bin/$1.rec" 2>/dev/null | wc -l)
    if [ "$files" = 1 ]; then pass; else fail "$1: $files recordings, wanted one"; return; fi
    cast="$bin/$1.rec/$(ls "$bin/$1.rec")"
    case "$cast" in *"/telnet-"*"Z-"*.cast) pass ;; *) fail "$1: file name $cast" ;; esac
    if python3 - "$cast" "$bin/$1.raw" "$2" "$3" "$bin/$1.cast.out" "$bin/$1.cast.size" \
        >"$bin/$1.check" 2>&1 <<'PY'; then pass; else fail "$1: recording"; sed 's/^/  | /' "$bin/$1.check" | head -20; fi
import json, sys
cast, raw, encoding, typed, joined_path, size_path = sys.argv[1:]
lines = open(cast, "rb").read().decode("utf-8").split("\n")
assert lines[-1] == "", "the file ends inside a line"
header = json.loads(lines[0])
assert header["version"] == 2 and header["width"] == 80 and header["height"] == 24, header
assert header["env"] == {"TERM": "vt100"}, header
assert header["title"].startswith("telnet login of ") and "\\" in header["title"], header
assert abs(header["timestamp"] - int(__import__("time").time())) < 600, header
events = [json.loads(line) for line in lines[1:-1]]
times = [e[0] for e in events]
assert times == sorted(times), "times go back"
joined = "".join(e[2] for e in events if e[1] == "o")
expected = open(raw, "rb").read().decode(encoding, errors="replace")
if joined != expected:
    at = next((i for i, (a, b) in enumerate(zip(joined, expected)) if a != b), min(len(joined), len(expected)))
    raise SystemExit("joined output differs at %d: %r / %r" % (at, joined[at - 20:at + 20], expected[at - 20:at + 20]))
sizes = [e[2] for e in events if e[1] == "r"]
assert sizes[-1:] == ["100x30"], sizes
input_text = "".join(e[2] for e in events if e[1] == "i")
assert (typed in input_text) if typed else input_text == "", repr(input_text)
open(joined_path, "wb").write(joined.encode("utf-8"))
open(size_path, "w").write(sizes[-1].replace("x", " ") + "\n")
PY
    # The player reads the keyboard while it plays, so it wants a terminal: script gives it one,
    # and its output goes to the file directly.
    if script -qec "asciinema cat '$cast' >'$bin/$1.cat' 2>'$bin/$1.cat.err'" /dev/null \
        </dev/null >/dev/null && cmp -s "$bin/$1.cat" "$bin/$1.cast.out"; then
        pass
    else
        fail "$1: asciinema cat does not print the recorded stream"
        sed 's/^/  | /' "$bin/$1.cat.err" | head -5
    fi
}

# record MODE CLIENT: one login of Wine's cmd.exe recorded, for an 8-bit or a UTF-8 client.
record() {
    name="recording-$1-$2"
    rm -rf "$bin/$name.rec"
    mkdir -p "$bin/$name.rec"
    set_setting telnet ModeSelection "$1"
    set_setting telnet SessionRecordingFolder "$(winpath "$bin/$name.rec")"
    if [ "$2" = utf8 ]; then
        dword Utf8Client 1
        dword SessionRecordingInput 1
        text='caf\xc3\xa9'
        encoding=utf-8
        typed=$(printf 'echo caf\303\251\r')
    else
        dword Utf8Client 0
        dword SessionRecordingInput 0
        text='caf\x82'
        encoding=cp437
        typed=
    fi
    if [ "$1" = simple ]; then
        expect_login "$name" "$wtranslator telnet vt100" 'expect ">" 20000' \
            "send echo $text\\r" "expect \"$text\\r\\n\" 20000" 'send dir\r' \
            'expect "free" 20000' 'telnet-size 30 100' 'expect-size 100x30' 'send exit\r' \
            'expect-exit 0'
    else
        expect_login "$name" --console 80x24 "$wtranslator telnet vt100" 'telnet-size 24 80' \
            'expect-size 80x24' 'expect ">" 20000' "send echo $text\\r" 'quiet 500' \
            'send dir\r' 'expect "free" 20000' 'quiet 500' 'telnet-size 30 100' \
            'expect-size 100x30' 'quiet 800' "screen-utf8 $(winpath "$bin/$name.screen")" \
            'send exit\r' 'expect-exit 0'
    fi
    check_recording "$name" "$encoding" "$typed"
    [ "$1" = advanced ] || return 0
    # The recording up to the screen step, rendered at its last size, shows the console's rows.
    screen="$bin/$name.screen"
    python3 -c 'import sys; raw = open(sys.argv[1], "rb").read().decode(sys.argv[2], errors="replace")
joined = open(sys.argv[3], "rb").read().decode("utf-8")
assert joined.startswith(raw)
open(sys.argv[4], "wb").write(raw.encode("utf-8"))' "$screen.raw" "$encoding" "$bin/$name.cast.out" \
        "$screen.cast" || fail "$name: the output up to the screen is not where the recording begins"
    # shellcheck disable=SC2046
    set -- $(cat "$bin/$name.cast.size")
    "$render" --utf8 "$2" "$1" "$screen.cast" | head -n "$2" >"$screen.cast.rows"
    sed -n "4,$(($2 + 3))p" "$screen" >"$screen.rows"
    if cmp -s "$screen.rows" "$screen.cast.rows"; then pass; else
        fail "$name: the replayed recording shows other rows than the console (< console, > replay)"
        diff "$screen.rows" "$screen.cast.rows" | head -20 | sed 's/^/  | /'
    fi
}

for mode in simple advanced; do
    for client in 8bit utf8; do record "$mode" "$client"; done
done

# A folder that does not exist, and one where no file can be made (read-only for a user,
# immutable for root, whom Wine's file permissions do not stop): one warning each, with the
# folder and the error, and the login goes on unrecorded.
locked="$bin/recording-locked.dir"
mkdir -p "$locked"
chmod 555 "$locked"
[ "$(id -u)" = 0 ] && chattr +i "$locked"
trap 'cleanup; chattr -i "$locked" 2>/dev/null' EXIT
set_setting telnet ModeSelection simple
debug=${WINEDEBUG:-}
WINEDEBUG=-all,err+eventlog,warn+eventlog
export WINEDEBUG
for road in missing locked; do
    if [ $road = missing ]; then folder='C:\no such folder'; else folder=$(winpath "$locked"); fi
    set_setting telnet SessionRecordingFolder "$folder"
    expect_login recording-$road "$wtranslator telnet vt100" 'expect ">" 20000' \
        'send echo still here\r' 'expect "still here\r\n" 20000' 'send exit\r' 'expect-exit 0'
    if [ "$(grep -c 'Session recording' "$bin/recording-$road.log")" = 1 ]; then pass; else
        fail "$road folder: not one warning"
        sed 's/^/  | /' "$bin/recording-$road.log" | tail -5
    fi
    expect_grep "$bin/recording-$road.log" \
        "no file could be made in $(printf '%s' "$folder" | sed 's/\\/\\\\/g'): " \
        "$road folder: the warning names the folder"
done
WINEDEBUG=$debug
if [ -z "$(ls "$locked")" ]; then pass; else fail "locked folder: a file was made"; fi
finish
