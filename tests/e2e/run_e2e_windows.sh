#!/usr/bin/env bash
# End-to-end test of the Windows program under wine, driven with xdotool on a virtual X display:
# the installer run silently in a fresh wine prefix, then the installed program's first start
# with a FILE whose name is outside the ANSI code page, the login, hides through the file dialog
# (plain and sealed), a file handed over by a second start, an edited original and Restore All,
# a hide again, Run Selected File (in Notepad) and its second press, a new password and storage
# folder; then the disk in the prefix.
#
# Usage: tests/e2e/run_e2e_windows.sh [Windows build folder] [Linux build folder]
# The first holds vantory-<version>-setup.exe (`make windows-package`), the second the reader of
# the settings file and sealed files, vantory_e2e_check (the formats are the same on both
# systems). SCREENSHOTS=folder keeps pictures of the windows there. Prints the time of each
# step. Exits 0 on success, 1 on failure (keeping the work folder it names, with a screenshot),
# 77 when a tool is missing.
set -euo pipefail

if [ "${1:-}" != --session ]; then
    root=$(dirname "$0")/../..
    windows=$(cd "${1:-$root/build/windows}" && pwd)
    linux=$(cd "${2:-$root/build/default}" && pwd)
    for tool in wine wineboot wineserver makensis xvfb-run xauth xdotool openbox; do
        command -v "$tool" >/dev/null || { echo "e2e-windows: $tool not found, skipped"; exit 77; }
    done
    installer=$(find "$windows" -maxdepth 1 -name 'vantory-*-setup.exe' | sort | tail -n1)
    [ -n "$installer" ] || { echo "e2e-windows: no installer in $windows" >&2; exit 1; }
    check=$linux/tests/e2e/vantory_e2e_check
    [ -x "$check" ] || { echo "e2e-windows: $check is not built" >&2; exit 1; }
    shots=
    [ -z "${SCREENSHOTS:-}" ] || shots=$(mkdir -p "$SCREENSHOTS" && cd "$SCREENSHOTS" && pwd)
    # A virtual display that cannot be reached (status 75) is set up afresh, twice at most.
    for attempt in 1 2 3; do
        work=$(mktemp -d "${TMPDIR:-/tmp}/vantory-e2e-windows.XXXXXX")
        status=0
        timeout -k 10 300 xvfb-run -a -e "$work/xvfb.log" -s "-screen 0 1024x768x24 -noreset" \
            bash "$0" --session "$work" "$installer" "$check" "$shots" || status=$?
        [ "$status" = 75 ] && [ "$attempt" -lt 3 ] || break
        echo "e2e-windows: the virtual display did not work, starting another one" >&2
        rm -rf "$work"
    done
    if [ "$status" = 0 ]; then
        chmod -R u+w "$work" 2>/dev/null || true
        rm -rf "$work"
        echo "e2e-windows: passed in ${SECONDS}s"
        exit 0
    fi
    echo "e2e-windows: FAILED (status $status); screenshot, program output and prefix kept in $work" >&2
    exit 1
fi

# ---- From here on: inside the virtual display. ----

work=$2 installer=$3 check=$4 shots=$5
# A prefix of its own, with the X11 graphics driver; nothing is written to the host's menus or
# file associations (winemenubuilder), and no Mono or Gecko is offered. The prefix links the
# user's Documents to the home folder's, so that is the work folder's too.
export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work/home LC_ALL=C.UTF-8 \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
mkdir -p "$HOME" "$work/originals"
originals=$work/originals

program_pid='' wm_pid='' step='' step_started=$(date +%s%N)
seconds() { printf '%d.%02d' $(($1 / 1000000000)) $(($1 / 10000000 % 100)); }
# Starts the next step, printing the time the one before took.
begin() { # step name
    local now
    now=$(date +%s%N)
    [ -z "$step" ] || echo "e2e-windows: $step $(seconds $((now - step_started))) s"
    step=$1 step_started=$now
}

