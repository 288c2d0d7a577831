#!/usr/bin/env bash
# Builds the installer and its tests for 32-bit x86 (Debian's i686 cross
# compiler against the i386 libraries of Debian multiarch) and runs the whole
# test suite on that build, natively. The router is 32-bit Linux: this is
# where size, shift and format-width mistakes show.
#   scripts/build32.sh [build-dir] [ctest options...]     (default build/m32)
# Run as root the first time: it adds the i386 architecture and installs the
# compiler and the i386 development packages when they are missing. (The
# compiler's -m32 route needs g++-multilib, which Debian will not install
# beside the cross compilers of scripts/cross.sh.)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/m32}

PACKAGES=(g++-i686-linux-gnu zlib1g-dev:i386 libssl-dev:i386 libgtest-dev:i386 libstdc++6:i386)
missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "scripts/build32.sh: missing: ${missing[*]} (run as root, or: dpkg --add-architecture i386;" \
         "apt-get update; apt-get install ${missing[*]})" >&2
    exit 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686.cmake" -DINSTALLER_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# Byte 4 of an ELF file is its class: 1 for 32-bit.
[ "$(od -An -tx1 -j4 -N1 "$BUILD/installer" | tr -d ' ')" = 01 ] || { echo "scripts/build32.sh: $BUILD/installer is not 32-bit" >&2; exit 1; }
ctest --test-dir "$BUILD" --output-on-failure -j2 "${@:2}"
