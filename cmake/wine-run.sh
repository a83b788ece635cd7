#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix (KVO_WINEPREFIX, else WINEPREFIX,
# else ./wineprefix), creating the prefix on first use. Used as the cross-compiling emulator.
#   wine-run.sh <program.exe> [args...]   run a program
#   wine-run.sh --start                   create the prefix if needed and keep a wineserver up
#   wine-run.sh --stop                    end every Wine process of the prefix
set -u
export WINEPREFIX="${KVO_WINEPREFIX:-${WINEPREFIX:-$PWD/wineprefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LC_ALL="${LC_ALL:-C.UTF-8}"

ensure_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kvo-ready" ]; then
      rm -rf "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.kvo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

case "${1:-}" in
  --start)
    ensure_prefix
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the session's background processes (services, explorer) detached from our output:
    # a test runner waits for every process that holds its pipes.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
    exit 0 ;;
  --stop)  wineserver -k >/dev/null 2>&1; exit 0 ;;
  "")      echo "usage: wine-run.sh <program> [args...] | --start | --stop" >&2; exit 2 ;;
esac
ensure_prefix
exec wine "$@"
