#!/usr/bin/env bash
# Setup and cleanup of the application tests' own Wine prefix.
#   app-prefix.sh up <prefix>     a simulated layered-disk machine (driver mode), Wine server running
#   app-prefix.sh down <prefix>   ends every Wine process of the prefix (explorer windows included)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
action="$1"
export KVO_WINEPREFIX="$2"
export WINEPREFIX="$2"
case "$action" in
  up)
    # The Wine desktop folder links to $HOME/Desktop when it exists at prefix creation.
    mkdir -p "$HOME/Desktop"
    "$root/tests/simmachine/make-machine.sh" "$KVO_WINEPREFIX" driver --standins "$KVO_BINARY_DIR/tests/simmachine"
    "$root/cmake/wine-run.sh" --start ;;
  down)
    wineserver -k >/dev/null 2>&1 || true ;;
  *) echo "usage: app-prefix.sh up|down <prefix>" >&2; exit 2 ;;
esac
