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

# Some hosts cannot run 32-bit x86 programs (virtual machines without the
# kernel's 32-bit system calls): there they run under qemu-user, registered
# with binfmt_misc like the cross builds' emulators.
EMULATED=()
mkdir -p "$BUILD"
printf 'int main(void) { return 0; }\n' | i686-linux-gnu-gcc -static -x c - -o "$BUILD/probe32"
if ! "$BUILD/probe32" 2>/dev/null; then
  echo "scripts/build32.sh: this host does not run 32-bit x86 programs; they run under qemu-i386"
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    [ "$(id -u)" -eq 0 ] || { echo "scripts/build32.sh: qemu-user-static is missing (run as root)" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends qemu-user-static
  fi
  BINFMT=/proc/sys/fs/binfmt_misc
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT"
  # An i386 ELF program or shared object (e_type 2 or 3, e_machine 3); "F"
  # opens the emulator now, so chrooted runs find it too.
  [ -e "$BINFMT/qemu-i386" ] ||
    printf '%s\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >"$BINFMT/register"
  "$BUILD/probe32" || { echo "scripts/build32.sh: 32-bit programs do not run here" >&2; exit 1; }
  EMULATED=(-DINSTALLER_TEST_TIMEOUT=1500)
fi

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686.cmake" -DINSTALLER_WERROR=ON "${EMULATED[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# Byte 4 of an ELF file is its class: 1 for 32-bit.
[ "$(od -An -tx1 -j4 -N1 "$BUILD/installer" | tr -d ' ')" = 01 ] || { echo "scripts/build32.sh: $BUILD/installer is not 32-bit" >&2; exit 1; }
ctest --test-dir "$BUILD" --output-on-failure -j2 "${@:2}"
