#pragma once

#include "sim/modbus_extension.h"

#include <atomic>
#include <string>
#include <thread>

// A bare Modbus TCP front for the module bank, for the module tests and the benchmark: it serves
// read-holding-registers (function 3) and the pass-through function 109 of one ModbusExtension on
// 127.0.0.x, one client connection at a time, with the extension's reply splits and delays.
// The full coupler simulator does the same and more; this front keeps the module tests free of
// the coupler's own registers and boot protocol.
class ModuleBankServer
{
public:
    ModuleBankServer(std::string address, int port, ModbusExtension &extension);
    ~ModuleBankServer();

    ModuleBankServer(const ModuleBankServer &) = delete;
    ModuleBankServer &operator=(const ModuleBankServer &) = delete;

    bool start();
    void stop();

private:
    void serve();
    void serveClient(int client);
    std::vector<uint8_t> answer(const std::vector<uint8_t> &pdu, ExtensionReply &reply);

    std::string m_address;
    int m_port;
    ModbusExtension &m_extension;
    int m_listener = -1;
    std::atomic<int> m_client{-1};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
