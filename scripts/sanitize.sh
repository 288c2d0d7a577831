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
# The build does not know the programs depend on it: when it changes, the
# programs are removed so that they are linked again.
cc -O1 -c scripts/sanitizer_defaults.c -o "$BUILD/sanitizer_defaults.o.new"
if ! cmp -s "$BUILD/sanitizer_defaults.o.new" "$BUILD/sanitizer_defaults.o"; then
  mv "$BUILD/sanitizer_defaults.o.new" "$BUILD/sanitizer_defaults.o"
  find "$BUILD" -type f -perm -u+x -not -path '*/CMakeFiles/*' \
    \( -name installer -o -name qpk -o -name 'test_*' -o -name '*_bench*' \) -exec rm -f {} +
else
  rm -f "$BUILD/sanitizer_defaults.o.new"
fi
DEFAULTS="$(pwd)/$BUILD/sanitizer_defaults.o"
# Warnings are not errors here: the sanitizers make gcc raise false
# maybe-uninitialized warnings inside the standard headers; the ordinary build
# (scripts/test.sh) is the warning gate.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINSTALLER_WERROR=OFF -DINSTALLER_STATIC=OFF \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_C_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$FLAGS $DEFAULTS" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# One test compares the standard error of an installer started inside a
# scratch root without /proc, where the sanitizer runtime cannot read the
# program's name and warns about it on standard error before any option can
# silence it. It runs in the ordinary suite.
ctest --test-dir "$BUILD" --output-on-failure -j2 \
  -E '^SafeMode.CancelOrCommitAndThePostCommitProgram$' "${@:2}"
