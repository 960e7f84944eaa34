#!/bin/sh
# Runs the loopback telnet and rlogin hosts under Wine, so that Debian's telnet and rlogin clients
# can log in to the command translator on this machine:
#   sh tools/hosts.sh [--telnet PORT] [--rlogin PORT] [--classic] [--record]   (--help for more)
# Installs what it needs, builds the windows preset when needed, starts both hosts in a Wine
# session of its own (a virtual X display and the private prefix build/windows/hosts-prefix, or
# $HOSTS_WINEPREFIX), prints one line with "listening" and the ports once both accept
# connections, then the hosts' lines about each login, and runs until SIGINT or SIGTERM, when it
# ends its Wine session and nothing else.
set -eu
cd "$(dirname "$0")/.."
usage() {
    cat <<'TEXT'
usage: sh tools/hosts.sh [--telnet PORT] [--rlogin PORT] [--classic] [--record]

Starts the loopback telnet host (default port 2323) and rlogin host (default port 2513) under
Wine.  They accept connections on 127.0.0.1 only.  There is NO authentication: whoever can
connect to these ports on this machine gets a Windows command processor running as the Wine
user (the user who runs this script).  Each login gets a console of its own with the command
translator in it; it ends when the command processor exits or the client disconnects.

    telnet 127.0.0.1 2323
    rlogin -p 2513 127.0.0.1

At each start it gives a person the keys and colours of a modern terminal: it writes these
settings under both the telnet and the rlogin product key (--classic removes them instead, so
that the translator behaves as with none of them):
    KeySequences 1           arrows, Home, End, F-keys... become keys
    ColorMode 16             the console's colours go out as SGR
    Utf8Client 1 or 0        1 when `locale charmap` says UTF-8
    AdvancedTerminalTypes    "xterm-* screen* tmux* rxvt* linux" default to advanced mode
    InputSettleDelay 2       the screen copy follows a keystroke after 2 ms
    ScrollbackLines 2000     rows that scroll off the console reach the terminal's scrollback
    MouseInput 1             a program that asks for mouse input gets the terminal's clicks
    InputBatching 1          the bytes that wait are read and typed together: pastes run fast
    BracketedPaste 1         pasted text is typed as text, never as keys or commands
    FullScreenPrograms 1     full-screen programs show on the alternate screen, with cursor, title
    MaxWindowSize 500x200    a terminal up to 500 columns by 200 rows gets a console its size

--record sets SessionRecordingFolder as well: every login is recorded into build/windows/recordings
as an asciicast file (play it with `asciinema play FILE`), and a line names each new file.
Without --record the setting is removed.

Runs in the foreground until interrupted (Ctrl-C, SIGINT or SIGTERM), then stops its Wine
session.  The translator's settings live in the prefix's registry, for example:
    WINEPREFIX=$PWD/build/windows/hosts-prefix wine reg add \
      'HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion' \
      /v ModeSelection /t REG_SZ /d simple /f
TEXT
}
telnet_port=2323
rlogin_port=2513
classic=0
record=0
while [ $# -gt 0 ]; do
    case "$1" in
    --telnet | --rlogin)
        [ $# -ge 2 ] || { usage >&2; exit 2; }
        case "$2" in '' | *[!0-9]*) echo "$1 needs a port number" >&2; exit 2 ;; esac
        if [ "$1" = --telnet ]; then telnet_port=$2; else rlogin_port=$2; fi
        shift 2
        ;;
    --classic) classic=1; shift ;;
    --record) record=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
done
. tools/common/wine-session.sh
build_windows hosts
export WINEPREFIX="${HOSTS_WINEPREFIX:-$build/hosts-prefix}"
export WINEDEBUG=-all
state=$(mktemp -d)
recordings="$build/recordings"
if [ $record = 1 ]; then
    mkdir -p "$recordings"
    # Wine's drive Z: is the root of the Linux file system; a registry file doubles backslashes.
    recording_setting="\"SessionRecordingFolder\"=\"Z:$(printf '%s' "$recordings" | sed 's|/|\\\\|g')\""
else
    recording_setting='"SessionRecordingFolder"=-'
