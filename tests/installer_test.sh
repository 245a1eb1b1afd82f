#!/usr/bin/env bash
# Installs the Windows build as a user would, under Wine in a fresh prefix, and checks what that made.
# Per user (the default, silent): an older version first and this one over it, leaving one entry;
# the program's files, the Start-menu shortcut, the Apps & Features entry and the three folder verbs
# in the registry; then it runs each verb's command line the way Explorer does, with a folder of a
# test tree put in, and drives the window it opens (Search, Execute) to see that folder renamed.
# Uninstalls and checks that all of it is gone and the user's files are not. The same for all users
# (/AllUsers). Then unpacks the portable .zip and starts its program from its own folder, and asks
# the program for --help, --version and an unknown option from a console.
# Usage: installer_test.sh <Windows build folder>
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

build="$(cd "$1" && pwd)"
wine="${RENAMER_WINE:-/usr/lib/wine/wine64}"
wineserver="$(dirname "$wine")/wineserver"
for tool in "$wine" "$wineserver" Xvfb xdotool import unzip script iconv strings file cpack; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
installer="$(ls "$build"/batch-renamer-*-win64.exe)"
version="$(basename "$installer" | sed -E 's/^batch-renamer-(.*)-win64\.exe$/\1/')"
portable="$build/batch-renamer-$version-win64-portable.zip"
program="$build/batch-renamer.exe"
licence="$(cd "$(dirname "$0")/.." && pwd)/LICENSE"

# A 64-bit installer that runs as whoever starts it, asking for no elevation.
file -b "$installer" | grep -q '^PE32+ executable (GUI) x86-64' || fail "the installer is $(file -b "$installer")"
grep -aqF '<requestedExecutionLevel level="asInvoker"' "$installer" || fail "the installer asks for elevation"
# A window program: started from Explorer or a shortcut, it opens no console window.
file -b "$program" | grep -q '^PE32+ executable (GUI) x86-64' || fail "the program is $(file -b "$program")"

work="$build/installer-test"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
# No menu entries on this machine for the shortcuts made in the prefix, and no question about Wine's
# own browser and .NET runtime while the prefix is made.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset DISPLAY WAYLAND_DISPLAY

xvfb_pid=""
app_pid=""
cleanup() {
    # One that has ended already must not stop the others being ended.
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    "$wineserver" -k 2>/dev/null || true # this prefix's server, and the Wine processes it still has
    wait
}
trap cleanup EXIT

"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
drive_c="$WINEPREFIX/drive_c"

# --- Helpers ----------------------------------------------------------------------------------

# Runs a Windows program of the prefix and waits until it, and whatever it started, has ended: an
# uninstaller copies itself away and runs from the copy.
run_and_wait() {
    "$wine" "$@" >/dev/null 2>&1 || return 1
    "$wineserver" -w
}

# A registry key and the keys below it, exported by Wine's reg.exe (UTF-16) as UTF-8 lines without
# the header; nothing where the key does not exist.
exported() {
    rm -f "$work/key.reg"
    "$wine" reg export "$1" 'Z:'"${work//\//\\}"'\key.reg' /y >/dev/null 2>&1 || return 0
    iconv -f UTF-16LE -t UTF-8 "$work/key.reg" | sed -e 's/\r$//' -e '1s/^\xEF\xBB\xBF//' | tail -n +3
}

# A text as the .reg format quotes it: backslashes and quotes escaped.
reg_quoted() {
    local text="${1//\\/\\\\}"
    printf '"%s"' "${text//\"/\\\"}"
}

# Unix path of a Windows path on drive C:.
unix_path() {
    local path="${1#C:\\}"
    echo "$drive_c/${path//\\//}"
}

expect_same() { # what, expected, actual
    [ "$2" = "$3" ] || fail "$1 differs from what was expected (-) in these lines (+):
$(diff <(echo "$2") <(echo "$3"))"
}

