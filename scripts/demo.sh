#!/usr/bin/env bash
# Builds the installer and shows it at work on a small router tree in
# demo-root/ (ignored by git): a first installation, the package listing, a
# scheduled disable, and a "safe" upgrade that waits for "--commit".
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/demo.sh: the installer changes root into the demo router tree, which needs root." >&2
  echo "Run it as root, for example:  sudo scripts/demo.sh" >&2
  exit 1
fi

scripts/deps.sh
cmake -S . -B build/demo >/dev/null
cmake --build build/demo -j"$(nproc)" --target installer qpk

TOP=$PWD
INSTALLER=$TOP/build/demo/installer
QPK=$TOP/build/demo/qpk
ROOT=$TOP/demo-root
WORK=$TOP/demo-work
KEYS=(--key-eddsa "$TOP/keys/dev-eddsa.private" --key-legacy "$TOP/keys/dev-legacy.private")

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
say() { printf '   %s\n' "$@"; }
show() {
  printf '\n\033[2m$ %s\033[0m\n' "$*"
  "$@"
}
# The router's view of a folder of the demo root: every file, with the router path.
tree() {
  (cd "$ROOT" && find "${@#/}" \( -type f -o -type l \) 2>/dev/null | sort | sed 's|^|   /|') || true
}

step "A router's file systems, in a folder"
say "The installer works on a router's own paths: /flash (the flash disk, where" \
    "packages are unpacked and the package database lives in /flash/var/pdb)," \
    "/ram (a RAM disk for temporary files and requests) and /rw (uploads)." \
    "\"installer -r demo-root\" changes root into demo-root first, so it" \
    "only ever sees that folder."
rm -rf "$ROOT" "$WORK"
mkdir -p "$ROOT"/{flash/var/pdb,flash/rw/pckg,flash/var/pckg,ram,tmp,rw/pckg/.download,rw/pckg/.images} "$WORK"

