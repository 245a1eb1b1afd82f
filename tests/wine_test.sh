#!/usr/bin/env bash
# Runs one QTest executable built for Windows under Wine, headless on Qt's offscreen platform, and
# judges it by the result file QTest writes: Wine loses QTest's console output, so the "Totals:"
# line of that file and the exit code (QTest counts failures in it) both have to say that nothing
# failed. Exits 77 where Wine is missing.
# Usage: wine_test.sh <Wine prefix> <result file> <test.exe> [QTest arguments]
set -uo pipefail
prefix="$1"
result="$2"
exe="$3"
shift 3

wine="${RENAMER_WINE:-/usr/lib/wine/wine64}"
if [ ! -x "$wine" ]; then
    echo "SKIP: $wine is not installed"
    exit 77
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all
# Wine drops QT_* variables but hands WINE<name> on as <name>; the offscreen platform needs fonts.
export WINEQT_QPA_PLATFORM=offscreen
export WINEQT_QPA_FONTDIR="Z:${RENAMER_WINE_FONTS:-/usr/share/fonts/truetype/wqy}"

# One test makes the prefix while the others wait. Wine finds \\server\share under
# dosdevices/unc/server/share, so the local drive's administrative share is linked there.
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        "$wine" wineboot --init >/dev/null 2>&1
        # Wine hides names with a leading dot, as Linux does; Windows hides by attribute only.
        "$wine" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
    fi
    mkdir -p "$prefix/dosdevices/unc/localhost"
    ln -sfn ../../c: "$prefix/dosdevices/unc/localhost/C\$"
) 9>"$prefix.lock"

rm -f "$result"
"$wine" "$exe" -o "Z:$result,txt" "$@"
status=$?
if [ ! -f "$result" ]; then
    echo "FAIL: $exe wrote no result file (exit code $status)"
    exit 1
fi
cat "$result"
totals="$(grep -E '^Totals: [0-9]+ passed, [0-9]+ failed' "$result")"
if [ -z "$totals" ]; then
    echo "FAIL: no Totals line; the test did not run to its end (exit code $status)"
    exit 1
fi
failed="$(echo "$totals" | sed -E 's/^Totals: [0-9]+ passed, ([0-9]+) failed.*/\1/')"
if [ "$failed" != 0 ] || [ "$status" != 0 ]; then
    echo "FAIL: $failed failed, exit code $status"
    exit 1
fi
