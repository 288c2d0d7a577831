#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Run as root to install; otherwise it only says what is missing.
set -euo pipefail

PACKAGES=(cmake g++ make zlib1g-dev libssl-dev libgtest-dev ccache)
# The tests read the JSON output of qpk back with nlohmann's JSON library.
PACKAGES+=(nlohmann-json3-dev)
# The manual pages are converted by scdoc, and rendered in a test by man;
# the Debian package of qpk (scripts/package.sh) needs dpkg-shlibdeps and file.
PACKAGES+=(scdoc man-db dpkg-dev file)
# The kill and power-cut sweeps cut runs with strace and make ext4 images.
PACKAGES+=(strace e2fsprogs)
# The fuzz targets (scripts/fuzz.sh) need clang with libFuzzer.
PACKAGES+=(clang libclang-rt-14-dev)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/deps.sh: missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root:  apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${missing[@]}"
