#!/usr/bin/env bash
# CI: every fuzz target for a short time (default 20 s) on its seeds. Installs clang when
# missing; the corpus it grows stays in the build folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export QUILL_FUZZ_BUILD="${QUILL_FUZZ_BUILD:-$here/../build-fuzz}"
export QUILL_FUZZ_JOBS="${QUILL_FUZZ_JOBS:-$(nproc)}"
bash "$here/run.sh" "${1:-20}"
