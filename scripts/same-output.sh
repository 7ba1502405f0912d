#!/usr/bin/env bash
# Same output: proves that a change leaves the program's behaviour alone. Builds Quillodine of a
# baseline commit (in a temporary git worktree) and of the new tree, both Release, generates short
# recordings of every synthesizer scenario with the new tree's tsgen, runs both programs on every
# recording under every option set of the table below and compares, byte for byte, every file
# written (name, mode, contents), standard output, standard error and the exit code.
#
#   bash scripts/same-output.sh [-j N] [--seconds S] [--only TEXT] BASELINE_REF [NEW_TREE]
#
# -j: cases run at once (default: the number of processors); --seconds: input length (default 2);
# --only: just the cases whose label ("events/188 [-SEP2 -GOP]", "once [-BUFF]") holds TEXT.
# NEW_TREE defaults to the working tree this script lives in (uncommitted changes included).
# Build folders, inputs and the folders of differing cases stay under NEW_TREE/build-same-output/
# (builds are incremental; a baseline already built for that commit is reused as it is).
# One line per difference, then a summary line. Exit 0: every case identical; 1: some differ;
# 2: no comparison (usage, unknown commit, a build failed).
set -euo pipefail

# ---------------------------------------------------------------------------------------------
# What is compared

# The inputs and the option sets: scripts/output-cases.sh (scripts/pipe-output.sh runs the same).
# Every run has an empty folder "out" and a list file "inputs.lst" (rec.ts, "rec.ts", missing.ts)
# beside the input.
source "$(dirname "$0")/output-cases.sh"

# Argument lines run once, in a folder like the others (hd recording as rec.ts), nothing appended.
once_sets=(
  ""
  "-BUFF"
  "-OVL-1,0,0,0 rec.ts"
  "missing.ts"
  "-FLIST inputs.lst"
  "-FLIST missing.lst"
  "-OUT nowhere rec.ts"
  "-EIT -HD -SD -1SEG rec.ts"
)

# The inputs must hold what the split options split on, else a comparison of them proves little:
# "scenario|options|file the new program must write".
expected=(
  "events|-SEP|rec_HD-2.ts"
  "events|-SEP2|rec_HD-4.ts"
  "events|-SEP3|rec_HD-2.ts"
  "hd2sd|-SEP3|rec_HD-1.ts"
  "audio|-SEPA|rec_HD-a1.ts"
  "audio|-SEPA3C|rec_HD-2.ts"
  "hd2cs||rec_CS3(213).ts"
  "sd3||rec_SD3.ts"
  "events|-FLEN -SEP2 -GOP -LOGFILE @long|*-4.ts"
)

# ---------------------------------------------------------------------------------------------

usage() {
  sed -n '8p' "$0" | sed 's/^#   /usage: /' >&2
  exit 2
}
parse_case_options "$@"
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] || usage
baseline_ref=${args[0]}
new_tree=$(cd "${args[1]:-$(dirname "$0")/..}" && pwd)
[ -f "$new_tree/CMakeLists.txt" ] && [ -d "$new_tree/console" ] || { echo "same-output: $new_tree is no Quillodine tree" >&2; exit 2; }

bash "$new_tree/scripts/deps.sh" git

work=$new_tree/build-same-output
mkdir -p "$work"
baseline=$(git -C "$new_tree" rev-parse --verify --quiet "$baseline_ref^{commit}") ||
  { echo "same-output: no commit '$baseline_ref'" >&2; exit 2; }

# --- builds -----------------------------------------------------------------------------------
build() {  # source folder, build folder, targets...
  local src=$1 dir=$2
  shift 2
  mkdir -p "$dir"
  if ! { cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUILLODINE_TESTS=OFF &&
    cmake --build "$dir" -j"$(nproc)" --target "$@"; } >"$dir/same-output-build.log" 2>&1; then
    tail -n 30 "$dir/same-output-build.log" >&2
    echo "same-output: the build in $dir failed (log: $dir/same-output-build.log)" >&2
    exit 2
  fi
}
base_src=$work/baseline-src
base_bin=$work/baseline/console/Quillodine
remove_base_src() {
  if [ -e "$base_src" ] || git -C "$new_tree" worktree list --porcelain | grep -qx "worktree $base_src"; then
    git -C "$new_tree" worktree remove --force "$base_src" 2>/dev/null || rm -rf "$base_src"
    git -C "$new_tree" worktree prune
  fi
}
runs=
cleanup() {
  remove_base_src
  [ -z "$runs" ] || rm -rf "$runs"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -x "$base_bin" ] && [ "$(cat "$work/baseline/built-commit" 2>/dev/null)" = "$baseline" ]; then
  echo "baseline: ${baseline:0:12} (built before)"
