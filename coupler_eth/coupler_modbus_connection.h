#pragma once

// The coupler's own Modbus TCP registers that tell which firmware fits it, read before the boot
// loader is touched. One libmodbus context per update, with the library's default response
// time-out and slave address; it is closed and freed when this object goes.
#include <cstdint>
#include <memory>
#include <string>

struct _modbus;

class CouplerModbusConnection
{
public:
    static constexpr int kProductCodeRegister = 3004;
    static constexpr int kHardwareVersionRegister = 3006;

    // A connected context, or nullptr with the reason in `failure`.
    static std::unique_ptr<CouplerModbusConnection> connect(const std::string &ip, std::string &failure);
    ~CouplerModbusConnection();

    CouplerModbusConnection(const CouplerModbusConnection &) = delete;
    CouplerModbusConnection &operator=(const CouplerModbusConnection &) = delete;

    // One holding register; a failed read gives 0 and its reason in `failure` (empty otherwise).
    uint16_t readRegister(int address, std::string &failure);

private:
    explicit CouplerModbusConnection(_modbus *context);

    _modbus *m_context;
};
