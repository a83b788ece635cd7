#!/usr/bin/env bash
# Runs bench/copy_bench on a RAM disk (a tmpfs as drive R: of the build tree's prefix), then times
# cp -r of the same kind of tree on the Linux side, in the same sitting. Needs root for the mount.
#   bench/run-copy-bench.sh <build-dir> [rounds]     (the build configured with -DKVO_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: run-copy-bench.sh <build-dir> [rounds]}" && pwd)"
rounds="${2:-7}"
export KVO_WINEPREFIX="$build/wineprefix-bench"
export WINEPREFIX="$KVO_WINEPREFIX"
export WINEDEBUG=-all
disk="$build/bench-ramdisk"
mkdir -p "$disk"
mountpoint -q "$disk" || mount -t tmpfs -o size=1g tmpfs "$disk"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -f "$KVO_WINEPREFIX/dosdevices/r:"
  umount "$disk" 2>/dev/null || true
}
trap cleanup EXIT
"$root/cmake/wine-run.sh" cmd.exe /c exit </dev/null >/dev/null 2>&1
ln -sfn "$disk" "$KVO_WINEPREFIX/dosdevices/r:"
wineserver -k >/dev/null 2>&1 || true
"$root/cmake/wine-run.sh" "$build/bench/copy_bench.exe" 'R:\' "$rounds"

# The Linux side: cp -r of 2,000 files of the same sizes, on the same RAM disk.
mkdir -p "$disk/cp-source"
for i in $(seq 0 1999); do
  size=$(( i % 100 == 0 ? 5242880 : 1024 + (i * 7919) % (99 * 1024) ))
  head -c "$size" /dev/urandom >"$disk/cp-source/file$i.log"
done
times=()
for _ in $(seq "$rounds"); do
  start=$(date +%s%N); cp -r "$disk/cp-source" "$disk/cp-target"; end=$(date +%s%N)
  times+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')"); rm -rf "$disk/cp-target"
done
printf 'cp -r of 2,000 files (%s rounds): median %s s\n' "$rounds" "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (rounds + 1) / 2 ))p")"
