#!/usr/bin/env bash
# End-to-end test of the real program on a virtual X display, driven with xdotool: a first start
# with FILE, hides from the dialog, sealed and handed over, a filtered restore, an edited original
# and Restore All, a hide again, Run Selected File, a new password and storage folder, the idle
# lock, then the disk. Usage: tests/e2e/run_e2e.sh [build folder]. Exits 0 on success, 1 on failure (keeping
# the work folder it names, with a screenshot), 77 when a tool is missing.
set -euo pipefail

if [ "${1:-}" != --session ]; then
    build=$(cd "${1:-$(dirname "$0")/../../build/default}" && pwd)
    for tool in xvfb-run xauth xdotool openbox; do
        command -v "$tool" >/dev/null || { echo "e2e: $tool not found, end-to-end test skipped"; exit 77; }
    done
    # A virtual display that cannot be reached (status 75) is set up afresh, twice at most.
    for attempt in 1 2 3; do
        work=$(mktemp -d "${TMPDIR:-/tmp}/vantory-e2e.XXXXXX")
        status=0
        # Two minutes at most; -noreset, or a client arriving during a reset is refused.
        timeout -k 5 120 xvfb-run -a -e "$work/xvfb.log" -s "-screen 0 1024x768x24 -noreset" \
            bash "$0" --session "$work" "$build" || status=$?
        [ "$status" = 75 ] && [ "$attempt" -lt 3 ] || break
        echo "e2e: the virtual display did not work, starting another one" >&2
        cat "$work/xvfb.log" "$work/openbox.log" >&2 2>/dev/null || true
        rm -rf "$work"
    done
    if [ "$status" = 0 ]; then
        chmod -R u+w "$work" 2>/dev/null || true
        rm -rf "$work"
        echo "e2e: passed in ${SECONDS}s"
        exit 0
    fi
    echo "e2e: FAILED (status $status); screenshot, program output and settings kept in $work" >&2
    exit 1
fi

# ---- From here on: inside the virtual display. ----

work=$2
program=$3/src/vantory
check=$3/tests/e2e/vantory_e2e_check
config=$work/config        # XDG_CONFIG_HOME; the settings and storage folder is $config/vantory
store=$config/vantory
files=$work/files          # the user's files
originals=$work/originals  # copies of their bytes, to compare with
moved=$work/moved          # the storage folder set at the end
mkdir -p "$config" "$work/home" "$work/runtime" "$files" "$originals"
chmod 700 "$work/runtime"

plain_file=$files/notes-2024.txt
sealed_file=$files/photo-archive.bin
first_file=$work/home/from-the-command-line.txt  # named as FILE at the first start
handed_file=$files/handed-over.dat               # handed to the running copy
# Bytes of every value, line ends of every kind and some random content.
make_content() {
    printf 'first line\r\nsecond line\nthird\r'
    head -c 3000 /dev/urandom
    printf '\000\001\377\r\n'
}
for name in plain sealed first handed; do
    eval "make_content | tee \"\$originals/$name\" >\"\$${name}_file\""
done

step=start program_pid= wm_pid=

fail() {
    echo "e2e: FAILED at step '$step': $*" >&2
    import -window root "$work/failure.png" 2>/dev/null || true
    [ ! -s "$work/program.log" ] || { echo "e2e: program output:" && tail -n 20 "$work/program.log"; } >&2
    exit 1
}

trap 'for pid in $program_pid $wm_pid; do kill "$pid" 2>/dev/null || true; done' EXIT

# Polls a command until it succeeds, for at most 20 seconds.
wait_until() { # description, command...
    local what=$1 deadline=$((SECONDS + 20))
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

# Gives a window the keyboard, as a click on it would.
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

# Gives the password to the window named by the pattern and waits for the main window.
password=kumquat
log_in() { answer "$1" "$password" && main=$(window '^Corvantis Vantory v1\.0$'); }

# Keys pressed in the main window.
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

# Waits until regInfo.lst has $1 lines (and the rest of the arguments hold) and no hide runs.
hidden_with() {
    local lines=$1
    shift
    wait_until "regInfo.lst of $lines lines" eval "has_lines \"\$store/regInfo.lst\" $lines $*"
    wait_until "the end of the command" hidden '^Program is busy'
    # The command serves the window while it works, so its busy window may not have reached
    # the screen yet: keys pressed before the command ends would be ignored. A program that
    # has used no processor time for half a second is waiting for input.
    wait_until "the program to wait for input" settled
}

# A plain X session without a desktop theme, so that Qt shows its own file dialog. Its opener
# of files notes what it was asked to open, as an application that shows nothing would.
mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
desktop=(env -u QT_QPA_PLATFORMTHEME -u XDG_CURRENT_DESKTOP -u QT_STYLE_OVERRIDE
    QT_QPA_PLATFORM=xcb HOME="$work/home" XDG_CONFIG_HOME="$config"
    XDG_RUNTIME_DIR="$work/runtime" PATH="$work/bin:$PATH")

start_program() { # [VARIABLE=value...] arguments...
    (cd "$work/home" && exec "${desktop[@]}" "$@" >>"$work/program.log" 2>&1) &
    program_pid=$!
}

close_program() {
    press alt+F4
    local pid=$program_pid
    program_pid=
    wait_until "the program to end after Alt+F4" eval "! kill -0 $pid 2>/dev/null"
    wait "$pid" || fail "the program ended with status $?"
}

step=window-manager
# The display first: when it cannot be reached, the caller sets up another one.
deadline=$((SECONDS + 10))
until xdotool getdisplaygeometry >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "e2e: cannot reach display $DISPLAY" >&2; exit 75; }
    sleep 0.1
