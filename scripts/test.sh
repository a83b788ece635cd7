#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test under Wine.
#   scripts/test.sh [build-dir]      (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
# Dialog tests need a display: use the caller's, or a private virtual one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir "$build" --output-on-failure
fi
exec ctest --test-dir "$build" --output-on-failure
