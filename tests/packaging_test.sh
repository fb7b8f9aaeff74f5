#!/bin/sh
# packaging_test.sh tree|validate BUILD_DIR: installs into a scratch folder and checks the
# tree (program, icons at their sizes, desktop entry and metadata naming each other), or runs
# desktop-file-validate and appstreamcli on it (exit 77, skipped, when either is missing).
set -u

mode=$1 build=$2
app_id=org.corvantis.vantory
sizes="16 24 32 48 64 128 256"

stage=$(mktemp -d "${TMPDIR:-/tmp}/vantory-install.XXXXXX") || exit 1
trap 'rm -rf "$stage"' EXIT INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

log=$(DESTDIR="$stage" cmake --install "$build" --prefix /usr 2>&1) ||
    { echo "$log"; echo "FAIL: cmake --install"; exit 1; }
root=$stage/usr
share=$root/share
desktop=$share/applications/vantory.desktop
metainfo=$share/metainfo/$app_id.metainfo.xml

# Width and height of a PNG, read from its IHDR chunk.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1*256+$2)*256+$3)*256+$4, (($5*256+$6)*256+$7)*256+$8 }'
}

# The value of KEY in the desktop entry's main group (actions have groups of their own).
desktop_value() {
    sed -n "/^\[Desktop Entry\]/,/^\[/ s/^$1=//p" "$desktop"
}

check_tree() {
    [ -x "$root/bin/vantory" ] || fail "program not installed as bin/vantory"
    [ -f "$desktop" ] || fail "desktop entry not installed as share/applications/vantory.desktop"
    [ -f "$metainfo" ] || fail "AppStream metadata not installed as share/metainfo/$app_id.metainfo.xml"

    icon=$(desktop_value Icon)
    [ "$icon" = vantory ] || fail "desktop entry names icon '$icon', installed icons are 'vantory'"
    grep -q '<svg' "$share/icons/hicolor/scalable/apps/vantory.svg" 2>/dev/null ||
        fail "scalable icon missing or not SVG"
    for n in $sizes; do
        png=$share/icons/hicolor/${n}x$n/apps/vantory.png
        if [ ! -f "$png" ]; then
            fail "icon ${n}x$n missing"
        elif [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
            fail "icon ${n}x$n is not a PNG"
        elif [ "$(png_size "$png")" != "${n}x$n" ]; then
            fail "icon ${n}x$n has size $(png_size "$png")"
        fi
    done

    exec_cmd=$(desktop_value Exec)
    [ -x "$root/bin/${exec_cmd%% *}" ] || fail "desktop entry starts '$exec_cmd', not the installed program"
    # File managers hand the files to it, and offer "Hide with Vantory" for them.
    [ "${exec_cmd#* }" = %F ] || fail "desktop entry's Exec '$exec_cmd' does not take files (%F)"
    sed -n '/^\[Desktop Action hide\]/,/^\[/p' "$desktop" | grep -qx 'Exec=vantory --hide %F' ||
        fail "desktop entry has no action running 'vantory --hide %F'"
    grep -q "<launchable type=\"desktop-id\">vantory.desktop</launchable>" "$metainfo" ||
        fail "metadata does not launch vantory.desktop"
    grep -q "<binary>${exec_cmd%% *}</binary>" "$metainfo" ||
        fail "metadata does not provide the binary '${exec_cmd%% *}'"
}

validate() {
    if ! command -v desktop-file-validate >/dev/null || ! command -v appstreamcli >/dev/null; then
        echo "desktop-file-validate or appstreamcli missing (packages desktop-file-utils, appstream)"
        exit 77
    fi
    # Hints are advice only; errors and warnings fail.
    out=$(desktop-file-validate "$desktop" 2>&1)
    status=$?
    echo "$out"
    if [ "$status" -ne 0 ] || echo "$out" | grep -Eq ': (error|warning):'; then
        fail "desktop-file-validate"
    fi
    # validate-tree also checks the file name against the id and the launchable entry.
    appstreamcli validate-tree --no-net "$stage/usr" || fail "appstreamcli validate-tree"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
}

case $mode in
tree) check_tree ;;
validate) validate ;;
*) echo "usage: $0 tree|validate BUILD_DIR"; exit 2 ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
