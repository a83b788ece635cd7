#!/usr/bin/env bash
# Turns a Wine prefix into a simulated layered-disk machine (see README.md in this folder).
#
#   make-machine.sh <wineprefix> <mode> [--marker-drive <letter>] [--drive <letter> <folder>]...
#                   [--drive-type <letter> <type>]... [--standins <folder>] [--no-restart]
#
#   mode driver   DriverState REG_DWORD 2, product data below C:\ProgramData\Korvane, driver log
#   mode marker   DriverState REG_DWORD 0, a marker volume mounted as drive M: (or --marker-drive),
#                 driver log
#   mode both     DriverState REG_DWORD 2 with the product data, and the marker volume as well
#   mode none     no driver key, no product data, no marker volume, no driver log
#
# Every run first removes what an earlier run made, so the prefix ends in exactly the named mode.
# --drive adds a further drive letter linked to a folder (created when missing; tests use these).
# --drive-type gives a drive letter a type (hd, cdrom, floppy, network, ramdisk) in Wine's registry.
# In every mode the machine has what a real one has for the OS log step: setup logs, a few event
# log files, and stand-ins for wmic, wevtutil and msinfo32 (from --standins, by default
# $KVO_BINARY_DIR/tests/simmachine; see install-standins.sh).
# The Wine server is stopped at the end (unless --no-restart), because a new drive letter shows
# in GetLogicalDriveStringsW only after the server restarts; the next Wine program starts it.
set -euo pipefail

usage() {
  sed -n '4,10p' "$0" >&2
  exit 2
}

[ $# -ge 2 ] || usage
prefix="$1"
mode="$2"
shift 2
case "$mode" in driver | marker | both | none) ;; *) usage ;; esac

marker_letter=m
restart=1
extra_drives=()
drive_types=()
standins="${KVO_BINARY_DIR:+$KVO_BINARY_DIR/tests/simmachine}"
while [ $# -gt 0 ]; do
  case "$1" in
    --marker-drive) marker_letter="${2,,}"; shift 2 ;;
    --drive) extra_drives+=("${2,,}" "$3"); shift 3 ;;
    --drive-type) drive_types+=("${2,,}" "$3"); shift 3 ;;
    --standins) standins="$2"; shift 2 ;;
    --no-restart) restart=0; shift ;;
    *) usage ;;
  esac
done

here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run.sh"
mkdir -p "$(dirname "$prefix")"
prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"
export KVO_WINEPREFIX="$prefix"
export WINEPREFIX="$prefix"

# wine-run.sh creates the prefix on first use; any quick program will do.
"$wine_run" cmd.exe /c exit </dev/null >/dev/null 2>&1

drive_c="$prefix/drive_c"
data="$drive_c/ProgramData/Korvane"
sim="$prefix/kvo-sim"
volume="$sim/marker-volume"
driver_key='HKLM\System\CurrentControlSet\Services\VantfsFilter'
instance_key="$driver_key\\Instances\\VantfsFilter"

# --- helpers -------------------------------------------------------------------------------------

# Lines of a service log, CR LF like the product writes them. $1 file, $2 service, $3 line count.
log_lines() {
  local file="$1" service="$2" count="$3" i
  mkdir -p "$(dirname "$file")"
  : >"$file"
  for ((i = 0; i < count; i++)); do
    printf '2026-11-%02d 08:%02d:%02d.%03d [%5d] INFO  %s: layer %d attached, %d blocks merged\r\n' \
      $((i % 28 + 1)) $((i % 60)) $((i * 7 % 60)) $((i * 37 % 1000)) $((4100 + i % 9)) "$service" \
      $((i % 4)) $((i * 4099 % 100000)) >>"$file"
    if ((i % 11 == 5)); then
      printf '2026-11-%02d 08:%02d:%02d.%03d [%5d] WARN  %s: retrying flush of layer %d (0x%08X)\r\n' \
        $((i % 28 + 1)) $((i % 60)) $((i * 7 % 60)) $((i * 37 % 1000)) $((4100 + i % 9)) "$service" \
        $((i % 4)) $((0xC0000000 + i)) >>"$file"
    fi
  done
}

