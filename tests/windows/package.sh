#!/bin/sh
# The release package.
#   package.sh zip CPACK-CONFIG OUT
#     builds the ZIP and the MSI package into OUT with CPack, checks the ZIP's listing and
#     unpacks it into OUT/unpacked.
#   package.sh wine TESTS OUT
#     installs the unpacked package into the test prefix as INSTALL.TXT tells, imports its
#     registry files and shows that a report of each program is rendered through the message
#     file its event source names, and that the settings keys then hold the defaults.  TESTS is
#     the folder of the Windows test programs.  Leaves the prefix as it found it.
name=orvane-remote-login-1.14-win64

if [ "$1" = zip ]; then
    failures=0
    fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
    config="$2" out="$3"
    rm -rf "$out" && mkdir -p "$out"
    cpack --config "$config" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
    zip="$out/$name.zip"
    [ -f "$zip" ] || { echo "FAILED: no $zip"; exit 1; }

    cmake -E tar tf "$zip" | sort >"$out/listing"
    for file in EVENTLOG.REG INSTALL.TXT LICENSE.TXT SERVERS.TXT SETTINGS.REG \
        command-starter.exe command-translator.exe; do
        echo "$name/$file"
    done | sort >"$out/expected"
    cmp -s "$out/listing" "$out/expected" || { fail "listing"; diff "$out/expected" "$out/listing"; }

    mkdir "$out/unpacked" && (cd "$out/unpacked" && cmake -E tar xf "$zip") || fail "unpack"
    dir="$out/unpacked/$name"
    for exe in command-translator command-starter; do
        [ "$(head -c 2 "$dir/$exe.exe")" = MZ ] || fail "$exe.exe is no Windows program"
    done
    # Text for Windows: CR LF line ends throughout; the registry editor wants its header first.
    for text in EVENTLOG.REG SETTINGS.REG INSTALL.TXT SERVERS.TXT LICENSE.TXT; do
        awk '!/\r$/ { bad = 1 } END { exit bad }' "$dir/$text" || fail "$text has bare LF line ends"
    done
    for reg in EVENTLOG.REG SETTINGS.REG; do
        [ "$(head -n 1 "$dir/$reg")" = "$(printf 'REGEDIT4\r')" ] || fail "$reg header"
    done
    # The MSI package is made from the same staged files, by the same CPack run.
    [ -f "$out/$name.msi" ] || fail "no $name.msi beside the ZIP"
    echo "$failures failed"
    [ "$failures" -eq 0 ]
    exit
fi

. "$TESTS_DIR/lib.sh"
tests="$2" out="$3"
dir="$out/unpacked/$name"
[ -d "$dir" ] || { echo "FAILED: no unpacked package in $dir"; exit 1; }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
system32="$WINEPREFIX/drive_c/windows/system32"
sources='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
company='HKLM\Software\Orvane Software, Inc.'
log="$out/wine.out"

cleanup() {
    rm -f "$system32/command-translator.exe" "$system32/command-starter.exe"
    wine reg delete "$sources\\Orvane Command Translator" /f >/dev/null 2>&1
    wine reg delete "$sources\\Orvane Command Starter" /f >/dev/null 2>&1
    for product in Telnetd Rlogind Rexecd; do
        wine reg delete "$company\\Orvane $product Server" /f >/dev/null 2>&1
    done
}
cleanup

# Installed as INSTALL.TXT says: the programs in %SystemRoot%\System32, EVENTLOG.REG unchanged.
cp "$dir/command-translator.exe" "$dir/command-starter.exe" "$system32/"
wine reg import "$(windows_path "$dir/EVENTLOG.REG")" >"$log" 2>&1
expect_status 0 $? "import EVENTLOG.REG"

expect_event_sources "$tests" "$log"

wine reg import "$(windows_path "$dir/SETTINGS.REG")" >"$log" 2>&1
expect_status 0 $? "import SETTINGS.REG"
wine "$tests/eventsource_win.exe" settings >"$log" 2>&1
expect_status 0 $? "settings hold the defaults"
expect_grep "$log" "passed, 0 failed" "settings hold the defaults"

cleanup
finish
