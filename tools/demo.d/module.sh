# Sourced by tools/demo.sh: four simulated I/O modules (product code 0A31, hardware version 1)
# behind a Modbus TCP coupler front on 127.0.0.11:502; module 4 is the large-flash variant.
"$TARNLOW_BUILD/bin/tarnlow-sim-modules" --address 127.0.0.11 --modules 4 --large-flash 4 \
  > "$DEMO_DIR/sim-modules.log" 2>&1 &
echo $! >> "$DEMO_PIDS"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  grep -q "behind 127.0.0.11:502" "$DEMO_DIR/sim-modules.log" 2>/dev/null && break
  sleep 0.2
done
if grep -q "behind 127.0.0.11:502" "$DEMO_DIR/sim-modules.log" 2>/dev/null; then
  echo "I/O modules (simulated): on the ETN tab, page \"Module\", enter IP 127.0.0.11, choose" \
       "IO_Module_Demo and module numbers 1 to 4 (check \"End:\"), then press Update."
else
  echo "I/O module simulator did not start; see $DEMO_DIR/sim-modules.log"
fi
