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
# architecture, and a machine that executes 32-bit programs at all: some cannot (their kernel
# answers "Exec format error"), and there wine32:i386 would install and never run. That is
# decided by running a tiny 32-bit program (an i386 ELF that only exits), not by what is
# installed; ZK_WINE32=no skips it too. When its packages cannot be installed (a mirror
# without the i386 index), the rest is installed and the Windows tests run the 64-bit pair
# alone, saying so loudly (scripts/wine-test.sh).
can_run_32bit() {
  local probe
  probe=$(mktemp)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'\
'\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"  # exit(0) by int 0x80
  chmod +x "$probe"
  local why
  why=$("$probe" 2>&1) || true
  rm -f "$probe"
  # Only the kernel's own answer says no: a probe that cannot run for another reason (a
  # temporary directory mounted noexec) leaves the decision to the Windows tests, which run
  # the loader itself.
  ! grep -qi 'exec format error' <<<"$why"
}
want_wine32=no
if [ "$what" = test ] && [ "$(dpkg --print-architecture)" = amd64 ] && [ "${ZK_WINE32:-}" != no ]; then
  if can_run_32bit; then
    want_wine32=yes
  else
    echo "install-deps: this machine cannot execute 32-bit programs; 32-bit Wine is not installed" >&2
  fi
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
