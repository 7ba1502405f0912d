#!/usr/bin/env bash
# Benchmarks: builds Release, generates the inputs once (cached under build-bench/), then
# measures Quillodine against dd (and ffmpeg when installed), outputs on tmpfs and on disk, and
# the same recording read from a pipe.
# Usage: bash bench/run.sh [--baseline BIN] [rounds]
# --baseline (or QUILLODINE_BASELINE=BIN): a previous build of Quillodine, measured in the same
# rounds with defaults, -NULL and -EIT -ECM -EMM, each beside the new build's ratio to dd bs=1M.
set -euo pipefail
rounds=5
baseline=${QUILLODINE_BASELINE:-}
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) [ $# -ge 2 ] || { echo "bench: --baseline needs a program" >&2; exit 2; }; baseline=$2; shift 2 ;;
    *) rounds=$1; shift ;;
  esac
done
base=()
if [ -n "$baseline" ]; then
  [ -x "$baseline" ] && [ -f "$baseline" ] || { echo "bench: $baseline is no program" >&2; exit 2; }
  base=(--baseline "$(cd "$(dirname "$baseline")" && pwd)/$(basename "$baseline")")
fi
cd "$(dirname "$0")/.."
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
  "${base[@]}" hd="$inputs/hd_1g.ts" sd3="$inputs/sd3_1g.ts"
./"$build"/bench/split_bench --quillodine "$q" --out "$PWD/$build/disk-out" --rounds 3 "${base[@]}" \
  hd-on-disk="$inputs/hd_1g.ts"
./"$build"/bench/split_bench --quillodine "$q" --out /dev/shm/quill-bench --rounds "$rounds" --scaling \
  256MiB="$inputs/hd_256m.ts" 1GiB="$inputs/hd_1g.ts" 2GiB="$inputs/hd_2g.ts"
# A recording piped in: peak resident memory, and the spool the program keeps beside its outputs
# (as large as the input at the end, removed when the run ends).
./"$build"/bench/split_bench --quillodine "$q" --out /dev/shm/quill-bench --rounds 3 --pipe \
  hd-1GiB="$inputs/hd_1g.ts"
rm -rf /dev/shm/quill-bench
