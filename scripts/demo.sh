#!/usr/bin/env bash
# Builds the installer and shows it at work.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build/demo >/dev/null
cmake --build build/demo -j"$(nproc)" --target installer qpk

echo "\$ installer --bogus"
build/demo/installer --bogus
