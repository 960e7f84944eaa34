#!/bin/sh
# The main job: installs what is missing, builds the Windows programs with MinGW-w64, starts the
# loopback telnet and rlogin hosts under Wine (tools/hosts.sh) and logs in through Debian's telnet
# client on this terminal: you land in a Windows command processor, as the Wine user, with the
# command translator between you and its console.  Typing "exit" (or leaving the client with
# Ctrl-] and "quit") ends the login, and then everything this script started stops.
#   sh tools/main.sh [--classic] [--record]   (TELNET_PORT and RLOGIN_PORT choose other ports)
# The hosts give the login the keys and colours of a modern terminal (see sh tools/hosts.sh
# --help); --classic passes on to them and removes those settings.  --record passes on too: the
# login is recorded into build/windows/recordings, and the script names the file at the end.
set -eu
cd "$(dirname "$0")/.."
classic=
record=
for argument in "$@"; do
    case "$argument" in
    --classic) classic=--classic ;;
    --record) record=--record ;;
    *) echo "usage: sh tools/main.sh [--classic] [--record]" >&2; exit 2 ;;
    esac
done
sh tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
telnet_port=${TELNET_PORT:-2323}
rlogin_port=${RLOGIN_PORT:-2513}
log="$PWD/build/windows/hosts-main.log"
sh tools/hosts.sh --telnet "$telnet_port" --rlogin "$rlogin_port" $classic $record >"$log" 2>&1 &
hosts=$!
stop() {
    kill -TERM $hosts 2>/dev/null || true
    wait $hosts 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM
echo "Starting the loopback hosts under Wine (log: $log)"
tries=0
until grep -q '^listening' "$log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 1800 ] || ! kill -0 $hosts 2>/dev/null; then
        cat "$log" >&2
        echo "the hosts did not start" >&2
        exit 1
    fi
    sleep 0.1
done
grep '^listening' "$log"
echo "Logging in with: telnet 127.0.0.1 $telnet_port  (type dir, then exit)"
telnet 127.0.0.1 "$telnet_port" || true
if [ -n "$record" ]; then
    # The hosts name each recording as it appears; the login's is the last.
    sleep 1
    recording=$(sed -n 's/^recording: \(.*\) (asciinema play .*/\1/p' "$log" | tail -n 1)
    if [ -n "$recording" ]; then
        echo "The login was recorded in $recording (play it: asciinema play $recording)"
    else
        echo "No recording was written (see $log)"
    fi
fi
