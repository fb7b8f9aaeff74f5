#!/bin/sh
# Makes the wine prefix of the Win32 window tests, once: wine's null graphics driver creates
# their windows without a display. The key holds for the whole prefix, so it is theirs alone.
# Usage: sh tests/winui_prefix.sh PREFIX
set -eu
prefix=$1
if grep -qs '"Graphics"="null"' "$prefix/user.reg"; then
    exit 0
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wineboot --init
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
wineserver -w
