#!/usr/bin/env bash
# Runs the README's first commands (its first code block: `bash scripts/demo.sh`, then
# `bash scripts/test.sh`) on a fresh, minimal Debian 12, as a container image would be: makes a
# `debootstrap --variant=minbase bookworm` chroot, clones the committed repository into it
# (/root/quillodine) and runs each command there as root with a clean environment, /proc, /sys and
# /dev mounted. Prints how long each step took; exits with the status of the first step that
# failed (130 on Ctrl+C). Takes 20-40 minutes on two cores: not part of CI. Debian host, as root.
#
#   bash scripts/fresh-check.sh [options]
#     --dir PATH     the chroot's folder (default: build-fresh/ in the repository). A folder left by
#                    an earlier run is deleted first; any other non-empty folder is refused.
#     --ref REF      the commit to check (default HEAD). Uncommitted changes are never checked.
#     --mirror URL   Debian mirror (default: the host's, from /etc/apt/sources.list.d/debian.sources
#                    or /etc/apt/sources.list; else http://deb.debian.org/debian)
#     --then CMD     after the README commands passed, run CMD with bash -c inside the chroot, in the
#                    clone, as they were; may be given several times, runs in order.
#     --keep         keep the chroot afterwards (it is unmounted all the same); enter it with
#                    `chroot DIR /bin/bash` after mounting what the commands need.
# Whatever happens (failure, Ctrl+C), what was mounted under the folder is unmounted and processes
# left running inside the chroot are ended; the folder is deleted unless --keep.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

dir=$top/build-fresh
ref=HEAD
mirror=
keep=0
then_cmds=()
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir=${2:?--dir needs a path}; shift 2 ;;
    --ref) ref=${2:?--ref needs a commit}; shift 2 ;;
    --mirror) mirror=${2:?--mirror needs a URL}; shift 2 ;;
    --then) then_cmds+=("${2:?--then needs a command}"); shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "fresh-check: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

