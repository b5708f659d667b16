#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Side-by-side wall-clock comparison of kpz with cp, flac, wavpack and zstd on the shared
# corpus's all.wav (about 175 MB of 16-bit stereo music).
#
# Usage (from the repo root): bench/compare.sh [KPZ] [ROUNDS]
#   KPZ     the kpz binary (default: build/cli/kpz under the repo root)
#   ROUNDS  timed rounds; each round runs every tool once, in an order rotated from
#           round to round, and the table shows medians (default: 5)
# Environment:
#   KPZ_CORPUS   corpus folder (default /tmp/kpz-corpus), made by MAKE_CORPUS when needed
#   MAKE_CORPUS  corpus builder (default ../shared/corpus/make-corpus beside the repo)
#   KPZ_BUSY     busy loops kept running through the timed rounds (default 0): with one
#                per processor, every row is timed on a machine with no processor free
#
# "kpz portable" rows run the same binary with the block kernels that need nothing past
# SSE2 (KPZ_KERNELS=portable), beside the fastest ones the processor supports.
#
# One untimed round comes first: it makes the compressed inputs that the decoders read,
# records every tool's peak resident memory with /usr/bin/time -v, and checks that kpz
# restores all.wav bit for bit. Outputs go to a scratch folder under /tmp that is removed
# at exit; each timed run deletes its output first, so every run writes a fresh file.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"
kpz=${1:-$root/build/cli/kpz}
rounds=${2:-5}
corpus=${KPZ_CORPUS:-/tmp/kpz-corpus}
make_corpus=${MAKE_CORPUS:-$root/../shared/corpus/make-corpus}

die() {
    echo "compare.sh: $*" >&2
    exit 1
}

