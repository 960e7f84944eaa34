#!/bin/sh
# Builds the fuzz targets and runs each for a given time, one after the other:
#   sh tools/fuzz.sh [SECONDS [TARGET...]]
# SECONDS defaults to 600; the targets default to all of them.  Each target starts from its
# corpus in fuzz/corpus/TARGET (a working copy under build/fuzz/corpus grows as it runs, the
# repository's stays as it is).  A finding is written to build/fuzz/findings/TARGET/ and makes
# the script fail.
set -u
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"in_band line_editor keys key_sequences writer window_size registry parse_unsigned format mirror_vterm relay utf8"}

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz >/dev/null || { cmake --build --preset fuzz; exit 1; }

status=0
for target in $targets; do
    corpus=build/fuzz/corpus/$target
    findings=build/fuzz/findings/$target
    mkdir -p "$corpus" "$findings"
    [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null
    log=build/fuzz/$target.log
    # One fuzzer process at a time, no forks: the machine is shared.
    if build/fuzz/fuzz/"${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "$target: ${seconds}s, $runs runs, nothing found"
    else
        echo "$target: FAILED after at most ${seconds}s; see $log and $findings/"
        grep -E "^(SUMMARY|==[0-9]+==ERROR)" "$log" | head -3
        status=1
    fi
done
exit $status
