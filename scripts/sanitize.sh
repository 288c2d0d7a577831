#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite on that build.
#   scripts/sanitize.sh [build-dir]      (default build/asan)
# A sanitizer report makes the reporting program exit with status 86
# (scripts/sanitizer_defaults.c), so it fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/asan}

scripts/deps.sh
mkdir -p "$BUILD"
FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# Compiled apart so its options hook is linked into every program of the build.
cc -O1 -c scripts/sanitizer_defaults.c -o "$BUILD/sanitizer_defaults.o"
DEFAULTS="$(pwd)/$BUILD/sanitizer_defaults.o"
# Warnings are not errors here: the sanitizers make gcc raise false
# maybe-uninitialized warnings inside the standard headers; the ordinary build
# (scripts/test.sh) is the warning gate.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINSTALLER_WERROR=OFF \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_C_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$FLAGS $DEFAULTS" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-}
ctest --test-dir "$BUILD" --output-on-failure -j2 "${@:2}"
