#!/bin/sh
# Draws which folder of src/ includes which, and fails when the drawing has a circle, when a
# folder of the core (platform, cipher, store, commands, session) includes one of the windows
# (window for Qt, winui for Win32, app), or when a Qt header is included outside window/ and
# app/. session/, the windows' decisions, includes no toolkit header at all.
# Usage: sh tools/layout-check.sh
set -eu
cd "$(dirname "$0")/../src"

edges=$(for file in */*.cpp */*.h; do
    from=${file%%/*}
    sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file" | while read -r to; do
        [ "$from" = "$to" ] || echo "$from $to"
    done
done | sort -u)

echo "src/ folders and the folders they include:"
echo "$edges" | awk '{ to[$1] = to[$1] " " $2 } END { for (f in to) print "  " f " ->" to[f] }' | sort

status=0
if ! echo "$edges" | tsort >/dev/null 2>&1; then
    echo "layout: the folders include each other in a circle:" >&2
    echo "$edges" | tsort 2>&1 >/dev/null | sed 's/^/  /' >&2
    status=1
fi
upward=$(echo "$edges" | awk '$1 ~ /^(platform|cipher|store|commands|session)$/ && $2 ~ /^(window|winui|app)$/')
if [ -n "$upward" ]; then
    echo "layout: the core includes the Qt side:" >&2
    echo "$upward" | sed 's/^/  /' >&2
    status=1
fi
qt=$(grep -lE '^#include <(Q|qt|gtk|windows\.h|winuser\.h)' platform/* cipher/* store/* \
    commands/* session/* 2>/dev/null | grep -v '^platform/win32' || true)
if [ -n "$qt" ]; then
    echo "layout: toolkit headers in the core:" >&2
    echo "$qt" | sed 's/^/  /' >&2
    status=1
fi
[ "$status" = 0 ] && echo "layout: no circle, the core is toolkit-free and never includes the windows"
exit "$status"
