#!/usr/bin/env bash
# Installs what the fuzz targets need on Debian 12 (clang with its sanitizer and libFuzzer
# runtimes, CMake), only when missing.
set -euo pipefail
bash "$(dirname "$0")/../scripts/deps.sh" clang libclang-rt-14-dev
