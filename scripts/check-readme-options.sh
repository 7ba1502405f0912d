#!/usr/bin/env bash
# The option table of README.ja.md names the same options as the one of README.md.
# An option is a backticked `-NAME...` in a table row's first column, NAME being its capitals
# and digits (`-OUT folder` gives -OUT, `-PIDp1,p2,…` gives -PID). The table is the first one
# whose header's first cell is "Option" (README.md) or "オプション" (README.ja.md).
# Exits 1 listing the names one README has and the other lacks; 1 as well when a table is missing.
#   bash scripts/check-readme-options.sh [README.md README.ja.md]
set -euo pipefail
english=${1:+$(realpath -m "$1")}
japanese=${2:+$(realpath -m "$2")}
cd "$(dirname "$0")/.."
english=${english:-README.md}
japanese=${japanese:-README.ja.md}

# option_names FILE HEADER: the sorted option names of the table.
option_names() {
  awk -v header="$2" '
    function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
    !in_table {
      if ($0 ~ /^\|/) { split($0, cell, "|"); if (trim(cell[2]) == header) in_table = 1 }
      next
    }
    $0 !~ /^\|/ { exit }
    {
      split($0, cell, "|")
      first = cell[2]
      while (match(first, /`[^`]*`/)) {
        code = substr(first, RSTART + 1, RLENGTH - 2)
        first = substr(first, RSTART + RLENGTH)
        if (match(code, /^-[A-Z0-9]+/)) print substr(code, RSTART, RLENGTH)
      }
    }' "$1" | LC_ALL=C sort -u
}

en=$(option_names "$english" "Option")
ja=$(option_names "$japanese" "オプション")
status=0
[ -n "$en" ] || { echo "check-readme-options: no option table (header \"Option\") in $english"; status=1; }
[ -n "$ja" ] || { echo "check-readme-options: no option table (header \"オプション\") in $japanese"; status=1; }
[ $status = 0 ] || exit 1

missing_ja=$(LC_ALL=C comm -23 <(echo "$en") <(echo "$ja"))
missing_en=$(LC_ALL=C comm -13 <(echo "$en") <(echo "$ja"))
if [ -n "$missing_ja" ]; then
  echo "check-readme-options: in $english, missing from $japanese:" $missing_ja
  status=1
fi
if [ -n "$missing_en" ]; then
  echo "check-readme-options: in $japanese, missing from $english:" $missing_en
  status=1
fi
[ $status = 0 ] && echo "check-readme-options: $(echo "$en" | wc -l) options, the same in $english and $japanese"
exit $status
