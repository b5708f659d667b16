#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The C client (built through pkg-config and through the CMake package) and the Python
# ctypes client, each restoring a file, restoring from a pipe and compressing from a pipe,
# with every output compared with kpz's. libkpz is the one pkg-config, CMake and the loader
# find: the installed packages, or a scratch prefix given by PKG_CONFIG_PATH,
# CMAKE_PREFIX_PATH and KPZ_LIBRARY (the library file, for Python).
# Usage: check_clients.sh KPZ_TOOL
set -euo pipefail
tool=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_clients: $*" >&2; exit 1; }

libdir=$(pkg-config --variable=libdir kpz)
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -pedantic ${KPZ_TEST_CFLAGS:-} -o "$work/client-pc" \
  "$here/client.c" $(pkg-config --cflags --libs kpz) -Wl,-rpath,"$libdir"
cmake -S "$here" -B "$work/cmake" -DCMAKE_C_FLAGS="${KPZ_TEST_CFLAGS:-}" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cmake" >/dev/null
clients=("$work/client-pc" "$work/cmake/client" "python3 $here/client.py")
# An instrumented library needs the sanitizer runtime loaded first, which the Python
# interpreter does not do: its client runs in the plain builds.
case ${KPZ_TEST_CFLAGS:-} in *sanitize*) clients=("${clients[@]:0:2}") ;; esac

# Audio-like sources of a few sizes: empty, one byte, a few KiB, past one 512 KiB buffer.
python3 - "$work" <<'PY'
import math, random, sys
random.seed(5)
for size in (0, 1, 5003, 1100000):
    data = bytearray()
    for i in range(size // 4 + 1):
        v = int(8000 * math.sin(i / 40.0)) + random.randint(-30, 30)
        data += v.to_bytes(2, "little", signed=True) * 2
    open(f"{sys.argv[1]}/src-{size}.wav", "wb").write(bytes(data[:size]))
PY

checks=0
for password in "" "pass word"; do
  if [ -n "$password" ]; then export KPZ_PASSWORD=$password; else unset KPZ_PASSWORD; fi
  for src in "$work"/src-*.wav; do
    want=$work/want.kpz
    "$tool" -q -c --check --name=a.wav <"$src" >"$want"
    "$tool" -q -dc <"$want" >"$work/want.out"
    cmp -s "$work/want.out" "$src" || fail "kpz does not restore $src"
    for client in "${clients[@]}"; do
      what="$client, $(basename "$src")${password:+, with a password}"
      # shellcheck disable=SC2086
      cat "$src" | $client compress a.wav >"$work/got.kpz" || fail "$what: compress failed"
      cmp -s "$work/got.kpz" "$want" || fail "$what: compressed from a pipe differs from kpz's"
      # shellcheck disable=SC2086
      cat "$want" | $client stream >"$work/got.out" || fail "$what: stream failed"
      cmp -s "$work/got.out" "$work/want.out" || fail "$what: restored from a pipe differs"
      rm -f "$work/restored"
      # shellcheck disable=SC2086
      $client restore "$want" "$work/restored" || fail "$what: restore failed"
      cmp -s "$work/restored" "$work/want.out" || fail "$what: restored file differs"
      checks=$((checks + 3))
    done
  done
done
# A wrong password is refused, not restored into wrong bytes.
export KPZ_PASSWORD="wrong"
for client in "${clients[@]}"; do
  # shellcheck disable=SC2086
  ! cat "$want" | $client stream >/dev/null 2>&1 || fail "$client: a wrong password restored"
done
echo "clients: $checks outputs equal kpz's (${#clients[@]} clients)"
