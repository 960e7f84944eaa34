#!/bin/sh
# Starts a fresh wineserver under the test run's display and prepares the private prefix:
# consoles only work when the first wine process of a wineserver session had the display.
set -e
if [ -z "${DISPLAY:-}" ]; then
    echo "no DISPLAY: run the Windows tests inside xvfb-run -a" >&2
    exit 1
fi
wineserver -k 2>/dev/null || true
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
# A crashing test program must end with its exception code, not wait in a crash dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg query 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog >/dev/null 2>&1
echo "prefix ready: $WINEPREFIX"
