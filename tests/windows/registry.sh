#!/bin/sh
# The registry settings store on the real registry: a missing product key is created empty and
# nothing is written into it; values of every type written with the reg tool read back by type.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
product='HKLM\Software\Orvane Software, Inc.\Registry Test Server'
key="$product\\CurrentVersion"
out="$1/registry.out"

wine reg delete "$product" /f >/dev/null 2>&1
wine "$1/registry_win.exe" missing >"$out" 2>&1
expect_status 0 $? "store over a missing key"
expect_grep "$out" "passed, 0 failed" "store over a missing key"
wine reg query "$key" >"$out" 2>&1
expect_status 0 $? "missing key created"
expect_no_grep "$out" "ExitDetectionTimeout" "defaults stay out of the registry"

add() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1 || fail "reg add $1"; }
add COMMANDprocessor REG_SZ 'cmd.exe /q'
add Empty REG_SZ ''
add Expand REG_EXPAND_SZ '%SystemRoot%\x'
add Multi REG_MULTI_SZ 'a\0b'
add Binary REG_BINARY 0102ff
add ExitDetectionTimeout REG_DWORD 250
add Large REG_DWORD 0xfffffffe
add ModeSelection REG_SZ simple
wine "$1/registry_win.exe" values >"$out" 2>&1
expect_status 0 $? "store over values of every type"
expect_grep "$out" "passed, 0 failed" "store over values of every type"
finish
