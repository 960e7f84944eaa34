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
# test programs (eventsource_win), LOG keeps what they printed.  Its variables begin with source_.
expect_event_sources() {
    for source_program in Translator Starter; do
        source_path="C:\\windows\\system32\\command-$(echo $source_program | tr A-Z a-z).exe"
        case $source_program in
        Translator) source_args="telnet vt100" ;;
        *) source_args="" ;;
        esac
        WINEDEBUG=-all,err+eventlog wine "$source_path" $source_args >"$2" 2>&1 </dev/null
        [ -z "$source_args" ] &&
            expect_grep "$2" "StartServiceCtrlDispatcher = 1063" "the starter's report"
        source_text=$(sed -n 's/^.*err:eventlog:ReportEventW L"\(.*\)"$/\1/p' "$2" | head -n 1)
        if [ -z "$source_text" ]; then
            fail "no report from $source_path"
            continue
        fi
        wine "$1/eventsource_win.exe" render "Orvane Command $source_program" "$source_text" \
            "$source_path" >"$2" 2>&1
        expect_status 0 $? "rendering through the message file of $source_path"
        expect_grep "$2" "passed, 0 failed" "rendering through the message file of $source_path"
        cat "$2"
    done
}
