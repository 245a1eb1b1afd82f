#!/usr/bin/env bash
# Runs the real program in its own X server and drives it with real mouse and keyboard input:
# types a folder into the path box, clicks Search and Execute, checks the renamed files on disk,
# saves a screenshot and ends the program with its Exit button. Meanwhile it reads through the
# accessibility bus (AT-SPI, what screen readers use) what the count label and the list frame are
# called, and which new names the program announced, and how long its questions wait for an answer
# while the program searches and renames thousands of files.
# Usage: real_window_test.sh <batch-renamer> <folder for the screenshot>
set -euo pipefail

program="$1"
output_dir="$2"
skip=77

bus_launcher=/usr/libexec/at-spi-bus-launcher
read_names=(/usr/bin/python3 "$(dirname "$0")/accessible_names.py")
for tool in Xvfb xdotool import dbus-launch dbus-send "$bus_launcher"; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit "$skip"
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIP: python3-pyatspi is not installed"
    exit "$skip"
fi

work="$(mktemp -d)"
xvfb_pid=""
session_bus_pid=""
bus_launcher_pid=""
watcher_pid=""
app_pid=""
cleanup() {
    # The accessibility bus and its registry end with the launcher that started them.
    for pid in "$app_pid" "$watcher_pid" "$bus_launcher_pid" "$session_bus_pid" "$xvfb_pid"; do
        # One that has ended already must not stop the others being ended.
        [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    wait # for the processes started here, so that none outlives the test
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

source "$(dirname "$0")/window_driver.sh"
start_x_server

# A session bus and an accessibility bus of this test's own; the sockets stay in its folder.
export XDG_RUNTIME_DIR="$work/run"
# The program's records of its executes go to a state folder of the test's own.
export XDG_STATE_HOME="$work/state"
mkdir -m 700 "$XDG_RUNTIME_DIR"
start_accessibility_bus

# Listens before the program starts, so the program knows from the start that someone listens.
"${read_names[@]}" watch >"$work/announced.log" 2>&1 &
watcher_pid=$!
wait_until 30 grep -qx ready "$work/announced.log" || fail "no accessibility listener: $(cat "$work/announced.log")"

tree="$work/tree"
mkdir -p "$tree/one" "$tree/two"
printf 'a' >"$tree/one/a.txt"
printf 'b' >"$tree/two/b.txt"
printf 'm' >"$tree/one/notes.md"

QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 timeout 300 "$program" >"$work/program.log" 2>&1 &
app_pid=$!

find_window

# Fails unless the object of the role and rectangle, in window pixels, comes to read `name` through
# the accessibility bus and the program announced that name for it.
reads() {
    local place=("$1" $((X + $2)) $((Y + $3)) "$4" "$5") name="$6"
    "${read_names[@]}" expect "${place[@]}" "$name" 30 || return 1
    if ! wait_until 30 grep -qxF "${place[*]}|$name" "$work/announced.log"; then
        echo "never announced: ${place[*]}|$name; announced were:" >&2
        cat "$work/announced.log" >&2
        return 1
    fi
}

count_label=(408 252 153 17)
completion_label=(568 252 153 17)
count_before="$(look "${count_label[@]}")"
completion_before="$(look "${completion_label[@]}")"

click 72 48 219 20 # the path box
xdotool type --delay 10 "$tree"
click 304 80 65 20 # Search
wait_for_change "$count_before" "${count_label[@]}" || fail "the file count never appeared"
reads label "${count_label[@]}" "文件数量: 2" || fail "the count label is not read as its count"

click 320 208 65 20 # Execute
wait_for_change "$completion_before" "${completion_label[@]}" || fail "the completion text never appeared"
reads label "${completion_label[@]}" "已完成 2 个文件修改!" || fail "the completion label is not read as its text"

import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$output_dir/real_window.png"

expected="$(printf '%s\n' one/1.txt:a one/notes.md:m two/1.txt:b)"
actual="$(cd "$tree" && find . -type f -printf '%P\n' | sort | while read -r file; do echo "$file:$(cat "$file")"; done)"
[ "$actual" = "$expected" ] || fail "files after execute:
$actual
expected:
$expected"

# A screen reader keeps asking while the program works: no question may wait longer than half a
# second, during a search of 20,000 files or an execute of 5,000.
many="$work/many"
mkdir -p "$many/five" "$many/rest"
(cd "$many/five" && seq -f 'photo%05g.txt' 1 5000 | xargs touch)
(cd "$many/rest" && seq -f 'photo%05g.txt' 1 15000 | xargs touch)
# Asks `label` for its name until it reads `name`, meanwhile the command given by its button runs.
answers_within_half_a_second() {
    local label=("$1" $((X + $2)) $((Y + $3)) "$4" "$5") name="$6" button=("${@:7}") longest
    "${read_names[@]}" follow "${label[@]}" "$name" 120 >"$work/follow.log" 2>&1 &
    local follower=$!
    wait_until 30 grep -qx ready "$work/follow.log" || fail "no follower: $(cat "$work/follow.log")"
    click "${button[@]}"
    wait "$follower" || fail "$(cat "$work/follow.log")"
    longest="$(tail -n 1 "$work/follow.log")"
    echo "longest wait for an answer until '$name': $longest s"
    awk -v longest="$longest" 'BEGIN { exit !(longest <= 0.5) }' || fail "a question waited $longest s"
}
set_path() {
    click 72 48 219 20
    xdotool key ctrl+a
    xdotool type --delay 5 "$1"
}
set_path "$many"
answers_within_half_a_second label "${count_label[@]}" "文件数量: 20000" 304 80 65 20 # Search
set_path "$many/five"
answers_within_half_a_second label "${count_label[@]}" "文件数量: 5000" 304 80 65 20
click 40 170 89 17 # the new-suffix option
click 128 168 49 20 # its box
xdotool key ctrl+a
xdotool type ".md"
answers_within_half_a_second label "${completion_label[@]}" "已完成 5000 个文件修改!" 320 208 65 20 # Execute
renamed="$(find "$many/five" -name '*.md' | wc -l)"
[ "$renamed" = 5000 ] || fail "$renamed files renamed, not 5000"

click 32 208 57 25 # the help link
reads panel 408 8 393 233 "帮助说明" || fail "the list frame is not read as the help caption"

click 736 248 65 20 # Exit
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" = 0 ] || fail "the program ended with status $status: $(cat "$work/program.log")"

echo "PASS: renamed through the real window; screenshot in $output_dir/real_window.png"
