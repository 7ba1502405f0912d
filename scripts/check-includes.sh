#!/usr/bin/env bash
# Checks that the console program's folders depend on each other one way only:
#   platform <- state <- stream <- output <- segment <- job
# Every include of our own headers names its folder ("stream/ts_packet.h"), and no file includes a
# folder above its own. Prints the folder graph (edges with their include counts) and every
# include that breaks the rule; exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case $1 in
    platform) echo 0 ;; state) echo 1 ;; stream) echo 2 ;; output) echo 3 ;; segment) echo 4 ;; job) echo 5 ;;
    *) echo -1 ;;
  esac
}

declare -A edges=()
problems=()
while IFS= read -r file; do
  from=$(echo "$file" | cut -d/ -f2)
  from_rank=$(rank "$from")
  while IFS= read -r name; do
    case $name in
      */*) to=${name%%/*} ;;
      *)
        # A header of ours without its folder (system and third-party headers use <>).
        problems+=("$file: \"$name\" does not name its folder")
        continue
        ;;
    esac
    to_rank=$(rank "$to")
    if [ "$to_rank" -lt 0 ]; then
      problems+=("$file: \"$name\" is no folder of the console program or the platform layer")
      continue
    fi
    [ "$to" = "$from" ] || edges["$from -> $to"]=$(( ${edges["$from -> $to"]:-0} + 1 ))
    if [ "$to_rank" -gt "$from_rank" ]; then
      problems+=("$file: \"$name\" runs upward ($from includes $to)")
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files 'console/*.cpp' 'console/*.h' | grep -v -E '_test\.cpp$')

echo "folder graph (includes per edge):"
for edge in "${!edges[@]}"; do echo "  $edge (${edges[$edge]})"; done | sort
if [ ${#problems[@]} -gt 0 ]; then
  printf 'includes that break the layering (%d):\n' "${#problems[@]}"
  printf '  %s\n' "${problems[@]}"
  exit 1
fi
echo "no upward include"
