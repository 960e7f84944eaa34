#!/bin/sh
# The support library on real Win32: event-log reports, how a program ends on a fatal error and
# on a failed assertion, the banner, the message table, events and threads, argument parsing.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
exe="$1/reporter_win.exe"
out="$1/reporter.out"
# Wine prints each report's string on its eventlog channel: err: for errors, warn: for warnings.
log="-all,err+eventlog,warn+eventlog"

WINEDEBUG=$log wine "$exe" report >"$out" 2>&1
expect_status 0 $? "report"
expect_grep "$out" 'err:eventlog:ReportEventW L"Couldn'"'"'t find system directory: 5"' "error report"
expect_grep "$out" 'warn:eventlog:ReportEventW L"warning number 7"' "warning report"

WINEDEBUG=$log wine "$exe" fatal >"$out" 2>&1
expect_status 1 $? "fatal error"
expect_grep "$out" 'err:eventlog:ReportEventW L"Bad protocol type specified: ssh"' "fatal report"

WINEDEBUG=$log wine "$exe" fatal-thread >"$out" 2>&1
expect_status 1 $? "fatal error on a secondary thread"
expect_grep "$out" 'Could not create thread: 99' "fatal report from the thread"

# An unhandled access violation ends the process with 0xC0000005; Linux sees its low byte.
# Wine's automatic debugger, which reports the crash, now and then ends the process first with
# a code of its own; its report then shows the crash was the access violation.
WINEDEBUG=$log wine "$exe" assert >"$out.assert" 2>&1
status=$?
if [ $status -eq 5 ] || { [ $status -ne 1 ] && grep -q "Unhandled page fault" "$out.assert"; }; then
    pass
else
    fail "assertion: exit status $status, wanted the access violation's 5"
    sed 's/^/  | /' "$out.assert" | head -40
fi
expect_grep "$out.assert" 'err:eventlog:ReportEventW L"Assertion failed in file: ZMATH.cpp at line ' "assertion report"
expect_grep "$out.assert" 'Last error= 1234\n"' "assertion keeps the last error from before the report"
expect_no_grep "$out.assert" "went on" "nothing runs after a failed assertion"

# Standard error a pipe: the banner stays silent and the program goes on.
wine "$exe" banner 2>"$out.err" | cat >"$out"
expect_grep "$out" "banner done" "banner on a pipe"
if [ -s "$out.err" ] && grep -q "Version" "$out.err"; then fail "banner written to a pipe"; else pass; fi

for mode in banner-console parse messages events; do
    wine "$exe" $mode >"$out" 2>&1
    expect_status 0 $? "$mode"
    expect_grep "$out" "passed, 0 failed" "$mode"
done
finish