else
  echo "baseline: ${baseline:0:12}, building in a temporary worktree"
  remove_base_src
  git -C "$new_tree" worktree add --detach --quiet "$base_src" "$baseline"
  rm -f "$work/baseline/built-commit"
  build "$base_src" "$work/baseline" Quillodine
  echo "$baseline" >"$work/baseline/built-commit"
  remove_base_src
fi
echo "new: $new_tree ($(git -C "$new_tree" describe --always --dirty 2>/dev/null || echo 'no git')), building"
build "$new_tree" "$work/new" Quillodine tsgen
new_bin=$work/new/console/Quillodine
tsgen=$work/new/tests/synth/tsgen

# --- inputs (made again when the synthesizer changed since) --------------------------------------
make_inputs "$tsgen"

# --- cases --------------------------------------------------------------------------------------
# A case: input ("-" for the once rows) TAB options.
cases=()
for i in "${inputs[@]}"; do
  for o in "${option_sets[@]}"; do [[ "$i [$o]" != *"$only"* ]] || cases+=("$i"$'\t'"$o"); done
done
for o in "${once_sets[@]}"; do [[ "once [$o]" != *"$only"* ]] || cases+=("-"$'\t'"$o"); done
for e in "${expected[@]}"; do
  found=
  for o in "${option_sets[@]}"; do [ "${e%|*}" != "${e%%|*}|$o" ] || found=1; done
  [[ " ${scenarios[*]} " == *" ${e%%|*} "* ]] && [ -n "$found" ] ||
    { echo "same-output: expectation '$e' names no case of the table" >&2; exit 2; }
done
[ ${#cases[@]} -gt 0 ] || { echo "same-output: no case matches '$only'" >&2; exit 2; }
if [ -z "$only" ]; then
  echo "same-output: ${#inputs[@]} inputs × ${#option_sets[@]} option sets + ${#once_sets[@]} single runs = ${#cases[@]} cases, -j$jobs"
else
  echo "same-output: ${#cases[@]} cases with '$only', -j$jobs"
fi

make_runs_folder same-output
kept=$work/differ
rm -rf "$kept"

# A case runs each program in a folder of its own with the same layout: <side>/run is the working
# folder (the input, the list file inputs.lst and an empty folder out), <side>/stdout, stderr and
# rc hold the console text and the exit code. Processes are few on purpose: starting one costs
# more than a run of the program on these short inputs.
make_template() {  # template folder, input file, input name
  rm -rf "$1"
  mkdir -p "$1/base/run/out" "$1/new/run/out"
  printf 'rec.ts\n"rec.ts"\nmissing.ts\n' >"$1/base/run/inputs.lst"
  printf 'rec.ts\n"rec.ts"\nmissing.ts\n' >"$1/new/run/inputs.lst"
  ln "$2" "$1/base/run/$3"
  ln "$2" "$1/new/run/$3"
}
run_program() {  # binary, side folder, arguments...
  local bin=$1 side=$2 rc=0
  shift 2
  # A CPU-time limit instead of timeout(1): no process more than a plain run.
  (cd "$side/run" && ulimit -t 60 && exec "$bin" "$@") >"$side/stdout" 2>"$side/stderr" </dev/null || rc=$?
  echo "$rc" >"$side/rc"
}

# Where two files first differ, as a byte offset (0 = the first byte).
first_difference() {  # file a (baseline), file b (new)
  local out n
  out=$(cmp "$1" "$2" 2>&1 | head -n1) || true
  case "$out" in
    *"EOF on $1 which is empty"*) echo "baseline empty, new not" ;;
    *"EOF on $2 which is empty"*) echo "new empty, baseline not" ;;
    *"EOF on $1 "*) n=$(echo "$out" | sed -n 's/.*after byte \([0-9]*\).*/\1/p'); echo "new longer: goes on at offset $n" ;;
    *"EOF on $2 "*) n=$(echo "$out" | sed -n 's/.*after byte \([0-9]*\).*/\1/p'); echo "new shorter: ends at offset $n" ;;
    *differ*) n=$(echo "$out" | sed -n 's/.* byte \([0-9]*\),.*/\1/p'); echo "first differs at offset $((n - 1))" ;;
    *) echo "$out" ;;
  esac
}

# One line about two console texts: where they part and the first differing line of each.
text_difference() {  # what, file a, file b
  local line
  line=$(cmp "$2" "$3" 2>&1 | head -n1 | sed -n 's/.*line \([0-9]*\).*/\1/p') || true
  printf '%s: %s' "$1" "$(first_difference "$2" "$3")"
  [ -z "$line" ] ||
    printf ', line %s: -"%s" +"%s"' "$line" "$(sed -n "${line}s/\r$//p" "$2" | cut -c1-100)" \
      "$(sed -n "${line}s/\r$//p" "$3" | cut -c1-100)"
  echo
}