# Deterministic binary content with every byte value, NUL included. $1 file, $2 size in KiB.
binary_file() {
  mkdir -p "$(dirname "$1")"
  LC_ALL=C awk -v kib="$2" 'BEGIN { x = 1; for (i = 0; i < kib * 1024; i++) { x = (x * 75 + 74) % 65537; printf "%c", x % 256 } }' >"$1"
}

layer_definition() {
  local folder="$1" id="$2"
  mkdir -p "$folder/Layers" "$folder/Policies"
  printf '<?xml version="1.0" encoding="utf-8"?>\r\n<LayerDefinition Id="%s" Version="4">\r\n  <Layer Name="Base" Order="0" ReadOnly="true"/>\r\n  <Layer Name="Applications" Order="1"/>\r\n  <Layer Name="UserWritable" Order="2" Persistent="true"/>\r\n</LayerDefinition>\r\n' \
    "$id" >"$folder/LayerDef.xml"
  printf '[Layer]\r\nName=Base\r\nSizeMB=40960\r\nHash=9f2c7a10e4\r\n' >"$folder/Layers/Base.layer"
  printf '[Layer]\r\nName=Applications\r\nSizeMB=8192\r\nHash=41be03d977\r\n' >"$folder/Layers/Applications.layer"
  printf 'ExcludePath=C:\\Windows\\Temp\r\nExcludePath=C:\\pagefile.sys\r\n' >"$folder/Policies/Exclusions.txt"
  binary_file "$folder/Layers/Base.bitmap" 6
}

# Runs reg.exe in the prefix. An empty pipe on stdin keeps it from waiting for a console.
reg() { "$wine_run" reg "$@" </dev/null >/dev/null 2>&1; }

# --- reset ---------------------------------------------------------------------------------------

