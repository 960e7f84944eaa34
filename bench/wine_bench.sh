#!/bin/sh
# The Wine figures, in one Wine session of the bench run's own prefix and display (run inside
# xvfb-run with WINEPREFIX set).  $1: the Windows build folder; $2: the folder for the results.
# Writes NAME VALUE lines to $2/wine.txt and each program's output beside it.
set -u
[ -n "${DISPLAY:-}" ] && [ -n "${WINEPREFIX:-}" ] || { echo "needs DISPLAY and WINEPREFIX" >&2; exit 1; }
bin=$1
out=$2
results="$out/wine.txt"
: >"$results"
login_bench="$bin/bench/login_bench.exe"
relay_bench="$bin/bench/relay_bench.exe"
translator=$(winepath -w "$bin/translator/command-translator.exe" 2>/dev/null)

# Only this prefix's wineserver is stopped: WINEPREFIX is set.
wineserver -k 2>/dev/null || true
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# A lingering wineserver keeps process start-up short and out of the figures.
wineserver -p 2>/dev/null || true

figure() { echo "$1 $2" >>"$results"; }

# Processes whose program (the first word of the command line) is $1 exactly: the programs of
# this build, wherever other Wine sessions run theirs.
program_pids() {
    for dir in /proc/[0-9]*; do
        program=$( { tr '\0' '\n' <"$dir/cmdline"; } 2>/dev/null | head -n 1)
        [ "$program" = "$1" ] && echo "${dir#/proc/}"
    done
}

# Processes of this prefix whose program ends in $1 (Wine's own, shared by all sessions).
prefix_pids() {
    for dir in /proc/[0-9]*; do
        program=$( { tr '\0' '\n' <"$dir/cmdline"; } 2>/dev/null | head -n 1)
        case "$program" in *"$1") ;; *) continue ;; esac
        { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "${dir#/proc/}"
    done
}

