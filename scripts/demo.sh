#!/usr/bin/env bash
# Shows KvoVellocsDiag at work: builds it, makes a simulated layered-disk machine in a private
# Wine prefix, starts the real program on a (virtual) display, drives one full run through its
# dialog, then prints the output folder's tree and the tool's log. Run as root on Debian.
#   scripts/demo.sh [build-dir]      (default: build)
# Leaves <build-dir>/demo-dialog.png, a screenshot of the dialog during the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target KvoVellocsDiag KvoVellocsDiagUI_de DialogDriver \
  kvo_standin_Wmic kvo_standin_Wevtutil kvo_standin_Msinfo32

export KVO_WINEPREFIX="$build/wineprefix-demo"
export WINEPREFIX="$KVO_WINEPREFIX"
export WINEDEBUG=-all
export LC_ALL="${LC_ALL:-C.UTF-8}"
# The Wine desktop folder links to $HOME/Desktop: keep the demo's output out of the real home.
export HOME="$build/home-demo"
mkdir -p "$HOME/Desktop"
wine_run="$root/cmake/wine-run.sh"
program="$build/app/KvoVellocsDiag.exe"
driver="$build/tests/app/DialogDriver.exe"
shot="$build/demo-dialog.png"

xvfb_pid=""
app_pid=""
cleanup() {
  # Wine's explorer window stays open after the run: end the prefix's whole session.
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  echo "== virtual display $DISPLAY"
fi

echo "== simulated layered-disk machine in $KVO_WINEPREFIX"
"$root/tests/simmachine/make-machine.sh" "$KVO_WINEPREFIX" driver --standins "$build/tests/simmachine"
"$wine_run" --start

echo "== starting KvoVellocsDiag.exe"
"$wine_run" "$program" </dev/null >/dev/null 2>&1 &
app_pid=$!

state="$("$wine_run" "$driver" state | tr -d '\r')"
echo "$state"
out_win="$(sed -n 's/^output folder: *//p' <<<"$state")"

echo "== clicking OK"
"$wine_run" "$driver" ok | tr -d '\r'
import -window root "$shot" || echo "(no screenshot: import failed)"

echo "== waiting for the outcome"
"$wine_run" "$driver" finish | tr -d '\r'
wait "$app_pid" || true
app_pid=""

out="$(winepath -u "$out_win" 2>/dev/null)"
echo "== output folder $out_win"
(cd "$out" && find . -mindepth 1 | sort | sed 's|^\./||')
echo "== KvoVellocsDiag.log"
sed '1s/^\xEF\xBB\xBF//' "$out/KvoVellocsDiag.log" | tr -d '\r'
echo "== screenshot of the dialog during the run: $shot"