fi
# The main job's settings, or their removal with --classic, as one registry file.
utf8=0
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] && utf8=1
{
    echo REGEDIT4
    for product in 'Orvane Telnetd Server' 'Orvane Rlogind Server'; do
        echo
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Software, Inc.\\%s\\CurrentVersion]\n' "$product"
        if [ $classic = 1 ]; then
            printf '"%s"=-\n' KeySequences ColorMode Utf8Client AdvancedTerminalTypes \
                InputSettleDelay ScrollbackLines MouseInput InputBatching BracketedPaste \
                FullScreenPrograms MaxWindowSize
        else
            echo '"KeySequences"=dword:00000001'
            echo '"ColorMode"=dword:00000010'
            echo "\"Utf8Client\"=dword:0000000$utf8"
            echo '"AdvancedTerminalTypes"="xterm-* screen* tmux* rxvt* linux"'
            echo '"InputSettleDelay"=dword:00000002'
            echo '"ScrollbackLines"=dword:000007d0'
            echo '"MouseInput"=dword:00000001'
            echo '"InputBatching"=dword:00000001'
            echo '"BracketedPaste"=dword:00000001'
            echo '"FullScreenPrograms"=dword:00000001'
            echo '"MaxWindowSize"="500x200"'
        fi
        printf '%s\n' "$recording_setting"
    done
} >"$state/settings.reg"
# The session runs in the background so that a signal to this script can end it in order.
xvfb-run -a sh -c '
    state=$1
    hosts=$2
    echo $$ >"$state/session"
    . tools/common/wine-session.sh
    prepare_prefix
    wine reg import "$(winepath -w "$state/settings.reg")" >"$state/settings.log" 2>&1 ||
        { cat "$state/settings.log" >&2; echo "the settings could not be written" >&2; exit 1; }
    wineserver -k 2>/dev/null
    wine "$hosts/telnet-host.exe" --port "$3" >"$state/telnet.log" 2>&1 &
    telnet=$!
    wine "$hosts/rlogin-host.exe" --port "$4" >"$state/rlogin.log" 2>&1 &
    rlogin=$!
    stop() {
        kill $telnet $rlogin 2>/dev/null
        wineserver -k 2>/dev/null
        [ -n "${tail:-}" ] && kill $tail 2>/dev/null
        [ -n "${watch:-}" ] && kill $watch 2>/dev/null
        exit "$1"
    }
    trap "stop 0" INT TERM
    tries=0
    until grep -qs listening "$state/telnet.log" && grep -qs listening "$state/rlogin.log"; do
        if ! kill -0 $telnet 2>/dev/null || ! kill -0 $rlogin 2>/dev/null ||
            [ $tries -ge 600 ]; then
            cat "$state/telnet.log" "$state/rlogin.log" >&2
            echo "the hosts did not start" >&2
            stop 1
        fi
        tries=$((tries + 1))
        sleep 0.1
    done
    echo "listening: telnet on 127.0.0.1:$3, rlogin on 127.0.0.1:$4" \
        "(no authentication: logins run as the Wine user $(id -un))"
    tail -q -n +2 -f "$state/telnet.log" "$state/rlogin.log" &
    tail=$!
    if [ "$5" = 1 ]; then
        while :; do
            # Each new recording, named once it appears.
            for file in "$6"/*.cast; do
                [ -e "$file" ] && ! grep -qxF "$file" "$state/recorded" 2>/dev/null || continue
                echo "$file" >>"$state/recorded"
                echo "recording: $file (asciinema play $file)"
            done
            sleep 1
        done &
        watch=$!
    fi
    wait $telnet $rlogin
    echo "a host ended" >&2
    stop 1
' sh "$state" "$build/tools/hosts" "$telnet_port" "$rlogin_port" "$record" "$recordings" &
session=$!
finish() {
    trap - INT TERM
    [ -f "$state/session" ] && kill -TERM "$(cat "$state/session")" 2>/dev/null
    wait $session 2>/dev/null
    rm -rf "$state"
    exit 0
}
trap finish INT TERM
status=0
wait $session || status=$?
rm -rf "$state"
exit $status
