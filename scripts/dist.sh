#!/usr/bin/env bash
# Builds the packages a user gets, into dist/:
#   zkdrv-<version>-win32.zip           the 32-bit Windows DLL (the product), its header and
#                                       module-definition file, the 32-bit zkhost.exe, the
#                                       example parameter files and the manual;
#   zkdrv-<version>-linux-x86_64.tar.gz the same for Linux: libzkdrv.so, zkhost, zksim.
# Usage: scripts/dist.sh [win32|linux|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
what=${1:-all}
case "$what" in win32|linux|all) ;; *) echo "usage: scripts/dist.sh [win32|linux|all]" >&2; exit 2 ;; esac

# 5.17 in CMake is the driver's version 5.017.
cmake_version=$(sed -n 's/^project(zkdrv VERSION \([0-9]*\)\.\([0-9]*\).*/\1 \2/p' CMakeLists.txt)
[ -n "$cmake_version" ] || { echo "dist: no version in CMakeLists.txt" >&2; exit 1; }
# shellcheck disable=SC2086
version=$(printf '%d.%03d' $cmake_version)
mkdir -p dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

common_files() {  # common_files DIR: header, examples, manual, readme
  local dir=$1
  mkdir -p "$dir/examples" "$dir/docs"
  cp include/zkdrv.h "$dir/"
  cp examples/*.par "$dir/examples/"
  cp -r examples/demo "$dir/examples/"
  cp docs/*.md "$dir/docs/"
  cp README.md "$dir/"
}

if [ "$what" != linux ]; then
  scripts/install-deps.sh test
  cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZK_TESTS=OFF -DZK_TOOLS=ON >/dev/null
  ninja -C build/win32 -j 2 zkdrv zkhost
  scripts/check-windows-exports.sh build/win32/zkdrv.dll build/win32/tools/zkhost.exe
  name=zkdrv-$version-win32
  dir=$stage/$name
  mkdir -p "$dir"
  cp build/win32/zkdrv.dll build/win32/tools/zkhost.exe src/host/zkdrv.def "$dir/"
  i686-w64-mingw32-strip --strip-unneeded "$dir/zkdrv.dll" "$dir/zkhost.exe"
  common_files "$dir"
  rm -f "dist/$name.zip"
  (cd "$stage" && cmake -E tar cf "$root/dist/$name.zip" --format=zip "$name")
  echo "dist/$name.zip"
fi

if [ "$what" != win32 ]; then
  scripts/install-deps.sh build
  # The build the tests run (optimised, with debug information, which the package leaves out).
  if [ ! -f build/release/build.ninja ]; then
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  ninja -C build/release -j 2 zkdrv zkhost zksim
  name=zkdrv-$version-linux-$(uname -m)
  dir=$stage/$name
  mkdir -p "$dir/lib" "$dir/bin"
  cp build/release/libzkdrv.so "$dir/lib/"
  cp build/release/tools/zkhost build/release/tools/zksim "$dir/bin/"
  strip --strip-unneeded "$dir/lib/libzkdrv.so" "$dir/bin/zkhost" "$dir/bin/zksim"
  common_files "$dir"
  tar -C "$stage" -czf "dist/$name.tar.gz" "$name"
  echo "dist/$name.tar.gz"
fi
