#!/usr/bin/env bash
# Builds the Debian package from a built tree with CPack into a temporary folder and checks it:
# its files, its control fields and changelog, that its metainfo and desktop entry pass their
# validators, and, where lintian is installed, that Debian's package checker finds no error or warning.
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
# The package version is the project version with a Debian revision.
debs=("$work/out/batch-renamer_${version}-"*"_$(dpkg --print-architecture).deb")
deb="${debs[0]}"
[ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || fail "no single package of version $version; cpack made: $(ls "$work/out")"

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
    usr/share/doc/batch-renamer/copyright \
    usr/share/doc/batch-renamer/changelog.Debian.gz \
    usr/share/man/man1/batch-renamer.1.gz; do
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
package_version="$(field Version)"
[[ "$package_version" == "$version"-* ]] || fail "Version is '$package_version', not $version with a Debian revision"
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
# The desktop offers the program for folders, and hands it the one folder chosen.
for line in 'Exec=batch-renamer %f' 'MimeType=inode/directory;'; do
    grep -qxF "$line" "$work/root/usr/share/applications/org.example.BatchRenamer.desktop" \
        || fail "the desktop entry lacks '$line'"
done

# The changelog's latest entry is this package's version.
latest="$(zcat "$work/root/usr/share/doc/batch-renamer/changelog.Debian.gz" | sed -n 1p)"
[[ "$latest" == "batch-renamer ($package_version) "* ]] || fail "the changelog begins '$latest', not with $package_version"

# Debian's package checker: no error and no warning; its informational tags are listed.
if command -v lintian >/dev/null; then
    lintian_tags="$(lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb" 2>"$work/lintian.err")" \
        || fail "lintian: $lintian_tags $(cat "$work/lintian.err")"
    lintian_note="lintian finds no error or warning${lintian_tags:+; $(tr '\n' ' ' <<<"$lintian_tags")}"
else
    echo "SKIP (lintian part): lintian is not installed (scripts/setup-deps lintian)"
    lintian_note="lintian not run"
fi

echo "PASS: $(basename "$deb") holds the program, desktop entry, icons, metainfo, manual page and changelog;" \
    "Depends: $depends; $lintian_note"
