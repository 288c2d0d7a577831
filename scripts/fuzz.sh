#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target] [target...]     (default 30 s, all)
# Targets: reader unpack manifest loader signature info (fuzz/<target>_fuzz.cpp).
# Each runs chrooted in its own scratch root, build/robust-fuzz/run/<target>/,
# whose /corpus keeps what the fuzzer learnt between runs (seeded from the
# package builder by fuzz/make_seeds.cpp); crash inputs go to its /artifacts.
# Prints the inputs tried per target; the status is 1 when any target found
# a crash, a leak, a timeout or undefined behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -ne 0 ] || TARGETS=(reader unpack manifest loader signature info)
BUILD=build/robust-fuzz
SOURCE=$(pwd)

command -v clang++ >/dev/null || { echo "scripts/fuzz.sh: clang++ is needed" >&2; exit 1; }
INSTRUMENT="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
# The program itself is instrumented for coverage without libFuzzer's main.
cmake -S . -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINSTALLER_TESTS=OFF -DINSTALLER_STATIC=OFF \
  -DCMAKE_CXX_FLAGS="$INSTRUMENT -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target installer_core qpkbuild >/dev/null

COMPILE=(clang++ -std=c++20 -fno-exceptions -Wall -Wextra $INSTRUMENT
         -I"$SOURCE/src" -I"$SOURCE/tools" -I"$BUILD/generated" -I"$SOURCE/fuzz")
LIBS=("$BUILD/libqpkbuild.a" "$BUILD/libinstaller_core.a" -lz -lcrypto)
build() {  # output, source, extra flags
  if [ ! -x "$1" ] || [ -n "$(find "$2" "$SOURCE/fuzz" "$BUILD/libinstaller_core.a" -newer "$1" -print -quit)" ]; then
    "${COMPILE[@]}" "${@:3}" "$2" "${LIBS[@]}" -o "$1"
  fi
}
build "$BUILD/make_seeds" fuzz/make_seeds.cpp
for target in "${TARGETS[@]}"; do
  build "$BUILD/${target}_fuzz" "fuzz/${target}_fuzz.cpp" -fsanitize=fuzzer
done

SEEDS="$BUILD/seeds"
rm -rf "$SEEDS"
"$BUILD/make_seeds" "$SOURCE" "$SEEDS"

failed=0
for target in "${TARGETS[@]}"; do
  root="$BUILD/run/$target"
  mkdir -p "$root/corpus" "$root/artifacts"
  cp -n "$SEEDS/$target"/* "$root/corpus/" 2>/dev/null || true
  log="$BUILD/run/$target.log"
  set +e
  # Paths are inside the scratch root: the target changes root before it
  # reads its corpus. Standard output is closed (the listing of the loader
  # target would flood it).
  FUZZ_ROOT="$(realpath "$root")" "$BUILD/${target}_fuzz" -max_total_time="$SECONDS_PER_TARGET" \
    -timeout=10 -rss_limit_mb=2048 -max_len=65536 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix=/artifacts/ /corpus >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(ls "$root/corpus" | wc -l)
  if [ $status -eq 0 ]; then
    printf '%-10s %10s inputs tried, corpus %s, no finding\n' "$target" "${runs:-?}" "$corpus"
  else
    failed=1
    printf '%-10s %10s inputs tried, FINDING (status %s): %s\n' "$target" "${runs:-?}" "$status" "$log"
    grep -E "ERROR: |runtime error|SUMMARY" "$log" | head -5 | sed 's/^/    /'
    ls "$root/artifacts" | sed "s|^|    artifact: $root/artifacts/|"
  fi
done
exit $failed
