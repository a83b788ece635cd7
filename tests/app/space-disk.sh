#!/usr/bin/env bash
# A real small disk for the free-space tests: a tmpfs mounted as drive T: of the app prefix.
#   space-disk.sh up <prefix> <dir>     mount (as root) and link; the prefix's server restarts
#   space-disk.sh down <prefix> <dir>   unlink and unmount
# Where mounting is refused, "up" leaves no T: and the tests report themselves skipped.
set -u
action="$1"; prefix="$2"; dir="$3"
export WINEPREFIX="$prefix"
case "$action" in
  up)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    rm -f "$prefix/dosdevices/t:"
    if mount -t tmpfs -o size=64m tmpfs "$dir" 2>/dev/null; then
      ln -s "$dir" "$prefix/dosdevices/t:"
    else
      echo "mount refused: the free-space tests will be skipped"
    fi
    # A new drive letter shows only after the server restarts.
    wineserver -k >/dev/null 2>&1 || true
    exit 0 ;;
  down)
    rm -f "$prefix/dosdevices/t:"
    mountpoint -q "$dir" && umount "$dir"
    wineserver -k >/dev/null 2>&1 || true
    exit 0 ;;
esac
echo "usage: space-disk.sh up|down <prefix> <dir>" >&2
exit 2
