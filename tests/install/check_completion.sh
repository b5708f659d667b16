#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The bash completion of kpz offers .kpz files exactly when the words before the cursor
# choose restoring, testing or listing, however that is written. bash-completion's helpers
# are stood in for by stubs that record what the completion asked for.
# Usage: check_completion.sh COMPLETION_FILE
set -uo pipefail
# shellcheck disable=SC1090
source "$1"

asked=""
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]}
    split=false
}
_filedir() { asked="files${1:+ $1}"; }
compopt() { :; }

failures=0
expect() {
    local want=$1 line=$2
    read -r -a COMP_WORDS <<<"$line"
    COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    asked=""
    _kpz
    if [ "$asked" != "$want" ]; then
        echo "'$line ': completion asked for '$asked', expected '$want'" >&2
        failures=$((failures + 1))
    fi
}

for line in "kpz -d" "kpz -dc" "kpz -dv" "kpz -tv" "kpz -vt" "kpz -l" "kpz -qfl" \
  "kpz --decomp" "kpz --decompress" "kpz --d" "kpz --te" "kpz --list" "kpz -c --test a.kpz" \
  "kpz -d -- " "kpz -k -d"; do
  expect "files kpz" "$line"
done
for line in "kpz" "kpz -c" "kpz -zv" "kpz -k" "kpz --check" "kpz --verbose" "kpz -odata" \
  "kpz -j4" "kpz -o dtl" "kpz --name=d.wav" "kpz -- -d"; do
  expect "files" "$line"
done
expect "files -d" "kpz -d -o"
expect "files -d" "kpz --out"

[ "$failures" -eq 0 ] || exit 1
echo "completion: all cases as expected"
