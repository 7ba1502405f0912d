#!/usr/bin/env bash
# The manual page renders without a warning: groff with every warning on, and man as lintian runs
# it when man is installed.
#   bash manpage_render.sh PAGE
set -uo pipefail
page=$1
if ! command -v groff >/dev/null; then
  echo "groff is not installed: skipped"
  exit 77
fi
status=0
warnings=$(groff -ww -man -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  printf 'groff -ww:\n%s\n' "$warnings"
  status=1
fi
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    printf 'man --warnings:\n%s\n' "$warnings"
    status=1
  fi
fi
exit $status
