#!/bin/sh
# Runs one test program in a network namespace of its own where the system allows it (as root, as
# in CI): the loopback addresses and ports of its simulated devices can then collide neither with
# another run of the suite nor with a program of the machine. Elsewhere it runs as it is.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 \
    && unshare -n true 2>/dev/null; then
  # A route for every address, so a datagram to one that is not there fails as on a real host.
  exec unshare -n sh -c 'ip link set lo up && ip route add default dev lo && exec "$@"' sh "$@"
fi
exec "$@"
