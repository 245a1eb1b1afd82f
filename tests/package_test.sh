#!/usr/bin/env bash
# Builds the Debian package from a built tree with CPack into a temporary folder and checks it:
# its files, its control fields, and that its metainfo and desktop entry pass their validators.
# Usage: package_test.sh <build dir> <project version>
set -euo pipefail

build_dir="$1"
version="$2"
skip=77

# CPack needs dpkg-shlibdeps and file(1) to work out the library dependencies.
for tool in dpkg-deb dpkg-shlibdeps file appstreamcli desktop-file-validate cpack; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/setup-deps dpkg-dev file appstream desktop-file-utils)"
        exit "$skip"
    fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB -B "$work/out" --config "$build_dir/CPackConfig.cmake" >"$work/cpack.log" 2>&1 \
    || fail "cpack failed: $(cat "$work/cpack.log")"
deb="$work/out/batch-renamer_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb; cpack made: $(ls "$work/out")"

# Contents: every path under /usr, and each file the desktop needs, the program executable.
dpkg-deb -c "$deb" >"$work/contents"
outside="$(awk '{ print $6 }' "$work/contents" | grep -v '^\./usr/' | grep -vx '\./' || true)"
[ -z "$outside" ] || fail "files outside /usr: $outside"
for path in \
    usr/bin/batch-renamer \
    usr/share/applications/org.example.BatchRenamer.desktop \
    usr/share/icons/hicolor/scalable/apps/org.example.BatchRenamer.svg \
    usr/share/icons/hicolor/32x32/apps/org.example.BatchRenamer.png \
    usr/share/metainfo/org.example.BatchRenamer.metainfo.xml \
    usr/share/doc/batch-renamer/copyright; do
    grep -q " \./$path\$" "$work/contents" || fail "the package lacks /$path"
done
grep -q '^-rwxr-xr-x .* \./usr/bin/batch-renamer$' "$work/contents" || fail "/usr/bin/batch-renamer is not executable"

# Control fields.
field() {
    dpkg-deb -f "$deb" "$1"
}
# True when the comma-separated relation list names the package, with or without a version.
relation_names() {
    tr ',|' '\n\n' <<<"$1" | sed 's/^ *//; s/[ (].*//' | grep -qx "$2"
}
[ "$(field Package)" = batch-renamer ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
depends="$(field Depends)"
for package in libqt6widgets6 fonts-wqy-microhei; do
    relation_names "$depends" "$package" || fail "Depends lacks $package: $depends"
done
relation_names "$(field Recommends)" qt6-wayland || fail "Recommends lacks qt6-wayland: $(field Recommends)"
for name in Maintainer Section Homepage Description; do
    [ -n "$(field "$name")" ] || fail "no $name field"
done

# The installed metainfo and desktop entry, as the package holds them, pass their validators.
dpkg-deb -x "$deb" "$work/root"
appstreamcli validate --no-net --strict "$work/root/usr/share/metainfo/org.example.BatchRenamer.metainfo.xml" \
    || fail "appstreamcli rejects the metainfo"
desktop_report="$(desktop-file-validate "$work/root/usr/share/applications/org.example.BatchRenamer.desktop" 2>&1)" \
    || fail "desktop-file-validate rejects the desktop entry: $desktop_report"
[ -z "$desktop_report" ] || fail "desktop-file-validate warns: $desktop_report"

echo "PASS: $(basename "$deb") holds the program, desktop entry, icons and metainfo; Depends: $depends"
