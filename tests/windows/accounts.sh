#!/bin/sh
# Who the user is, on real Win32: the token reader, the SID holder and the user account record.
# $1: the folder of the Windows test programs.
. "$TESTS_DIR/lib.sh"
out="$1/accounts.out"

wine "$1/accounts_win.exe" >"$out" 2>&1
expect_status 0 $? "accounts"
expect_grep "$out" "passed, 0 failed" "accounts"
sed 's/^/  | /' "$out"
finish
