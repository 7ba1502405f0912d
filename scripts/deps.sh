#!/usr/bin/env bash
# Installs what building (and, with --test, testing) needs on Debian 12, only when missing.
# Further package names may follow; the other scripts name their own extras this way.
#   bash scripts/deps.sh [--test] [package ...]
set -euo pipefail
packages=(g++ cmake make libgtest-dev)
if [ "${1:-}" = "--test" ]; then
  # The real-codec checks encode with ffmpeg, judge with ffprobe and read the streams with python3.
  packages+=(ffmpeg python3)
  shift
  packages+=(groff-base)  # manpage_render: groff checks the manual page for warnings
fi
packages+=("$@")
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
