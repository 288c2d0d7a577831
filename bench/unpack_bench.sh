#!/bin/bash
# Payload unpack throughput next to tar -xzf of the same files, in one run.
# usage: bench/unpack_bench.sh [BUILD_DIR] [MB]   (run as root: the unpack chroots)
set -euo pipefail
build=${1:-build}
megabytes=${2:-200}
tool="$build/bench/unpack_bench"
[ -x "$tool" ] || { echo "build the unpack_bench target in $build first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/unpack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$tool" make "$work" "$megabytes"
tar -czf "$work/files.tar.gz" -C "$work/tree" .
data=$(du -sb --apparent-size "$work/tree" | cut -f1)
echo "tar.gz $(stat -c %s "$work/files.tar.gz") bytes, package $(stat -c %s "$work/pkg.qpk") bytes"
sync

"$tool" unpack "$work"

mkdir "$work/tar-out"
start=$(date +%s.%N)
tar -xzf "$work/files.tar.gz" -C "$work/tar-out"
end=$(date +%s.%N)
awk -v b="$data" -v s="$start" -v e="$end" \
  'BEGIN { t = e - s; printf "tar -xzf:         %.1f MB in %.2f s = %.1f MB/s\n", b / 1e6, t, b / 1e6 / t }'
