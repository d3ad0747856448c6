#include "module/modbus_port.h"

#include <atomic>

namespace {
std::atomic<int> port{ModbusPort::kStandard};
}

int ModbusPort::value()
{
    return port.load();
}

void ModbusPort::setForTests(int testPort)
{
    port.store(testPort);
}
