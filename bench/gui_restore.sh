#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Side-by-side wall-clock comparison of the window program's command-line restore
# (brisko-packer FILE.kpz) with kpz -d on the same .kpz of the shared corpus's all.wav
# (about 175 MB of 16-bit stereo music).
#
# Usage (from the repo root): bench/gui_restore.sh [APP] [KPZ] [ROUNDS] [FLOOR]
#   APP     the window program (default: build/app/brisko-packer under the repo root)
#   KPZ     the kpz binary (default: build/cli/kpz under the repo root)
#   ROUNDS  timed rounds; each round runs every row once, the order alternating from
#           round to round, and the table shows medians (default: 5)
#   FLOOR   a plain Qt Widgets program that shows one window and quits once it is painted
#           (default: build/bench/qt_floor; the row is left out when it is missing)
# Environment:
#   KPZ_CORPUS   corpus folder (default /tmp/kpz-corpus), made by MAKE_CORPUS when needed
#   MAKE_CORPUS  corpus builder (default ../shared/corpus/make-corpus beside the repo)
#   RUN_TIMEOUT  seconds one run may take before the script fails (default 120)
#   BASE_APP     another build of the window program (an older one, say) to time in the same
#                rounds: its rows are "window (base)" and "window, 4 KiB (base)"
#
# The window program restores into its working directory under the name stored in the
# .kpz, so it runs in the folder that holds the .kpz. It needs an X display: without
# DISPLAY the script starts its own Xvfb and stops it at exit. The real xcb platform is
# used on purpose (the window's progress refresh is part of what is measured), never the
# offscreen one. Anything modal (the overwrite prompt, an error box) would wait for a click
# forever, so every output is deleted before its run and every run has a time limit.
# The program gets a scratch HOME and XDG folders, emptied before each run, so no state it
# saves (the file dialog's history) carries from one run to the next.
#
# kpz makes the .kpz first. One untimed round then checks that both restores are identical
# to all.wav and records each tool's peak resident memory with /usr/bin/time -v. The table
# also times the window program restoring a 4 KiB file, which is its start-up and exit
# alone, and the floor program beside it: what any Qt Widgets program pays to start, show a
# window and end. Outputs go to a scratch folder under /tmp that is removed at exit.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"
app=${1:-$root/build/app/brisko-packer}
kpz=${2:-$root/build/cli/kpz}
rounds=${3:-5}
floor=${4:-$root/build/bench/qt_floor}
corpus=${KPZ_CORPUS:-/tmp/kpz-corpus}
make_corpus=${MAKE_CORPUS:-$root/../shared/corpus/make-corpus}
limit=${RUN_TIMEOUT:-120}

die() {
    echo "gui_restore.sh: $*" >&2
    exit 1
}

