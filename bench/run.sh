#!/usr/bin/env bash
# The installer's benchmarks in one command, side by side with tar, gzip and
# dpkg on the same files. Run as root from anywhere:
#
#   bench/run.sh [ROUNDS]          (default 3 rounds)
#
# It builds the Release binaries in build/perf, generates its content from a
# fixed seed under build/bench, runs every comparison alternately (A B C ...,
# A B C ..., ROUNDS times), prints medians and the median of the per-round
# ratios, and deletes build/bench at the end (BENCH_KEEP=1 keeps it, and a
# later run reuses the generated files). BENCH_ONLY="1 2 3 4 5" picks sections.
#
#   1. one package of 200 MB in 5,000 files: upgrade run vs tar -xzf (+ sync),
#      gzip -dc (the inflate floor) and dpkg -i (default and --force-unsafe-io);
#   2. the same files as 50 packages of 4 MB in one run;
#   3. --show over 1,000 installed packages with 1 MiB stored images
#      (bench/show_bench.sh): time and bytes read;
#   4. applyActions on 100, 1,000 and 5,000 packages (apply_actions_bench);
#   5. peak resident memory of installing a 50 MB and a 500 MB package;
#   6. many small files: one package of 53 MB in 2,000 files (a few bytes to
#      400 KB, a fifth incompressible): upgrade run vs tar -xzf + sync, dpkg
#      and pacman (-U --root, when its Debian package is installed), system
#      calls per installed file (strace -c) and memory per staged file;
#   7. upgrade runs over 300, 600 and 1,200 uploaded packages.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
ROUNDS=${1:-3}
BUILD=$SRC/build/perf
W=$SRC/build/bench
ONLY=${BENCH_ONLY:-1 2 3 4 5 6 7}
SEED=20240601
TOTAL=200000000
FILES=5000

want() { [[ " $ONLY " == *" $1 "* ]]; }

[ "$(id -u)" = 0 ] || { echo "bench/run.sh: run as root (the installer changes root)" >&2; exit 1; }
for tool in tar gzip dpkg dpkg-deb; do
  command -v $tool > /dev/null || { echo "bench/run.sh: needs $tool" >&2; exit 1; }
done

echo "== building (Release) in $BUILD [${SECONDS}s]"
cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$BUILD" -j2 --target installer qpk bench_tool show_bench_tool apply_actions_bench \
  unpack_bench > /dev/null
INSTALLER=$BUILD/installer
QPK=$BUILD/qpk
T=$BUILD/bench/bench_tool
KEYS=(--key-eddsa "$SRC/keys/dev-eddsa.private" --key-legacy "$SRC/keys/dev-legacy.private")

# Deleting is slow here (the file system discards freed blocks at once) and
# waits on the disk, not the CPU: many removers at a time.
remove_all() {
  [ -d "$1" ] || return 0
  find "$1" -type f -print0 | xargs -0 -r -P 8 -n 400 rm -f
  rm -rf "$1"
}
mkdir -p "$W"
RES=$W/results
rm -rf "$RES"
mkdir -p "$RES"
[ "${BENCH_KEEP:-0}" = 1 ] || trap 'remove_all "$W"' EXIT

# ---------------------------------------------------------------- content

# The tree of a .deb: the files below $2 under /opt/benchdata/$3, as hard
# links. All trees are linked before any archive is made and removed after
# the last, since a link made or removed changes a file's status and tar
# would see files change under it.
deb_tree() {
  local dir=$1 tree=$2 sub=$3 name=$4
  mkdir -p "$dir/DEBIAN" "$dir/opt/benchdata"
  cp -al "$tree" "$dir/opt/benchdata/$sub"
  printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: bench <bench@localhost>\nDescription: benchmark files\n' \
    "$name" > "$dir/DEBIAN/control"
}

# The package, the .tar.gz and the .deb of one tree, all at zlib level 6.
make_three() {
  local tree=$1 base=$2 name=$3
  "$QPK" build --name "$name" --version 6.46.9 --build-time 1700000000 --files "$tree" "${KEYS[@]}" \
    -o "$base.qpk"
  tar -cf - -C "$tree" . | gzip -6 > "$base.tar.gz"
  dpkg-deb -Zgzip -z6 -b "$base.debtree" "$base.deb" > /dev/null
}