# The entries the installer writes: the Apps & Features entry and the folder verbs, under the
# registry root of the mode (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE).
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\batch-renamer'
verb_classes=('Directory' 'Directory\Background' 'Drive')
check_registry() { # root, installation folder (Windows path)
    local root="$1" folder="$2" exe="$2\\batch-renamer.exe" uninstaller="$2\\Uninstall.exe"
    local entry
    entry="$(exported "$root\\$uninstall_key")"
    [ -n "$entry" ] || fail "no Apps & Features entry under $root"
    # Compared as sorted lines: the order of values in an export is the registry's own.
    expect_same "the Apps & Features entry under $root" "$(LC_ALL=C sort <<<"$(printf '%s\n' \
        "[$root\\$uninstall_key]" \
        "\"DisplayIcon\"=$(reg_quoted "$exe")" \
        '"DisplayName"="批量文件重命名"' \
        "\"DisplayVersion\"=\"$version\"" \
        '"InstallLocation"='"$(reg_quoted "$folder")" \
        '"NoModify"=dword:00000001' \
        '"NoRepair"=dword:00000001' \
        '"Publisher"="Batch Renamer developers"' \
        "\"QuietUninstallString\"=$(reg_quoted "\"$uninstaller\" /S")" \
        "\"UninstallString\"=$(reg_quoted "\"$uninstaller\"")" \
        '"URLInfoAbout"="https://example.org/batch-renamer"')")" \
        "$(echo "$entry" | grep -v -e '^"EstimatedSize"=' -e '^$' | LC_ALL=C sort)"
    # The size in KiB, as Apps & Features shows it: at least the program's.
    local size
    size="$(echo "$entry" | sed -n 's/^"EstimatedSize"=dword:\([0-9a-f]*\)$/\1/p')"
    [ -n "$size" ] && [ $((16#$size)) -ge $(($(stat -c %s "$program") / 1024)) ] \
        || fail "EstimatedSize is '$size' for a program of $(stat -c %s "$program") bytes"

    local class argument
    for class in "${verb_classes[@]}"; do
        argument='%1'
        [ "$class" = 'Directory\Background' ] && argument='%V'
        expect_same "the verb on $class under $root" "$(printf '%s\n' \
            "[$root\\Software\\Classes\\$class\\shell\\batch-renamer]" \
            '@="用批量文件重命名打开"' \
            "\"Icon\"=$(reg_quoted "$exe")" \
            '' \
            "[$root\\Software\\Classes\\$class\\shell\\batch-renamer\\command]" \
            "@=$(reg_quoted "\"$exe\" \"$argument\"")")" \
            "$(exported "$root\\Software\\Classes\\$class\\shell\\batch-renamer" | sed -e '${/^$/d}')"
    done
}

check_registry_empty() { # root
    local key
    for key in "$uninstall_key" 'Software\Classes\Directory\shell\batch-renamer' \
        'Software\Classes\Directory\Background\shell\batch-renamer' 'Software\Classes\Drive\shell\batch-renamer'; do
        [ -z "$(exported "$1\\$key")" ] || fail "$1\\$key is there: $(exported "$1\\$key")"
    done
}

# The keys an installation writes below, whole, to compare with what they were before it.
registry_of() { # root
    exported "$1\\Software\\Classes"
    exported "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
}

check_files() { # installation folder (Windows path), Start-menu folder (Windows path)
    local folder shortcut
    folder="$(unix_path "$1")"
    shortcut="$(unix_path "$2")/批量文件重命名.lnk"
    expect_same "files installed in $1" "$(printf '%s\n' LICENSE.txt Uninstall.exe batch-renamer.exe)" \
        "$(ls "$folder" | LC_ALL=C sort)"
    cmp -s "$folder/batch-renamer.exe" "$program" || fail "the installed program is not the one built"
    cmp -s "$folder/LICENSE.txt" "$licence" || fail "LICENSE.txt is not the licence"
    [ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut"
    # A shell link holds its target as a list of names, one per folder below the drive, in UTF-16.
    strings -e l "$shortcut" | paste -sd '\\' | grep -qF "${1#C:\\}\\batch-renamer.exe" \
        || fail "the shortcut does not start $1\\batch-renamer.exe: $(strings -e l "$shortcut")"
}

check_files_gone() { # installation folder (Windows path), Start-menu folder, what may stay in it
    local folder
    folder="$(unix_path "$1")"
    local left=""
    [ -d "$folder" ] && left="$(ls -A "$folder")"
    expect_same "left in $1 after uninstalling" "$3" "$left"
    [ ! -e "$(unix_path "$2")/批量文件重命名.lnk" ] || fail "the shortcut is still in $2"
}

# --- The window, in an X server of its own ------------------------------------------------------

source "$(dirname "$0")/window_driver.sh"
start_x_server

# Ends the window with its Exit button and the program with status 0.
exit_window() {
    click 736 248 65 20
    local status=0
    wait "$app_pid" || status=$?
    app_pid=""
    [ "$status" = 0 ] || fail "the program ended with status $status"
}

# Two files in two folders below `folder`, which the default rule renames to 1.txt each.
make_tree() {
    mkdir -p "$1/one" "$1/two"
    printf 'a' >"$1/one/a.txt"
    printf 'b' >"$1/two/b.txt"
    printf 'm' >"$1/one/notes.md"
}

files_of() {
    (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | while read -r file; do echo "$file:$(cat "$file")"; done)
}

renamed_tree="$(printf '%s\n' one/1.txt:a one/notes.md:m two/1.txt:b)"
renamed() {
    [ "$(files_of "$1")" = "$renamed_tree" ]
}

# Runs the command line of the verb on `class` as Explorer does: the registry's text with the
# clicked folder put in, handed to the system whole (a batch file's line), so that its quoting is
# read as on Windows. Then searches and renames in the window it opens and checks the folder.
run_verb() { # registry root, class, folder (Windows path), its tree (Unix path)
    local command
    command="$(exported "$1\\Software\\Classes\\$2\\shell\\batch-renamer\\command" \
        | sed -n 's/^@="\(.*\)"$/\1/p' | sed -e 's/\\"/"/g' -e 's/\\\\/\\/g')"
    [ -n "$command" ] || fail "no command for the verb on $2"
    command="${command//%1/$3}"
    command="${command//%V/$3}"
    make_tree "$4"
    printf '@%s\r\n' "$command" >"$work/verb.bat"
    "$wine" cmd /c 'Z:'"${work//\//\\}"'\verb.bat' >"$work/program.log" 2>&1 &
    app_pid=$!
    find_window 60
    local count_label=(408 252 153 17) count_before
    count_before="$(look "${count_label[@]}")"
    click 304 80 65 20 # Search, on the folder the command line put in the path box
    wait_for_change "$count_before" "${count_label[@]}" || fail "the verb on $2: no count after Search"
    click 320 208 65 20 # Execute
    wait_until 30 renamed "$4" || fail "the verb on $2 with $3 did not search and rename that folder:
$(files_of "$4")"
    exit_window
}

# --- Per user, over an older version --------------------------------------------------------------

# The older version: this build's files, packed as version 0.9.
older="batch-renamer-0.9-win64"
(cd "$build" && cpack -G NSIS -B "$work/older" -D CPACK_PACKAGE_VERSION=0.9 -D CPACK_PACKAGE_FILE_NAME="$older" \
    >"$work/older.log" 2>&1) || fail "the older installer was not made: $(cat "$work/older.log")"
# Windows gives every user a key of classes; a fresh Wine prefix has none until something writes one.
"$wine" reg add 'HKEY_CURRENT_USER\Software\Classes' /f >/dev/null 2>&1
user_registry_before="$(registry_of HKEY_CURRENT_USER)"
run_and_wait "$work/older/$older.exe" /S || fail "the older version did not install"
user_folder='C:\users\'"$(id -un)"'\AppData\Local\Programs\Batch Renamer'
user_menu='C:\users\'"$(id -un)"'\AppData\Roaming\Microsoft\Windows\Start Menu\Programs'
exported "HKEY_CURRENT_USER\\$uninstall_key" | grep -qx '"DisplayVersion"="0.9"' || fail "version 0.9 is not installed"

run_and_wait "$installer" /S || fail "the installer failed"
check_files "$user_folder" "$user_menu"
check_registry HKEY_CURRENT_USER "$user_folder"
# One entry, of the new version.
entries="$(exported "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" \
    | grep -c '^"DisplayName"="批量文件重命名"$' || true)"
[ "$entries" = 1 ] || fail "$entries Apps & Features entries after the upgrade"
# Nothing for other users.
check_registry_empty HKEY_LOCAL_MACHINE
[ ! -e "$drive_c/Program Files/Batch Renamer" ] || fail "a per-user install wrote to Program Files"

# The verbs: a folder with a space in its name, the background of another, and a drive's root (a
# quoted "R:\" is where the command line's quoting rules bite).
run_verb HKEY_CURRENT_USER 'Directory' 'C:\verb test\folder one' "$drive_c/verb test/folder one"
run_verb HKEY_CURRENT_USER 'Directory\Background' 'C:\verb test\background' "$drive_c/verb test/background"
mkdir -p "$work/drive-r"
ln -sfn "$work/drive-r" "$WINEPREFIX/dosdevices/r:"
run_verb HKEY_CURRENT_USER 'Drive' 'R:\' "$work/drive-r"

# The user's own file in the program's folder stays, and the folder with it.
printf 'mine' >"$(unix_path "$user_folder")/mine.txt"
run_and_wait "$(unix_path "$user_folder")/Uninstall.exe" /S || fail "the uninstaller failed"
check_files_gone "$user_folder" "$user_menu" mine.txt
check_registry_empty HKEY_CURRENT_USER
# Nor any key above them that installing made, and nothing else changed.
expect_same "the user's classes and Apps entries after uninstalling" "$user_registry_before" \
    "$(registry_of HKEY_CURRENT_USER)"
renamed "$drive_c/verb test/folder one" || fail "uninstalling touched the user's files"

# --- For all users --------------------------------------------------------------------------------

machine_folder='C:\Program Files\Batch Renamer'
machine_menu='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
machine_registry_before="$(registry_of HKEY_LOCAL_MACHINE)"
run_and_wait "$installer" /S /AllUsers || fail "the installer failed for all users"
check_files "$machine_folder" "$machine_menu"
check_registry HKEY_LOCAL_MACHINE "$machine_folder"
check_registry_empty HKEY_CURRENT_USER
run_verb HKEY_LOCAL_MACHINE 'Directory' 'C:\verb test\for all' "$drive_c/verb test/for all"
run_and_wait "$(unix_path "$machine_folder")/Uninstall.exe" /S || fail "the uninstaller failed for all users"
check_files_gone "$machine_folder" "$machine_menu" ""
check_registry_empty HKEY_LOCAL_MACHINE
expect_same "the machine's classes and Apps entries after uninstalling" "$machine_registry_before" \
    "$(registry_of HKEY_LOCAL_MACHINE)"

# --- The portable build ---------------------------------------------------------------------------

stick="$work/stick"
mkdir -p "$stick"
unzip -q "$portable" -d "$stick"
expect_same "the portable archive" "$(printf '%s\n' LICENSE.txt batch-renamer.exe)" "$(ls -A "$stick" | LC_ALL=C sort)"
(cd "$stick" && exec "$wine" ./batch-renamer.exe) >"$work/program.log" 2>&1 &
app_pid=$!
find_window 60
exit_window
expect_same "the portable folder after a run" "$(printf '%s\n' LICENSE.txt batch-renamer.exe)" "$(ls -A "$stick" | LC_ALL=C sort)"

# --- Answers in a console -------------------------------------------------------------------------

# Typed into cmd, which runs in a console (a terminal of its own here): the usage appears there.
# Windows hands a window program started from a console no handles, and the program attaches to the
# console itself; Wine hands it cmd's console, so here the text goes there without attaching.
exe_windows='Z:'"${program//\//\\}"
script -qec "'$wine' cmd /c '$exe_windows' --help" "$work/console.log" >/dev/null </dev/null \
    || fail "--help in a console ended with status $?"
grep -qF '用法 (usage): batch-renamer [选项 options] [文件夹 FOLDER]' "$work/console.log" \
    || fail "--help printed no usage in the console: $(cat -A "$work/console.log")"
# Into pipes, as a script reads them: the same texts and exit codes as on Linux.
answer="$("$wine" "$program" --version 2>"$work/errors")" || fail "--version ended with status $?"
expect_same "--version" "batch-renamer $version" "$answer"
status=0
"$wine" "$program" --bogus >"$work/output" 2>"$work/errors" || status=$?
[ "$status" = 2 ] || fail "an unknown option ended with status $status, not 2"
grep -qF '未知选项 (unknown option) --bogus' "$work/errors" || fail "the refusal says: $(cat "$work/errors")"

echo "PASS: installed per user and for all users, verbs, upgrade, uninstall, portable build, console answers"
