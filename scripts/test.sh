#!/usr/bin/env bash
# Builds everything and runs every test. With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer, in its own build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DQUILLODINE_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLODINE_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
