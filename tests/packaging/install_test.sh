#!/usr/bin/env bash
# Installs the build tree into a temporary root, builds a small program against it with CMake
# (find_package(zkdrv)) and with pkg-config, runs the installed tools, and builds the Debian
# package.   install_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/root/usr"

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name libzkdrv.so | head -1)")
for f in bin/zkhost bin/zksim include/zkdrv.h share/man/man1/zkhost.1 share/man/man1/zksim.1 \
         share/doc/zkdrv/commissioning.md share/doc/zkdrv/examples/minimal.par; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ -e "$libdir/cmake/zkdrv/zkdrvConfig.cmake" ] || { echo "no package config" >&2; exit 1; }
[ -e "$libdir/pkgconfig/zkdrv.pc" ] || { echo "no pkg-config file" >&2; exit 1; }

# CMake: find_package(zkdrv) -> zkdrv::zkdrv
cmake -S "$source/tests/packaging/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; exit 1; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; exit 1; }
LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer"

# pkg-config
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --define-prefix --cflags --libs zkdrv >"$work/flags"
# shellcheck disable=SC2046
cc -o "$work/consumer-pc" "$source/tests/packaging/consumer/main.c" $(cat "$work/flags")
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"

# The installed tools: zkhost finds the installed library by itself.
"$prefix/bin/zkhost" --version
"$prefix/bin/zkhost" check --quiet "$prefix/share/doc/zkdrv/examples/minimal.par" >/dev/null || [ $? -eq 1 ]
sed 's|DRIVER SYSTEM 1|DRIVER SYSTEM 1 DEVICE /nonexistent/tty|' "$prefix/share/doc/zkdrv/examples/minimal.par" \
  >"$work/nodevice.par"
status=0
(cd "$work" && "$prefix/bin/zkhost" "$work/nodevice.par" >"$work/zkhost.out" 2>&1) || status=$?
grep -q "library:  $libdir/libzkdrv.so" "$work/zkhost.out" || { cat "$work/zkhost.out" >&2; exit 1; }
[ "$status" -eq 3 ] || { echo "zkhost without a device ended with $status, not 3" >&2; exit 1; }

# The Debian package.
if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null; then
  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; exit 1; }
  deb=$(ls "$work"/deb/*.deb)
  dpkg-deb -c "$deb" >"$work/contents"
  for f in ./usr/bin/zkhost ./usr/bin/zksim ./usr/include/zkdrv.h; do
    grep -q " $f\$" "$work/contents" || { echo "$deb lacks $f" >&2; exit 1; }
  done
  grep -q 'libzkdrv.so$' "$work/contents" || { echo "$deb lacks the library" >&2; exit 1; }
  echo "package: $(basename "$deb")"
fi
echo "install: ok"
