#!/usr/bin/env bash
# Runs the real program in its own X server and drives it with real mouse and keyboard input:
# types a folder into the path box, clicks Search and Execute, checks the renamed files on disk,
# saves a screenshot and ends the program with its Exit button.
# Usage: real_window_test.sh <batch-renamer> <folder for the screenshot>
set -euo pipefail

program="$1"
output_dir="$2"
skip=77

for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit "$skip"
    fi
done

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Xvfb picks a free display itself and names it on the pipe once it accepts clients.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
read -r -t 30 display_number <"$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$display_number"

tree="$work/tree"
mkdir -p "$tree/one" "$tree/two"
printf 'a' >"$tree/one/a.txt"
printf 'b' >"$tree/two/b.txt"
printf 'm' >"$tree/one/notes.md"

QT_QPA_PLATFORM=xcb timeout 120 "$program" >"$work/program.log" 2>&1 &
app_pid=$!

window="$(timeout 30 xdotool search --sync --onlyvisible --name '批量文件重命名' | head -n 1)" \
    || fail "the window did not appear: $(cat "$work/program.log")"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 809 ] && [ "$HEIGHT" = 278 ] || fail "client area is ${WIDTH}x${HEIGHT}, not 809x278"

# Clicks the middle of a control given by its top-left corner and size in the window, in pixels.
click() {
    xdotool mousemove --sync $((X + $1 + $3 / 2)) $((Y + $2 + $4 / 2)) click 1
}

# A fingerprint of what a rectangle of the window shows right now.
look() {
    import -window root -crop "$3x$4+$((X + $1))+$((Y + $2))" -depth 8 rgb:- | md5sum
}

# Waits until the rectangle shows something other than `before`, taking one look after another.
wait_for_change() {
    local before="$1" deadline=$((SECONDS + 30))
    shift
    while [ "$(look "$@")" = "$before" ]; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
    done
}

count_label=(408 252 153 17)
completion_label=(568 252 153 17)
count_before="$(look "${count_label[@]}")"
completion_before="$(look "${completion_label[@]}")"

click 72 48 219 20 # the path box
xdotool type --delay 10 "$tree"
click 304 80 65 20 # Search
wait_for_change "$count_before" "${count_label[@]}" || fail "the file count never appeared"

click 320 208 65 20 # Execute
wait_for_change "$completion_before" "${completion_label[@]}" || fail "the completion text never appeared"

import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$output_dir/real_window.png"

expected="$(printf '%s\n' one/1.txt:a one/notes.md:m two/1.txt:b)"
actual="$(cd "$tree" && find . -type f -printf '%P\n' | sort | while read -r file; do echo "$file:$(cat "$file")"; done)"
[ "$actual" = "$expected" ] || fail "files after execute:
$actual
expected:
$expected"

click 736 248 65 20 # Exit
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" = 0 ] || fail "the program ended with status $status: $(cat "$work/program.log")"

echo "PASS: renamed through the real window; screenshot in $output_dir/real_window.png"
