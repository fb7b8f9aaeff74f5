#!/bin/sh
# packaging_test.sh tree|validate BUILD_DIR: installs into a scratch folder and checks the
# tree (program, icons at their sizes, desktop entry and metadata naming each other), or runs
# desktop-file-validate and appstreamcli on it (exit 77, skipped, when either is missing).
set -u

mode=$1 build=$2
app_id=org.corvantis.vantory

stage=$(mktemp -d "${TMPDIR:-/tmp}/vantory-install.XXXXXX") || exit 1
trap 'rm -rf "$stage"' EXIT INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

log=$(DESTDIR="$stage" cmake --install "$build" --prefix /usr 2>&1) ||
    { echo "$log"; echo "FAIL: cmake --install"; exit 1; }
share=$stage/usr/share
desktop=$share/applications/vantory.desktop
metainfo=$share/metainfo/$app_id.metainfo.xml

# The value of KEY in the desktop entry's main group (actions have groups of their own).
desktop_value() {
    sed -n "/^\[Desktop Entry\]/,/^\[/ s/^$1=//p" "$desktop" 2>/dev/null
}

check_tree() {
    [ -x "$stage/usr/bin/vantory" ] || fail "program not installed as bin/vantory"
    icon=$(desktop_value Icon)
    [ "$icon" = vantory ] || fail "desktop entry names icon '$icon', not 'vantory'"
    grep -q '<svg' "$share/icons/hicolor/scalable/apps/vantory.svg" 2>/dev/null ||
        fail "scalable icon missing or not SVG"
    for n in 16 24 32 48 64 128 256; do
        # Width and height from the IHDR chunk that follows the PNG signature.
        size=$(od -An -tu1 -N24 "$share/icons/hicolor/${n}x$n/apps/vantory.png" 2>/dev/null |
            awk -v RS= '$1 == 137 && $2 == 80 && $3 == 78 && $4 == 71 && $5 == 13 && $8 == 10 {
                printf "%dx%d", (($17*256+$18)*256+$19)*256+$20, (($21*256+$22)*256+$23)*256+$24 }')
        [ "$size" = "${n}x$n" ] || fail "icon ${n}x$n missing, not a PNG or of size '$size'"
    done

    exec_cmd=$(desktop_value Exec)
    [ -x "$stage/usr/bin/${exec_cmd%% *}" ] || fail "desktop entry starts '$exec_cmd', not the installed program"
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
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate"
    echo "$out"
    ! echo "$out" | grep -Eq ': (error|warning):' || fail "desktop-file-validate warns"
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
