#!/usr/bin/env bash
# Installs the stand-ins for the management tool, the event log tool and the system information
# tool into a Wine prefix, at the paths the OS log script and the collector use. Wine runs its own
# built-in wevtutil.exe whatever file lies in system32, unless the prefix overrides it as native.
#   install-standins.sh <wineprefix> <folder with standin-*.exe>
set -euo pipefail
prefix="$1"
from="$2"
here="$(cd "$(dirname "$0")" && pwd)"
for tool in Wmic Wevtutil Msinfo32; do
  [ -f "$from/standin-$tool.exe" ] || { echo "install-standins.sh: $from/standin-$tool.exe is not built" >&2; exit 1; }
done
system32="$prefix/drive_c/windows/system32"
msinfo="$prefix/drive_c/Program Files/Common Files/Microsoft Shared/MSInfo"
mkdir -p "$system32/wbem" "$msinfo"
install -m 755 "$from/standin-Wmic.exe" "$system32/wbem/wmic.exe"
install -m 755 "$from/standin-Wevtutil.exe" "$system32/wevtutil.exe"
install -m 755 "$from/standin-Msinfo32.exe" "$msinfo/msinfo32.exe"
KVO_WINEPREFIX="$prefix" "$here/../../cmake/wine-run.sh" reg add 'HKCU\Software\Wine\DllOverrides' \
  /v wevtutil.exe /t REG_SZ /d native /f </dev/null >/dev/null 2>&1
