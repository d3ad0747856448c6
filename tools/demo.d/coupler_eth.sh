# Sourced by tools/demo.sh: a simulated Ethernet coupler (product code 0702, hardware version 1,
# like the sample firmware) on 127.0.0.11 with four I/O modules behind it (product code 0A31,
# hardware version 1; module 4 is the large-flash variant).
"$TARNLOW_BUILD/bin/tarnlow-sim-coupler" --address 127.0.0.11 --modules 4 --large-flash 4 \
  > "$DEMO_DIR/sim-coupler.log" 2>&1 &
echo $! >> "$DEMO_PIDS"
if wait_for_line "$DEMO_DIR/sim-coupler.log" "simulated Ethernet coupler"; then
  echo "Ethernet coupler (simulated): on the ETN tab, page \"Coupler\", enter IP 127.0.0.11," \
       "choose ETN_Coupler_Demo and press Update (the listen port stays 23456)."
  echo "I/O modules (simulated) behind it: on the ETN tab, page \"Module\", enter IP 127.0.0.11," \
       "choose IO_Module_Demo and module numbers 1 to 4 (check \"End:\"), then press Update."
else
  echo "Ethernet coupler simulator did not start; see $DEMO_DIR/sim-coupler.log"
fi
