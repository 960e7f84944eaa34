#!/bin/sh
# Builds every preset and runs every test: host (plain, AddressSanitizer with
# UndefinedBehaviorSanitizer, ThreadSanitizer for the threaded tests), the Windows programs
# under Wine inside one X display, then Debian's telnet and rlogin clients against the loopback
# hosts in a Wine session of their own, a 30 s soak of the real translator (tools/soak.sh), then
# a short run of every fuzz target.  Fails when any
# build or test fails or a fuzz target finds something.
set -u
cd "$(dirname "$0")/.."
sh tools/install-deps.sh || exit 1
status=0
for preset in host-debug host-asan host-tsan windows; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null || { status=1; continue; }
    cmake --build --preset "$preset" || { status=1; continue; }
    if [ "$preset" = windows ]; then
        # One display for the whole run: the first wine process must see it.
        xvfb-run -a ctest --preset "$preset" || status=1
        echo "=== clients"
        sh tests/clients/clients.sh || status=1
        echo "=== soak (30 s)"
        sh tools/soak.sh 30 || status=1
    else
        ctest --preset "$preset" -j2 || status=1
    fi
done
echo "=== fuzz (a few seconds per target)"
sh tools/fuzz.sh 3 || status=1
[ $status -eq 0 ] && echo "=== all tests passed" || echo "=== some tests FAILED"
exit $status
