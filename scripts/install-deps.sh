#!/usr/bin/env bash
# Installs what building and testing need on Debian (as root); does nothing when all is there.
set -euo pipefail
packages=(cmake make python3 unzip g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest xvfb xauth imagemagick
          nlohmann-json3-dev libz-mingw-w64-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # With recommends: Wine needs its fonts and X extensions to draw dialogs as on Windows.
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
