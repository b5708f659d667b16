# SPDX-License-Identifier: BSD-3-Clause
# Helpers shared by the side-by-side benchmark scripts; sourced, not run. They expect
# $work (the script's scratch folder, with times/ and rss/ in it), an array cmd holding the
# command to time, and a function run_checked NAME COMMAND... that runs it and fails loudly.

# A tool's name as a file name.
slug() { tr -c 'a-z0-9\n' '_' <<<"$1"; }

# Runs cmd once after writing back the dirty pages of earlier runs, so that no tool pays
# for another's writes, and appends its wall-clock seconds to times/<slug of NAME>.
time_once() {
    local name=$1 t0 t1
    sync
    t0=$(date +%s.%N)
    run_checked "$name" "${cmd[@]}"
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }' >>"$work/times/$(slug "$name")"
}

# Fills the associative array med with each named tool's median time.
collect_medians() {
    declare -gA med=()
    local name
    for name in "$@"; do
        med[$name]=$(median "$work/times/$(slug "$name")")
    done
}

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -g "$1" | awk -v m="$2" '{ v[NR] = $1 } END { printf "%.0f%%", 100 * (v[NR] - v[1]) / m }'; }
peak_kib() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/rss/$(slug "$1")"; }
