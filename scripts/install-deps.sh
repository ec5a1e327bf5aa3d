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
             g++-mingw-w64-i686-posix binutils-mingw-w64-i686 socat tmux)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "==> installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