# Compares the two sides of a case; adds one line per difference to `lines`.
compare_sides() {  # label, side a (baseline), side b (new)
  local label=$1 a=$2 b=$3 f la lb rca rcb t m
  # Quick test first: names and contents of everything (diff; the hard-linked inputs are not
  # read), then types and permissions: each line twice when both sides hold the same.
  if diff -rq "$a" "$b" >/dev/null 2>&1; then
    local -A seen=()
    local line odd=
    while IFS= read -r line; do seen[$line]=$((${seen[$line]:-0} + 1)); done \
      < <(find "$a/run" "$b/run" -mindepth 1 -printf '%y %m %P\n')
    for line in "${!seen[@]}"; do [ "${seen[$line]}" = 2 ] || odd=1; done
    [ -n "$odd" ] || return 0
  fi
  local out
  out=$(
    read -r rca <"$a/rc"
    read -r rcb <"$b/rc"
    [ "$rca" = "$rcb" ] || echo "$label: exit code $rca, new $rcb"
    cmp -s "$a/stdout" "$b/stdout" || echo "$label: $(text_difference stdout "$a/stdout" "$b/stdout")"
    cmp -s "$a/stderr" "$b/stderr" || echo "$label: $(text_difference stderr "$a/stderr" "$b/stderr")"
    la=$(cd "$a/run" && find . -mindepth 1 -printf '%y %m %P\n' | LC_ALL=C sort)
    lb=$(cd "$b/run" && find . -mindepth 1 -printf '%y %m %P\n' | LC_ALL=C sort)
    # Lines "type mode name" (type f: file, d: folder ...).
    local -A in_a=() in_b=()
    while IFS=' ' read -r t m f; do [ -z "$f" ] || in_a[$f]="$t $m"; done <<<"$la"
    while IFS=' ' read -r t m f; do [ -z "$f" ] || in_b[$f]="$t $m"; done <<<"$lb"
    while IFS=' ' read -r t m f; do
      [ -n "$f" ] || continue
      if [ -z "${in_b[$f]:-}" ]; then
        echo "$label: only the baseline wrote $(short "$f")"
        continue
      fi
      [ "${in_b[$f]}" = "$t $m" ] || echo "$label: $(short "$f"): type and mode $t $m, new ${in_b[$f]}"
      [ "$t" = f ] && [ "${in_b[$f]%% *}" = f ] || continue
      cmp -s "$a/run/$f" "$b/run/$f" || echo "$label: $(short "$f"): $(first_difference "$a/run/$f" "$b/run/$f")"
    done <<<"$la"
    while IFS=' ' read -r t m f; do
      [ -z "$f" ] || [ -n "${in_a[$f]:-}" ] || echo "$label: only the new program wrote $(short "$f")"
    done <<<"$lb"
  )
  [ -n "$out" ] || out="$label: $(diff -rq "$a" "$b" 2>&1 | head -n1)"
  lines+=$out$'\n'
}

# Worker w of n: every n-th case; lines "index<TAB>text" into its own file.
run_cases() {  # worker, workers
  local w=$1 n=$2 k c input opts label lines f e file name template=
  local dir=$runs/w$w
  local argv=()
  mkdir -p "$dir"
  for ((k = w; k < ${#cases[@]}; k += n)); do
    c=${cases[k]}
    input=${c%%$'\t'*}
    opts=${c#*$'\t'}
    case_arguments "$opts"
    if [ "$input" = "-" ]; then
      label="once [$opts]"
      file=$runs/inputs/hd-188.ts
    else
      label="$input [$opts]"
      file=$runs/inputs/${input/\//-}.ts
      argv+=("$name")
    fi
    # Both sides come from a template, made again when the input changes (cases go input by input).
    if [ "$template" != "$file/$name" ]; then
      make_template "$dir.template" "$file" "$name"
      template=$file/$name
    fi
    rm -rf "$dir"
    cp -al "$dir.template" "$dir"
    run_program "$base_bin" "$dir/base" "${argv[@]}"
    run_program "$new_bin" "$dir/new" "${argv[@]}"
    lines=
    compare_sides "$label" "$dir/base" "$dir/new"
    for e in "${expected[@]}"; do
      [ "${input%/*}|$opts" = "${e%|*}" ] || continue
      f=${e##*|}
      compgen -G "$dir/new/run/$f" >/dev/null ||
        lines+="$label: the new program wrote no $f: the input does not exercise what it should"$'\n'
    done
    [ -z "$lines" ] || note_difference "$k" "$label" "$dir" "$name" "$dir/base" "$dir/new"
    echo "$k" >>"$dir.done"
  done
  rm -rf "$dir" "$dir.template"
}

mkdir -p "$kept"
run_workers_and_report same-output