[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive whole number, not '$rounds'"
[[ $limit =~ ^[1-9][0-9]*$ ]] || die "RUN_TIMEOUT must be a positive whole number, not '$limit'"
[[ -f $app && -x $app ]] || die "no window program at $app (build it, or pass its path)"
[[ -f $kpz && -x $kpz ]] || die "no kpz binary at $kpz (build it, or pass its path)"
app=$(realpath "$app")
kpz=$(realpath "$kpz")
for t in cmp awk timeout; do
    command -v "$t" >/dev/null || die "$t is not installed"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (Debian package 'time')"
[[ -n ${DISPLAY:-} ]] || command -v Xvfb >/dev/null ||
    die "DISPLAY is not set and Xvfb is not installed (Debian package 'xvfb')"

if [[ ! -s $corpus/all.wav ]]; then
    echo "making the corpus in $corpus (the first time installs packages; takes minutes)" >&2
    "$make_corpus" "$corpus" >/dev/null
fi
[[ -s $corpus/all.wav ]] || die "$corpus/all.wav is missing after making the corpus"

work=$(mktemp -d /tmp/kpz-gui-restore.XXXXXX)
xvfb_pid=""
cleanup() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/in" "$work/ref" "$work/tiny" "$work/out" "$work/times" "$work/rss"
src=$work/in/all.wav
cp "$corpus/all.wav" "$src"
src_bytes=$(stat -c %s "$src")

# The .kpz files both tools restore: all.wav, and 4 KiB of it for the start-up row.
"$kpz" -q -f -o "$work/ref" "$src" || die "kpz could not compress $src"
head -c 4096 "$src" >"$work/in/tiny.wav"
"$kpz" -q -f -o "$work/tiny" "$work/in/tiny.wav" || die "kpz could not compress tiny.wav"

if [[ -z ${DISPLAY:-} ]]; then
    # Xvfb picks a free display number itself and writes it to fd 3 once it accepts
    # clients, which also tells the script when it is ready.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for ((i = 0; i < 100; i++)); do
        [[ -s $work/display ]] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    [[ -s $work/display ]] || {
        cat "$work/xvfb.log" >&2
        die "Xvfb did not start"
    }
    DISPLAY=:$(tr -d '[:space:]' <"$work/display")
    export DISPLAY
fi

app_home=$work/home
# Gives the window program an empty HOME and XDG folders; run before each of its runs.
fresh_home() {
    rm -rf "$app_home"
    mkdir -p "$app_home/config" "$app_home/data" "$app_home/cache" "$app_home/runtime"
    chmod 700 "$app_home/runtime"
}
app_env=(env HOME="$app_home" XDG_CONFIG_HOME="$app_home/config"
    XDG_DATA_HOME="$app_home/data" XDG_CACHE_HOME="$app_home/cache"
    XDG_RUNTIME_DIR="$app_home/runtime" QT_QPA_PLATFORM=xcb DISPLAY="$DISPLAY")

tools=("kpz -d" "window" "window, 4 KiB")
base_app=${BASE_APP:-}
if [[ -n $base_app ]]; then
    [[ -f $base_app && -x $base_app ]] || die "no window program at BASE_APP=$base_app"
    base_app=$(realpath "$base_app")
    tools+=("window (base)" "window, 4 KiB (base)")
fi
if [[ -x $floor ]]; then
    floor=$(realpath "$floor")
    tools+=("Qt floor")
else
    echo "no floor program at $floor: its row is left out (build the qt_floor target)" >&2
fi


# Sets cmd (the command line), rundir (its working directory), outfile (the file it
# writes) and outbytes (the size that file must have) for tool $1.
set_command() {
    case $1 in
    "kpz -d")
        rundir=$work; outfile=$work/out/all.wav; outbytes=$src_bytes
        cmd=("$kpz" -d -q -f -o "$work/out" "$work/ref/all.kpz") ;;
    "window")
        rundir=$work/ref; outfile=$work/ref/all.wav; outbytes=$src_bytes
        cmd=("${app_env[@]}" "$app" "$work/ref/all.kpz") ;;
    "window, 4 KiB")
        rundir=$work/tiny; outfile=$work/tiny/tiny.wav; outbytes=4096
        cmd=("${app_env[@]}" "$app" "$work/tiny/tiny.kpz") ;;
    "window (base)")
        rundir=$work/ref; outfile=$work/ref/all.wav; outbytes=$src_bytes
        cmd=("${app_env[@]}" "$base_app" "$work/ref/all.kpz") ;;
    "window, 4 KiB (base)")
        rundir=$work/tiny; outfile=$work/tiny/tiny.wav; outbytes=4096
        cmd=("${app_env[@]}" "$base_app" "$work/tiny/tiny.kpz") ;;
    "Qt floor")
        rundir=$work; outfile=""; outbytes=0
        cmd=("${app_env[@]}" "$floor") ;;
    *) die "unknown tool '$1'" ;;
    esac
}

# Runs "$@" in rundir under the time limit, with the output removed first. The window
# program ends with status 0 whatever happened, so the output's size is checked as well.
run_checked() {
    local name=$1 status=0
    shift
    [[ -n $outfile ]] && rm -f "$outfile"
    (cd "$rundir" && timeout -k 5 "$limit" "$@") >"$work/log" 2>&1 || status=$?
    if ((status != 0)); then
        cat "$work/log" >&2
        ((status == 124 || status == 137)) &&
            die "'$name' did not end within $limit s (a dialog waiting for an answer?)"
        die "'$name' failed with status $status: ${cmd[*]}"
    fi
    [[ -n $outfile ]] || return 0 # the floor writes nothing
    [[ -f $outfile ]] || {
        cat "$work/log" >&2
        die "'$name' wrote no output at $outfile"
    }
    local got
    got=$(stat -c %s "$outfile")
    ((got == outbytes)) || die "'$name' wrote $got bytes to $outfile, not $outbytes"
}

echo "input: $corpus/all.wav, $src_bytes bytes ($(stat -c %s "$work/ref/all.kpz") as .kpz)" >&2
echo "window program: $app; kpz: $kpz; display: $DISPLAY; rounds: $rounds" >&2

