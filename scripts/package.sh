#!/usr/bin/env bash
# Builds the Debian package of the author's tools (qpk, its manual page and
# its bash completion) from a Release build in build/pkg, and prints the
# path of the .deb. Arguments go to the configure step; a package for
# authors of real routers' packages is built with the release public keys,
# which "qpk verify" checks with by default:
#   scripts/package.sh -DINSTALLER_EDDSA_PUBLIC_KEY=<64 hex> -DINSTALLER_LEGACY_PUBLIC_KEY=<64 hex>
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build/pkg

scripts/deps.sh
# Neither tests nor benchmarks: cpack installs, and installing builds everything.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_TESTS=OFF -DINSTALLER_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
rm -f "$BUILD"/qpk_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
ls "$PWD/$BUILD"/qpk_*.deb
