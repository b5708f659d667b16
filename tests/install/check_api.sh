#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the build into a scratch prefix and uses libkpz from there as another program
# would: the C test built with the flags pkg-config gives, a CMake project that finds the
# package, and the library's exported symbols and SONAME.
# Usage: check_api.sh BUILD_DIR PREFIX VERSION SYMBOLS_FILE
# VERSION is the library's; SYMBOLS_FILE the Debian symbols file, which names every exported
# symbol with its version node.
set -euo pipefail
build=$1 prefix=$2 version=$3 symbols=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name kpz.pc)
[ -n "$pc" ] || { echo "kpz.pc not installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")
[ "$(pkg-config --modversion kpz)" = "$version" ] || { echo "kpz.pc has the wrong version" >&2; exit 1; }
libdir=$(pkg-config --variable=libdir kpz)
case $libdir in "$prefix"/*) ;; *) echo "kpz.pc points outside $prefix: $libdir" >&2; exit 1 ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror -pedantic -pthread ${KPZ_TEST_CFLAGS:-} -o "$work/api_test" \
  "$here/api_test.c" $(pkg-config --cflags --libs kpz) -Wl,-rpath,"$libdir"
# The header is also usable from C++.
echo '#include <kpz.h>' | c++ -std=c++17 -Wall -Werror -fsyntax-only -x c++ $(pkg-config --cflags kpz) -

mkdir "$work/files"
"$work/api_test" "$prefix/bin/kpz" "$work/files" "$version"

# The same program through the CMake package.
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="${KPZ_TEST_CFLAGS:-}" >/dev/null
cmake --build "$work/consumer" >/dev/null
mkdir "$work/files2"
"$work/consumer/api_test" "$prefix/bin/kpz" "$work/files2" "$version"

# The C and Python clients, each against kpz's outputs.
CMAKE_PREFIX_PATH="$prefix" KPZ_LIBRARY="$libdir/libkpz.so.1" \
  "$here/clients/check_clients.sh" "$prefix/bin/kpz"

# Only the C interface is exported, each symbol under the version node the symbols file
# gives it (the calls of 1.0 stay under KPZ_1 for good), and the SONAME has the ABI number.
lib=$(readlink -f "$libdir/libkpz.so")
versioned=$(nm -D --defined-only --with-symbol-versions "$lib" |
  awk '{n = $3; if (n !~ /@/) n = n "@" n; print n}' | sed 's/@@*/@/' | sort)
listed=$(awk 'NR > 1 && /^ / {print $1}' "$symbols" | sort)
if [ "$versioned" != "$listed" ]; then
  echo "exported symbols or their versions differ from $symbols (< file, > library):" >&2
  diff <(echo "$listed") <(echo "$versioned") >&2 || true
  exit 1
fi
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | grep -v '^KPZ_' | sort)
declared=$(grep -o 'kpz_[a-z0-9_]*(' "$prefix/include/kpz.h" | tr -d '(' | sort -u)
if [ "$exported" != "$declared" ]; then
  echo "exported symbols differ from the header:" >&2
  diff <(echo "$declared") <(echo "$exported") >&2 || true
  exit 1
fi
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = libkpz.so.1 ] || { echo "SONAME is $soname" >&2; exit 1; }
echo "libkpz: $(echo "$exported" | wc -l) symbols, SONAME $soname"
