#!/usr/bin/env bash
# The real program killed (SIGKILL) at random points of an execute, then started again over the same
# state folder: it tells of the execute that was cut off, and its undo (Ctrl+Z) brings the tree back
# byte for byte, with no temporary name left. Local rows rename .txt to .md; exFAT rows, on an image
# mounted through FUSE, change .JPG to .jpg, each file through a temporary name; share rows rename
# .txt to .md on an sshfs share with 10 ms round trips, where several moves are under way at once.
# Usage: crash_test.sh <program> [<share_mount>]. The exFAT and share rows need root, exfat-fuse,
# sshd and sshfs; without them only the local rows run, and the test says why.
set -euo pipefail

program="$1"
share_mount="${2:-}"
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
mounted=""
share_pid=""
cleanup() {
    for pid in "$app_pid" "$xvfb_pid"; do
        [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
    done
    # The share unmounts once its standard input closes.
    if [ -n "$share_pid" ]; then
        exec 8>&-
        wait "$share_pid" 2>/dev/null || true
    fi
    wait 2>/dev/null || true
    [ -n "$mounted" ] && umount "$mounted" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

source "$(dirname "$0")/window_driver.sh"
start_x_server
export XDG_STATE_HOME="$work/state"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
state="$XDG_STATE_HOME/batch-renamer"

# Each file's content is its name, so that a file taken back under another's name would show.
make_template() {
    local template="$1" count="$2" suffix="$3"
    mkdir -p "$template/a" "$template/b"
    python3 - "$template" "$count" "$suffix" <<'PY'
import sys
root, count, suffix = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(count):
    name = f"{root}/{'ab'[i % 2]}/photo{i:05d}{suffix}"
    with open(name, "w") as f:
        f.write(name[len(root):])
PY
}

# Names and contents of every file below a folder, sorted.
listing() {
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum 2>/dev/null)
}

# Whether a box of the program's, titled with its name, is up.
box_shown() {
    [ -n "$(xdotool search --onlyvisible --name '^批量重命名$' 2>/dev/null)" ]
}

box_gone() {
    ! box_shown
}

# Whether the tree lists as `expected` does.
same_listing() {
    [ "$(listing "$2")" = "$1" ]
}

renamed_count() {
    find "$1" -type f -name "*$2" 2>/dev/null | wc -l
}

# What the program is started through: nothing, or for the share rows nsenter, into the mount
# namespace of its own where share_mount mounted the share.
through=()

start_program() {
    # Not under timeout(1): the kill must reach the program itself, which nsenter becomes.
    QT_QPA_PLATFORM=xcb "${through[@]}" "$program" "$@" >>"$work/program.log" 2>&1 &
    app_pid=$!
    find_window
}

# One row: the tree restored from its template, an execute killed `delay` seconds after Execute is
# clicked, or once it has renamed every file when `delay` is "end" (which sets `pass_seconds` to how
# long that took), then the program started again and its undo. The tree is looked at where the
# disk holds it, `seen`, which for a share is where its server keeps it.
run_row() {
    local row="$1" template="$2" tree="$3" from="$4" to="$5" delay="$6" files="$7" seen="${8:-$3}"
    rm -rf "$seen"
    cp -r "$template" "$seen"
    local expected
    expected="$(listing "$seen")"
    start_program "$tree"
    local count_label=(408 252 153 17)
    local before
    before="$(look "${count_label[@]}")"
    click 104 81 49 20 # the suffix filter's box
    xdotool key ctrl+a
    xdotool type "$from"
    click 304 80 65 20 # Search
    wait_for_change "$before" "${count_label[@]}" || fail "$row: the search never ended"
    click 40 170 89 17 # the new-suffix option
    click 128 168 49 20 # its box
    xdotool key ctrl+a
    xdotool type "$to"
    local completion_label=(568 252 153 17) started
    before="$(look "${completion_label[@]}")"
    started="$(date +%s.%N)"
    click 320 208 65 20 # Execute
    if [ "$delay" = end ]; then
        # The completion text appears once the execute has ended.
        wait_for_change "$before" "${completion_label[@]}" || fail "$row: the execute never ended"
        pass_seconds="$(awk -v start="$started" -v end="$(date +%s.%N)" 'BEGIN { print end - start }')"
    else
        sleep "$delay"
    fi
    kill -9 "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    local at_kill temporary
    at_kill="$(renamed_count "$seen" "$to")"
    temporary="$(find "$seen" -name '*.batch-renamer-tmp' | wc -l)"

    start_program
    # The box that tells of the cut-off execute sits over the window; Return closes it. Killed with
    # every file renamed, the execute may or may not have marked its record complete.
    if [ $((at_kill + temporary)) -gt 0 ] && [ "$at_kill" -lt "$files" ]; then
        wait_until 30 box_shown || fail "$row: no box told of the execute cut off with $at_kill files renamed"
    else
        wait_until 3 box_shown || true
    fi
    if box_shown; then
        xdotool key Return
        wait_until 30 box_gone || fail "$row: the box did not close"
    fi
    click 600 120 40 20 # the empty list, so that Ctrl+Z is the window's
    xdotool key ctrl+z
    wait_until 120 same_listing "$expected" "$seen" \
        || fail "$row: killed with $at_kill of $files renamed ($temporary under a temporary name), the undo left:
$(diff <(echo "$expected") <(listing "$seen") | head -n 20)"
    kill -9 "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    local left
    left="$(find "$state" -name '*.record' | wc -l)"
    [ "$left" = 0 ] || fail "$row: $left records left after the undo took everything back"
    echo "$row: killed with $at_kill of $files renamed ($temporary under a temporary name); the undo brought every file back"
}

# A row that runs to the end measures the pass; the others are killed at random instants of it.
kill_rows() {
    local kind="$1" count="$2" template="$3" tree="$4" from="$5" to="$6" files="$7" seen="${8:-$4}"
    run_row "$kind row 0" "$template" "$tree" "$from" "$to" end "$files" "$seen"
    for i in $(seq 1 $((count - 1))); do
        local delay
        # Within the first 60 % of the time measured, which also holds the look that saw the end.
        delay="$(awk -v pass="$pass_seconds" -v share=$((RANDOM % 1000)) 'BEGIN { printf "%.3f", pass * share * 0.6 / 1000 }')"
        run_row "$kind row $i, killed after ${delay} s" "$template" "$tree" "$from" "$to" "$delay" "$files" "$seen"
    done
}

local_files=10000
make_template "$work/local-template" "$local_files" .txt
kill_rows local 12 "$work/local-template" "$work/local-tree" .txt .md "$local_files"

if [ "$(id -u)" != 0 ] || ! command -v mount.exfat-fuse >/dev/null || ! command -v mkfs.exfat >/dev/null \
    || ! command -v losetup >/dev/null; then
    echo "exFAT rows skipped: they need root, exfat-fuse, exfatprogs and losetup to mount an image"
else
    card_files=1500
    truncate -s 256M "$work/card.img"
    mkfs.exfat "$work/card.img" >/dev/null
    mkdir "$work/card"
    # The driver takes a block device; the loop device, detached at once, goes once the driver ends.
    device="$(losetup -f --show "$work/card.img")"
    mount.exfat-fuse "$device" "$work/card" >"$work/mount.log" 2>&1 || fail "the exFAT image did not mount: $(cat "$work/mount.log")"
    losetup -d "$device"
    mounted="$work/card"
    make_template "$work/card/template" "$card_files" .JPG
    kill_rows exFAT 8 "$work/card/template" "$work/card/DCIM" .JPG .jpg "$card_files"
fi
if [ -z "$share_mount" ]; then
    echo "share rows skipped: no share_mount given"
else
    mkdir "$work/served"
    mkfifo "$work/share.in"
    "$share_mount" "$work/served" 10 <"$work/share.in" >"$work/share.out" 2>&1 &
    share_pid=$!
    exec 8>"$work/share.in"
    share_ready() {
        [ -s "$work/share.out" ] || ! kill -0 "$share_pid" 2>/dev/null
    }
    wait_until 30 share_ready || fail "the share did not mount"
    share_status=0
    kill -0 "$share_pid" 2>/dev/null || wait "$share_pid" || share_status=$?
    if [ "$share_status" = 77 ]; then
        echo "share rows skipped: $(cat "$work/share.out")"
    elif [ "$share_status" != 0 ]; then
        fail "the share did not mount: $(cat "$work/share.out")"
    else
        share="$(head -n 1 "$work/share.out")"
        through=(nsenter --target "$share_pid" --mount --)
        share_files=300
        make_template "$work/share-template" "$share_files" .txt
        kill_rows share 5 "$work/share-template" "$share/DCIM" .txt .md "$share_files" "$work/served/DCIM"
    fi
fi
echo "PASS"
