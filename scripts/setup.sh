#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Shared set-up for scripts/run and scripts/test: installs the Debian packages that are
# missing, then configures and builds into build/. Sourced, not run.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BRISKO_BUILD_DIR:-$repo_root/build}

packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libgtest-dev libbenchmark-dev libxxhash-dev
  fonts-liberation
  dbus-daemon libglib2.0-bin # the desktop tests: a private session bus, GIO reading our entry
  scdoc groff-base           # the man pages, and groff to check them
  strace python3             # the test that fails each system call of kpz in turn
  appstream desktop-file-utils dpkg-dev) # metadata validators; cpack's dependency list

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# BRISKO_WERROR=1 in the environment makes every compiler warning an error.
werror=OFF
[ "${BRISKO_WERROR:-0}" != 1 ] || werror=ON
cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISKO_WERROR=$werror >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
