#!/usr/bin/env bash
# Builds the fuzz targets and runs each of them for a fixed time, one after the other.
#
#   bash fuzz/run.sh [seconds per target, default 60] [target ...]
#
# Environment: QUILL_FUZZ_BUILD (build folder, default /tmp/build-fuzz), QUILL_FUZZ_JOBS (build
# jobs, default 2). New corpus entries stay in the build folder (<build>/corpus/<target>); the
# synthesized seeds are made there too (<build>/synth-seeds); fuzz/seeds/<target> holds the small
# minimised set kept in the repository and is only read. A finding leaves its input in
# <build>/findings/<target> and ends the script with exit code 1.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:-60}"
shift || true
build="${QUILL_FUZZ_BUILD:-/tmp/build-fuzz}"
jobs="${QUILL_FUZZ_JOBS:-2}"

bash "$here/deps.sh"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
"$build/fuzz_seeds" "$build/synth-seeds"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then mapfile -t targets < "$build/targets.txt"; fi

# The in-process targets may write output files named after their (empty) input names: keep
# them in the build folder, not wherever the script was started.
build="$(cd "$build" && pwd)"
mkdir -p "$build/work"
cd "$build/work"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings" "$build/synth-seeds/$t" "$here/seeds/$t"
  case "$t" in
    fuzz_program_*) extra=(-max_len=65536 -timeout=20 -rss_limit_mb=3072) ;;
    fuzz_tables|fuzz_pes) extra=(-max_len=65536 -timeout=10) ;;
    *) extra=(-max_len=16384 -timeout=10) ;;
  esac
  echo "== $t: ${seconds} s"
  log="$build/$t.log"
  # New entries go to the first folder only: the build tree's corpus.
  if "$build/$t" "$corpus" "$build/synth-seeds/$t" "$here/seeds/$t" -max_total_time="$seconds" \
       -print_final_stats=1 -artifact_prefix="$findings/" "${extra[@]}" >"$log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | sed 's/^/   /' || true
    grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -1 | sed 's/^/   /' || true
  else
    echo "   FINDING in $t (input in $findings), last lines of $log:"
    tail -40 "$log" | sed 's/^/   /'
    status=1
  fi
done
exit $status
