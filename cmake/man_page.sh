#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Makes one man page: man_page.sh SCDOC SOURCE.scd OUTPUT.gz
# The scdoc source becomes roff, every character outside ASCII becomes a groff escape (groff
# reads plain bytes as Latin-1, so a raw UTF-8 character prints as garbage and warns), groff
# then reads the page with every warning on, and the page is gzipped. A line of the source
# that starts with a dot or an apostrophe, or any groff warning, fails the build.
set -eu
scdoc=$1
source=$2
output=$3
roff=${output%.gz}

# roff takes a line that starts with a dot or an apostrophe for a request and drops it, text
# and all, so such a line (say, one starting with ".kpz") is refused.
if grep -n "^[[:space:]]*[.']" "$source" >&2; then
  echo "$source: a line starts with . or '; roff would drop it" >&2
  exit 1
fi

"$scdoc" < "$source" > "$roff.scdoc"
preconv -e UTF-8 "$roff.scdoc" > "$roff.escaped"
# preconv writes a line-number request first; the page does not need it.
sed '/^\.lf /d' "$roff.escaped" > "$roff"
rm -f "$roff.scdoc" "$roff.escaped"

warnings=$(groff -man -Tutf8 -ww -z "$roff" 2>&1) || true
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings" >&2
  echo "$source: groff -man -ww warns about the page made from it" >&2
  exit 1
fi
gzip -9n < "$roff" > "$output"
