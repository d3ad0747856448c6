#!/bin/bash
# Runs every benchmark program of a build and prints its figures.
set -uo pipefail
build="${1:-build}"
status=0
shopt -s nullglob
for bench in "$build"/bench/*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  echo "== $(basename "$bench")"
  QT_QPA_PLATFORM=offscreen "$bench" || { echo "!! $(basename "$bench") failed"; status=1; }
  echo
done
exit $status
