#!/bin/bash
# Takes the README's picture of the main window under Xvfb, with a throwaway settings store.
set -euo pipefail
build="${1:-build}"
out="${2:-docs/main-window.png}"
export XDG_CONFIG_HOME="$(mktemp -d)"
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
xvfb-run -a -s "-screen 0 821x400x24" bash -c "
  '$build/bin/tarnlow' & pid=\$!
  sleep 3
  import -window root -crop 821x340+0+0 '$out'
  kill \$pid"
