# Helpers for the scripts that drive logins through login-host; source after lib.sh with $1 the
# folder of the Windows test programs.  Every run keeps its files in that folder under its name:
# NAME.log (what login-host printed), NAME.out (socket output, escaped), NAME.raw (socket output,
# byte for byte), NAME.ctl (control channel reads with their times).
bin="$1"
login_host="$bin/login_host.exe"
testcmd="$bin/testcmd.exe"
translator="$bin/../../translator/command-translator.exe"

# winpath PATH: the Windows form of a Linux path (Z:\...).
winpath() { winepath -w "$1" 2>/dev/null; }

# run_login NAME [login-host options] COMMAND-LINE [STEP...]: runs login-host; its status is the
# result.
run_login() {
    name=$1
    shift
    wine "$login_host" --output "$(winpath "$bin/$name.out")" \
        --output-raw "$(winpath "$bin/$name.raw")" --control "$(winpath "$bin/$name.ctl")" \
        "$@" >"$bin/$name.log" 2>&1
}

# expect_login NAME ...: runs login-host as run_login does and passes when every expectation
# held; otherwise fails and shows what login-host printed.
expect_login() {
    name=$1
    if run_login "$@"; then
        pass
    else
        fail "$name: login-host reports failures"
        tr -d '\r' <"$bin/$name.log" | sed 's/^/  | /' | tail -40
    fi
}

# settings_key PROTOCOL: the registry key of the product of a login protocol.
settings_key() {
    case "$1" in
    rlogin) echo 'HKLM\Software\Orvane Software, Inc.\Orvane Rlogind Server\CurrentVersion' ;;
    *) echo 'HKLM\Software\Orvane Software, Inc.\Orvane Telnetd Server\CurrentVersion' ;;
    esac
}

# set_setting PROTOCOL NAME VALUE: a REG_SZ setting; clear_settings PROTOCOL removes them all.
set_setting() { wine reg add "$(settings_key "$1")" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1; }
clear_settings() { wine reg delete "$(settings_key "$1")" /f >/dev/null 2>&1; true; }

# use_testcmd PROTOCOL LOG [testcmd options]: makes the translator start testcmd, logging to LOG
# (a Linux path, emptied first).
use_testcmd() {
    protocol=$1
    log=$2
    shift 2
    rm -f "$log"
    set_setting "$protocol" CommandProcessor "$(winpath "$testcmd") --log $(winpath "$log") $*"
}

# expect_log_line FILE PATTERN WHAT: a line of FILE matches the basic regular expression.
expect_log_line() {
    if grep -q -- "$2" "$1" 2>/dev/null; then
        pass
    else
        fail "$3: no line matching '$2' in $1"
        sed 's/^/  | /' "$1" 2>/dev/null | tail -20
    fi
}
