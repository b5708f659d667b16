#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The desktop entries as a desktop sees them once installed: the build installed into a
# scratch prefix, its MIME and desktop caches built, and GIO and xdg-mime asked in an
# environment that holds nothing of the user's. A .kpz file opens with the restoring entry;
# no other type gets an entry of ours as its opener, and the compressing entry is never
# offered as an opener at all. The window package's metainfo names only programs that
# package installs.
# Usage: check_desktop.sh BUILD_DIR PREFIX APP_ID
set -euo pipefail
build=$1 prefix=$2 id=$3
command -v gio >/dev/null || { echo "gio is not installed" >&2; exit 1; }

failures=0
fail() {
  echo "$*" >&2
  failures=$((failures + 1))
}

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
data=$prefix/share
update-mime-database "$data/mime" 2>/dev/null # not on the search path: it says so
update-desktop-database "$data/applications" 2>/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config"
# The prefix first, then the system's data (for the MIME types it defines); GIO offers an
# entry only when its program is found in PATH.
desktop() {
  env -i PATH="$prefix/bin:$PATH" HOME="$work/home" XDG_DATA_HOME="$work/home/data" \
    XDG_CONFIG_HOME="$work/home/config" XDG_CONFIG_DIRS="$work/config" \
    XDG_DATA_DIRS="$data:/usr/share" "$@"
}
# The entries GIO lists for a type (default, registered, recommended), one a line.
entries_for() {
  desktop gio mime "$1" | sed -n 's/^Default application for .*: //p; s/^\t//p' | sort -u
}

echo "not empty" >"$work/song.kpz" # an empty file is plain text to GIO
type=$(desktop gio info -a standard::content-type "$work/song.kpz" |
  sed -n 's/^ *standard::content-type: //p')
[ "$type" = application/x-brisko-packer ] || fail ".kpz files are of type '$type'"
default=$(desktop gio mime application/x-brisko-packer | sed -n 's/^Default application for .*: //p')
[ "$default" = "$id.desktop" ] || fail ".kpz files open with '$default', not $id.desktop"

if entries_for application/x-brisko-packer | grep -qx "$id.compress.desktop"; then
  fail "the compressing entry is offered for .kpz files"
fi
for type in audio/x-wav audio/wav audio/vnd.wave audio/x-aiff application/octet-stream \
  text/plain; do
  if entries_for "$type" | grep -q "^$id\."; then
    fail "offered for $type: $(entries_for "$type" | grep "^$id\." | tr '\n' ' ')"
  fi
done

# xdg-mime asks the desktop's own tools where it knows them, and the caches otherwise.
if command -v xdg-mime >/dev/null; then
  default=$(desktop xdg-mime query default application/x-brisko-packer)
  [ "$default" = "$id.desktop" ] || fail "xdg-mime opens .kpz files with '$default'"
  for type in audio/x-wav audio/vnd.wave application/octet-stream; do
    default=$(desktop xdg-mime query default "$type" || true)
    case $default in "$id".*) fail "xdg-mime opens $type with $default" ;; esac
  done
else
  echo "xdg-mime is not installed: only GIO asked" >&2
fi

# KDE's context-menu action compresses any file but a .kpz, and names no other type.
menu=$data/kio/servicemenus/$id.compress.servicemenu.desktop
grep -qx 'MimeType=application/octet-stream;' "$menu" || fail "$menu: $(grep MimeType "$menu")"
grep -qx 'ExcludeServiceTypes=application/x-brisko-packer;' "$menu" ||
  fail "$menu does not leave .kpz files out"

# The window program's package: every program its metainfo provides is in it.
window=$work/window
cmake --install "$build" --prefix "$window" --component window >/dev/null
metainfo=$window/share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "the window package has no metainfo"
while read -r binary; do
  [ -x "$window/bin/$binary" ] || fail "the metainfo provides $binary, which its package lacks"
done < <(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")

rm -rf "$prefix"
[ "$failures" -eq 0 ] || exit 1
echo "desktop: entries, types and metainfo as expected"
