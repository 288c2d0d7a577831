#!/usr/bin/env bash
# Builds the installer and its tests for a router's processor, with warnings
# as errors, and runs the whole test suite under qemu-user:
#   scripts/cross.sh armhf [ctest options...]   32-bit ARM, where plain char is unsigned
#   scripts/cross.sh s390x [ctest options...]   64-bit big-endian
# Build folder: build/<arch>. Run as root the first time: it installs what is
# missing (the host tools of scripts/deps.sh, the cross compiler,
# qemu-user-static, and the target's zlib, libcrypto and GoogleTest: Debian
# multiarch for armhf; for s390x, whose packages Debian refuses beside the
# host's, the packages unpacked into build/s390x-sysroot/) and registers qemu
# with the kernel's binfmt_misc, so that the installer the tests start, also
# chrooted, runs under qemu too. The toolchains are in cmake/toolchains/.
set -euo pipefail
cd "$(dirname "$0")/.."
ARCH=${1:-}
case $ARCH in
  armhf)
    QEMU=arm ELF_MACHINE=2800  # EM_ARM (40), little-endian
    PACKAGES=(g++-arm-linux-gnueabihf qemu-user-static zlib1g-dev:armhf libssl-dev:armhf libgtest-dev:armhf
              libstdc++6:armhf) ;;
  s390x)
    QEMU=s390x ELF_MACHINE=0016  # EM_S390 (22), big-endian
    PACKAGES=(g++-s390x-linux-gnu qemu-user-static) ;;
  *)
    echo "usage: scripts/cross.sh armhf|s390x [ctest options...]" >&2
    exit 2 ;;
esac
BUILD=build/$ARCH
export DEBIAN_FRONTEND=noninteractive

need_root() {
  [ "$(id -u)" -eq 0 ] && return
  echo "scripts/cross.sh: $1 needs root; run it as root once" >&2
  exit 1
}
add_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" && return
  need_root "adding the $1 architecture to dpkg"
  dpkg --add-architecture "$1"
}

scripts/deps.sh
missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
  need_root "installing ${missing[*]}"
  [ "$ARCH" != armhf ] || add_architecture armhf
  apt-get update
  # Removes g++-multilib when it is there: it conflicts with every cross compiler.
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The s390x packages the build links or includes (the JSON reader of the
# tests is headers only, for every architecture).
SYSROOT_PACKAGES="zlib1g:s390x zlib1g-dev:s390x libssl3:s390x libssl-dev:s390x libgtest-dev:s390x nlohmann-json3-dev"
if [ "$ARCH" = s390x ] && [ "$(cat build/s390x-sysroot/root/.complete 2>/dev/null)" != "$SYSROOT_PACKAGES" ]; then
  # Only downloaded, never installed: s390x is added to dpkg so that apt
  # knows its packages.
  add_architecture s390x
  rm -rf build/s390x-sysroot
  mkdir -p build/s390x-sysroot/debs
  download() { (cd build/s390x-sysroot/debs && apt-get download $SYSROOT_PACKAGES); }
  # Updated when the lists lack s390x or name versions gone from the mirror.
  download || { apt-get update && download; }
  for deb in build/s390x-sysroot/debs/*.deb; do dpkg-deb -x "$deb" build/s390x-sysroot/root; done
  echo "$SYSROOT_PACKAGES" >build/s390x-sysroot/root/.complete
fi

# The "F" flag opens qemu when the handler is registered, so it also runs
# the target's programs inside a chroot that has no qemu.
BINFMT=/proc/sys/fs/binfmt_misc
if [ ! -e "$BINFMT/qemu-$QEMU" ] || ! grep -q '^enabled' "$BINFMT/qemu-$QEMU" ||
   ! grep -q '^flags: .*F' "$BINFMT/qemu-$QEMU"; then
  need_root "registering qemu-$QEMU with binfmt_misc"
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT"
  [ ! -e "$BINFMT/qemu-$QEMU" ] || echo -1 >"$BINFMT/qemu-$QEMU"
  cat "/usr/lib/binfmt.d/qemu-$QEMU.conf" >"$BINFMT/register"
fi

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$ARCH.cmake" -DINSTALLER_WERROR=ON \
  -DINSTALLER_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# Bytes 18-19 of an ELF file are its machine, in the file's byte order.
[ "$(od -An -tx1 -j18 -N2 "$BUILD/installer" | tr -d ' ')" = "$ELF_MACHINE" ] ||
  { echo "scripts/cross.sh: $BUILD/installer is not an $ARCH program" >&2; exit 1; }
ctest --test-dir "$BUILD" --output-on-failure -j2 "${@:2}"
