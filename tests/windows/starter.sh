#!/bin/sh
# The command starter run by the service manager, with rexec-local in the server's place: how
# the command line is formed, the pipe handles it moves out of the server, the environment the
# command starts in, the state the service ends in, and what it reports when started wrongly or
# by hand.
# $1: the folder of the Windows test programs; the starter and rexec-local are built beside it.
. "$TESTS_DIR/lib.sh"
build="$1/../.."
tool="$build/tools/rexec/rexec-local.exe"
starter="$build/starter/command-starter.exe"
out="$1/starter.out"
err="$1/starter.err"
events="$1/starter.events"
for program in "$tool" "$starter"; do
    [ -f "$program" ] || { echo "missing $program: build the windows preset first"; exit 1; }
done
log="-all,err+eventlog,warn+eventlog"

# A service's event-log reports reach the standard error of services.exe, which inherits it from
# the first wine process of the wineserver session: this script opens a session of its own and
# keeps it until the end.
wineserver -k 2>/dev/null
wineserver -p
trap 'wineserver -k 2>/dev/null; rm -f "$WINEPREFIX/drive_c/remote.cmd"' EXIT
WINEDEBUG=$log wine cmd.exe /c exit 2>"$events"

# rexec-local exits 0 only when the service reached SERVICE_STOPPED and both output pipes ended;
# the pipes end only if the starter closed the server's handles when it moved them.
run() { wine "$tool" --timeout 30 "$@" >"$out" 2>"$err"; }

# Without the flag the command argument is the whole command line, not a command for cmd.exe.
run -- cmd.exe /c echo hello
expect_status 0 $? "unflagged command"
expect_grep "$out" "hello" "unflagged command's output"
run -- echo unflagged
expect_status 0 $? "unflagged command that is no program: the service still stops cleanly"
expect_no_grep "$out" "unflagged" "unflagged command not given to cmd.exe"
expect_grep "$events" 'L"CreateProcess = 2"' "unflagged command that is no program"

# With the flag the command runs through cmd.exe, in C:\ when the user has no home directory.
run --shell -- echo first\& echo second
expect_status 0 $? "flagged command"
expect_grep "$out" "first" "flagged command, first part"
expect_grep "$out" "second" "flagged command, part only cmd.exe runs"
# The quoted cmd.exe runs the user's script first: "\remote.cmd" on the starter's current drive,
# as Wine gives no home directory.
printf '@echo remote-cmd-ran\r\n' >"$WINEPREFIX/drive_c/remote.cmd"
run --shell -- echo after-script
expect_status 0 $? "flagged command after remote.cmd"
rm -f "$WINEPREFIX/drive_c/remote.cmd"
if [ "$(tr -d '\r' <"$out")" = "remote-cmd-ran
after-script" ]; then
    pass
else
    fail "remote.cmd, then the flagged command: $(cat "$out")"
fi
run --shell -- cd
expect_status 0 $? "current directory"
if tr -d '\r' <"$out" | grep -qxF 'C:\'; then
    pass
else
    fail "current directory of a user without home directory: $(cat "$out")"
fi

# Standard error: its own pipe, or with no error handle given, the output pipe.
run -- cmd.exe /c echo to-error 1\>\&2
expect_status 0 $? "error pipe"
expect_grep "$err" "to-error" "standard error on the error pipe"
expect_no_grep "$out" "to-error" "standard error kept off the output pipe"
run --stderr-to-stdout -- cmd.exe /c echo to-error 1\>\&2
expect_status 0 $? "no error handle"
expect_grep "$out" "to-error" "standard error joins standard output"

# No handles at all: nothing is moved and the command runs in its own console.
marker="$WINEPREFIX/drive_c/windows/temp/starter-no-handles.txt"
rm -f "$marker"
run --no-handles -- cmd.exe /c echo ran\>C:\\windows\\temp\\starter-no-handles.txt
expect_status 0 $? "no handles"
tries=0
while [ ! -f "$marker" ] && [ $tries -lt 50 ]; do sleep 0.2; tries=$((tries + 1)); done
if [ -f "$marker" ]; then pass; else fail "no handles: the command did not run"; fi

# A wrong start argument count starts nothing and reports no status: StartService gives up
# after the service manager's wait (about 10 s each).
for count in 5 7; do
    run --arg-count $count -- cmd.exe /c echo not-started
    if [ $? -ne 0 ]; then pass; else fail "$count start arguments: the service claims to have run"; fi
    expect_no_grep "$out" "not-started" "$count start arguments: nothing started"
    expect_grep "$events" "L\"Argc = $((count + 1))\"" "$count start arguments"
done

# Started by hand from a console: the banner there, and the dispatcher's failure reported.
WINEDEBUG=$log wine "$tool" --by-hand >"$out" 2>"$err"
expect_status 0 $? "started by hand"
expect_grep "$out" "Orvane Command Starter Version 1.14" "banner on the console"
expect_grep "$err" 'L"StartServiceCtrlDispatcher = 1063"' "started by hand"
finish
