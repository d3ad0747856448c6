#include "coupler_eth/coupler_modbus_connection.h"

#include "module/modbus_port.h"

#include <modbus/modbus.h>

#include <cerrno>

std::unique_ptr<CouplerModbusConnection> CouplerModbusConnection::connect(const std::string &ip,
                                                                          std::string &failure)
{
    modbus_t *context = modbus_new_tcp(ip.c_str(), ModbusPort::value());
    if (!context) {
        failure = modbus_strerror(errno);
        return nullptr;
    }
    std::unique_ptr<CouplerModbusConnection> connection(new CouplerModbusConnection(context));
    if (modbus_connect(context) == -1) {
        failure = modbus_strerror(errno);
        return nullptr;
    }
    return connection;
}

CouplerModbusConnection::CouplerModbusConnection(modbus_t *context) : m_context(context) {}

CouplerModbusConnection::~CouplerModbusConnection()
{
    modbus_close(m_context);
    modbus_free(m_context);
}

uint16_t CouplerModbusConnection::readRegister(int address, std::string &failure)
{
    uint16_t value = 0;
    failure.clear();
    if (modbus_read_registers(m_context, address, 1, &value) != 1) {
        failure = modbus_strerror(errno);
        return 0;
    }
    return value;
}