rm -rf "$data" "$drive_c/VantfsLogFile.log" "$sim"
# Only a drive link that points into our own area is removed; others belong to someone else.
for link in "$prefix"/dosdevices/?:; do
  [ -L "$link" ] || continue
  case "$(readlink "$link")" in "$sim"/*) rm -f "$link" ;; esac
done
reg delete "$driver_key" /f || true
# Types of the letters this script links; other letters' types are not ours.
for letter in "$marker_letter" "${extra_drives[@]}"; do
  if [ "${#letter}" = 1 ]; then reg delete 'HKLM\Software\Wine\Drives' /v "$letter:" /f || true; fi
done
for ((i = 0; i < ${#drive_types[@]}; i += 2)); do
  reg add 'HKLM\Software\Wine\Drives' /v "${drive_types[i]}:" /t REG_SZ /d "${drive_types[i + 1]}" /f
done

for ((i = 0; i < ${#extra_drives[@]}; i += 2)); do
  mkdir -p "${extra_drives[i + 1]}"
  ln -sfn "$(cd "${extra_drives[i + 1]}" && pwd)" "$prefix/dosdevices/${extra_drives[i]}:"
done

# --- what every Windows machine has for the OS log step ------------------------------------------

os_logs() {
  local inf="$drive_c/windows/inf" evtx="$drive_c/windows/system32/winevt/logs"
  mkdir -p "$inf" "$evtx"
  log_lines "$inf/setupapi.app.log" SetupAPI 60
  log_lines "$inf/setupapi.dev.log" DeviceInstall 90
  for name in Application System Security Setup; do
    binary_file "$evtx/$name.evtx" 8
  done
  if [ -n "$standins" ]; then
    "$here/install-standins.sh" "$prefix" "$standins"
  else
    echo "make-machine.sh: no --standins folder: wmic, wevtutil and msinfo32 stay Wine's own" >&2
  fi
}
os_logs

# --- modes ---------------------------------------------------------------------------------------

driver_log() {
  log_lines "$drive_c/VantfsLogFile.log" VantfsFilter 120
}

volume_ids=(
  '{6F1A2C3D-8B4E-4F60-9A71-0C2D3E4F5A6B}'
  '{A7C93E15-2D48-4B6F-8E0A-1F2B3C4D5E6F}'
  '{E2B4D6F8-1A3C-4E5F-9B7D-2C4E6A8B0D1F}'
)

if [ "$mode" = driver ] || [ "$mode" = both ]; then
  reg add "$instance_key" /v DriverState /t REG_DWORD /d 2 /f
  driver_log

  logs="$data/Halvrun/LOGS"
  log_lines "$logs/HalvrunService.log" HalvrunService 200
  log_lines "$logs/HalvrunService.1.log" HalvrunService 400
  log_lines "$logs/Updates/2026-11-28/apply.log" LayerUpdate 40
  log_lines "$logs/Updates/2026-12-02/apply.log" LayerUpdate 25
  log_lines "$logs/Überwachung-Protokoll_é.log" Monitor 30
  binary_file "$logs/Crash/HalvrunService_4108.dmp" 48
  mkdir -p "$data/Halvrun/Config"
  printf '[Service]\r\nLogLevel=3\r\n' >"$data/Halvrun/Config/service.ini"

  volumes="$data/Vellocs/Volumes"
  for id in "${volume_ids[@]:0:2}"; do
    layer_definition "$volumes/$id/Metadata/Settings/LayerDef" "$id"
    printf 'Owner=Provisioning\r\n' >"$volumes/$id/Metadata/Settings/volume.ini"
    log_lines "$volumes/$id/Logs/VolumeService.log" VolumeService 150
    log_lines "$volumes/$id/Logs/Attach/attach-0001.log" Attach 20
    binary_file "$volumes/$id/Logs/Attach/journal.bin" 3
  done
  # Traces nested deeply enough that their full path exceeds 260 characters.
  deep="$volumes/${volume_ids[1]}/Logs/Diagnostics/SessionTraces-Provisioning-LongRunningOperations"
  deep="$deep/LayerMergeEngine-BlockAllocator-Checkpoints/2026-12-02T08-15-44-Session-0000000042"
  log_lines "$deep/merge-trace-with-a-rather-long-descriptive-name-for-the-allocator.log" Merge 10
  # A volume that has metadata but has written no logs yet.
  layer_definition "$volumes/${volume_ids[2]}/Metadata/Settings/LayerDef" "${volume_ids[2]}"
  # Not a volume folder: the braced pattern must not pick it up.
  binary_file "$volumes/VolumeIndex.dat" 1
fi

if [ "$mode" = marker ] || [ "$mode" = both ]; then
  if [ "$mode" = marker ]; then
    reg add "$instance_key" /v DriverState /t REG_DWORD /d 0 /f
    driver_log
  fi
  mkdir -p "$volume"
  printf '%s\r\n' "${volume_ids[0]}" >"$volume/{3A12BF49-9AFE-4A94-98EE-3456DBB8C431}.VELLOCS.VOL.GUID"
  log_lines "$volume/HRNLOGS/HrnService.log" HrnService 180
  log_lines "$volume/HRNLOGS/Creation/creation-session-01.log" Creation 60
  log_lines "$volume/HRNLOGS/Creation/Protokoll-Überprüfung_ñ.log" Creation 12
  binary_file "$volume/HRNLOGS/Creation/capture.etl" 16
  layer_definition "$volume/KorvaneHrn/Settings/LayerDef" "${volume_ids[0]}"
  # Present on a real volume but not part of the layer definition.
  binary_file "$volume/KorvaneHrn/Cache/blocks.cache" 4
  ln -sfn "$volume" "$prefix/dosdevices/$marker_letter:"
fi

if [ "$restart" = 1 ]; then
  wineserver -k >/dev/null 2>&1 || true
fi
exit 0