[ "$(id -u)" -eq 0 ] || { echo "fresh-check: run as root (debootstrap, chroot, mount)" >&2; exit 2; }
dir=$(realpath -m "$dir")
# Mount points are found by their path in /proc/self/mountinfo, which escapes white space.
case "$dir" in
  /|/*[[:space:]]*) echo "fresh-check: unusable folder '$dir'" >&2; exit 2 ;;
esac
marker=.quillodine-fresh-check
if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ] && [ ! -e "$dir/$marker" ]; then
  echo "fresh-check: $dir is not empty and was not made by this script: refusing to use it" >&2
  exit 2
fi
sha=$(git -C "$top" rev-parse --verify --quiet "$ref^{commit}") ||
  { echo "fresh-check: no commit '$ref'" >&2; exit 2; }
if [ -z "$mirror" ]; then
  if [ -r /etc/apt/sources.list.d/debian.sources ]; then
    mirror=$(awk '$1 == "URIs:" { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$mirror" ] && [ -r /etc/apt/sources.list ]; then
    mirror=$(awk '$1 == "deb" && $2 !~ /^\[/ && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list)
  fi
  mirror=${mirror:-http://deb.debian.org/debian}
fi

clock() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
started=$SECONDS
timings=()
step_pid=
step() {  # step NAME COMMAND...: runs and times one step, returns its status
  local name=$1 start=$SECONDS rc=0
  shift
  echo "== fresh-check: $name"
  # A subshell, so that -e stops the step at its first failing command; in the background, so that
  # Ctrl+C reaches the trap at once even while something in the step ignores it.
  (trap - INT; set -e; "$@") &
  step_pid=$! step_name=$name step_start=$start
  wait "$step_pid" || rc=$?
  step_pid=
  local took=$(clock $((SECONDS - start)))
  timings+=("$(printf '%-40s %7s  exit %d' "$name" "$took" "$rc")")
  echo "== fresh-check: $name: exit $rc after $took"
  return "$rc"
}

process_tree() {  # process_tree PID: PID and every process under it
  local -A children=()
  local s stat pid ppid i=0 tree=("$1")
  for s in /proc/[0-9]*/stat; do
    { read -r stat <"$s"; } 2>/dev/null || continue
    pid=${s//[^0-9]/}
    stat=${stat##*) }  # after the command name, which may hold spaces: state, parent, ...
    ppid=${stat#* }
    children[${ppid%% *}]+=" $pid"
  done
  while [ $i -lt ${#tree[@]} ]; do
    tree+=(${children[${tree[$i]}]:-})
    i=$((i + 1))
  done
  echo "${tree[@]}"
}
end_step() {  # the step still running when the script is stopped, and what it started
  [ -n "$step_pid" ] && kill -0 "$step_pid" 2>/dev/null || return 0
  local pids p
  pids=$(process_tree "$step_pid")
  echo "fresh-check: ending the running step: $pids"
  kill -s TERM $pids 2>/dev/null
  sleep 2
  for p in $pids; do kill -s KILL "$p" 2>/dev/null; done
  wait "$step_pid" 2>/dev/null
}
mounts_under() {  # mount points inside the folder, deepest first
  awk -v d="$dir/" 'index($5, d) == 1 { print $5 }' /proc/self/mountinfo | sort -r
}
end_processes() {  # processes whose root is the chroot (a test still running after Ctrl+C)
  local p pids=() sig
  for sig in TERM KILL; do
    pids=()
    for p in /proc/[0-9]*; do
      [ "$p/root" -ef "$dir" ] && pids+=("${p#/proc/}")
    done
    [ ${#pids[@]} -eq 0 ] && return 0
    echo "fresh-check: ending processes left in the chroot (SIG$sig): ${pids[*]}"
    kill -s "$sig" "${pids[@]}" 2>/dev/null || true
    sleep 2
  done
}
unmount_all() {  # two passes: a mount may hide another one on the same point
  local m pass
  for pass in 1 2; do
    for m in $(mounts_under); do
      umount "$m" 2>/dev/null || umount -l "$m" || true
    done
  done
  [ -z "$(mounts_under)" ]
}
remove_folder() {
  unmount_all || { echo "fresh-check: still mounted under $dir: not deleting it" >&2; return 1; }
  rm -rf --one-file-system "$dir"
}
finish() {
  local rc=$? start=$SECONDS
  trap - EXIT
  trap '' INT TERM  # a second Ctrl+C must not cut the clean-up short
  set +e  # clean up as far as possible
  [ -z "$step_pid" ] ||
    timings+=("$(printf '%-40s %7s  stopped' "$step_name" "$(clock $((SECONDS - step_start)))")")
  end_step
  end_processes
  if ! unmount_all; then
    echo "fresh-check: could not unmount:" $(mounts_under) >&2
    [ "$rc" -ne 0 ] || rc=1
  elif [ "$keep" = 1 ]; then
    echo "fresh-check: chroot kept in $dir"
  elif [ -e "$dir/$marker" ]; then
    remove_folder || { [ "$rc" -ne 0 ] || rc=1; }
  fi
  timings+=("$(printf '%-40s %7s' "clean up" "$(clock $((SECONDS - start)))")")
  echo "== fresh-check: $sha, mirror $mirror"
  printf '   %s\n' "${timings[@]}"
  printf '   %-40s %7s  exit %d\n' "total" "$(clock $((SECONDS - started)))" "$rc"
  exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== fresh-check: commit $sha ($ref) in $dir, mirror $mirror"
[ -z "$(git -C "$top" status --porcelain --untracked-files=no)" ] ||
  echo "fresh-check: note: the work tree has uncommitted changes; they are not part of the check"

prepare() {
  bash "$top/scripts/deps.sh" debootstrap
  if [ -e "$dir/$marker" ]; then
    echo "deleting the chroot of an earlier run"
    end_processes
    remove_folder
  fi
  mkdir -p "$dir"
  touch "$dir/$marker"
}
clone() {
  local dest=$dir/root/quillodine
  git init -q "$dest"
  git -C "$dest" fetch -q "$top" "$sha"
  git -C "$dest" checkout -q --detach FETCH_HEAD
  git -C "$dest" log -1 --format='%h %s'
}
mount_all() {
  cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
  mount -t proc proc "$dir/proc"
  mount --rbind /sys "$dir/sys"
  mount --make-rslave "$dir/sys"
  mount --rbind /dev "$dir/dev"
  mount --make-rslave "$dir/dev"
}
inside() {  # inside COMMAND: bash -c COMMAND in the clone, as root, with a minimal environment
  chroot "$dir" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/quillodine && $1" </dev/null
}

step "install debootstrap, make the folder" prepare
step "debootstrap minbase bookworm" debootstrap --variant=minbase bookworm "$dir" "$mirror"
step "clone $(git -C "$top" rev-parse --short "$sha")" clone
step "mount /proc /sys /dev" mount_all
# The README's first code block, comments dropped: the commands a newcomer runs first.
mapfile -t commands < <(awk '/^```/ { if (seen) exit; seen = 1; next } seen { sub(/[ \t]*#.*/, ""); if ($0 != "") print }' \
                          "$dir/root/quillodine/README.md")
[ ${#commands[@]} -gt 0 ] || { echo "fresh-check: no commands found in README.md" >&2; exit 1; }
for c in "${commands[@]}"; do
  step "$c" inside "$c"
done
for c in ${then_cmds[@]+"${then_cmds[@]}"}; do
  step "then: $c" inside "$c"
done
