#!/usr/bin/env bash
# Pipe output: proves that a recording read through a pipe gives what the same recording gives as a
# file on disk. Builds Quillodine of the tree (Release), generates short recordings of every
# synthesizer scenario and runs the program on each under every option set of
# scripts/output-cases.sh, as a file and through a FIFO of the same name; where the input is named
# rec.ts (not the @long/@jp rows), also from a pipe on the standard input, given as "-" and as
# /dev/stdin by turns. Compared with the file run: the exit code, standard error, standard output
# (apart from the input's name line and the final line, which a pipe gives as "( n MB)"), and every
# file written — name, mode, bytes — with stdin_* for rec_* (also inside logs and GOP lists) for the
# standard input. No spool may be left behind.
#
#   bash scripts/pipe-output.sh [-j N] [--seconds S] [--only TEXT] [TREE]
#
# -j: cases run at once (default: the number of processors); --seconds: input length (default 2);
# --only: just the cases whose label ("events/188 [-SEP2 -GOP]") holds TEXT. TREE defaults to the
# working tree this script lives in. The build, inputs and the folders of differing cases stay
# under TREE/build-pipe-output/. One line per difference, then a summary line. Exit 0: every case
# identical; 1: some differ; 2: no comparison (usage, a build failed).
set -euo pipefail

source "$(dirname "$0")/output-cases.sh"

