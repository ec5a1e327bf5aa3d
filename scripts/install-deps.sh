#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are missing.
#   scripts/install-deps.sh build   what the library, the tools (zkhost's live view: ncurses), the
#                                   demo and the Debian package (CPack: dpkg-dev, fakeroot) need
#   scripts/install-deps.sh test    that, and what every test (the live view's: tmux), the cross
#                                   build and the fuzzers need
set -euo pipefail
what=${1:-test}

packages=(cmake ninja-build g++ make pkg-config binutils libncurses-dev dpkg-dev fakeroot)
if [ "$what" = test ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev
             g++-mingw-w64-i686-posix binutils-mingw-w64-i686 socat tmux
             g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
             wine wine64 fonts-wine xvfb x11-apps x11-utils imagemagick
             iaxmodem)  # a real AT command interpreter for the driver (tests/e2e/iaxmodem_test.cpp)
fi
# The 32-bit Wine runs the 32-bit product DLL in the Windows tests; it needs the i386
# architecture. When its packages cannot be installed (a mirror without the i386 index), the
# rest is installed and the Windows tests run the 64-bit pair alone, saying so loudly.
want_wine32=no
if [ "$what" = test ] && [ "$(dpkg --print-architecture)" = amd64 ]; then
  want_wine32=yes
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_wine32=no
if [ "$want_wine32" = yes ] &&
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  need_wine32=yes
fi
if [ ${#missing[@]} -eq 0 ] && [ "$need_wine32" = no ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
if [ "$need_wine32" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "==> adding the i386 architecture (32-bit Wine)"
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  echo "==> installing: ${missing[*]}"
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ "$need_wine32" = yes ]; then
  echo "==> installing: wine32:i386"
  if ! $SUDO apt-get install -y -q --no-install-recommends wine32:i386; then
    echo "install-deps: WARNING: wine32:i386 could not be installed; the Windows tests will run the 64-bit pair only" >&2
  fi
fi
