#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The bash completion of kpz offers .kpz files exactly when the words before the cursor
# choose restoring, testing or listing, however that is written; folders after -o, nothing
# after the other options that take the next word as their value, and files after every
# option that takes none. bash-completion's helpers are stood in for by stubs that record
# what the completion asked for.
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
expect "files -d" "kpz -vo"
expect "" "kpz -j"
expect "" "kpz -cj"
expect "" "kpz --na"
expect "" "kpz --jobs"
expect "files" "kpz --password-file"
expect "files" "kpz -j4 -v"

# Every option that takes no value is followed by the files it works on. The table names
# what each one leads to; every option the completion offers is in it or takes a value.
declare -A after=(
  [-z]=files [--compress]=files [-c]=files [--stdout]=files [--to-stdout]=files
  [-r]=files [--recursive]=files [-f]=files [--force]=files [-k]=files [--keep]=files
  [--rm]=files [--check]=files [--no-check]=files [--verify]=files [-p]=files
  [--password]=files [-q]=files [--quiet]=files [-v]=files [--verbose]=files [-h]=files
  [--help]=files [-V]=files [--version]=files
  [-d]="files kpz" [--decompress]="files kpz" [--uncompress]="files kpz"
  [-t]="files kpz" [--test]="files kpz" [-l]="files kpz" [--list]="files kpz")
takes_value=" -o --output-dir= -j --jobs= --name= --password-file= "
for option in "${!after[@]}"; do
  expect "${after[$option]}" "kpz $option"
done
COMP_WORDS=(kpz -)
COMP_CWORD=1
COMPREPLY=()
_kpz
for option in "${COMPREPLY[@]}"; do
  if [[ -z ${after[$option]+set} && $takes_value != *" $option "* ]]; then
    echo "the completion offers $option, which the table does not name" >&2
    failures=$((failures + 1))
  fi
done
[ "${#COMPREPLY[@]}" -gt 30 ] || {
  echo "the completion offers only ${#COMPREPLY[@]} options" >&2
  failures=$((failures + 1))
}

[ "$failures" -eq 0 ] || exit 1
echo "completion: all cases as expected"