# One package from a name, a version, options and "PATH=CONTENT" files.
make_package() {
  local name=$1 version=$2
  shift 2
  local tree="$WORK/tree-$name-$version" options=() spec
  mkdir -p "$tree"
  for spec in "$@"; do
    case $spec in
      /*=*)
        mkdir -p "$tree$(dirname "${spec%%=*}")"
        printf '%s\n' "${spec#*=}" >"$tree${spec%%=*}"
        ;;
      *) options+=("$spec") ;;
    esac
  done
  "$QPK" build --name "$name" --version "$version" --files "$tree" "${KEYS[@]}" \
    ${options[@]+"${options[@]}"} -o "$WORK/$name-$version.qpk"
}

step "Building signed sample packages with qpk"
say "Every package is signed with the development keys in keys/; the installer" \
    "refuses a package whose signature does not verify."
make_package system 7.1 --note "the base system" "/etc/release=Tarnwick 7.1"
make_package dhcp 7.1 --depends system:7.1 "/bin/dhcp-client=dhcp client 7.1"
make_package wireless 7.1 --depends system:7.1 --provides wifi-driver \
  --conflicts wifi-legacy "/lib/wireless.ko=new wifi driver"
make_package wifi-legacy 7.1 --provides wifi-driver "/lib/wifi-legacy.ko=old wifi driver"
make_package hotspot 7.1 --depends wifi-driver "/bin/hotspot=captive portal"
make_package ups 7.1 --depends system:7.1 "/bin/ups=ups monitor"
make_package lora 7.1 --depends system:7.1 "/bin/lora=lora gateway"
printf 'extras bundle image\n' >"$WORK/extras.blob"
"$QPK" build-bundle --name extras --version 7.1 --note "ups and lora in one file" \
  --blob "$WORK/extras.blob" -o "$WORK/extras-7.1.qpk" "$WORK/ups-7.1.qpk" "$WORK/lora-7.1.qpk"
say "system       the base package; everything else depends on it" \
    "dhcp         depends on system 7.1 or later" \
    "wireless     provides the name \"wifi-driver\" and conflicts with wifi-legacy" \
    "wifi-legacy  provides \"wifi-driver\" too" \
    "hotspot      depends on \"wifi-driver\": any package that provides it will do" \
    "extras       a bundle: one file holding the packages ups and lora"
show "$QPK" info "$WORK/hotspot-7.1.qpk"

step "Uploading them and running the installer"
say "Uploads land in /rw/pckg/.download/. A run reads every package file there," \
    "keeps one version per package, installs them so that each comes after what" \
    "it depends on, and commits all changes at once (or none, if anything fails)."
cp "$WORK"/{system,dhcp,wireless,wifi-legacy,hotspot}-7.1.qpk "$WORK/extras-7.1.qpk" "$ROOT/rw/pckg/.download/"
show "$INSTALLER" -r "$ROOT"
say "" "wifi-legacy conflicts with wireless, so it went in, but disabled: its files" \
    "wait under /flash/x/wifi-legacy instead of being live. Installed files:"
tree /flash/bin /flash/lib /flash/etc /flash/x
say "" "The package database, one folder per package:"
tree /flash/var/pdb | head -n 40
say "" "/flash/PCKGS_CHANGED tells the system that the package set changed, and" \
    "/flash/postlog keeps the messages of the run:"
show cat "$ROOT/flash/postlog"
rm -f "$ROOT"/rw/pckg/.download/*.qpk "$ROOT/flash/PCKGS_CHANGED"

step "The package listing"
show "$INSTALLER" -r "$ROOT" --show

step "Scheduling a disable, and running again"
say "The running system asks for changes by writing a word into" \
    "/ram/pdb/NAME/schedule; the next run carries them out. Here: disable hotspot."
mkdir -p "$ROOT/ram/pdb/hotspot"
echo disable >"$ROOT/ram/pdb/hotspot/schedule"
show "$INSTALLER" -r "$ROOT"
rm -f "$ROOT/ram/pdb/hotspot/schedule" "$ROOT/flash/PCKGS_CHANGED"
show "$INSTALLER" -r "$ROOT" --show
say "" "The X marks a disabled package. Disabling only records the state in the" \
    "database; the system does not start a disabled package, and its files stay:"
show cat "$ROOT/flash/var/pdb/hotspot/disabled"

step "A safe upgrade: everything prepared, nothing changed yet"
make_package dhcp 7.2 --depends system:7.1 "/bin/dhcp-client=dhcp client 7.2"
cp "$WORK/dhcp-7.2.qpk" "$ROOT/rw/pckg/.download/"
say "With --safe the installer stages every change in temporary files and writes" \
    "the list of moves to /ram/MANIFEST instead of committing."
show "$INSTALLER" -r "$ROOT" --safe
show cat "$ROOT/ram/MANIFEST"
say "" "The live file is still the old one:"
show cat "$ROOT/flash/bin/dhcp-client"

step "Committing the waiting changes"
say "\"installer --commit\" carries out /ram/MANIFEST. It acts before any change" \
    "of root, on the /ram of the machine it runs on, so here it runs chrooted into" \
    "demo-root, in a private mount namespace that lends it the host's libraries" \
    "read-only. The machine's own /ram is never touched."
commit_in_demo_root() {
  local made=() path
  for path in /usr /lib /lib64 /lib32; do
    [ -e "$path" ] && [ ! -e "$ROOT$path" ] && [ ! -L "$ROOT$path" ] || continue
    if [ -L "$path" ]; then
      ln -s "$(readlink "$path")" "$ROOT$path"
    else
      mkdir "$ROOT$path"
    fi
    made+=("$ROOT$path")
  done
  : >"$ROOT/.installer"
  made+=("$ROOT/.installer")
  local status=0
  unshare --mount --propagation private bash -c '
    set -e
    root=$1 binary=$2
    for path in /usr /lib /lib64 /lib32; do
      if [ -d "$root$path" ] && [ ! -L "$root$path" ]; then
        mount --rbind "$path" "$root$path"
        mount -o remount,bind,ro "$root$path"
      fi
    done
    mount --bind "$binary" "$root/.installer"
    printf "\n\033[2m$ chroot demo-root installer --commit\033[0m\n"
    chroot "$root" /.installer --commit
  ' _ "$ROOT" "$INSTALLER" || status=$?
  for path in "${made[@]}"; do
    if [ -L "$path" ] || [ -f "$path" ]; then rm -f "$path"; else rmdir "$path"; fi
  done
  return "$status"
}
commit_in_demo_root
rm -f "$ROOT/ram/MANIFEST" "$ROOT/rw/pckg/.download/dhcp-7.2.qpk"
show cat "$ROOT/flash/bin/dhcp-client"
show "$INSTALLER" -r "$ROOT" --show

step "Done"
say "The demo router tree stays in demo-root/ for a look around; the package" \
    "files are in demo-work/. Both are ignored by git and rebuilt by the next run."
