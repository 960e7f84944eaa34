#!/bin/sh
# The MSI package under Wine's msiexec, in a prefix of its own ($WINEPREFIX, made afresh and
# removed when every check passed): install, the event sources, the default settings,
# a reinstall over changed settings, the public properties, an upgrade to a higher version (built
# here from the same files), a refused downgrade, the removal, and a login through login-host
# with the translator that the package installed.
#   msi.sh TESTS PACKAGES
# TESTS is the folder of the Windows test programs, PACKAGES the folder where package.zip had
# CPack build the packages.
. "$TESTS_DIR/lib.sh"
. "$TESTS_DIR/login_lib.sh"
packages=$2
package=$(ls "$packages"/*-win64.msi 2>/dev/null | head -n 1)
staged=$(ls -d "$packages"/_CPack_Packages/win64/ZIP/*-win64 2>/dev/null | head -n 1)
[ -f "$package" ] && [ -d "$staged" ] || { echo "FAILED: no MSI package in $packages"; exit 1; }
out="$packages/msi-test"
log="$out/wine.out"
wineserver -k 2>/dev/null
rm -rf "$out" "$WINEPREFIX" && mkdir -p "$out" "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

system32="$WINEPREFIX/drive_c/windows/system32"
documents="$WINEPREFIX/drive_c/Program Files/Orvane Software/Remote Login"
sources='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
product_name="Orvane Command Translator and Command Starter"
keys_rexec='HKLM\Software\Orvane Software, Inc.\Orvane Rexecd Server\CurrentVersion'
settings_table="$TESTS_DIR/../../packaging/msi-settings.txt"

property_of() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
version=$(property_of "$package" ProductVersion)
old_code=$(property_of "$package" ProductCode)

# msiexec ARGS...: a silent msiexec run; its status is the result.
msiexec() { wine msiexec "$@" /qn >"$log" 2>&1; }
# values KEY FILE: the values of KEY as reg query lists them ("    Name    TYPE    data").  A
# query that printed nothing at all, not even an error (seen once, right after an msiexec run),
# is asked again.
values() {
    for attempt in 1 2 3; do
        wine reg query "$1" 2>&1 | tr -d '\r' >"$2"
        [ -s "$2" ] && return
        echo "reg query $1 printed nothing (attempt $attempt)"
        sleep 1
    done
}
# set_number PROTOCOL NAME VALUE: a REG_DWORD setting, as an administrator changes it.
# A failed reg add is said and tried again.
set_number() {
    for attempt in 1 2 3; do
        wine reg add "$(settings_key "$1")" /v "$2" /t REG_DWORD /d "$3" /f >"$out/reg-add" 2>&1 &&
            return
        echo "reg add $1 $2 failed (attempt $attempt):"
        sed 's/^/  | /' "$out/reg-add"
        sleep 1
    done
}
# expect_value FILE NAME TYPE DATA WHAT
expect_value() {
    if grep -qxF -- "    $2    $3    $4" "$1"; then
        pass
    else
        fail "$5: no $2 $3 $4"
        sed 's/^/  | /' "$1"
    fi
}
# expect_programs FOLDER WHAT: the system folder holds the programs of FOLDER byte for byte.
expect_programs() {
    for exe in command-translator.exe command-starter.exe; do
        cmp -s "$1/$exe" "$system32/$exe" && pass || fail "$2: $exe in the system folder"
    done
}
# expect_products VERSION WHAT: Programs and Features lists the package once, at VERSION.
expect_products() {
    wine reg query "$uninstall" /s 2>&1 | tr -d '\r' >"$out/products"
    count=$(grep -cxF "    DisplayName    REG_SZ    $product_name" "$out/products")
    if [ "$count" = 1 ]; then pass; else fail "$2: $count product entries"; fi
    expect_grep "$out/products" "DisplayVersion    REG_SZ    $1" "$2: product version"
}
# expect_key_gone KEY WHAT
expect_key_gone() {
    if wine reg query "$1" >/dev/null 2>&1; then fail "$2: $1 is still there"; else pass; fi
}

# expect_properties WHAT: every value of $out/properties is in its keys with its type.
expect_properties() {
    values "$(settings_key telnet)" "$out/telnet"
    values "$(settings_key rlogin)" "$out/rlogin"
    values "$keys_rexec" "$out/rexec"
    while read -r keys value type data; do
        files="$out/rexec"
        [ "$keys" = translator ] && files="$out/telnet $out/rlogin"
        for file in $files; do
            if [ "$type" = number ]; then
                expect_value "$file" "$value" REG_DWORD "$(printf '0x%x' "$data")" "$1: property"
            else
                expect_value "$file" "$value" REG_SZ "$data" "$1: property"
            fi
        done
    done <"$out/properties"
}

# Install: the programs in the system folder, the notes beside them in Program Files, the event
# sources, one product entry, the three settings keys with the defaults.
msiexec /i "$(winpath "$package")"
expect_status 0 $? "install"
expect_programs "$staged" "install"
[ -f "$documents/LICENSE.TXT" ] && [ -f "$documents/SERVERS.TXT" ] && pass ||
    fail "install: the notes in $documents"
expect_event_sources "$1" "$log"
for program in Translator Starter; do
    values "$sources\\Orvane Command $program" "$out/source"
    expect_value "$out/source" EventMessageFile REG_EXPAND_SZ \
        "%SystemRoot%\\System32\\command-$(echo $program | tr A-Z a-z).exe" "event source $program"
    expect_value "$out/source" TypesSupported REG_DWORD 0x7 "event source $program"
done
expect_products "$version" "install"
# (first the key alone: reading the settings as the programs do creates a missing key)
wine reg query "$keys_rexec" >/dev/null 2>&1
expect_status 0 $? "install: the rexec settings key"
wine "$1/eventsource_win.exe" settings >"$log" 2>&1
expect_status 0 $? "install: the settings hold the defaults"

# Reinstall, everything rewritten: a changed setting stays; a missing default comes back.
set_number telnet ExitDetectionTimeout 1000
wine reg delete "$(settings_key rlogin)" /v SuppressColorSimulation /f >/dev/null 2>&1
msiexec /i "$(winpath "$package")" REINSTALL=ALL REINSTALLMODE=amus
expect_status 0 $? "reinstall"
values "$(settings_key telnet)" "$out/telnet"
expect_value "$out/telnet" ExitDetectionTimeout REG_DWORD 0x3e8 "reinstall: the changed setting"
values "$(settings_key rlogin)" "$out/rlogin"
expect_value "$out/rlogin" SuppressColorSimulation REG_DWORD 0x0 "reinstall: the missing default"

# The upgrade: the same files, the programs marked so that the new ones can be told apart, as a
# higher version.
upgrade_version=$(echo "$version" | awk -F. '{ print $1 "." $2 + 1 }')
mkdir -p "$out/upgrade"
cp "$staged"/* "$out/upgrade/"
for exe in command-translator.exe command-starter.exe; do
    printf 'version %s' "$upgrade_version" >>"$out/upgrade/$exe"
done
upgrade="$out/upgrade-$upgrade_version.msi"
cmake -D MSI_VERSION="$upgrade_version" -D MSI_FILES="$out/upgrade" -D MSI_OUTPUT="$upgrade" \
    -P "$TESTS_DIR/../../packaging/Msi.cmake" >"$log" 2>&1
expect_status 0 $? "building version $upgrade_version"

# Every property but SUPPRESSCOLORSIMULATION given with the upgrade: numbers 0, 100, 200 ...,
# texts with blanks and backslashes that begin with "#" (which the installer takes for the mark
# of a number unless it is doubled).  Each lands in its keys with its type and wins over a value
# already there (ExitDetectionTimeout); the setting without its property keeps its changed
# value (telnet) and its default (rlogin).
set_number telnet SuppressColorSimulation 7
set --
number=0
while read -r property keys value type default; do
    case "$property" in "" | "#"* | SUPPRESSCOLORSIMULATION) continue ;; esac
    if [ "$type" = number ]; then
        data=$number
        number=$((number + 100))
    else
        data="#C:\\Program Files\\$value\\for $keys.exe /x"
    fi
    set -- "$@" "$property=$data"
    printf "%s %s %s %s\n" "$keys" "$value" "$type" "$data" >>"$out/properties"
done <"$settings_table"
msiexec /i "$(winpath "$upgrade")" "$@"
expect_status 0 $? "upgrade"
expect_properties "upgrade"
expect_value "$out/telnet" SuppressColorSimulation REG_DWORD 0x7 "upgrade: the changed setting"
expect_value "$out/rlogin" SuppressColorSimulation REG_DWORD 0x0 "upgrade: the default"
expect_products "$upgrade_version" "upgrade"
expect_key_gone "$uninstall\\$old_code" "upgrade: the old product"
expect_programs "$out/upgrade" "upgrade"
for program in Translator Starter; do
    values "$sources\\Orvane Command $program" "$out/source"
    expect_value "$out/source" TypesSupported REG_DWORD 0x7 "upgrade: event source $program"
done

# A repair without the properties rewrites nothing that they wrote.
msiexec /i "$(winpath "$upgrade")" REINSTALL=ALL REINSTALLMODE=amus
expect_status 0 $? "repair"
expect_properties "repair"

# The older package does not go over the newer one.
msiexec /i "$(winpath "$package")"
if [ $? -ne 0 ]; then pass; else fail "the older package installed over the newer"; fi
expect_products "$upgrade_version" "downgrade"

# Removal: the programs, the notes and the event sources go; the settings stay.
msiexec /x "$(winpath "$upgrade")"
expect_status 0 $? "uninstall"
for exe in command-translator.exe command-starter.exe; do
    [ -e "$system32/$exe" ] && fail "uninstall: $exe is still there" || pass
done
[ -e "$documents" ] && fail "uninstall: $documents is still there" || pass
expect_key_gone "$sources\\Orvane Command Translator" "uninstall"
expect_key_gone "$sources\\Orvane Command Starter" "uninstall"
if wine reg query "$uninstall" /s 2>&1 | grep -qF "$product_name"; then
    fail "uninstall: the product entry is still there"
else
    pass
fi
values "$(settings_key telnet)" "$out/telnet"
expect_value "$out/telnet" SuppressColorSimulation REG_DWORD 0x7 "uninstall: the settings stay"
values "$keys_rexec" "$out/rexec"
grep -qF "    CommandProcessor    REG_SZ    " "$out/rexec" && pass ||
    fail "uninstall: the rexec setting stays"

# Installed again, with the settings of a login and of a modern terminal, KeySequences by its own
# property: the translator from the system folder runs a command through Wine's command
# processor for login-host.
msiexec /i "$(winpath "$package")" MODESELECTION=simple SUPPRESSCOLORSIMULATION=1 \
    "COMMANDPROCESSOR=C:\\windows\\system32\\cmd.exe /k echo started by the package" \
    MODERNTERMINAL=1 KEYSEQUENCES=0
expect_status 0 $? "install with properties"
values "$(settings_key telnet)" "$out/telnet"
expect_value "$out/telnet" SuppressColorSimulation REG_DWORD 0x1 "a property over a kept setting"
values "$(settings_key rlogin)" "$out/rlogin"
while read -r property value type modern; do
    case "$property" in "" | "#"*) continue ;; esac
    case "$property" in KEYSEQUENCES) modern=0 ;; ADVANCEDTERMINALTYPES) modern="xterm-* screen* tmux* rxvt* linux" ;; esac
    for file in "$out/telnet" "$out/rlogin"; do
        if [ "$type" = number ]; then
            expect_value "$file" "$value" REG_DWORD "$(printf '0x%x' "$modern")" "MODERNTERMINAL"
        else
            expect_value "$file" "$value" REG_SZ "$modern" "MODERNTERMINAL"
        fi
    done
done <"$TESTS_DIR/../../packaging/msi-modern.txt"
expect_login msi-login 'C:\windows\system32\command-translator.exe telnet vt100' \
    'expect "started by the package\r\n" 20000' 'send echo %TERM%-seen\r' \
    'expect "vt100-seen\r\n" 20000' 'send exit\r' 'expect-exit 0'

wineserver -k
if finish; then
    rm -rf "$WINEPREFIX"
else
    exit 1
fi
