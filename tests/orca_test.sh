#!/usr/bin/env bash
# Runs the real program under Orca, Debian's screen reader, in an X server, a D-Bus session and a
# home of this test's own, and drives it by keys alone, as a blind user does: round the window with
# Tab, a search, into the list, Space on a row, a preview, an execute with one failure and its box,
# and Ctrl+Z. After each key it waits for what Orca is to say, read from the utterances Orca writes
# to its debug file; speech goes to a speech-dispatcher module that writes text instead of sound.
# Usage: orca_test.sh <batch-renamer>
set -euo pipefail

program="$1"
skip=77

for tool in Xvfb xdotool dbus-launch dbus-send orca speech-dispatcher script /usr/libexec/at-spi-bus-launcher; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit "$skip"
    fi
done

work="$(mktemp -d)"
xvfb_pid=""
session_bus_pid=""
bus_launcher_pid=""
orca_pid=""
speech_pid=""
app_pid=""
cleanup() {
    for pid in "$app_pid" "$orca_pid" "$speech_pid" "$bus_launcher_pid" "$session_bus_pid" "$xvfb_pid"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    wait
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "Orca said:" >&2
    spoken >&2 || true
    exit 1
}

source "$(dirname "$0")/window_driver.sh"
start_x_server

export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/run"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_CONFIG_HOME/speech-dispatcher/modules" "$work/speech-log"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Speech goes nowhere audible: the machine may have no sound device, so the module is told of a
# null one and writes what it is given to a file.
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<END
LogDir "$work/speech-log"
AudioOutputMethod "alsa"
AudioALSADevice "null"
AddModule "text" "sd_generic" "text.conf"
DefaultModule text
DefaultLanguage "en"
END
cat >"$XDG_CONFIG_HOME/speech-dispatcher/modules/text.conf" <<END
GenericExecuteSynth "printf '%s\\\\n' \\\\'\\\$DATA\\\\' >> $work/speech.txt"
GenericLanguage "en" "en" "utf-8"
AddVoice "en" "MALE1" "text"
END

start_accessibility_bus

# Started here rather than by Orca, which would leave it running as a daemon of its own.
socket="$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock"
mkdir -p "$(dirname "$socket")"
speech-dispatcher --run-single --timeout 0 --communication-method unix_socket --socket-path "$socket" \
    >"$work/speech-dispatcher.log" 2>&1 &
speech_pid=$!
wait_until 30 test -S "$socket" || fail "speech-dispatcher did not start: $(cat "$work/speech-dispatcher.log")"

# Orca writes its debug file in blocks, except to a terminal, which it writes line by line; so it
# writes to the terminal `script` gives it, and `script` copies each line to the file at once.
debug="$work/orca.debug"
: >"$debug" # read before Orca has written a line
# --replace: Orca takes an Orca of an earlier test, still ending, for one of this session and would
# not start.
script --quiet --flush --command "orca --replace --debug-file /dev/stdout" "$debug" >"$work/orca.log" 2>&1 &
orca_pid=$!

# Each utterance, one a line.
spoken() {
    tr -d '\r' <"${debug:-/dev/null}" | sed -n "s/^.* - SPEECH OUTPUT: '\\(.*\\)' *{.*\$/\\1/p"
}
# Whether Orca said `text` (a part of an utterance) after its first `count` utterances.
said_after() {
    spoken | tail -n "+$(($1 + 1))" | grep -qF -- "$2"
}
# Waits for each expected text, in turn, among what Orca says from now on; a busy machine makes
# Orca slow, so each gets a minute.
expect_after() {
    local count="$1" text
    shift
    for text in "$@"; do
        wait_until 60 said_after "$count" "$text" || fail "Orca never said '$text'"
    done
}
# Waits until the last object Orca took for the focus is `object`, "[role | name]", as its debug
# file names it.
focus_is() {
    tr -d '\r' <"$debug" | grep -F "Changing locusOfFocus from" | tail -n 1 | grep -qF -- "to $1."
}
expect_focus() {
    wait_until 60 focus_is "$1" || fail "Orca never took $1 for the focus"
}
# Presses `key` and waits for what Orca is to say after it.
press() {
    local key="$1" count
    shift
    count="$(spoken | wc -l)"
    xdotool key "$key"
    expect_after "$count" "$@"
}

wait_until 120 said_after 0 "Screen reader on." || fail "Orca did not start: $(tail -n 30 "$debug")"

tree="$work/tree"
mkdir -p "$tree/one" "$tree/two"
printf 'a' >"$tree/one/a.txt"
printf 'c' >"$tree/one/c.txt"
printf 'b' >"$tree/two/b.txt"

count="$(spoken | wc -l)"
# Under LeakSanitizer, the suppressions of a program that a screen reader listens to (the last
# suppressions= given wins).
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan_screen_reader.supp" \
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 timeout 300 "$program" >"$work/program.log" 2>&1 &
app_pid=$!
find_window
# No window manager gives the window the keyboard; the test does, as a user's click would.
xdotool windowfocus --sync "$(visible_window)"
expect_after "$count" "执行 push button"

# Round the window to the pattern box: its caption and its pattern in words, and each pattern
# chosen by key.
press Tab "退出 push button"
press Tab "规则:" "radio button"
press Tab "规则: combo box" "起始值原样"
press Down "notification 一位数字"
press Up "notification 起始值原样"
press Tab "起始: text"
press Tab "后缀名: text"
press Tab "文件列表 tree"
press Tab "后缀名:"
press Tab "预览 push button"
press Tab "搜索 push button"
# The path box, empty, says nothing but the key: Qt reports its caret before its focus, and Orca
# then takes the focus for presented. Leaving it for Search proves the focus was there. Orca must
# have taken the box for the focus before the typing leaves it, or, busy, it would find the focus
# back on Search and say nothing of a move it never saw; a user hears each key before the next.
press Tab "tab"
expect_focus "[text | 路径:]"

# A search: the count, where the focus stays on the button.
xdotool type --delay 20 "$tree"
press shift+Tab "搜索 push button"
press space "notification 文件数量: 3"

# Into the list: the current row with its check state; Space toggles it, and says so.
press shift+Tab "预览 push button"
press shift+Tab "后缀名:"
press shift+Tab "文件列表 tree" "已勾选，未预览"
press space "notification 未勾选"
press space "notification 已勾选"

# A preview where two files of one folder would get one name.
press Tab "后缀名:"
press Tab "预览 push button"
press space "notification 1 个文件将无法修改"

# The execute: its failure box, read whole, and once it is closed, the completion.
press Tab "搜索 push button"
press Tab "路径: text"
press Tab "浏览 push button"
press Tab "执行 push button"
press space "alert ERROR" " 修改失败！项目地址: $tree/one/"
press Return "notification 已完成 2 个文件修改!"
# No window manager hands the keyboard back to the window once the box is gone; the test does,
# as a window manager would.
count="$(spoken | wc -l)"
xdotool windowfocus --sync "$(visible_window)"
expect_after "$count" "执行 push button"
press ctrl+z "notification 已撤销 2 个文件修改!"

expected="$(printf '%s\n' one/a.txt:a one/c.txt:c two/b.txt:b)"
actual="$(cd "$tree" && find . -type f -printf '%P\n' | sort | while read -r file; do echo "$file:$(cat "$file")"; done)"
[ "$actual" = "$expected" ] || fail "files after the undo:
$actual
expected:
$expected"

press Tab "退出 push button"
xdotool key space
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" = 0 ] || fail "the program ended with status $status: $(cat "$work/program.log")"

echo "PASS: Orca said each result; what it said:"
spoken
