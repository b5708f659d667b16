# SPDX-License-Identifier: BSD-3-Clause
# What scripts/package-windows and scripts/test-windows share, sourced by both: the packages
# the cross build needs, the Qt for Windows it builds against, GoogleTest for Windows, and
# the one cross-build tree, $build/cross, which both use so nothing is compiled twice.
#
# The Qt is the first of: ../shared/qt6-mingw beside the repository, $QT_MINGW_DIR, or one
# that scripts/build-qt-mingw builds from Debian's own source into a cache (about an hour
# on two cores, once).

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BRISKO_WINDOWS_BUILD_DIR:-$repo_root/build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc)
toolchain=$repo_root/cmake/mingw-w64-x86_64.cmake
werror=OFF
[ "${BRISKO_WERROR:-0}" != 1 ] || werror=ON

# windows_install PACKAGE...: installs the Debian packages that are missing.
windows_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The cross compilers, the host's Qt tools (moc, rcc, uic of the same Qt version) and the
# xxHash header.
windows_install cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  qt6-base-dev qt6-base-dev-tools libxxhash-dev

# windows_find_qt: sets qt_dir to the Qt for Windows, building it when there is none.
windows_find_qt() {
  local shared=$repo_root/../shared/qt6-mingw
  if [ -f "$shared/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    qt_dir=$(cd "$shared" && pwd)
  elif [ -n "${QT_MINGW_DIR:-}" ]; then
    [ -f "$QT_MINGW_DIR/lib/cmake/Qt6/Qt6Config.cmake" ] ||
      { echo "QT_MINGW_DIR=$QT_MINGW_DIR holds no Qt 6" >&2; return 1; }
    qt_dir=$(cd "$QT_MINGW_DIR" && pwd)
  else
    qt_dir=${XDG_CACHE_HOME:-$HOME/.cache}/brisko-packer/qt6-mingw
    if [ ! -f "$qt_dir/lib/cmake/Qt6/Qt6Config.cmake" ]; then
      echo "No Qt for Windows found: building one from Debian's qt6-base source into" >&2
      echo "$qt_dir (once; about an hour on two cores)" >&2
      "$repo_root/scripts/build-qt-mingw" "$qt_dir"
    fi
  fi
}

# The MinGW runtime DLLs that Qt's DLLs need, and the folders that hold them.
mingw_gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
mingw_lib_dir=/usr/x86_64-w64-mingw32/lib

# windows_configure: configures $build/cross against the Qt (and GoogleTest when it has been
# built, which brings the tests).
windows_configure() {
  local roots="$qt_dir" tests=OFF
  if [ -f "$build/googletest/lib/libgtest.a" ]; then
    roots="$qt_dir;$build/googletest"
    tests=ON
  fi
  cmake -S "$repo_root" -B "$build/cross" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_PREFIX_PATH="$roots" -DCMAKE_FIND_ROOT_PATH="$roots" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_AUTORCC_OPTIONS=--no-zstd -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRISKO_WERROR=$werror -DBRISKO_BUILD_TESTS=$tests -DBRISKO_BUILD_BENCH=OFF >/dev/null
}

# windows_googletest: GoogleTest for Windows, from Debian's source package, built once per
# build folder.
windows_googletest() {
  windows_install googletest
  local gtest=$build/googletest
  [ -f "$gtest/lib/libgtest.a" ] && return 0
  echo "Building GoogleTest for Windows" >&2
  cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$build/googletest-build" -j"$jobs" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
}
