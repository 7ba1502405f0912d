#!/usr/bin/env bash
# Builds Quillodine, generates a small terrestrial HD sample recording and splits it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target Quillodine tsgen
mkdir -p sample
rm -f sample/*
./build/tests/synth/tsgen hd sample/rec.ts --seconds 20 --unit 188
echo "== Quillodine sample/rec.ts"
./build/console/Quillodine sample/rec.ts
echo "== written:"
ls -l sample/