fail() {
    echo "e2e-windows: FAILED at step '$step': $*" >&2
    import -window root "$work/failure.png" 2>/dev/null || true
    [ ! -s "$work/program.log" ] || { echo "e2e-windows: program output:" && tail -n 20 "$work/program.log"; } >&2
    exit 1
}

trap 'for pid in $program_pid $wm_pid; do kill "$pid" 2>/dev/null || true; done
      wineserver -k 2>/dev/null || true' EXIT

# Polls a command until it succeeds, for at most 30 seconds.
wait_until() { # description, command...
    local what=$1 deadline=$((SECONDS + 30))
    shift
    until "$@"; do
        if [ -n "$program_pid" ] && ! kill -0 "$program_pid" 2>/dev/null; then
            fail "the program ended while waiting for $what"
        fi
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}

# The ids of the visible windows whose name matches; again on an X error (a window vanished).
find_windows() { # name pattern
    local attempt
    for attempt in $(seq 10); do
        xdotool search --onlyvisible --name "$1" 2>"$work/xdotool.err" && return
        grep -q 'X Error' "$work/xdotool.err" || return 1
        sleep 0.05
    done
    fail "xdotool keeps failing: $(cat "$work/xdotool.err")"
}
visible() { find_windows "$1" >/dev/null; }
hidden() { ! visible "$1"; }

activate() { # window id
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 ||
        xdotool windowfocus --sync "$1" ||
        fail "could not activate window $1"
}

# Waits for a window whose name matches the pattern, gives it the keyboard and prints its id.
window() { # name pattern
    pattern=$1
    wait_until "a window named $1" eval 'window_id=$(find_windows "$pattern" | head -n1) && [ -n "$window_id" ]'
    activate "$window_id"
    echo "$window_id"
}

# Types the text and Return into the window named by the pattern, and waits for it to go.
answer() { # name pattern, text
    window "$1" >/dev/null
    [ -z "$2" ] || xdotool type --delay 20 "$2"
    xdotool key Return
    wait_until "the window named $1 to close" hidden "$1"
}

# A picture of the window with its frame, when SCREENSHOTS asks for them.
shoot() { # window id, file name
    [ -z "$shots" ] || import -frame -window "$1" "$shots/$2" || fail "no screenshot $2"
}

press() { activate "$main" && xdotool key "$@"; }
has_lines() { [ -f "$1" ] && [ "$(wc -l <"$1" | tr -d ' ')" = "$2" ]; }

# Whether the program used no processor time for half a second.
settled() {
    local before after
    before=$(cut -d' ' -f14,15 "/proc/$program_pid/stat") || return 1
    sleep 0.5
    after=$(cut -d' ' -f14,15 "/proc/$program_pid/stat") || return 1
    [ "$before" = "$after" ]
}

# Waits until regInfo.lst has $1 lines (and the rest of the arguments hold) and no command runs.
hidden_with() {
    local lines=$1
    shift
    wait_until "regInfo.lst of $lines lines" eval "has_lines \"\$settings/regInfo.lst\" $lines $*"
    wait_until "the end of the command" hidden '^Program is busy'
    wait_until "the program to wait for input" settled
}

begin window-manager
deadline=$((SECONDS + 10))
until xdotool getdisplaygeometry >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "e2e-windows: cannot reach display $DISPLAY" >&2; exit 75; }
    sleep 0.1
done
openbox >>"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_until "the window manager" eval 'kill -0 $wm_pid && xdotool get_num_desktops >/dev/null 2>&1'

