#!/bin/sh
# Runs one command through the command starter service under Wine, with rexec-local playing the
# rexec server's part on this machine.  A local test tool, not a server: no network connection,
# no authentication.
#   sh tools/rexec.sh [rexec-local options] -- COMMAND WORDS...     (--help lists the options)
# Installs what it needs, builds the windows preset when needed, and runs in the private prefix
# build/windows/wineprefix with a wineserver session of its own: it stops any other session of
# that prefix, so it must not run while the Windows tests do.  The command's output and errors
# come out on standard output and standard error, the starter's event-log reports on standard
# error; the exit status is rexec-local's.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
build="$PWD/build/windows"
[ -f "$build/CMakeCache.txt" ] || cmake --preset windows >/dev/null
if ! cmake --build --preset windows >"$build/rexec-build.log" 2>&1; then
    cat "$build/rexec-build.log" >&2
    exit 1
fi
export WINEPREFIX="$build/wineprefix"
# The first wine process of the session hands its standard error and WINEDEBUG on to the
# service manager and so to the service: the starter's reports show with rexec-local's.
exec xvfb-run -a sh -c '
    tool=$1
    shift
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "preparing the Wine prefix $WINEPREFIX" >&2
        WINEDEBUG=-all sh tests/windows/prepare-prefix.sh >/dev/null
    fi
    wineserver -k 2>/dev/null
    WINEDEBUG=-all,err+eventlog,warn+eventlog wine "$tool" "$@"
    status=$?
    wineserver -k 2>/dev/null
    exit $status
' sh "$build/tools/rexec/rexec-local.exe" "$@"
