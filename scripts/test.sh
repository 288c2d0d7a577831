#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build/ci -DINSTALLER_WERROR=ON
cmake --build build/ci -j"$(nproc)"
ctest --test-dir build/ci --output-on-failure -j2
