#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# One list of options and environment variables: kpz --help, the kpz(1) page and the
# manual in docs/ must name the same ones, and every option the parser takes must be in the
# help. check_options.sh KPZ_BINARY SOURCE_ROOT
set -eu
kpz=$1
root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Option names (-x, --name) in the first column of option lines.
names() { grep -o -- '--\{0,1\}[a-zA-Z][a-zA-Z-]*' | sort -u; }

help=$("$kpz" --help)
printf '%s\n' "$help" | sed -n 's/^ \{2,6\}\(-[^ ].*\)$/\1/p' | sed 's/  .*//' | names \
  > "$work/help.options"
printf '%s\n' "$help" | sed -n '/^Environment:$/,/^$/s/^  \([A-Z][A-Z_]*\) .*/\1/p' | sort -u \
  > "$work/help.environment"

page=$root/doc/kpz.1.scd
grep '^\*-' "$page" | grep -o -- '\*--\{0,1\}[a-zA-Z][a-zA-Z-]*\*' | tr -d '*' | sort -u \
  > "$work/page.options"
sed -n '/^# ENVIRONMENT$/,/^# /s/^\*\([A-Z][A-Z_]*\)\*$/\1/p' "$page" | sort -u \
  > "$work/page.environment"

manual=$root/docs/manual.md
sed -n 's/^ \{2,6\}\(-[^ ].*\)$/\1/p' "$manual" | sed 's/  .*//' | names > "$work/manual.options"
sed -n '/^## Environment$/,/^## /s/^| `\([A-Z][A-Z_]*\)` |.*/\1/p' "$manual" | sort -u \
  > "$work/manual.environment"

# What the parser takes: its short letters and its long names. --uncompress and --to-stdout
# are other spellings of --decompress and --stdout, taken for scripts written for other
# compressors and not shown.
source=$root/cli/options.cpp
{
  sed -n 's/.*kShortOptions = "\([^"]*\)".*/\1/p' "$source" | tr -d ':' | fold -w1 | sed 's/^/-/'
  sed -n 's/^ *{"\([a-z-]*\)", .*/--\1/p' "$source" | grep -vx -e --uncompress -e --to-stdout
} | sort -u > "$work/parser.options"

status=0
same() {
  if ! diff -u "$work/$1" "$work/$2"; then
    echo "check_options: $1 and $2 differ (lines with - or + are in one only)" >&2
    status=1
  fi
}
for list in help.options help.environment; do
  [ -s "$work/$list" ] || { echo "check_options: no $list found" >&2; status=1; }
done
same help.options page.options
same help.options manual.options
same help.options parser.options
same help.environment page.environment
same help.environment manual.environment
exit $status