usage() {
  sed -n '12p' "$0" | sed 's/^#   /usage: /' >&2
  exit 2
}
parse_case_options "$@"
[ ${#args[@]} -le 1 ] || usage
tree=$(cd "${args[0]:-$(dirname "$0")/..}" && pwd)
[ -f "$tree/CMakeLists.txt" ] && [ -d "$tree/console" ] || { echo "pipe-output: $tree is no Quillodine tree" >&2; exit 2; }

work=$tree/build-pipe-output
mkdir -p "$work/build"
echo "pipe-output: building in $work/build"
if ! { cmake -S "$tree" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_TESTS=OFF &&
  cmake --build "$work/build" -j"$(nproc)" --target Quillodine tsgen; } >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log" >&2
  echo "pipe-output: the build failed (log: $work/build.log)" >&2
  exit 2
fi
bin=$work/build/console/Quillodine
tsgen=$work/build/tests/synth/tsgen

make_inputs "$tsgen"

# A case: input TAB options. Rows that name the input themselves give it twice: a FIFO cannot be
# opened twice by one writer in step with its reader, and a second "-" reads an ended pipe.
cases=()
skipped=0
for i in "${inputs[@]}"; do
  for o in "${option_sets[@]}"; do
    [[ "$i [$o]" == *"$only"* ]] || continue
    if [[ " $o " == *" rec.ts "* ]]; then skipped=$((skipped + 1)); continue; fi
    cases+=("$i"$'\t'"$o")
  done
done
[ ${#cases[@]} -gt 0 ] || { echo "pipe-output: no case matches '$only'" >&2; exit 2; }
echo "pipe-output: ${#cases[@]} cases (${#inputs[@]} inputs × option sets; $skipped that name the input twice left out), -j$jobs"

runs=
trap 'rm -rf "$runs"' EXIT
trap 'exit 130' INT TERM
make_runs_folder pipe-output
kept=$work/differ
rm -rf "$kept"
mkdir -p "$kept"

# A side: <side>/run is the working folder (inputs.lst and an empty folder out, plus the input for
# the file and FIFO sides), <side>/stdout, stderr and rc the console text and exit code.
make_side() {  # side folder
  mkdir -p "$1/run/out"
  printf 'rec.ts\n"rec.ts"\nmissing.ts\n' >"$1/run/inputs.lst"
}
# The program under a CPU-time limit, and a wall-clock one: a pipe that nobody ends would hang.
run_program() {  # side folder, arguments...
  local side=$1 rc=0
  shift
  (cd "$side/run" && ulimit -t 60 && exec timeout -k 5 120 "$bin" "$@") >"$side/stdout" 2>"$side/stderr" || rc=$?
  echo "$rc" >"$side/rc"
}

# What a file run's console text becomes from a pipe: the final line gives the megabytes read,
# and the standard input's name line is what was given.
pipe_text() {  # file, name line ("" to keep it)
  sed -E "s/\r  \( ([0-9,]+) MB\/ [0-9,]+ MB\) 100%/\r  ( \1 MB)/${2:+; s/^rec\.ts\$/$2/}" "$1"
}
# The standard input's names and texts as the file run's: stdin_HD.ts -> rec_HD.ts, stdin.log -> rec.log.
from_stdin() { sed 's/stdin\([_.]\)/rec\1/g'; }

# Compares side b (a pipe) with side a (the file); adds one line per difference to `lines`.
compare_sides() {  # label, side a, side b, input name, stdin name line ("": a FIFO)
  local label=$1 a=$2 b=$3 name=$4 given=$5 rca rcb la lb t m f g
  read -r rca <"$a/rc"
  read -r rcb <"$b/rc"
  [ "$rca" = "$rcb" ] || lines+="$label: exit code $rca, from the pipe $rcb"$'\n'
  cmp -s "$a/stderr" "$b/stderr" || lines+="$label: standard error differs"$'\n'
  if [ -z "$given" ]; then
    cmp -s <(pipe_text "$a/stdout" "") "$b/stdout" || lines+="$label: standard output differs"$'\n'
  else
    cmp -s <(pipe_text "$a/stdout" "$given") <(from_stdin <"$b/stdout") || lines+="$label: standard output differs"$'\n'
  fi
  la=$(cd "$a/run" && find . -mindepth 1 ! -path "./$name" -printf '%y %m %P\n' | LC_ALL=C sort)
  lb=$(cd "$b/run" && find . -mindepth 1 ! -path "./$name" -printf '%y %m %P\n' | LC_ALL=C sort)
  [ -z "$given" ] || lb=$(from_stdin <<<"$lb" | LC_ALL=C sort)
  [ "$la" = "$lb" ] || lines+="$label: files differ: $(diff <(echo "$la") <(echo "$lb") | grep '^[<>]' | head -n 4 |
    while read -r side t m f; do printf '%s %s ' "$side" "$(short "$f")"; done || true)"$'\n'
  while IFS=' ' read -r t m f; do
    [ "$t" = f ] || continue
    g=$f
    [ -z "$given" ] || g=$(sed 's/\(^\|\/\)rec\([_.]\)/\1stdin\2/' <<<"$f")
    [ -f "$b/run/$g" ] || continue
    case "$f" in
      *.log|*.txt) if [ -n "$given" ]; then
          cmp -s "$a/run/$f" <(from_stdin <"$b/run/$g") || lines+="$label: $(short "$f") differs"$'\n'
          continue
        fi ;;
    esac
    cmp -s "$a/run/$f" "$b/run/$g" || lines+="$label: $(short "$f") differs"$'\n'
  done <<<"$la"
}

run_cases() {  # worker, workers
  local w=$1 n=$2 k c input opts label lines name file given dir
  local argv=()
  for ((k = w; k < ${#cases[@]}; k += n)); do
    c=${cases[k]}
    input=${c%%$'\t'*}
    opts=${c#*$'\t'}
    label="$input [$opts]"
    file=$runs/inputs/${input/\//-}.ts
    case_arguments "$opts"
    dir=$runs/w$w
    rm -rf "$dir"
    make_side "$dir/file"
    make_side "$dir/fifo"
    ln "$file" "$dir/file/run/$name"
    run_program "$dir/file" ${argv[@]+"${argv[@]}"} "$name"
    mkfifo "$dir/fifo/run/$name"
    cat "$file" >"$dir/fifo/run/$name" &
    local writer=$!
    run_program "$dir/fifo" ${argv[@]+"${argv[@]}"} "$name"
    kill "$writer" 2>/dev/null || true  # a program that never opened the FIFO leaves it waiting
    wait "$writer" 2>/dev/null || true
    lines=
    compare_sides "$label" "$dir/file" "$dir/fifo" "$name" ""
    if [ "$name" = rec.ts ]; then
      given=-
      [ $((k % 2)) = 0 ] || given=/dev/stdin
      make_side "$dir/stdin"
      cat "$file" | run_program "$dir/stdin" ${argv[@]+"${argv[@]}"} "$given"
      # The name line shows the name as given, without its folder.
      compare_sides "$label from $given" "$dir/file" "$dir/stdin" "$name" "${given##*/}"
    fi
    [ -z "$lines" ] || note_difference "$k" "$label" "$dir" "$name" "$dir"/*
    echo "$k" >>"$dir.done"
  done
  rm -rf "$dir"
}

run_workers_and_report pipe-output
