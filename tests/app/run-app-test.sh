#!/usr/bin/env bash
# Runs an application test program under Wine with its output in a file, then shows it. The
# explorer windows that the dialog opens inherit the program's output; had that been the test
# runner's pipe, the runner would wait for them until the prefix's Wine session ends.
set -u
# Without a display Wine cannot create the dialog, and a test would wait for it until ctest's limit.
if [ -z "${DISPLAY:-}" ]; then
  echo "The application tests need an X display: run them through scripts/test.sh, or under xvfb-run." >&2
  exit 1
fi
here="$(cd "$(dirname "$0")" && pwd)"
log="$(mktemp)"
"$here/../../cmake/wine-run.sh" "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
