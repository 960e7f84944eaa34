#!/bin/sh
# Runs one Windows test program under Wine and passes on its exit status.
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run the Windows tests inside xvfb-run -a" >&2; exit 1; }
exec wine "$@"
