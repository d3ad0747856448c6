#pragma once

// The TCP port of the Modbus servers the tool talks to: the Ethernet coupler's registers and the
// pass-through to its modules. Always 502 in the product. Listening on 502 needs root, so tests
// move the simulated couplers and the pages together to a port above 1024 through the one hook
// setForTests; nothing else changes the port.
namespace ModbusPort {

constexpr int kStandard = 502;

// The port to connect to (and, in the simulators, to listen on).
int value();

// Test hook: use `port` instead of 502 from now on (kStandard restores it).
void setForTests(int port);

}
