#!/usr/bin/env bash
# The installed program on its own Xvfb, by real keys: read the signature and the firmware (into
# corvex.INI's default file), SIGTERM with the final box open: ends within 2 s, its files right.
set -euo pipefail

build=${1:?usage: keyboard_e2e.sh BUILD_DIR}
work=$(mktemp -d)
xvfb_pid="" corvex_pid=""
finish() {
    local status=$?
    [ -n "$corvex_pid" ] && kill -KILL "$corvex_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    if [ "$status" -ne 0 ]; then
        for file in "$work/corvex.out" "$work/prefix/bin/corvex.LOG"; do
            [ -f "$file" ] && { echo "--- $file:"; cat "$file"; }
        done
    fi
    rm -rf "$work"
    exit "$status"
}
trap finish EXIT
fail() { echo "keyboard_e2e: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
program="$work/prefix/bin/corvex"
[ -x "$program" ] || fail "cmake --install put no program into the prefix"

# Beside the program: the read's default file (used only if it exists) and all 19 areas PGM.
echo "an earlier read" >"$work/read.bin"
{
    printf '[Config]\nAutoReadFirmware=%s\nTimeoutControl=1\nStopOnError=1\n\n[Areas]\n' \
        "$work/read.bin"
    for area in $(seq 0 18); do printf 'Area%02d=00000000\n' "$area"; done
    printf 'Area19=00000002\n'
} >"$work/prefix/bin/corvex.INI"

# An X server of its own, on whichever display is free.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

started=$(date +%s)
TMPDIR="$work" QT_QPA_PLATFORM=xcb "$program" --port sim --sim-dir "$work/receiver" \
    >"$work/corvex.out" 2>&1 &
corvex_pid=$!
main=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvex V4\.00C') ||
    fail "the main window did not appear"
main=${main%%$'\n'*}

# Keys go to the main window; the about box of the first seconds may sit on top of it.
keys() {
    timeout 5 xdotool windowfocus --sync "$main" 2>/dev/null || true
    xdotool key --delay 80 "$@"
}
box_open() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
title_has() { xdotool getwindowname "$main" 2>/dev/null | grep -qF -- "$1"; }

keys alt+f g # Flash > Read Signature
# Read Firmware is on once the signature is known (until then its key leaves the menu open); a
# started read shows its share in the title, then its box.
for _ in $(seq 20); do
    keys alt+f f
    for _ in $(seq 10); do
        { box_open Information || title_has " % - "; } && break 2
        sleep 0.1
    done
    keys Escape # closes the menu; no job runs that it could break
done
for _ in $(seq 300); do box_open Information && break; sleep 0.1; done
box_open Information || fail "no final report box after Read Firmware"

# SIGTERM while the box is open: the program must end within 2 s, having written its files.
sent=$(date +%s%N)
kill -TERM "$corvex_pid"
for _ in $(seq 40); do kill -0 "$corvex_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$corvex_pid" 2>/dev/null && fail "still running 2 s after SIGTERM with a box open"
status=0 && wait "$corvex_pid" || status=$?
corvex_pid=""
echo "keyboard_e2e: closed $(( ($(date +%s%N) - sent) / 1000000 )) ms after SIGTERM"
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"

cmp -s "$work/read.bin" "$work/receiver/flash.bin" ||
    fail "the file read through the menus is not the receiver's flash"
log="$work/prefix/bin/corvex.LOG"
for line in "SIGNATURE" "RFW" "Read Firmware function completed successful." \
    "Writing configuration data to $work/prefix/bin/corvex.INI"; do
    grep -qF -- "$line" "$log" || fail "corvex.LOG lacks \"$line\""
done
grep -qF "Operation aborted." "$log" && fail "corvex.LOG reports an abort though no job ran"
ini="$work/prefix/bin/corvex.INI"
grep -qxF "AutoReadFirmware=$work/read.bin" "$ini" || fail "corvex.INI lost the default file"
grep -qxF "LastReadFirmwarePath=$work/read.bin" "$ini" || fail "corvex.INI lacks the last read"
grep -qxF "Area00=00001000" "$ini" || fail "corvex.INI lacks area 0's word as the read left it"
echo "keyboard_e2e: passed in $(( $(date +%s) - started )) s"
