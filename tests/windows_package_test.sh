#!/bin/sh
# windows_package_test.sh PROGRAM INSTALLER: the Windows program imports only DLLs that
# Windows itself has, and its installer, run silently for the current user in a fresh wine
# prefix, installs the program, its Start menu and Send To entries and its uninstall entry;
# the uninstaller removes those again and keeps the user's settings and anything else the
# user put in the program's folder. Exit 77 (skipped) without wine or the mingw objdump.
set -u

program=$1 installer=$2
objdump=x86_64-w64-mingw32-objdump
for tool in wine wineboot wineserver "$objdump"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not found"; exit 77; }
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vantory-setup.XXXXXX") || exit 1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
trap 'wineserver -k 2>/dev/null; rm -rf "$prefix"' EXIT INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

wineboot --init >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }
system32=$prefix/drive_c/windows/system32

# Linked statically: every DLL it imports is one of the system's own.
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || fail "no imports read from $program"
for dll in $imports; do
    found=$(find "$system32" -maxdepth 1 -iname "$dll" | head -1)
    [ -n "$found" ] || fail "imports $dll, which is not a system DLL"
done

users=$prefix/drive_c/users/$(id -un)/AppData
home=$users/Local/Programs/Vantory
roaming=$users/Roaming
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantory'

wine "$installer" /S /CurrentUser || fail "the installer exited with $?"
wineserver -w
cmp -s "$program" "$home/vantory.exe" || fail "vantory.exe not installed in $home"
[ -f "$home/uninstall.exe" ] || fail "no uninstaller"
[ -f "$roaming/Microsoft/Windows/Start Menu/Programs/Vantory.lnk" ] || fail "no Start menu entry"
[ -f "$roaming/Microsoft/Windows/SendTo/Hide with Vantory.lnk" ] || fail "no Send To entry"
wine reg query "$key" /v UninstallString 2>/dev/null | grep -q 'uninstall.exe' ||
    fail "no uninstall entry in the registry"

# What is the user's stays: settings (and the storage folder beside them), and their own files.
mkdir -p "$roaming/vantory"
echo "settings" >"$roaming/vantory/regInfo.lst"
echo "mine" >"$home/notes.txt"
wine "$home/uninstall.exe" /CurrentUser /S || fail "the uninstaller exited with $?"
wineserver -w
[ ! -e "$home/vantory.exe" ] && [ ! -e "$home/uninstall.exe" ] || fail "program left behind"
[ ! -e "$roaming/Microsoft/Windows/Start Menu/Programs/Vantory.lnk" ] &&
    [ ! -e "$roaming/Microsoft/Windows/SendTo/Hide with Vantory.lnk" ] || fail "entries left"
wine reg query "$key" >/dev/null 2>&1 && fail "uninstall entry left in the registry"
[ "$(cat "$roaming/vantory/regInfo.lst" 2>/dev/null)" = settings ] || fail "settings removed"
[ "$(cat "$home/notes.txt" 2>/dev/null)" = mine ] || fail "the user's own file removed"

[ "$failures" = 0 ] && echo "windows installer: installed and uninstalled as expected"
exit "$failures"
