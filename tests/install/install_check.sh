#!/usr/bin/env bash
# `cmake --install` into a temporary prefix installs exactly the program, its manual page, the
# README and the licence; the installed program runs from PATH and finds a descrambler library in
# <prefix>/lib/quillodine/.
#   bash install_check.sh BUILD_DIR TSGEN SUBSTITUTE_LIBRARY WORK_DIR
set -euo pipefail
build=$1 tsgen=$2 library=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

expected='bin/Quillodine
share/doc/quillodine/LICENSE
share/doc/quillodine/README.ja.md
share/doc/quillodine/README.md
share/man/man1/Quillodine.1'
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
  echo "installed files differ from the expected ones:"
  diff <(echo "$expected") <(echo "$installed") || true
  exit 1
fi

cd "$work"
"$tsgen" hd rec.ts --seconds 2 >/dev/null
export PATH=$prefix/bin:$PATH
Quillodine rec.ts >run.txt
test -s rec_HD.ts || { echo "no rec_HD.ts"; exit 1; }
status=0
Quillodine -B25 rec.ts >run.txt 2>&1 || status=$?
[ "$status" = 1 ] || { echo "-B25 without a library: exit $status, not 1"; exit 1; }
mkdir -p "$prefix/lib/quillodine"
cp "$library" "$prefix/lib/quillodine/B25Decoder.so"
Quillodine -B25 rec.ts >run.txt 2>&1 || { cat run.txt; echo "-B25 with lib/quillodine/B25Decoder.so failed"; exit 1; }
rm -rf "$work"
echo "install tree and lib/quillodine lookup: ok"
