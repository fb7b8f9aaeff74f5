#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots/ from the real program on a virtual display:
#
#   main-window-files.png     the main window on its first tab, with a few hidden files
#   main-window-filter.png    the list narrowed by the filter box above it
#   main-window-settings.png  the main window on its second tab
#   busy-window.png           the busy window over the main window during a long operation
#
# Usage: tools/take-screenshots.sh   (BUILD_DIR=... to use another build folder)
#
# The settings live in a temporary XDG_CONFIG_HOME, never in yours. The settings file with
# its sample entries is written by tools/screenshot_helper.cpp, built here against the core
# library. The program is started under xvfb-run and logged in by typing the factory
# password with xdotool. The busy shot comes from the same helper: it opens the real main
# window and enters the busy state for a few seconds, so the program itself needs no
# switch for it. A plain window manager (openbox) draws the title bars. Installs xvfb, xauth,
# xdotool, imagemagick and openbox with apt-get when missing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/default}
out=$root/docs/screenshots

missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb)
command -v xauth >/dev/null || missing+=(xauth)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v import >/dev/null || missing+=(imagemagick)
command -v openbox >/dev/null || missing+=(openbox)
if [ ${#missing[@]} -gt 0 ]; then
    sudo=$([ "$(id -u)" = 0 ] || echo sudo)
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Build the program if needed.
if [ ! -f "$build/CMakeCache.txt" ]; then
    if [ "$build" = "$root/build/default" ]; then
        (cd "$root" && cmake --preset default)
    else
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
fi
cmake --build "$build" --target vantory

work=$(mktemp -d "${TMPDIR:-/tmp}/vantory-shots.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config

# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -O1 -I"$root/src" "$root/tools/screenshot_helper.cpp" \
    "$build/src/libvantory_window.a" "$build/src/libvantory_commands.a" \
    "$build/src/libvantory_store.a" "$build/src/libvantory_cipher.a" \
    "$build/src/libvantory_platform.a" \
    $(pkg-config --cflags --libs Qt6Widgets Qt6Network) -o "$work/screenshot_helper"
"$work/screenshot_helper" prepare

mkdir -p "$out"

# Runs on the virtual display: logs in and takes the shots.
cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
program=$1 helper=$2 out=$3
work_png=$(mktemp --suffix=.png)
trap 'rm -f "$work_png"' EXIT
# The first visible window whose name matches, once there is one. xdotool's own --sync dies
# of an X error when a window vanishes while it walks the window tree; this tries again.
find_window() { # name pattern
    local id
    for _ in $(seq 1 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "no window named $1" >&2
    return 1
}
shot() { # window id, file
    sleep 1.5
    import -frame -window "$1" "$out/$2"
    echo "saved $out/$2"
}

openbox &
sleep 1
"$program" &
pid=$!
login=$(find_window '^Login$')
xdotool windowfocus --sync "$login"
xdotool type --delay 40 kumquat
xdotool key Return
main=$(find_window '^Corvantis Vantory')
xdotool windowfocus --sync "$main"
# Select the first file: click into the list's first row, below the filter box.
xdotool mousemove --window "$main" 60 30 click 1
shot "$main" main-window-files.png
xdotool key ctrl+f
xdotool type --delay 40 holiday
xdotool mousemove --window "$main" 60 30 click 1
shot "$main" main-window-filter.png
# The filter emptied again (Ctrl+F selects its text) for the settings.
xdotool key ctrl+f BackSpace
# Alt+A reaches Restore All Files first, then the second tab.
xdotool key alt+a alt+a
shot "$main" main-window-settings.png
kill "$pid"
wait "$pid" 2>/dev/null || true

"$helper" busy &
pid=$!
main=$(find_window '^Corvantis Vantory')
busy=$(find_window '^Program is busy')
# Let the window sit where it would: over the middle of the main window.
xdotool windowmove "$main" 40 40
xdotool windowmove "$busy" 240 200
sleep 1.6
import -window root "$work_png"
convert "$work_png" -trim +repage "$out/busy-window.png"
echo "saved $out/busy-window.png"
wait "$pid" 2>/dev/null || true
SESSION

xvfb-run -a -s "-screen 0 1024x768x24 -br" bash "$work/session.sh" \
    "$build/src/vantory" "$work/screenshot_helper" "$out"
