#!/bin/bash
# Starts Tarnlow with a throwaway settings store and the sample firmware, next to simulated
# devices (one script per device kind in tools/demo.d/), and stops everything when it closes.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export TARNLOW_BUILD="$(cd "${1:-build}" && pwd)"
export DEMO_DIR="$(mktemp -d /tmp/tarnlow-demo-XXXXXX)"
export DEMO_PIDS="$DEMO_DIR/pids"
export XDG_CONFIG_HOME="$DEMO_DIR/config"
: > "$DEMO_PIDS"
: > "$DEMO_DIR/cleanup.sh"

finish() {
  while read -r pid; do kill "$pid" 2>/dev/null; done < "$DEMO_PIDS"
  bash "$DEMO_DIR/cleanup.sh" 2>/dev/null
  rm -rf "$DEMO_DIR"
}
trap finish EXIT

# wait_for_line FILE TEXT: true once TEXT shows in FILE, waiting up to two seconds.
wait_for_line() {
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  grep -q "$2" "$1" 2>/dev/null
}

shopt -s nullglob
for script in "$here"/demo.d/*.sh; do
  # shellcheck source=/dev/null
  source "$script"
done

# The same devices from the command line, in a second terminal while the demo runs.
samples="$TARNLOW_BUILD/bin"
cat > "$DEMO_DIR/demo-plan.csv" <<PLAN
# kind, target, firmware: the demo's simulated devices
coupler, 127.0.0.11, $samples/Coupler Firmware/ETN_Coupler_Demo.HEX
module, 127.0.0.11, 1-4, $samples/Module Firmware/IO_Module_Demo.HEX
canopen, $DEMO_DIR/com/COM3, 1, $samples/COP Firmware/COP_Coupler_Demo.HEX
PLAN
echo "Command line (in another terminal, while the demo runs):"
echo "  $TARNLOW_BUILD/bin/tarnlow-cli plan $DEMO_DIR/demo-plan.csv --report $DEMO_DIR/demo-report.json"
echo "Settings of this demo live in $XDG_CONFIG_HOME and are removed when Tarnlow closes."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty): Tarnlow now runs under Xvfb,"
  echo "where NOTHING CAN BE SEEN; the simulated devices answer all the same. To see the window,"
  echo "run 'make demo' in a desktop session, or log in with 'ssh -X' first. Stop with Ctrl-C."
  xvfb-run -a "$TARNLOW_BUILD/bin/tarnlow"
else
  "$TARNLOW_BUILD/bin/tarnlow"
fi
