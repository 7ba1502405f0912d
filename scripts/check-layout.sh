#!/usr/bin/env bash
# Windows-only code lives under platform/ and gui/win32/ (and the Windows test harness under
# tests/windows/): everywhere else the sources build unchanged on every system. Lists every
# conditional on _WIN32 and every include of <windows.h> elsewhere in C and C++ files, and fails
# when there is one. Resource scripts (.rc) are left out: only the Windows build compiles them.
set -euo pipefail
cd "$(dirname "$0")/.."

allowed='^(platform|gui/win32|tests/windows)/'
sources='\.(c|cc|cpp|cxx|h|hh|hpp|hxx|inl|ipp)$'
pattern='^[[:space:]]*#[[:space:]]*((if|ifdef|ifndef|elif|elifdef|elifndef)[[:space:](!].*\b_WIN32\b|include[[:space:]]*[<"]windows\.h[>"])'

# The files of the tree: tracked ones and new ones not ignored (build folders are), or every file
# outside build folders when this is not a git work tree.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list_files() { git ls-files -z --cached --others --exclude-standard; }
else
  list_files() { find . \( -name .git -o -name 'build*' -o -name dist \) -prune -o -type f -print0 | sed -z 's|^\./||'; }
fi

found=$(list_files | while IFS= read -r -d '' f; do
  [[ $f =~ $sources && ! $f =~ $allowed && -f $f ]] && printf '%s\0' "$f"
done | xargs -0 -r grep -n -i -E -H -- "$pattern" || true)

if [ -n "$found" ]; then
  printf '%s\n' "$found"
  echo "check-layout: Windows-only code outside platform/, gui/win32/ and tests/windows/ (above)" >&2
  exit 1
fi
echo "check-layout: no Windows-only code outside platform/, gui/win32/ and tests/windows/"
