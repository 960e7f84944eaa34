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
