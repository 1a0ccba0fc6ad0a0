#!/usr/bin/env bash
# The Debian package: builds it from the build folder with cpack, checks its name, version and
# dependencies, lets lintian judge it (any error or warning fails), validates its desktop entry,
# AppStream metainfo (offline: its addresses are not fetched), manual page and change log, unpacks
# it into a temporary root (nothing is installed on this system) and runs the program from there.
# Usage: check.sh BUILD_DIR DEBIAN_VERSION   (DEBIAN_VERSION: the program's version, "-", release)
set -euo pipefail

build_dir=$1
version=$2
upstream=${version%-*}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack could not build the package"
fi
deb="$work/out/brimvale_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"

[ "$(dpkg-deb -f "$deb" Package)" = brimvale ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
# The package names alone, one a line.
names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6 libxcb1 libwayland-client0 \
    fonts-liberation; do
    grep -qxF "$needed" <<<"$names" || fail "Depends lacks $needed: $depends"
done
# Qt's Wayland platform, for a desktop without X.
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || fail "Recommends is not qt6-wayland"

# Lintian as Debian's archive would run it, its pedantic notes shown too. As root it must be
# told that running as root is meant.
lintian_options=(--pedantic --fail-on error,warning)
[ "$(id -u)" -ne 0 ] || lintian_options+=(--allow-root)
if ! lintian "${lintian_options[@]}" "$deb" >"$work/lintian.log" 2>&1; then
    cat "$work/lintian.log" >&2
    fail "lintian finds errors or warnings in the package"
fi
cat "$work/lintian.log"

root="$work/root"
dpkg-deb -x "$deb" "$root"
icons=usr/share/icons/hicolor
homepage=$(dpkg-deb -f "$deb" Homepage)
# The AppStream metainfo is the one file under metainfo/, named by its component id.
metainfo=$(cd "$root" && ls usr/share/metainfo/*.metainfo.xml)
[ "$(wc -l <<<"$metainfo")" -eq 1 ] || fail "AppStream metainfo: $metainfo"
id=$(basename "$metainfo" .metainfo.xml)
grep -q "<id>$id</id>" "$root/$metainfo" || fail "AppStream metainfo: its id is not $id"
for file in usr/bin/brimvale usr/lib/brimvale/brimvale usr/lib/brimvale/HAND-M.CUR \
    usr/lib/brimvale/x/o.qss usr/lib/brimvale/Samples/Folder1/readme.txt \
    usr/share/applications/brimvale.desktop $icons/scalable/apps/brimvale.svg \
    usr/share/man/man1/brimvale.1.gz usr/share/doc/brimvale/copyright \
    usr/share/doc/brimvale/changelog.Debian.gz "$metainfo"; do
    [ -e "$root/$file" ] || fail "the package lacks /$file"
done
for size in 16 22 24 32 48 64 128 256; do
    icon="$root/$icons/${size}x${size}/apps/brimvale.png"
    [ -e "$icon" ] || fail "the package lacks the ${size} px icon"
    file "$icon" | grep -q "PNG image data, $size x $size," || fail "$icon: $(file -b "$icon")"
done

desktop-file-validate "$root/usr/share/applications/brimvale.desktop" || fail "desktop entry"
# Offline the validator checks all but the addresses, and must find nothing, even pedantic.
if ! appstreamcli validate --pedantic --no-net "$root/$metainfo" >"$work/appstream.log" 2>&1; then
    cat "$work/appstream.log" >&2
    fail "AppStream metainfo"
fi
notes=$(grep -E '^[EWIP]: ' "$work/appstream.log" || true)
[ -z "$notes" ] || fail "AppStream metainfo: $notes"
newest=$(grep -o '<release version="[^"]*"' "$root/$metainfo" | head -n1 | cut -d'"' -f2)
[ "$newest" = "$upstream" ] || fail "AppStream metainfo: the newest release is '$newest', not $upstream"
docs="$(dirname "$0")/../../docs"
for image in $(grep -o '<image>[^<]*</image>' "$root/$metainfo" | sed 's|<[^>]*>||g'); do
    [[ $image == "${homepage%/}/docs/"* ]] || fail "AppStream screenshot $image is not under the home page's docs/"
    [ -f "$docs/${image##*/}" ] || fail "AppStream screenshot $image: no docs/${image##*/}"
done
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/brimvale.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "manual page: $man_warnings"
zcat "$root/usr/share/doc/brimvale/changelog.Debian.gz" >"$work/changelog"
logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$logged" = "$version" ] ||
    fail "the change log's latest entry is $logged, the package $version: add an entry"

shown=$("$root/usr/bin/brimvale" --version)
[ "$shown" = "brimvale $upstream" ] || fail "the unpacked program's --version says '$shown'"
# The language as the environment gives it: German for LANG or for LANGUAGE beside a locale, and
# English in the C locale, whatever LANGUAGE says, as programs of the system do.
for row in "LANG=de_DE.UTF-8|kein Befehl" "LANGUAGE=de LANG=C.UTF-8|kein Befehl" \
    "LANGUAGE=fr:de LANG=fr_FR.UTF-8|kein Befehl" "LANG=C.UTF-8|no command" "LANGUAGE=de|no command"; do
    said=$(env -i ${row%|*} "$root/usr/bin/brimvale" -o / 2>&1 || true)
    [[ $said == "brimvale: ${row#*|}"* ]] || fail "with ${row%|*} the unpacked program says '$said'"
done
echo "package: $(basename "$deb") checked; its program says '$shown'"
