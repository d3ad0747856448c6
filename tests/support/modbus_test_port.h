#pragma once

// The Modbus TCP port the tests put the simulated couplers and the pages on (through
// ModbusPort::setForTests): above 1024, so the tests need no privilege to listen on it.
constexpr int kModbusTestPort = 1502;