begin prefix
wineboot --init >>"$work/wine.log" 2>&1 || fail "wineboot failed"
# Text files open in Notepad, as on Windows (the prefix associates no extension with it).
wine reg add 'HKCR\.txt' /ve /d txtfile /f >>"$work/wine.log" 2>&1 || fail "no association"
user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public -printf '%f\n')
[ -n "$user" ] || fail "no user folder in the prefix"
profile=$WINEPREFIX/drive_c/users/$user
win_profile="C:\\users\\$user"
settings=$profile/AppData/Roaming/vantory
docs=$profile/Documents/Papers win_docs="$win_profile\\Documents\\Papers"
vault=$profile/Vault win_vault="$win_profile\\Vault\\"
# Never the files of the user running the test.
[[ $(realpath -m "$docs") == "$work"/* ]] || fail "Documents leads out of $work"
mkdir -p "$docs"

# Bytes of every value, line ends of every kind and some random content.
make_content() {
    printf 'first line\r\nsecond line\nthird\r'
    head -c 3000 /dev/urandom
    printf '\000\001\377\r\n'
}
first_name='grüße-Ωμέγα.txt'  # named on the command line: it cannot be typed
for name in plain:notes-2024.txt sealed:photo-archive.bin handed:handed-over.dat \
    "first:$first_name"; do
    make_content | tee "$originals/${name%%:*}" >"$docs/${name#*:}"
done

begin install
wine "$installer" /S /CurrentUser >>"$work/wine.log" 2>&1 || fail "the installer exited with $?"
program="$win_profile\\AppData\\Local\\Programs\\Vantory\\vantory.exe"
[ -f "$profile/AppData/Local/Programs/Vantory/vantory.exe" ] || fail "vantory.exe not installed"

start_program() { # arguments...
    (cd "$docs" && exec wine "$program" "$@" >>"$work/program.log" 2>&1) &
    program_pid=$!
}

begin first-start
start_program "$win_docs\\$first_name"
window '^Program file not found$' >/dev/null
has_lines "$settings/regInfo.lst" 3 || fail "regInfo.lst was not written with three lines"
[ -f "$docs/$first_name" ] || fail "the file named at the start was hidden before the login"
answer '^Program file not found$' ""

begin login
shoot "$(window '^Default password = "kumquat"$')" login-window.png
answer '^Default password = "kumquat"$' kumquat
main=$(window '^Corvantis Vantory v1\.0$')
hidden_with 4 '&& [ ! -e "$docs/$first_name" ]'

begin hide-plain
press alt+h
answer '^Add File$' "$win_docs\\notes-2024.txt"
hidden_with 5 '&& [ ! -e "$docs/notes-2024.txt" ]'

begin hide-sealed
# For a picture of the busy window the hide must last: a larger file.
[ -z "$shots" ] || head -c 300M /dev/zero | tee -a "$originals/sealed" >>"$docs/photo-archive.bin"
press alt+e alt+h # Encrypt File(s) When Hiding Them, then Hide File(s)
answer '^Add File$' "$win_docs\\photo-archive.bin"
if [ -n "$shots" ]; then
    wait_until "the busy window" visible '^Program is busy'
    sleep 1 # drawn, and a tick of its timer later
    visible '^Program is busy' || fail "the busy window went before its picture"
    # The busy window over the main window: the screen, cut to what is not its black ground
    # (a picture of the main window alone leaves out the window over it).
    import -window root "$work/screen.png" &&
        convert "$work/screen.png" -bordercolor black -border 1 -trim +repage \
            "$shots/busy-window.png" || fail "no screenshot of the busy window"
fi
hidden_with 6 '&& [ -f "$docs/photo-archive.bin" ]'
shoot "$main" main-window-files.png

begin hand-over
# A second start as Send To's "Hide with Vantory" makes it: it hands its file over and ends.
timeout 30 wine "$program" --hide "$win_docs\\handed-over.dat" >"$work/second.log" 2>&1 ||
    fail "the second start ended with status $?: $(cat "$work/second.log")"
hidden_with 7 '&& [ -f "$docs/handed-over.dat" ]'

begin edit-then-restore-all
# The sealed entry's original stayed and is edited on; restored, neither copy is lost.
printf 'edited since it was hidden\n' >>"$docs/photo-archive.bin"
cp "$docs/photo-archive.bin" "$originals/edited"
press alt+a space # Alt+A reaches Restore All Files (the second tab shares the letter)
answer '^Restore$' "" # names the file restored beside the edited one
hidden_with 3 '&& [ -f "$docs/notes-2024.txt" ] && [ -f "$docs/$first_name" ]'

begin hide-again
press alt+h # still sealed
answer '^Add File$' "$win_docs\\notes-2024.txt"
hidden_with 4

begin run-selected-file
press ctrl+f Tab space Return # the filter box, the list, its one row, Run Selected File
wait_until "the open copy" test -f "$settings/tempFile.txt"
cmp -s "$settings/tempFile.txt" "$originals/plain" || fail "the open copy is not the hidden file"
window '^tempFile\.txt - Notepad$' >/dev/null
xdotool key alt+F4
wait_until "Notepad to close" hidden 'Notepad$'
press Return # the second press: Delete Temporary File
answer '^File deleted$' ""
[ ! -e "$settings/tempFile.txt" ] || fail "the open copy is still there"

begin change-password
press alt+m Right # the Access and Security Control tab
sleep 0.3
shoot "$main" main-window-settings.png
press alt+p
answer '^Enter new password$' lychee
answer '^Confirm Password$' lychee
answer '^Password changed$' ""
password=lychee

begin move-storage
press alt+f
answer '^Enter new directory$' "$win_vault"
answer '^Storage directory set$' ""
[ -f "$vault/100.txt" ] && [ ! -e "$settings/100.txt" ] || fail "the stored file did not move"

begin close
press alt+F4
wait_until "the program to end after Alt+F4" eval "! kill -0 $program_pid 2>/dev/null"
wait "$program_pid" || fail "the program ended with status $?"
program_pid=

# ---- What is on disk: each file, its attributes and whose bytes it holds; then the settings. ----
begin check
holds() { # file
    local name
    for name in plain sealed handed first edited; do
        ! cmp -s "$1" "$originals/$name" || { echo "$name" && return; }
    done
    [ "$1" != "$work/unsealed" ] && "$check" unseal "$1" "$work/unsealed" "$password" 2>/dev/null &&
        name=$(holds "$work/unsealed") && [ "$name" != other ] && echo "sealed $name" || echo other
}
shopt -s dotglob
# The attributes as Windows has them: attrib's letters R, H and S.
attributes() { # path
    local line letter
    line=$(wine attrib "$(sed 's|.*/drive_c/|C:/|; s|/|\\|g' <<<"$1")" 2>>"$work/wine.log")
    [[ $line == *:\\* && $line != *"Not Found"* ]] || fail "attrib of $1: $line"
    for letter in R H S; do [[ ${line:0:11} != *$letter* ]] || printf %s $letter; done
}
for path in "$docs"/* "$settings"/* "$vault"/*; do
    letters=$(attributes "$path")
    echo "${path#"$profile"/} ${letters:--} $(holds "$path")"
done >"$work/disk.txt"
"$check" settings "$settings" "$password" >>"$work/disk.txt" || fail "regInfo.lst cannot be read"
diff -u - "$work/disk.txt" >&2 <<EOF || fail "the disk does not hold what was expected"
Documents/Papers/grüße-Ωμέγα.txt - first
Documents/Papers/handed-over.dat - handed
Documents/Papers/notes-2024.txt - plain
Documents/Papers/photo-archive (restored).bin - sealed
Documents/Papers/photo-archive.bin - edited
AppData/Roaming/vantory/regInfo.lst - other
AppData/Roaming/vantory/vantory.conf - other
AppData/Roaming/vantory/vantory.lock - other
Vault/100.txt RHS sealed plain
password lychee
storage $win_vault
extension txt
line 1|100|$win_docs\\notes-2024.txt
EOF
begin done