done
start_wm() { HOME="$work/home" XDG_CONFIG_HOME="$config" openbox >>"$work/openbox.log" 2>&1 & wm_pid=$!; }
wm_starts=1
# Ready when it answers; started again when it ended, three times at most.
wm_ready() {
    kill -0 "$wm_pid" 2>/dev/null && { xdotool get_num_desktops >/dev/null 2>&1; return; }
    echo "e2e: openbox ended: $(cat "$work/openbox.log")" >&2
    [ $((wm_starts += 1)) -le 3 ] || exit 75
    start_wm
    return 1
}
start_wm
wait_until "the window manager" wm_ready

step=first-start
start_program "$program" "$(basename "$first_file")"
window '^Program file not found$' >/dev/null
has_lines "$store/regInfo.lst" 3 || fail "regInfo.lst was not written with three lines"
[ -f "$first_file" ] || fail "the file named at the start was hidden before the login"
answer '^Program file not found$' ""

step=login
log_in '^Default password = "kumquat"$'
hidden_with 4 '&& [ ! -e "$first_file" ]'

step=hide-plain
press alt+h
answer '^Add File$' "$plain_file"
hidden_with 5 '&& [ ! -e "$plain_file" ]'

step=hide-sealed
press alt+e alt+h
answer '^Add File$' "$sealed_file"
hidden_with 6 '&& [ -f "$sealed_file" ]'

step=hand-over
# A second start with a FILE relative to its own working folder; it must end by itself.
(cd "$files" && exec timeout 20 "${desktop[@]}" "$program" --hide "$(basename "$handed_file")") \
    >"$work/second.log" 2>&1 || fail "the second start ended with status $?: $(cat "$work/second.log")"
hidden_with 7 '&& [ -f "$handed_file" ]'

step=filter
press ctrl+f
xdotool type --delay 20 NOTES-20
# The one row left, below the filter box: the plain file.
xdotool mousemove --window "$main" 60 30 click 1
xdotool key alt+s
hidden_with 6 '&& [ -f "$plain_file" ]'

step=edit-then-restore-all
# A sealed entry's original stayed and is edited on; restored, neither copy is lost.
printf 'edited since it was hidden\n' >>"$sealed_file"
cp "$sealed_file" "$originals/edited"
press alt+m
xdotool mousemove --window "$main" 273 10 click 1   # the filter's clear button
xdotool mousemove --window "$main" 530 74 click 1   # Restore All Files
answer '^Restore$' ""  # names the file restored beside the edited one
hidden_with 3 '&& [ -f "$first_file" ]'

step=hide-again
press alt+h
answer '^Add File$' "$handed_file"
hidden_with 4

step=run-selected-file
xdotool mousemove --window "$main" 60 30 click 1
press alt+r
wait_until "the open copy" test -f "$store/tempFile.dat"
cmp -s "$store/tempFile.dat" "$originals/handed" || fail "the open copy is not the hidden file"
wait_until "the opener" grep -q "/tempFile\\.dat$" "$work/opened"
xdotool mousemove --window "$main" 438 202 click 1  # Delete Temporary File
answer '^File deleted$' ""

step=change-password
xdotool mousemove --window "$main" 502 20 click 1  # the Access and Security Control tab
press alt+p
answer '^Enter new password$' lychee
answer '^Confirm Password$' lychee
answer '^Password changed$' ""
password=lychee

step=move-storage
press alt+f
answer '^Enter new directory$' "$moved/"
answer '^Storage directory set$' ""
[ -f "$moved/100.txt" ] && [ ! -e "$store/100.txt" ] || fail "the stored file did not move"
close_program

step=idle-lock
start_program VANTORY_IDLE_LOCK_SECONDS=2 "$program"
log_in '^Login$'
# Left alone, the window hides and the password window asks again.
wait_until "the idle lock" eval 'hidden "^Corvantis Vantory" && visible "^Login$"'
log_in '^Login$'
close_program

# ---- What is on disk: each file, its attributes and whose bytes it holds; then the settings. ----
step=check
holds() { # file
    local name
    for name in plain sealed first handed edited; do
        ! cmp -s "$1" "$originals/$name" || { echo "$name" && return; }
    done
    [ "$1" != "$work/unsealed" ] && "$check" unseal "$1" "$work/unsealed" "$password" 2>/dev/null &&
        name=$(holds "$work/unsealed") && [ "$name" != other ] && echo "sealed $name" || echo other
}
shopt -s dotglob
for path in "$files"/* "$first_file" "$store"/* "$moved"/*; do
    echo "${path#"$work"/} $("$check" attributes "$path") $(holds "$path")"
done >"$work/disk.txt"
"$check" settings "$store" "$password" >>"$work/disk.txt" || fail "regInfo.lst cannot be read"
diff -u - "$work/disk.txt" >&2 <<EOF || fail "the disk does not hold what was expected"
files/handed-over.dat 0 handed
files/notes-2024.txt 0 plain
files/photo-archive (restored).bin 0 sealed
files/photo-archive.bin 0 edited
home/from-the-command-line.txt 0 first
config/vantory/regInfo.lst 0 other
config/vantory/vantory.conf 0 other
config/vantory/vantory.lock 0 other
moved/100.txt 7 sealed handed
password lychee
storage $moved/
extension txt
line 1|100|$handed_file
EOF