[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive whole number, not '$rounds'"
[[ -f $kpz && -x $kpz ]] || die "no kpz binary at $kpz (build it, or pass its path)"
kpz=$(realpath "$kpz")
for t in flac wavpack zstd cmp awk; do
    command -v "$t" >/dev/null || die "$t is not installed"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (Debian package 'time')"

if [[ ! -s $corpus/all.wav ]]; then
    echo "making the corpus in $corpus (the first time installs packages; takes minutes)" >&2
    "$make_corpus" "$corpus" >/dev/null
fi
[[ -s $corpus/all.wav ]] || die "$corpus/all.wav is missing after making the corpus"

work=$(mktemp -d /tmp/kpz-compare.XXXXXX)
busy_pids=()
stop_busy() {
    local p
    for p in "${busy_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    busy_pids=()
}
trap 'stop_busy; rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ref/portable" "$work/out/portable" "$work/ref/check" "$work/out/check" \
    "$work/times" "$work/rss"
src=$work/in/all.wav
cp "$corpus/all.wav" "$src"
src_bytes=$(stat -c %s "$src")

# The batch rows take the corpus's other five files at once; "one core" rows run pinned to
# processor 0 with taskset, as on a one-processor machine (kpz like the plain row, without
# the check value, so that its output is the plain row's file).
batch=()
for f in "$corpus"/*.wav; do
    [[ $(basename "$f") == all.wav ]] || batch+=("$f")
done
((${#batch[@]} > 0)) || die "no batch files beside all.wav in $corpus"
mkdir -p "$work/in/batch" "$work/out/batch/cp" "$work/out/batch/kpz"
for d in ref out; do
    mkdir -p "$work/$d/onecore/cp" "$work/$d/onecore/kpz" "$work/$d/one/check" "$work/$d/two"
done
cp "${batch[@]}" "$work/in/batch/"
batch=("$work"/in/batch/*.wav)
batch_bytes=$(cat "${batch[@]}" | wc -c)

compressors=("cp" "kpz" "kpz --check" "kpz 1 thread" "kpz --check 1 thread" "kpz 2 threads"
    "kpz portable" "cp one core" "kpz one core" "flac -0" "wavpack -f" "zstd -1")
decompressors=("kpz -d" "kpz -d checked" "kpz -d portable" "kpz -d one core" "flac -d" "zstd -d")
batches=("cp batch" "kpz -j2 batch")
tools=("${compressors[@]}" "${decompressors[@]}" "${batches[@]}")


# Sets cmd (the command line), outfile (the file it writes, or the last of them) and
# outputs (every file it writes) for tool $1 writing into folder $2. Decoders read the
# compressed files made in $work/ref.
set_command() {
    local dir=$2 f
    outputs=()
    case $1 in
    "cp") outfile=$dir/cp.wav; cmd=(cp "$src" "$outfile") ;;
    # The plain row leaves the check value out (it is kpz's default), so that the
    # "kpz --check" row shows what the check value costs.
    "kpz") outfile=$dir/all.kpz; cmd=("$kpz" --no-check -q -f -o "$dir" "$src") ;;
    "kpz -d") outfile=$dir/all.wav; cmd=("$kpz" -d -q -f -o "$dir" "$work/ref/all.kpz") ;;
    "kpz --check") outfile=$dir/check/all.kpz; cmd=("$kpz" --check -q -f -o "$dir/check" "$src") ;;
    "kpz -d checked")
        outfile=$dir/check/all.wav
        cmd=("$kpz" -d -q -f -o "$dir/check" "$work/ref/check/all.kpz")
        ;;
    # The one-thread build's work (KPZ_THREADS=1), and two threads whatever the machine runs.
    "kpz 1 thread")
        outfile=$dir/one/all.kpz
        cmd=(env KPZ_THREADS=1 "$kpz" --no-check -q -f -o "$dir/one" "$src")
        ;;
    "kpz --check 1 thread")
        outfile=$dir/one/check/all.kpz
        cmd=(env KPZ_THREADS=1 "$kpz" --check -q -f -o "$dir/one/check" "$src")
        ;;
    "kpz 2 threads")
        outfile=$dir/two/all.kpz
        cmd=(env KPZ_THREADS=2 "$kpz" --no-check -q -f -o "$dir/two" "$src")
        ;;
    "kpz portable")
        outfile=$dir/portable/all.kpz
        cmd=(env KPZ_KERNELS=portable "$kpz" --no-check -q -f -o "$dir/portable" "$src")
        ;;
    "kpz -d portable")
        outfile=$dir/portable/all.wav
        cmd=(env KPZ_KERNELS=portable "$kpz" -d -q -f -o "$dir/portable" "$work/ref/all.kpz")
        ;;
    "flac -0") outfile=$dir/all.flac; cmd=(flac -0 -s -f -o "$outfile" "$src") ;;
    "flac -d") outfile=$dir/flac.wav; cmd=(flac -d -s -f -o "$outfile" "$work/ref/all.flac") ;;
    "wavpack -f") outfile=$dir/all.wv; cmd=(wavpack -f -q -y "$src" -o "$outfile") ;;
    "zstd -1") outfile=$dir/all.wav.zst; cmd=(zstd -1 -T1 -q -f "$src" -o "$outfile") ;;
    "zstd -d") outfile=$dir/zstd.wav; cmd=(zstd -d -q -f "$work/ref/all.wav.zst" -o "$outfile") ;;
    "cp one core") outfile=$dir/onecore/cp/all.wav; cmd=(taskset -c 0 cp "$src" "$outfile") ;;
    "kpz one core")
        outfile=$dir/onecore/kpz/all.kpz
        cmd=(taskset -c 0 "$kpz" --no-check -q -f -o "$dir/onecore/kpz" "$src")
        ;;
    "kpz -d one core")
        outfile=$dir/onecore/kpz/all.wav
        cmd=(taskset -c 0 "$kpz" -d -q -f -o "$dir/onecore/kpz" "$work/ref/all.kpz")
        ;;
    "cp batch")
        for f in "${batch[@]}"; do outputs+=("$dir/batch/cp/$(basename "$f")"); done
        cmd=(cp "${batch[@]}" "$dir/batch/cp/")
        ;;
    "kpz -j2 batch")
        for f in "${batch[@]}"; do outputs+=("$dir/batch/kpz/$(basename "$f" .wav).kpz"); done
        cmd=("$kpz" -j2 -q -f -o "$dir/batch/kpz" "${batch[@]}")
        ;;
    *) die "unknown tool '$1'" ;;
    esac
    ((${#outputs[@]} > 0)) || outputs=("$outfile")
    outfile=${outputs[-1]}
}

# Runs cmd once; fails loudly if the tool fails or leaves an output missing. The caller
# removes the outputs first, outside any timing.
run_checked() {
    local name=$1 f
    shift
    if ! "$@" >"$work/log" 2>&1; then
        cat "$work/log" >&2
        die "'$name' failed: ${cmd[*]}"
    fi
    for f in "${outputs[@]}"; do
        [[ -s $f ]] || die "'$name' wrote no output at $f"
    done
}

echo "input: $corpus/all.wav, $src_bytes bytes; kpz: $kpz; rounds: $rounds" >&2

# Untimed round: reference outputs for the decoders, peak memory, round-trip check.
for name in "${tools[@]}"; do
    dir=$work/out
    for c in "${compressors[@]}"; do [[ $name == "$c" ]] && dir=$work/ref; done
    set_command "$name" "$dir"
    rm -f "${outputs[@]}"
    run_checked "$name" /usr/bin/time -v -o "$work/rss/$(slug "$name")" "${cmd[@]}"
    cat "${outputs[@]}" | wc -c >"$work/times/$(slug "$name").size"
done
cmp "$src" "$work/out/all.wav" || die "kpz -d did not restore all.wav exactly"
cmp "$src" "$work/out/portable/all.wav" || die "kpz -d (portable) did not restore all.wav exactly"
cmp "$work/ref/all.kpz" "$work/ref/portable/all.kpz" || die "the kernels gave different files"
cmp "$src" "$work/out/onecore/kpz/all.wav" || die "kpz -d on one core did not restore all.wav"
cmp "$work/ref/all.kpz" "$work/ref/onecore/kpz/all.kpz" || die "kpz on one core gave another file"
cmp "$work/ref/all.kpz" "$work/ref/one/all.kpz" || die "kpz on one thread gave another file"
cmp "$work/ref/all.kpz" "$work/ref/two/all.kpz" || die "kpz on two threads gave another file"
cmp "$work/ref/check/all.kpz" "$work/ref/one/check/all.kpz" ||
    die "kpz --check on one thread gave another file"
cmp "$src" "$work/out/zstd.wav" || die "zstd -d did not restore all.wav exactly"
cmp "$src" "$work/out/check/all.wav" || die "kpz -d did not restore the checked all.kpz exactly"
[[ $(($(stat -c %s "$work/ref/check/all.kpz") - $(stat -c %s "$work/ref/all.kpz"))) == 16 ]] ||
    die "kpz --check did not add exactly the 16-byte trailer"
echo "kpz round trip: restored files are identical to all.wav, and both kernels' .kpz files match" >&2

# Timed rounds. Dirty pages of the previous run are written back before each run, so no
# tool pays for another's writes.
busy=${KPZ_BUSY:-0}
[[ $busy =~ ^[0-9]+$ ]] || die "KPZ_BUSY must be a whole number, not '$busy'"
for ((b = 0; b < busy; b++)); do
    bash -c 'while :; do :; done' &
    busy_pids+=($!)
done
((busy == 0)) || echo "timed rounds with $busy busy loops running" >&2
n=${#tools[@]}
for ((r = 0; r < rounds; r++)); do
    echo "round $((r + 1))/$rounds" >&2
    for ((k = 0; k < n; k++)); do
        name=${tools[$(((k + r) % n))]}
        set_command "$name" "$work/out"
        rm -f "${outputs[@]}"
        time_once "$name"
    done
done

stop_busy
echo "load average after the rounds: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
collect_medians "${tools[@]}"

printf '\n%-16s %9s %7s %8s %8s %8s %8s %10s\n' \
    tool "median s" spread "out/wav" "t/cp" "t/flac" "MB/s" "peak RSS"
for name in "${tools[@]}"; do
    s=$(slug "$name")
    m=${med[$name]}
    base="" inb=$src_bytes cp=${med[cp]}
    case $name in
    "cp") base="" ;;
    *batch) inb=$batch_bytes cp=${med["cp batch"]} ;;
    *"one core") cp=${med["cp one core"]} ;;
    *" -d" | *" -d "*) base=${med["flac -d"]} ;;
    *) base=${med["flac -0"]} ;;
    esac
    awk -v name="$name" -v m="$m" -v sp="$(spread "$work/times/$s" "$m")" \
        -v out="$(cat "$work/times/$s.size")" -v inb="$inb" -v cp="$cp" \
        -v base="$base" -v rss="$(peak_kib "$name")" 'BEGIN {
            tf = (base == "") ? "-" : sprintf("%.3f", m / base)
            printf "%-16s %9.3f %7s %8.3f %8.2f %8s %8.0f %6.1f MiB\n",
                   name, m, sp, out / inb, m / cp, tf, inb / m / 1e6, rss / 1024
        }'
done
cat <<'EOF'

median s: median wall-clock seconds over the timed rounds; spread: (max - min) / median.
out/wav: output bytes / all.wav bytes. t/cp, t/flac: median time / cp's, and / flac -0's
(compressors) or flac -d's (decompressors). MB/s: all.wav bytes (1e6) per second.
"batch" rows: the corpus's other five files in one command, against cp of the five.
"one core" rows: pinned to processor 0 (taskset -c 0), against cp pinned the same way.
"1 thread" rows: KPZ_THREADS=1, the one-thread build's work; "2 threads": KPZ_THREADS=2.
peak RSS: Maximum resident set size from /usr/bin/time -v (untimed round).
EOF

awk -v c="${med[kpz]}" -v fc="${med["flac -0"]}" -v d="${med["kpz -d"]}" -v fd="${med["flac -d"]}" \
    -v rc="$(peak_kib kpz)" -v rd="$(peak_kib "kpz -d")" 'BEGIN {
        verdict = "met"; if (fc / c < 3) verdict = "NOT met"
        printf "\nfloor: kpz is %.2fx as fast as flac -0 (needs >= 3): %s\n", fc / c, verdict
        verdict = "met"; if (fd / d < 3) verdict = "NOT met"
        printf "floor: kpz -d is %.2fx as fast as flac -d (needs >= 3): %s\n", fd / d, verdict
        peak = (rc > rd) ? rc : rd
        verdict = "met"; if (peak >= 16 * 1024) verdict = "NOT met"
        printf "floor: kpz peak RSS %.1f MiB, kpz -d %.1f MiB (need < 16 MiB): %s\n",
               rc / 1024, rd / 1024, verdict
    }'
awk -v c="${med[kpz]}" -v cc="${med["kpz --check"]}" -v d="${med["kpz -d"]}" \
    -v dc="${med["kpz -d checked"]}" 'BEGIN {
        printf "\ncheck value: kpz --check %+.1f%% against kpz, kpz -d of a checked file %+.1f%% against kpz -d\n",
               100 * (cc / c - 1), 100 * (dc / d - 1)
    }'
awk -v c="${med[kpz]}" -v d="${med["kpz -d"]}" -v cp="${med[cp]}" -v fc="${med["flac -0"]}" \
    -v fd="${med["flac -d"]}" 'BEGIN {
        printf "\ntarget: kpz %.2fx cp (<= 1.5), kpz -d %.2fx cp (<= 1.8)\n", c / cp, d / cp
        printf "target: kpz %.1fx faster than flac -0 (>= 12), kpz -d %.1fx faster than flac -d (>= 8)\n",
               fc / c, fd / d
    }'
awk -v c="${med[kpz]}" -v d="${med["kpz -d"]}" -v cp="${med[cp]}" -v b="${med["kpz -j2 batch"]}" \
    -v cb="${med["cp batch"]}" -v o="${med["kpz one core"]}" -v od="${med["kpz -d one core"]}" \
    -v co="${med["cp one core"]}" 'BEGIN {
        printf "goal: kpz %.2fx cp, kpz -d %.2fx cp, kpz -j2 batch %.2fx cp batch (each <= 1.0)\n",
               c / cp, d / cp, b / cb
        printf "one core: kpz %.2fx cp, kpz -d %.2fx cp (both pinned to processor 0)\n", o / co, od / co
    }'
awk -v c="${med[kpz]}" -v c1="${med["kpz 1 thread"]}" -v c2="${med["kpz 2 threads"]}" \
    -v cc="${med["kpz --check"]}" -v cc1="${med["kpz --check 1 thread"]}" -v cp="${med[cp]}" 'BEGIN {
        printf "threads: kpz 1 thread %.2fx cp, 2 threads %.2fx cp; as chosen %.2fx 1 thread, --check as chosen %.2fx --check 1 thread\n",
               c1 / cp, c2 / cp, c / c1, cc / cc1
    }'
