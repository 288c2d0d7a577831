#!/bin/sh
# "--show" over a large database: COUNT installed packages (default 1000),
# each with a stored image of SIZE bytes (default 1 MiB) of incompressible
# blob data. Loading must read image headers only, so the bytes read should
# stay a tiny fraction of the bytes stored.
#
# usage: bench/show_bench.sh [BUILD_DIR] [COUNT] [SIZE]
# BUILD_DIR must hold the built "installer" and "bench/show_bench_tool".
set -eu
BUILD=$(cd "${1:-build}" && pwd)
COUNT=${2:-1000}
SIZE=${3:-1048576}
ROOT="$BUILD/bench-show-root"
TOOL="$BUILD/bench/show_bench_tool"

rm -rf "$ROOT"
echo "building $COUNT packages with $SIZE-byte images in $ROOT"
"$TOOL" build "$ROOT" "$COUNT" "$SIZE"
echo "stored image bytes: $(du -sb "$ROOT/flash/var/pdb" | cut -f1)"
# A first run warms the page cache for the directory walk; the second is measured.
"$TOOL" measure "$BUILD/installer" -r "$ROOT" --show > /dev/null
echo "installer -r ROOT --show:"
"$TOOL" measure "$BUILD/installer" -r "$ROOT" --show
if command -v strace > /dev/null; then
  echo "read calls (strace -c):"
  strace -f -c -e trace=read,lseek,openat -o "$BUILD/show_bench.strace" \
    "$BUILD/installer" -r "$ROOT" --show > /dev/null
  tail -n +1 "$BUILD/show_bench.strace"
fi
rm -rf "$ROOT"