# Nanoseconds on a CPU of every thread of the given processes.
cpu_ns() {
    total=0
    for pid in "$@"; do
        for stat in /proc/"$pid"/task/*/schedstat; do
            { read -r ns _ _ <"$stat"; } 2>/dev/null || continue
            total=$((total + ns))
        done
    done
    echo "$total"
}

# wait_line FILE TEXT SECONDS
wait_line() {
    tries=$(($3 * 10))
    while [ "$tries" -gt 0 ]; do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

echo "echo latency, simple mode"
wine "$login_bench" echo "$translator" simple 50 >"$out/echo_simple.txt" 2>&1
grep '^echo_' "$out/echo_simple.txt" >>"$results"

echo "echo latency, advanced mode"
wine "$login_bench" echo "$translator" advanced 50 >"$out/echo_advanced.txt" 2>&1
grep '^echo_' "$out/echo_advanced.txt" >>"$results"

echo "echo latency, advanced mode with KeySequences, and a lone Escape's"
keys='HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion'
wine reg add "$keys" /v KeySequences /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine "$login_bench" escape "$translator" advanced 50 advanced_keys \
    >"$out/echo_advanced_keys.txt" 2>&1
wine reg delete "$keys" /v KeySequences /f >/dev/null 2>&1
grep -E '^(echo|escape)_' "$out/echo_advanced_keys.txt" >>"$results"

echo "echo latency, advanced mode, UTF-8 client"
utf8_key='HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion'
wine reg add "$utf8_key" /v Utf8Client /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine "$login_bench" echo "$translator" advanced 50 >"$out/echo_advanced_utf8.txt" 2>&1
wine reg delete "$utf8_key" /v Utf8Client /f >/dev/null 2>&1
grep '^echo_' "$out/echo_advanced_utf8.txt" | sed 's/^echo_ms_advanced_/echo_ms_advanced_utf8_/' \
    >>"$results"

# The translator's CPU time over a stretch of a login: its Linux process (all its threads) from
# the bench program's "VERB_start" to its "VERB_end"; Wine's own share (wineserver and the console
# hosts of the prefix) beside it.  cpu_stretch VERB MODE SECONDS LABEL
cpu_stretch() {
    verb=$1
    label=$4
    log="$out/${verb}_$label.txt"
    wine "$login_bench" "$verb" "$translator" "$2" "$3" "$label" >"$log" 2>&1 &
    job=$!
    if wait_line "$log" "${verb}_start" 120; then
        translator_pids=$(program_pids "$translator")
        support_pids="$(prefix_pids wineserver) $(prefix_pids conhost.exe)"
        # The bench program blocks in its own waits meanwhile: what an idle Wine process costs.
        control_pids=$(program_pids "$login_bench")
        # shellcheck disable=SC2086
        own_before=$(cpu_ns $translator_pids)
        # shellcheck disable=SC2086
        support_before=$(cpu_ns $support_pids)
        # shellcheck disable=SC2086
        control_before=$(cpu_ns $control_pids)
        began=$(date +%s%N)
        wait_line "$log" "${verb}_end" 60
        # shellcheck disable=SC2086
        own_after=$(cpu_ns $translator_pids)
        # shellcheck disable=SC2086
        support_after=$(cpu_ns $support_pids)
        # shellcheck disable=SC2086
        control_after=$(cpu_ns $control_pids)
        ended=$(date +%s%N)
        span=$((ended - began))
        figure "${verb}_cpu_percent_$label" \
            "$(awk "BEGIN { printf \"%.4f\", 100 * ($own_after - $own_before) / $span }")"
        figure "${verb}_cpu_percent_${label}_wine_support" \
            "$(awk "BEGIN { printf \"%.4f\", 100 * ($support_after - $support_before) / $span }")"
        figure "${verb}_cpu_percent_${label}_idle_wine_process" \
            "$(awk "BEGIN { printf \"%.4f\", 100 * ($control_after - $control_before) / $span }")"
        figure "${verb}_translator_processes_$label" "$(echo $translator_pids | wc -w)"
    fi
    wait "$job"
    grep "^${verb}_" "$log" >>"$results"
}

for mode in simple advanced; do
    echo "idle CPU, $mode mode (20 s)"
    cpu_stretch idle "$mode" 20 "$mode"
done
echo "typing CPU, advanced mode (10 keys a second for 20 s)"
cpu_stretch typing advanced 20 advanced

# Advanced mode with the shorter settle delay after input.
settings='HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion'
wine reg add "$settings" /v InputSettleDelay /t REG_DWORD /d 2 /f >/dev/null 2>&1
echo "echo latency, advanced mode, InputSettleDelay 2"
wine "$login_bench" echo "$translator" advanced 50 advanced_fast >"$out/echo_advanced_fast.txt" 2>&1
grep '^echo_' "$out/echo_advanced_fast.txt" >>"$results"
echo "idle CPU, advanced mode, InputSettleDelay 2 (20 s)"
cpu_stretch idle advanced 20 advanced_fast
echo "typing CPU, advanced mode, InputSettleDelay 2 (10 keys a second for 20 s)"
cpu_stretch typing advanced 20 advanced_fast
wine reg delete "$settings" /v InputSettleDelay /f >/dev/null 2>&1

# Advanced mode with every setting the main job writes (a UTF-8 client): the echo, and then the
# road of one keystroke from a run under Wine's relay trace, each call's moment from
# trace_clock.so: each step's median and the console calls on the way (echo_road.py).
modern() {
    for value in "KeySequences REG_DWORD 1" "ColorMode REG_DWORD 16" "Utf8Client REG_DWORD 1" \
        "InputSettleDelay REG_DWORD 2" "ScrollbackLines REG_DWORD 2000" "MouseInput REG_DWORD 1" \
        "InputBatching REG_DWORD 1" "BracketedPaste REG_DWORD 1" "FullScreenPrograms REG_DWORD 1" \
        "MaxWindowSize REG_SZ 500x200" "AdvancedTerminalTypes REG_SZ xterm-*"; do
        set -- $value
        if [ "$action" = add ]; then
            wine reg add "$settings" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1
        else
            wine reg delete "$settings" /v "$1" /f >/dev/null 2>&1
        fi
    done
}
action=add modern
echo "echo latency, advanced mode, every setting of the main job"
wine "$login_bench" echo "$translator" advanced 50 advanced_modern >"$out/echo_advanced_modern.txt" 2>&1
grep '^echo_' "$out/echo_advanced_modern.txt" >>"$results"
echo "one keystroke's road, advanced mode, every setting of the main job (relay trace)"
cc -shared -fPIC -O2 -o "$out/trace_clock.so" "$(dirname "$0")/trace_clock.c"
relay='HKCU\Software\Wine\Debug'
wine reg add "$relay" /v RelayInclude /t REG_SZ /f /d "$(echo ReadFile WriteFile Sleep CloseHandle \
    CreateFileA SetEvent WaitForSingleObject GetConsoleMode GetConsoleScreenBufferInfo \
    ReadConsoleOutputW ReadConsoleOutputA WriteConsoleInputW WriteConsoleInputA \
    GetConsoleCursorInfo SetConsoleCursorInfo GetConsoleTitleW WriteConsoleOutputAttribute \
    GetNumberOfConsoleInputEvents SetConsoleScreenBufferSize SetConsoleWindowInfo | tr ' ' ';')" \
    >/dev/null 2>&1
LD_PRELOAD="$out/trace_clock.so" WINEDEBUG=-all,+pid,+tid,+relay wine "$login_bench" echo \
    "$translator" advanced 30 advanced_modern_traced >"$out/echo_road.txt" 2>"$out/echo_road.trace"
wine reg delete "$relay" /v RelayInclude /f >/dev/null 2>&1
python3 "$(dirname "$0")/echo_road.py" "$out/echo_road.trace" advanced_modern >>"$results"
rm -f "$out/echo_road.trace"
action=delete modern

# Scrolling output: 2000 lines of 60 characters typed at 80x24, with the console's scrollback
# (ScrollbackLines 2000) and without it (repaints).  The lines the client's terminal kept are
# counted in a libvterm rendering of everything it got: each of "line 1 ..." to "line 2000 ..."
# that its scrollback and screen hold, once and in order.
render="$out/vterm_render"
cc -o "$render" "$(dirname "$0")/../tests/windows/vterm_render.c" $(pkg-config --cflags --libs vterm)
awk 'BEGIN { filler = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    for (i = 1; i <= 2000; ++i) {
        line = "line " i " " substr(filler, 1 + i % 26)
        while (length(line) < 60) line = line filler
        printf "%s\r\n", substr(line, 1, 60)
    } }' >"$WINEPREFIX/drive_c/scroll.txt"
awk '{ sub(/\r$/, ""); print }' "$WINEPREFIX/drive_c/scroll.txt" >"$out/scroll.expected"
# kept_lines STREAM [ROWS COLUMNS]: how many of the expected lines the terminal (24x80 unless
# given) holds, in order, once each.
kept_lines() {
    "$render" "${2:-24}" "${3:-80}" "$1" scrollback | sed '/^cursor /,$d' |
        awk -v expected="$out/scroll.expected" '
            BEGIN { while ((getline line <expected) > 0) want[++n] = line }
            /^line [0-9]+ / { k = $2 + 0; if (k > last && want[k] == $0) { ++kept; last = k } }
            END { print kept + 0 }'
}
echo "scrolling output, ScrollbackLines 2000"
wine reg add "$settings" /v ScrollbackLines /t REG_DWORD /d 2000 /f >/dev/null 2>&1
wine "$login_bench" scroll "$translator" 'C:\scroll.txt' 2000 60 "$(winepath -w "$out/scroll_scrollback.raw")" \
    scrollback >"$out/scroll_scrollback.txt" 2>&1
sed -n 's/^scroll_bytes_per_text_byte_scrollback /scroll_bytes_per_text_byte /p' \
    "$out/scroll_scrollback.txt" >>"$results"
grep '^scroll_' "$out/scroll_scrollback.txt" | grep -v '^scroll_bytes_per_text_byte_' >>"$results"
figure scrollback_lines_kept "$(kept_lines "$out/scroll_scrollback.raw")"
echo "idle CPU, advanced mode, ScrollbackLines 2000 (20 s)"
cpu_stretch idle advanced 20 advanced_scrollback
echo "scrolling output at 200x50, ScrollbackLines 2000, MaxWindowSize 500x200"
wine reg add "$settings" /v MaxWindowSize /t REG_SZ /d 500x200 /f >/dev/null 2>&1
wine "$login_bench" scroll "$translator" 'C:\scroll.txt' 2000 60 "$(winepath -w "$out/scroll_200x50.raw")" \
    200x50 200x50 >"$out/scroll_200x50.txt" 2>&1
grep '^scroll_' "$out/scroll_200x50.txt" >>"$results"
figure scrollback_lines_kept_200x50 "$(kept_lines "$out/scroll_200x50.raw" 50 200)"
wine reg delete "$settings" /v MaxWindowSize /f >/dev/null 2>&1
wine reg delete "$settings" /v ScrollbackLines /f >/dev/null 2>&1
echo "scrolling output, repaints"
wine "$login_bench" scroll "$translator" 'C:\scroll.txt' 2000 60 "$(winepath -w "$out/scroll_repaint.raw")" \
    repaint >"$out/scroll_repaint.txt" 2>&1
grep '^scroll_' "$out/scroll_repaint.txt" >>"$results"
figure scrollback_lines_kept_repaint "$(kept_lines "$out/scroll_repaint.raw")"

# Full-screen programs (FullScreenPrograms 1): the idle login, which looks at the buffer shown at
# every pass, and a switch of screen buffers to the last row of the client's repaint (bound by
# the mirror's idle poll of 300 ms: a switch wakes no pass).
wine reg add "$settings" /v FullScreenPrograms /t REG_DWORD /d 1 /f >/dev/null 2>&1
echo "idle CPU, advanced mode, FullScreenPrograms 1 (20 s)"
cpu_stretch idle advanced 20 advanced_fullscreen
echo "screen buffer switches, FullScreenPrograms 1"
wine "$login_bench" switch "$translator" 30 >"$out/switch.txt" 2>&1
grep '^buffer_switch_' "$out/switch.txt" >>"$results"
wine reg delete "$settings" /v FullScreenPrograms /f >/dev/null 2>&1

# The pastes come before the simultaneous logins, whose processes may still be winding down
# when the last of them has reported.
echo "pastes with InputBatching and BracketedPaste"
testcmd=$(winepath -w "$bin/tests/windows/testcmd.exe" 2>/dev/null)
wine reg add "$keys" /v InputBatching /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$keys" /v CommandProcessor /t REG_SZ /d "$testcmd --prompt" /f >/dev/null 2>&1
wine "$login_bench" paste "$translator" raw >"$out/paste_raw.txt" 2>&1
wine reg add "$keys" /v BracketedPaste /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$keys" /v KeySequences /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$keys" /v CommandProcessor /t REG_SZ /d "$testcmd --batch --prompt" /f >/dev/null 2>&1
wine "$login_bench" paste "$translator" simple >"$out/paste_simple.txt" 2>&1
wine reg delete "$keys" /v CommandProcessor /f >/dev/null 2>&1
# Every pasted line's output reaches the client through the scrollback.
wine reg add "$keys" /v ScrollbackLines /t REG_DWORD /d 2000 /f >/dev/null 2>&1
wine "$login_bench" paste "$translator" lines >"$out/paste_lines.txt" 2>&1
for value in InputBatching BracketedPaste KeySequences ScrollbackLines; do
    wine reg delete "$keys" /v "$value" /f >/dev/null 2>&1
done
cat "$out"/paste_raw.txt "$out"/paste_simple.txt "$out"/paste_lines.txt | grep '^paste_' >>"$results"

echo "20 simultaneous simple-mode logins"
jobs=""
for id in $(seq 1 20); do
    wine "$login_bench" command "$translator" "$id" >"$out/command_$id.txt" 2>&1 &
    jobs="$jobs $!"
done
for job in $jobs; do wait "$job"; done
figure logins_concurrent_ok "$(cat "$out"/command_*.txt | grep -c '^command_ok')"

echo "simple-mode relay against a raw pipe copy (10 MB each; a few minutes)"
wine "$relay_bench" 1 >"$out/relay.txt" 2>&1
grep -E '^(relay|raw|breakdown)_' "$out/relay.txt" >>"$results"

# The same figures with every login recorded (SessionRecordingFolder): the relay, the echo with
# InputSettleDelay 2, the idle CPU (the writer thread is the translator's), and the raw paste of
# login-bench's paste verb where it has one.
echo "recording on: relay, echo, idle and paste"
recordings="$out/recordings"
rm -rf "$recordings"
mkdir -p "$recordings"
wine reg add "$settings" /v SessionRecordingFolder /t REG_SZ /d "$(winepath -w "$recordings")" \
    /f >/dev/null 2>&1
wine reg add "$settings" /v InputSettleDelay /t REG_DWORD /d 2 /f >/dev/null 2>&1
wine "$login_bench" echo "$translator" advanced 50 advanced_fast_recording \
    >"$out/echo_advanced_fast_recording.txt" 2>&1
grep '^echo_' "$out/echo_advanced_fast_recording.txt" >>"$results"
wine reg delete "$settings" /v InputSettleDelay /f >/dev/null 2>&1
cpu_stretch idle advanced 20 advanced_recording
wine reg add "$settings" /v InputBatching /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$settings" /v CommandProcessor /t REG_SZ \
    /d "$(winepath -w "$bin/tests/windows/testcmd.exe") --prompt" /f >/dev/null 2>&1
wine "$login_bench" paste "$translator" raw >"$out/paste_raw_recording.txt" 2>&1
sed -n 's/^paste_kbps_advanced /paste_kbps_advanced_recording /p' \
    "$out/paste_raw_recording.txt" >>"$results"
wine reg delete "$settings" /v InputBatching /f >/dev/null 2>&1
wine reg delete "$settings" /v CommandProcessor /f >/dev/null 2>&1
wine "$relay_bench" 1 10 "$(winepath -w "$recordings")" >"$out/relay_recording.txt" 2>&1
grep -E '^(relay|raw)_' "$out/relay_recording.txt" >>"$results"
wine reg delete "$settings" /v SessionRecordingFolder /f >/dev/null 2>&1
figure recording_files "$(find "$recordings" -name '*.cast' | wc -l)"
figure recording_drop_markers "$(cat "$recordings"/*.cast | grep -c '^\[[0-9.]*, "m"')"

wineserver -k 2>/dev/null || true
