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
. tools/common/wine-session.sh
build_windows rexec
export WINEPREFIX="$build/wineprefix"
# The first wine process of the session hands its standard error and WINEDEBUG on to the
# service manager and so to the service: the starter's reports show with rexec-local's.
exec xvfb-run -a sh -c '
    tool=$1
    shift
    . tools/common/wine-session.sh
    prepare_prefix
    wineserver -k 2>/dev/null
    WINEDEBUG=-all,err+eventlog,warn+eventlog wine "$tool" "$@"
    status=$?
    wineserver -k 2>/dev/null
    exit $status
' sh "$build/tools/rexec/rexec-local.exe" "$@"
