# Sourced by tools/demo.sh: a simulated CANopen coupler (node 1) on a pseudo-terminal that the
# CANopen page lists as COM 3.
mkdir -p "$DEMO_DIR/com"
"$TARNLOW_BUILD/bin/tarnlow-sim-canopen" --link "$DEMO_DIR/com/COM3" --node 1 \
  > "$DEMO_DIR/sim-canopen.log" 2>&1 &
echo $! >> "$DEMO_PIDS"
export TARNLOW_COM_DIR="$DEMO_DIR/com"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  [ -L "$DEMO_DIR/com/COM3" ] && break
  sleep 0.2
done
if [ -L "$DEMO_DIR/com/COM3" ]; then
  echo "CANopen coupler (simulated): on the COP tab choose Serial COM Port \"COM 3\" and Node ID 1."
else
  echo "CANopen coupler simulator did not start; see $DEMO_DIR/sim-canopen.log"
fi
