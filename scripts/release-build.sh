#!/usr/bin/env bash
# Builds the whole tree in the Release configuration a user or packager builds, with warnings as
# errors, so that an optimiser-only warning shows here before it reaches anyone's build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_WERROR=ON >/dev/null
cmake --build build-release -j"$(nproc)"
echo "release build: ok"
