# Sourced by tools/demo.sh: a simulated EtherCAT coupler on one end of a veth pair (inside a
# network namespace of its own); the ECAT tab lists the other end as a network adapter.
ecat_ns="tlecdemo$$"
ecat_master="tlecd$$m"
ecat_coupler="tlecd$$s"
if [ "$(id -u)" -ne 0 ]; then
  echo "EtherCAT coupler (simulated): not started; it needs a veth pair, so run 'make demo' as root."
elif ! { ip netns add "$ecat_ns" &&
         ip link add "$ecat_master" type veth peer name "$ecat_coupler" &&
         ip link set "$ecat_coupler" netns "$ecat_ns" &&
         ip link set "$ecat_master" up &&
         ip netns exec "$ecat_ns" ip link set "$ecat_coupler" up; } 2>"$DEMO_DIR/ecat-setup.log"; then
  echo "EtherCAT coupler simulator not started: the veth pair failed; see $DEMO_DIR/ecat-setup.log"
  ip netns del "$ecat_ns" 2>/dev/null
  ip link del "$ecat_master" 2>/dev/null
else
  echo "ip link del $ecat_master; ip netns del $ecat_ns" >> "$DEMO_DIR/cleanup.sh"
  ip netns exec "$ecat_ns" "$TARNLOW_BUILD/bin/tarnlow-sim-ethercat" --interface "$ecat_coupler" \
    --boot-delay-ms 500 --store "$DEMO_DIR/ecat-received.bin" > "$DEMO_DIR/sim-ethercat.log" 2>&1 &
  echo $! >> "$DEMO_PIDS"
  if wait_for_line "$DEMO_DIR/sim-ethercat.log" "ready on"; then
    echo "EtherCAT coupler (simulated): on the ECAT tab choose the Network Interface Card that starts with \"$ecat_master\";"
    echo "  the coupler's log is $DEMO_DIR/sim-ethercat.log, the file it receives $DEMO_DIR/ecat-received.bin."
  else
    echo "EtherCAT coupler simulator did not start; see $DEMO_DIR/sim-ethercat.log"
  fi
fi
