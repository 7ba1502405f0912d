#!/usr/bin/env bash
# Installs what the fuzz targets need on Debian 12 (clang with its sanitizer and libFuzzer
# runtimes, CMake), only when missing.
set -euo pipefail
packages=(clang libclang-rt-14-dev cmake make)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
