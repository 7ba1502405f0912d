#!/usr/bin/env bash
# Benchmarks: builds Release, generates the inputs once (cached under build-bench/), then
# measures Quillodine against dd (and ffmpeg when installed), outputs on tmpfs and on disk.
# Usage: bash bench/run.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
bash scripts/deps.sh
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target Quillodine tsgen split_bench >/dev/null
inputs="$build/inputs"
mkdir -p "$inputs"
gen() {  # scenario size name; made again when the synthesizer changed since
  [ -s "$inputs/$3" ] && [ "$inputs/$3" -nt "$build/tests/synth/tsgen" ] ||
    ./"$build"/tests/synth/tsgen "$1" "$inputs/$3" --size "$2"
}
gen hd 1G hd_1g.ts
gen sd3 1G sd3_1g.ts
gen hd 256M hd_256m.ts
gen hd 2G hd_2g.ts
q="$PWD/$build/console/Quillodine"
ff=()
command -v ffmpeg >/dev/null && ff=(--ffmpeg)
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
./"$build"/bench/split_bench --quillodine "$q" --out /dev/shm/quill-bench --rounds "$rounds" --targets "${ff[@]}" \
  hd="$inputs/hd_1g.ts" sd3="$inputs/sd3_1g.ts"
./"$build"/bench/split_bench --quillodine "$q" --out "$PWD/$build/disk-out" --rounds 3 \
  hd-on-disk="$inputs/hd_1g.ts"
./"$build"/bench/split_bench --quillodine "$q" --out /dev/shm/quill-bench --rounds "$rounds" --scaling \
  256MiB="$inputs/hd_256m.ts" 1GiB="$inputs/hd_1g.ts" 2GiB="$inputs/hd_2g.ts"
rm -rf /dev/shm/quill-bench
