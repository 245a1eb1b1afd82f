# Shell functions that drive the program's window in an X server of the test's own, with real mouse
# input, for tests/real_window_test.sh and tests/orca_test.sh (the Linux program) and
# tests/installer_test.sh (the Windows program under Wine). Sourced; the caller defines `fail` and
# `work`, its own temporary folder.

# Starts Xvfb, which picks a free display itself and names it on a pipe once it accepts clients;
# sets DISPLAY and xvfb_pid, for the caller to end it.
start_x_server() {
    mkfifo "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    local display_number
    read -r -t 30 display_number <"$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    export DISPLAY=":$display_number"
}

# Starts a D-Bus session bus and an accessibility (AT-SPI) bus of the test's own, their sockets in
# XDG_RUNTIME_DIR, which the caller has made; sets session_bus_pid and bus_launcher_pid, for the
# caller to end them.
start_accessibility_bus() {
    eval "$(dbus-launch --sh-syntax)"
    session_bus_pid="$DBUS_SESSION_BUS_PID"
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus-launcher.log" 2>&1 &
    bus_launcher_pid=$!
    # Until the launcher owns its name, a client asking for the bus would have D-Bus start another.
    wait_until 30 accessibility_bus_owned \
        || fail "the accessibility bus did not start: $(cat "$work/bus-launcher.log")"
}

accessibility_bus_owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q "boolean true"
}

# Runs a command again and again until it succeeds, for at most the given number of seconds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# The program's visible window, if one is up. xdotool gives up on an X error when a window it is
# looking at vanishes (Wine's own windows come and go at a first start), so each look is a single
# pass without --sync, its errors silenced, and the caller asks again.
visible_window() {
    xdotool search --onlyvisible --name '批量文件重命名' 2>/dev/null | head -n 1
}

# Whether `window` has a size yet; sets X, Y, WIDTH and HEIGHT to its client area on the screen.
# Fails, rather than ends the test, when the window vanished meanwhile.
window_geometry() {
    local shell
    shell="$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" || return 1
    eval "$shell"
}

# Waits for the program's window and sets X, Y, WIDTH and HEIGHT to its client area on the screen,
# which must have the window's size.
find_window() {
    local window="" deadline=$((SECONDS + ${1:-30}))
    until [ -n "$window" ] && window_geometry "$window"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the window did not appear: $(cat "$work/program.log")"
        sleep 0.1
        window="$(visible_window)" || window=""
    done
    [ "$WIDTH" = 809 ] && [ "$HEIGHT" = 278 ] || fail "client area is ${WIDTH}x${HEIGHT}, not 809x278"
}

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