# Untimed round: peak memory, and every restore checked bit for bit (the window programs
# write to the same place, so each is checked right after its run).
for name in "${tools[@]}"; do
    set_command "$name"
    fresh_home
    run_checked "$name" /usr/bin/time -v -o "$work/rss/$(slug "$name")" "${cmd[@]}"
    case $name in
    "kpz -d" | "window" | "window (base)")
        cmp "$src" "$outfile" || die "'$name' did not restore all.wav exactly" ;;
    "window, 4 KiB" | "window, 4 KiB (base)")
        cmp "$work/in/tiny.wav" "$outfile" || die "'$name' did not restore tiny.wav exactly" ;;
    esac
done
echo "every restore is identical to its original" >&2

# Timed rounds, the order alternating. Dirty pages of the previous run are written back
# before each run, so no tool pays for another's writes.
n=${#tools[@]}
for ((r = 0; r < rounds; r++)); do
    echo "round $((r + 1))/$rounds" >&2
    for ((k = 0; k < n; k++)); do
        if ((r % 2 == 0)); then name=${tools[$k]}; else name=${tools[$((n - 1 - k))]}; fi
        set_command "$name"
        [[ -n $outfile ]] && rm -f "$outfile"
        fresh_home
        time_once "$name"
    done
done

collect_medians "${tools[@]}"

printf '\n%-21s %9s %7s %8s %8s %8s %8s %10s\n' \
    tool "median s" spread "min s" "max s" "t/kpz" "MB/s" "peak RSS"
for name in "${tools[@]}"; do
    s=$(slug "$name")
    m=${med[$name]}
    bytes=$src_bytes
    [[ $name == "window, 4 KiB"* || $name == "Qt floor" ]] && bytes=4096
    awk -v name="$name" -v m="$m" -v sp="$(spread "$work/times/$s" "$m")" \
        -v lo="$(sort -g "$work/times/$s" | head -n 1)" \
        -v hi="$(sort -g "$work/times/$s" | tail -n 1)" \
        -v k="${med["kpz -d"]}" -v bytes="$bytes" -v rss="$(peak_kib "$name")" 'BEGIN {
            rate = (bytes < 1e6) ? "-" : sprintf("%.0f", bytes / m / 1e6)
            printf "%-21s %9.3f %7s %8.3f %8.3f %8.2f %8s %6.1f MiB\n",
                   name, m, sp, lo, hi, m / k, rate, rss / 1024
        }'
done
cat <<'EOF'

median s: median wall-clock seconds over the timed rounds; spread: (max - min) / median.
t/kpz: median time / kpz -d's. MB/s: restored bytes (1e6) per second. peak RSS: Maximum
resident set size from /usr/bin/time -v (untimed round). "window" is the window program
restoring all.kpz; "window, 4 KiB" restores a 4 KiB file: its start-up and exit alone.
"Qt floor" is a plain Qt Widgets program that shows one window and quits. The "(base)" rows
are BASE_APP, timed in the same rounds.
EOF

# The targets: the restore at most 1.2 times kpz -d plus the window program's own start-up
# and exit, and that start-up at most 1.2 times the floor's.
verdicts() { # NAME SUFFIX
    awk -v w="${med["window$2"]}" -v k="${med["kpz -d"]}" -v s="${med["window, 4 KiB$2"]}" \
        -v name="$1" 'BEGIN {
        printf "\n%s: restore less its start-up and exit: %.3f s (%.2fx kpz -d)\n",
               name, w - s, (w - s) / k
        verdict = "met"; if (w > 1.2 * (k + s)) verdict = "NOT met"
        printf "%s: restore %.3f s against 1.2 x (kpz -d + start-up) = %.3f s: %.2fx (<= 1.2): %s\n",
               name, w, 1.2 * (k + s), w / (k + s), verdict
    }'
    if [[ -n ${med["Qt floor"]:-} ]]; then
        awk -v s="${med["window, 4 KiB$2"]}" -v f="${med["Qt floor"]}" -v name="$1" 'BEGIN {
            verdict = "met"; if (s / f > 1.2) verdict = "NOT met"
            printf "%s: start-up %.3f s against the Qt floor %.3f s: %.2fx (<= 1.2): %s\n",
                   name, s, f, s / f, verdict
        }'
    fi
}
verdicts "window" ""
[[ -z $base_app ]] || verdicts "base" " (base)"
