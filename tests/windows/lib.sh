# Helpers for the Windows test scripts.
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run the Windows tests inside xvfb-run -a" >&2; exit 1; }
failures=0
passes=0
pass() { passes=$((passes + 1)); }
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
# expect_status WANT GOT WHAT
expect_status() { if [ "$1" = "$2" ]; then pass; else fail "$3: exit status $2, wanted $1"; fi; }
# expect_grep FILE PATTERN WHAT: a fixed string that must appear in FILE
expect_grep() { if grep -qF -- "$2" "$1"; then pass; else fail "$3: '$2' not in output"; sed 's/^/  | /' "$1" | head -20; fi; }
expect_no_grep() { if grep -qF -- "$2" "$1"; then fail "$3: '$2' in output"; else pass; fi; }
finish() { echo "$passes passed, $failures failed"; [ "$failures" -eq 0 ]; }

# expect_event_sources TESTS LOG: a real report of each program in the system folder renders
# through the message file that its event source names, as an event viewer shows it.  Wine's
# event log stores nothing but prints each report; the translator makes one when started without
# a console of its own, the starter when started by hand.  TESTS is the folder of the Windows
# test programs (eventsource_win), LOG keeps what they printed.
expect_event_sources() {
    for program in Translator Starter; do
        path="C:\\windows\\system32\\command-$(echo $program | tr A-Z a-z).exe"
        case $program in
        Translator) args="telnet vt100" ;;
        *) args="" ;;
        esac
        WINEDEBUG=-all,err+eventlog wine "$path" $args >"$2" 2>&1 </dev/null
        [ -z "$args" ] && expect_grep "$2" "StartServiceCtrlDispatcher = 1063" "the starter's report"
        text=$(sed -n 's/^.*err:eventlog:ReportEventW L"\(.*\)"$/\1/p' "$2" | head -n 1)
        if [ -z "$text" ]; then
            fail "no report from $path"
            continue
        fi
        wine "$1/eventsource_win.exe" render "Orvane Command $program" "$text" "$path" >"$2" 2>&1
        expect_status 0 $? "rendering through the message file of $path"
        expect_grep "$2" "passed, 0 failed" "rendering through the message file of $path"
        cat "$2"
    done
}
