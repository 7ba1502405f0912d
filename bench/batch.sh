#!/usr/bin/env bash
# A batch over a folder of recordings: 8 synthesized 256 MiB HD recordings, one Quillodine process
# per file, 1, 2 and 4 processes at a time (xargs -P). Settings: outputs on /dev/shm with the inputs
# in the page cache (shm-warm); outputs on disk, synced to it inside the timing, with the inputs in
# the page cache (disk-warm) or evicted from it first (disk-cold: dd iflag=nocache, these files
# only). Rounds alternate the settings; prints each round's load average, the medians and the
# disk's own rates (dd).
#   bash bench/batch.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
bash scripts/deps.sh
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target Quillodine tsgen >/dev/null
q="$PWD/$build/console/Quillodine"
in="$PWD/$build/batch-in"
shm=/dev/shm/quill-batch
disk="$PWD/$build/batch-out"
mkdir -p "$in"
for i in 1 2 3 4 5 6 7 8; do
  f="$in/rec$i.ts"
  [ -s "$f" ] && [ "$f" -nt "$build/tests/synth/tsgen" ] ||
    ./"$build"/tests/synth/tsgen hd "$f" --size 256M --seed "$i" >/dev/null
done
sync "$in"/*.ts
input_mb=$(du -cm "$in"/*.ts | tail -1 | cut -f1)

batch() {  # setting processes: prints the seconds of the batch
  local out=$shm
  [ "$1" = shm-warm ] || out=$disk
  rm -rf "$out"
  mkdir -p "$out"
  if [ "$1" = disk-cold ]; then
    for f in "$in"/*.ts; do dd if="$f" iflag=nocache count=0 status=none; done
  else
    cat "$in"/*.ts >/dev/null
  fi
  local TIMEFORMAT='%R %U %S'
  { time {
    printf '%s\0' "$in"/*.ts | xargs -0 -n 1 -P "$2" "$q" -OUT "$out" >/dev/null
    [ "$out" = "$shm" ] || sync "$out"/*
  }; } 2>&1 | awk '{ printf "%.2f/%.2f\n", $1, $2 + $3 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { tr ' ' '\n' | grep . | cut -d/ -f"$1"; }  # 1: wall seconds, 2: CPU seconds (user + system)

echo "machine: $(nproc) cores; inputs: 8 files, $input_mb MiB; outputs of one batch: written below"
settings=(shm-warm disk-warm disk-cold)
declare -A times
for round in $(seq 1 "$rounds"); do
  echo "round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  for s in "${settings[@]}"; do
    for p in 1 2 4; do times[$s.$p]+="$(batch "$s" "$p") "; done
  done
done
echo "output of one batch: $(du -sm "$disk" | cut -f1) MiB"
echo "median wall time of the batch, input MiB/s, speed-up against one process, median CPU seconds"
echo "(user + system of all processes); then every round as wall/CPU"
printf '%-10s %3s %9s %7s %8s %6s   %s\n' setting P wall MiB/s speed-up CPU rounds
for s in "${settings[@]}"; do
  base=$(echo "${times[$s.1]}" | field 1 | median)
  for p in 1 2 4; do
    m=$(echo "${times[$s.$p]}" | field 1 | median)
    c=$(echo "${times[$s.$p]}" | field 2 | median)
    awk -v s="$s" -v p="$p" -v m="$m" -v c="$c" -v b="$base" -v mb="$input_mb" -v all="${times[$s.$p]}" \
      'BEGIN { printf "%-10s %3d %8.2fs %7.0f %7.2fx %5.2fs   %s\n", s, p, m, mb / m, b / m, c, all }'
  done
done
# The disk alone: 2 GiB written and synced, then read back past the page cache.
dd if=/dev/zero of="$disk/dd.bin" bs=1M count=2048 conv=fsync 2>&1 | tail -1 | sed 's/^/disk write (dd, fsync): /'
dd if="$disk/dd.bin" of=/dev/null bs=1M iflag=direct 2>&1 | tail -1 | sed 's/^/disk read (dd, direct): /'
rm -rf "$shm" "$disk"