if [ ! -f "$W/content.done" ]; then
  echo "== generating $TOTAL bytes in $FILES files (seed $SEED) and packing them [${SECONDS}s]"
  rm -rf "$W/files" "$W/many" "$W/one".*
  "$T" tree "$W/files" $FILES $TOTAL $SEED
  mkdir -p "$W/many"
  deb_tree "$W/one.debtree" "$W/files" all bench
  for d in "$W"/files/d*; do
    s=$(basename "$d")
    deb_tree "$W/many/$s.debtree" "$d" "$s" "bench-$s"
  done
  make_three "$W/files" "$W/one" bench &
  one=$!
  # The 50 packages of section 2: one per folder of 100 files (about 4 MB each).
  (for d in "$W"/files/d*; do
     s=$(basename "$d")
     make_three "$d" "$W/many/$s" "bench-$s"
   done) &
  many=$!
  wait $one
  wait $many
  rm -rf "$W/one.debtree" "$W"/many/*.debtree
  if want 5; then
    # Same number of files, ten times the bytes: what grows is the data only.
    "$T" tree "$W/rss50" 500 50000000 $((SEED + 1)) compressible
    "$T" tree "$W/rss500" 500 500000000 $((SEED + 2)) compressible
    "$QPK" build --name rss50 --version 6.46.9 --build-time 1700000000 --files "$W/rss50" "${KEYS[@]}" \
      -o "$W/rss50.qpk" &
    "$QPK" build --name rss500 --version 6.46.9 --build-time 1700000000 --files "$W/rss500" "${KEYS[@]}" \
      -o "$W/rss500.qpk" &
    wait
    rm -rf "$W/rss50" "$W/rss500"
  fi
  touch "$W/content.done"
fi
if want 6 && [ ! -f "$W/small.done" ]; then
  echo "== generating 53,000,000 bytes in 2,000 small files [${SECONDS}s]"
  rm -rf "$W/small"
  mkdir -p "$W/small"
  "$T" tree "$W/small/files" 2000 53000000 $((SEED + 3)) small
  deb_tree "$W/small/one.debtree" "$W/small/files" all small
  make_three "$W/small/files" "$W/small/one" small
  rm -rf "$W/small/one.debtree"
  # A pacman package is a tar of the tree and its .PKGINFO.
  mkdir -p "$W/small/pac/opt/benchdata"
  cp -al "$W/small/files" "$W/small/pac/opt/benchdata/all"
  printf 'pkgname = small\npkgver = 1.0-1\npkgdesc = benchmark files\narch = any\nsize = 53000000\n' \
    > "$W/small/pac/.PKGINFO"
  (cd "$W/small/pac" && tar -czf "$W/small/one.pkg.tar.gz" .PKGINFO opt)
  rm -rf "$W/small/pac"
  # Uploads for section 7: tiny packages, one file each.
  mkdir -p "$W/uploads"
  for ((i = 1; i <= 1200; i++)); do
    mkdir -p "$W/uploads/t$i/bin"
    echo "$i" > "$W/uploads/t$i/bin/u$i"
    "$QPK" build --name "u$i" --version 1.0 --build-time 1700000000 --files "$W/uploads/t$i" "${KEYS[@]}" \
      -o "$W/uploads/u$i.qpk"
    rm -rf "$W/uploads/t$i"
  done
  touch "$W/small.done"
fi
echo "file data: $(du -sb --apparent-size "$W/files" | cut -f1) bytes;" \
  "one.qpk $(stat -c %s "$W/one.qpk"), one.tar.gz $(stat -c %s "$W/one.tar.gz"), one.deb $(stat -c %s "$W/one.deb")"

# ---------------------------------------------------------------- running

# A scratch router root with the given package files in its download folder.
router_root() {
  local root=$1
  shift
  rm -rf "$root"
  mkdir -p "$root/flash/var/pdb" "$root/ram" "$root/rw/pckg/.download"
  ln "$@" "$root/rw/pckg/.download/"
}

dpkg_root() {
  rm -rf "$1"
  mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
  : > "$1/var/lib/dpkg/status"
  : > "$1/var/lib/dpkg/available"
}

# measure SECTION NAME COMMAND...: one timed run appended to the results.
# Dirty data of the previous contender is written out first, so that no
# contender pays for another's sync.
measure() {
  sync
  measure_now "$@"
}

measure_now() {
  local section=$1 name=$2 line
  shift 2
  line=$("$T" time "$@")
  set -- $line
  if [ "$5" != 0 ]; then
    echo "bench/run.sh: $name exited with $5" >&2
    exit 1
  fi
  echo "$line" >> "$RES/$section.$name"
}

# measure_sync SECTION NAME COMMAND...: NAME is the command alone, NAME_sync
# the command followed at once by a sync (wall and CPU times added), from the
# same run: half the files to write, and to delete afterwards.
measure_sync() {
  local section=$1 name=$2
  measure "$@"
  measure_now "$section" "$name.syncpart" sync
  paste -d' ' <(tail -n 1 "$RES/$section.$name") <(tail -n 1 "$RES/$section.$name.syncpart") \
    | awk '{ printf "%.4f %.4f %d %d %d\n", $1 + $6, $2 + $7, ($3 > $8 ? $3 : $8), $4 + $9, $5 + $10 }' \
    >> "$RES/$section.${name}_sync"
}

# Installed trees must equal the generated one (checked in the first round).
same_tree() {
  if ! diff -rq "$1" "$2" > /dev/null; then
    echo "bench/run.sh: $3 installed different files" >&2
    exit 1
  fi
}

# Every contender writes into a fresh folder of its own, and nothing is
# deleted until all sections are over (about 5 GB at 3 rounds): on a file system without a journal the
# inode allocator probes every inode freed in the last minute, so a contender
# run right after a deletion of 5,000 files pays for it (up to twice the
# system time), and which contender that hits would depend on the order.
R=$W/scratch
run_section() {  # SECTION: 1 (one package) or 2 (50 packages)
  local section=$1 pkgs tgz debs out
  if [ "$section" = 1 ]; then
    pkgs=("$W/one.qpk"); tgz=("$W/one.tar.gz"); debs=("$W/one.deb")
  else
    pkgs=("$W"/many/*.qpk); tgz=("$W"/many/*.tar.gz); debs=("$W"/many/*.deb)
  fi
  for ((round = 1; round <= ROUNDS; round++)); do
    echo "   round $round/$ROUNDS [${SECONDS}s]"
    out=$R/$section.$round
    mkdir -p "$out"

    router_root "$out/inst" "${pkgs[@]}"
    measure "$section" installer "$INSTALLER" -r "$out/inst"
    if [ $round = 1 ]; then
      local last=bench
      [ "$section" = 1 ] || last=bench-d049
      [ -d "$out/inst/flash/var/pdb/$last" ] || { echo "bench/run.sh: the installer installed nothing" >&2; exit 1; }
      if [ "$section" = 1 ]; then
        diff -rq -x var -x postlog -x PCKGS_CHANGED "$W/files" "$out/inst/flash" > /dev/null \
          || { echo "bench/run.sh: the installer installed different files" >&2; exit 1; }
      fi
    fi

    if [ "$section" = 1 ]; then
      # The payload unpack alone, in process: no scan, no database, no commit.
      mkdir -p "$out/unpack"
      ln "$W/one.qpk" "$out/unpack/pkg.qpk"
      measure "$section" unpack_only "$BUILD/bench/unpack_bench" unpack "$out/unpack"
    fi

    mkdir -p "$out/tar"
    measure_sync "$section" tar sh -c 'd=$0; for f; do tar -xzf "$f" -C "$d" || exit 1; done' "$out/tar" "${tgz[@]}"
    if [ $round = 1 ] && [ "$section" = 1 ]; then
      diff -rq "$W/files" "$out/tar" > /dev/null || { echo "bench/run.sh: tar differs" >&2; exit 1; }
    fi

    measure "$section" gzip gzip -dc "${tgz[@]}"

    dpkg_root "$out/dpkg"
    measure "$section" dpkg dpkg --root="$out/dpkg" --log="$out/dpkg/dpkg.log" -i "${debs[@]}"
    if [ $round = 1 ] && [ "$section" = 1 ]; then
      diff -rq "$W/files" "$out/dpkg/opt/benchdata/all" > /dev/null \
        || { echo "bench/run.sh: dpkg installed different files" >&2; exit 1; }
    fi

    dpkg_root "$out/dpkgu"
    measure_sync "$section" dpkg_unsafe dpkg --root="$out/dpkgu" --log="$out/dpkgu/dpkg.log" --force-unsafe-io \
      -i "${debs[@]}"
  done
}

# median FILE COLUMN
median() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median over the rounds of A's column / B's column of the same round.
pair_ratio() {
  paste -d' ' "$RES/$1" "$RES/$2" | awk -v c="$3" '{ n = NF / 2; print $c / $(c + n) }' \
    | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

row() {  # SECTION NAME LABEL
  local f=$RES/$1.$2
  [ -f "$f" ] || return 0
  printf '  %-44s %8.3f %8.3f %9d\n' "$3" "$(median "$f" 1)" "$(median "$f" 2)" "$(median "$f" 3)"
}

report_section() {
  local s=$1
  printf '  %-44s %8s %8s %9s\n' "contender ($ROUNDS rounds, medians)" "wall s" "cpu s" "maxrss KiB"
  row "$s" installer "installer -r ROOT (upgrade run, commit, sync)"
  row "$s" unpack_only "  of which: payload unpack alone"
  row "$s" tar_sync "tar -xzf + sync"
  row "$s" tar "tar -xzf"
  row "$s" gzip "gzip -dc > /dev/null (inflate floor)"
  row "$s" dpkg "dpkg -i (default)"
  row "$s" dpkg_unsafe "dpkg -i --force-unsafe-io"
  row "$s" dpkg_unsafe_sync "dpkg -i --force-unsafe-io + sync"
  echo "  per-round ratios (median):"
  printf '    installer / (tar -xzf + sync) wall   %6.2f   target <= 1.25\n' "$(pair_ratio "$s.installer" "$s.tar_sync" 1)"
  printf '    installer / tar -xzf wall            %6.2f\n' "$(pair_ratio "$s.installer" "$s.tar" 1)"
  printf '    installer cpu / gzip -dc cpu         %6.2f   target <= 1.6\n' "$(pair_ratio "$s.installer" "$s.gzip" 2)"
  printf '    dpkg default / installer wall        %6.2f   target >= 2\n' "$(pair_ratio "$s.dpkg" "$s.installer" 1)"
  printf '    dpkg unsafe-io + sync / installer    %6.2f\n' "$(pair_ratio "$s.dpkg_unsafe_sync" "$s.installer" 1)"
}

OUT=$RES/report.txt
: > "$OUT"
say() { echo "$@" | tee -a "$OUT"; }

if want 1; then
  echo "== 1. one package, $TOTAL bytes in $FILES files [${SECONDS}s]"
  run_section 1
fi
if want 2; then
  echo "== 2. 50 packages of about 4 MB, one run [${SECONDS}s]"
  run_section 2
fi

SHOW_OUT=
if want 3; then
  echo "== 3. --show over 1,000 packages with 1 MiB images (bench/show_bench.sh) [${SECONDS}s]"
  SHOW_OUT=$(sh "$SRC/bench/show_bench.sh" "$BUILD" 1000 1048576)
fi
if want 6; then
  echo "== 6. one package of 53 MB in 2,000 small files [${SECONDS}s]"
  PACMAN_CONF=$W/small/pacman.conf
  printf '[options]\nSigLevel = Never\nLocalFileSigLevel = Never\n' > "$PACMAN_CONF"
  for ((round = 1; round <= ROUNDS; round++)); do
    echo "   round $round/$ROUNDS [${SECONDS}s]"
    out=$R/6.$round
    mkdir -p "$out"
    router_root "$out/inst" "$W/small/one.qpk"
    measure 6 installer "$INSTALLER" -r "$out/inst"
    if [ $round = 1 ]; then
      diff -rq -x var -x postlog -x PCKGS_CHANGED "$W/small/files" "$out/inst/flash" > /dev/null \
        || { echo "bench/run.sh: the installer installed different files" >&2; exit 1; }
    fi
    mkdir -p "$out/tar"
    measure_sync 6 tar tar -xzf "$W/small/one.tar.gz" -C "$out/tar"
    dpkg_root "$out/dpkg"
    measure 6 dpkg dpkg --root="$out/dpkg" --log="$out/dpkg/dpkg.log" -i "$W/small/one.deb"
    if command -v pacman > /dev/null; then
      mkdir -p "$out/pacman/var/lib/pacman"
      measure_sync 6 pacman pacman -U --root "$out/pacman" --dbpath "$out/pacman/var/lib/pacman" \
        --config "$PACMAN_CONF" --cachedir "$out/pacman/cache" --logfile "$out/pacman/log" --noconfirm --nodeps \
        --noscriptlet "$W/small/one.pkg.tar.gz"
    fi
  done
  # System calls per installed file, and memory per staged file (against a
  # package of one file).
  router_root "$R/6.strace" "$W/small/one.qpk"
  strace -f -c -o "$RES/6.strace" "$INSTALLER" -r "$R/6.strace" > /dev/null
  router_root "$R/6.one" "$W/uploads/u1.qpk"
  measure 6 one_file "$INSTALLER" -r "$R/6.one"
fi
if want 7; then
  echo "== 7. upgrade runs over 300, 600 and 1,200 uploads [${SECONDS}s]"
  for ((round = 1; round <= ROUNDS; round++)); do
    for n in 300 600 1200; do
      uploads=()
      for ((i = 1; i <= n; i++)); do uploads+=("$W/uploads/u$i.qpk"); done
      router_root "$R/7.$round.$n" "${uploads[@]}"
      measure 7 "uploads$n" "$INSTALLER" -r "$R/7.$round.$n"
    done
  done
fi
APPLY_OUT=
if want 4; then
  echo "== 4. applyActions (apply_actions_bench) [${SECONDS}s]"
  APPLY_OUT=$("$BUILD/bench/apply_actions_bench" 100 1000 5000)
fi
if want 5; then
  echo "== 5. peak memory of one 50 MB and one 500 MB package (500 files each) [${SECONDS}s]"
  for size in 50 500; do
    router_root "$R/rss$size" "$W/rss$size.qpk"
    measure 5 "rss$size" "$INSTALLER" -r "$R/rss$size"
    [ -d "$R/rss$size/flash/var/pdb/rss$size" ] || { echo "bench/run.sh: rss$size not installed" >&2; exit 1; }
  done
fi
echo "== removing the installed trees [${SECONDS}s]"
remove_all "$R"

echo
say "== results ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
if want 1; then
  say "1. one package, $TOTAL bytes of file data in $FILES files"
  report_section 1 | tee -a "$OUT"
fi
if want 2; then
  say "2. the same files as 50 packages of about 4 MB, one run"
  report_section 2 | tee -a "$OUT"
fi
if want 3; then
  stored=$(echo "$SHOW_OUT" | sed -n 's/^stored image bytes: //p')
  wall=$(echo "$SHOW_OUT" | sed -n 's/^wall time: \([0-9.]*\) s/\1/p' | tail -1)
  rchar=$(echo "$SHOW_OUT" | sed -n 's/^rchar: //p' | tail -1)
  say "3. --show over 1,000 packages with 1 MiB stored images"
  say "$(awk -v s="$stored" -v w="$wall" -v r="$rchar" 'BEGIN {
    printf "  wall %.3f s; read %d bytes of %d stored = %.4f%%   target < 1%%", w, r, s, 100 * r / s }')"
fi
if want 4; then
  say "4. applyActions (best of 3 per size)"
  say "$(echo "$APPLY_OUT" | sed 's/^/  /')"
fi
if want 5; then
  say "5. peak resident memory of an upgrade run"
  say "$(awk '{ printf "  50 MB package:  %6d KiB (wall %.2f s, cpu %.2f s)", $3, $1, $2 }' "$RES/5.rss50")"
  say "$(awk '{ printf "  500 MB package: %6d KiB (wall %.2f s, cpu %.2f s)", $3, $1, $2 }' "$RES/5.rss500")"
  say "$(paste -d' ' "$RES/5.rss50" "$RES/5.rss500" | awk '{
    printf "  difference %d KiB   target: within 1024 KiB, and under 8192 KiB in all", $8 - $3 }')"
fi
if want 6; then
  say "6. one package of 53 MB in 2,000 small files"
  {
    printf '  %-44s %8s %8s %9s\n' "contender ($ROUNDS rounds, medians)" "wall s" "cpu s" "maxrss KiB"
    row 6 installer "installer -r ROOT (upgrade run, commit, sync)"
    row 6 tar_sync "tar -xzf + sync"
    row 6 dpkg "dpkg -i (default)"
    row 6 pacman_sync "pacman -U --root + sync"
    echo "  per-round ratios (median):"
    printf '    installer / (tar -xzf + sync) wall   %6.2f   target <= 1.0\n' "$(pair_ratio 6.installer 6.tar_sync 1)"
    printf '    dpkg default / installer wall        %6.2f\n' "$(pair_ratio 6.dpkg 6.installer 1)"
    [ -f "$RES/6.pacman_sync" ] &&
      printf '    pacman + sync / installer wall       %6.2f\n' "$(pair_ratio 6.pacman_sync 6.installer 1)"
    total=$(awk '$NF == "total" { print $4 }' "$RES/6.strace")
    printf '    system calls per installed file      %6.2f   target <= 6 (strace -c: %d calls)\n' \
      "$(echo "$total / 2000" | bc -l)" "$total"
    printf '    peak RSS %d KiB (target <= 8192); %.0f bytes per staged file beyond a one-file package\n' \
      "$(median "$RES/6.installer" 3)" "$(echo "($(median "$RES/6.installer" 3) - $(median "$RES/6.one_file" 3)) * 1024 / 2000" | bc -l)"
  } | tee -a "$OUT"
fi
if want 7; then
  say "7. upgrade runs over many uploaded packages (one file each)"
  for n in 300 600 1200; do
    say "$(printf '  %5d uploads: wall %.3f s, cpu %.3f s (medians)' "$n" "$(median "$RES/7.uploads$n" 1)" \
      "$(median "$RES/7.uploads$n" 2)")"
  done
  say "  target: 1,200 uploads in under 0.5 s"
fi
