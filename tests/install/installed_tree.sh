#!/usr/bin/env bash
# Installs this build into a scratch prefix and checks the tree as a desktop and a package use it:
#   installed_tree.sh CMAKE BUILD_DIR APP_ID VERSION PROGRAM...
# The programs run from there (with the library of the tree), the desktop entry and the AppStream
# metadata pass their validators and name what is installed, the icons and man pages are there.
set -uo pipefail
cmake=$1 build=$2 id=$3 version=$4
shift 4
programs=()
for program in "$@"; do [ -n "$program" ] && programs+=("$program"); done

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

export QT_QPA_PLATFORM=offscreen
for program in "${programs[@]}"; do
    binary=$prefix/bin/$program
    out=$("$binary" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "$program --version said '$out'"
    libraries=$(ldd "$binary")
    if grep -q libimglib <<< "$libraries" && ! grep -q "libimglib.so.1 => $prefix/" <<< "$libraries"; then
        fail "$program does not take the image library of its own tree"
    fi
    gzip -t "$prefix/share/man/man1/$program.1.gz" 2>/dev/null || fail "no man page for $program"
done

# The window takes no arguments: each line is the exit status and the command line. Answered
# before any window system is asked for, so without a display too.
while read -r status arguments; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/tesselo" $arguments >/dev/null 2>&1
    got=$?
    [ "$got" = "$status" ] || fail "tesselo $arguments: exit status $got, not $status"
done <<'TABLE'
0 --help
0 -h
0 -v
2 --bogus
2 --help-all
2 picture.jpg
2 --version picture.jpg
TABLE

desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo"
    fail "appstreamcli validate $metainfo"
}
grep -qx "Exec=tesselo" "$desktop" || fail "the desktop entry does not start tesselo"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry does not name the icon $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch $id.desktop"
for program in "${programs[@]}"; do
    grep -q "<binary>$program</binary>" "$metainfo" || fail "the metadata does not name $program"
done

# Each icon is a PNG of its folder's size (width and height are bytes 16 to 23 of the file).
icons=$prefix/share/icons/hicolor
[ -s "$icons/scalable/apps/$id.svg" ] || fail "no scalable icon"
for side in 16 32 48 64 128 256; do
    png=$icons/${side}x${side}/apps/$id.png
    size=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | tr -s ' ')
    [ "$size" = " 0 0 $((side / 256)) $((side % 256)) 0 0 $((side / 256)) $((side % 256))" ] ||
        fail "$png is not a $side × $side image"
done

# The library is private: no link for building against it, nothing in the public library folder.
leftovers=$(find "$prefix" -name 'libimglib.so' -o -name '*.h' -o -path "$prefix/lib/libimglib*")
[ -z "$leftovers" ] || fail "installed for development: $leftovers"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree in order: ${programs[*]}"
