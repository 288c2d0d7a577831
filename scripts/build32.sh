#!/usr/bin/env bash
# Builds the installer and its tests for 32-bit x86 (-m32, against the i386
# libraries of Debian multiarch) and runs the whole test suite on that build.
# The router is 32-bit Linux: this is where size, shift and format-width
# mistakes show.
#   scripts/build32.sh [build-dir]      (default build/m32)
# Run as root the first time: it adds the i386 architecture and installs
# g++-multilib and the i386 development packages when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/m32}

PACKAGES=(g++-multilib zlib1g-dev:i386 libssl-dev:i386 libgtest-dev:i386)
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

# The compiler's own search paths pick /usr/lib/i386-linux-gnu once -m32 is
# set; the library architecture makes find_package look there too.
cmake -S . -B "$BUILD" -DINSTALLER_WERROR=ON \
  -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 \
  -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32 \
  -DCMAKE_LIBRARY_ARCHITECTURE=i386-linux-gnu \
  -DCMAKE_IGNORE_PATH="/usr/lib/x86_64-linux-gnu;/lib/x86_64-linux-gnu" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# Byte 4 of an ELF file is its class: 1 for 32-bit.
[ "$(od -An -tx1 -j4 -N1 "$BUILD/installer" | tr -d ' ')" = 01 ] || { echo "scripts/build32.sh: $BUILD/installer is not 32-bit" >&2; exit 1; }
ctest --test-dir "$BUILD" --output-on-failure -j2 "${@:2}"
