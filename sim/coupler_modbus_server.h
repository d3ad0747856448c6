#pragma once

// The simulated coupler's Modbus TCP server on <address>:<port>, on libmodbus's server side: the
// coupler's own holding registers (product code 3004, hardware version 3006, ...), and what it
// hands on to the I/O modules behind it through a ModbusExtension (their information registers
// and the pass-through function 109, with the extension's reply splits and delays). Several
// clients at a time, one thread each.
#include "sim/modbus_extension.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _modbus;

class CouplerModbusServer
{
public:
    enum class Behaviour {
        Answering,
        Silent,   // accepts connections and reads requests, never answers
    };

    CouplerModbusServer(std::string address, int port, std::map<int, uint16_t> ownRegisters,
                        ModbusExtension *extension = nullptr, Behaviour behaviour = Behaviour::Answering);
    ~CouplerModbusServer();

    CouplerModbusServer(const CouplerModbusServer &) = delete;
    CouplerModbusServer &operator=(const CouplerModbusServer &) = delete;

    // False (errno set) when the port cannot be listened on. Port 0 takes one the system chooses
    // and keeps it for every later start.
    bool start();
    int port() const { return m_port; }
    void stop();

    void setRegister(int address, uint16_t value);
    std::vector<int> registerReads() const;   // the coupler's own registers read, in order

private:
    struct ClientThread {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptClients();
    void joinFinishedClients();
    void serveClient(int client, std::atomic<bool> *done);
    void answer(_modbus *context, const std::vector<uint8_t> &adu);
    void answerRegisterRead(_modbus *context, const std::vector<uint8_t> &adu);
    void answerUserFunction(int client, const std::vector<uint8_t> &adu);
    bool readRegister(int address, uint16_t &value);

    std::string m_address;
    int m_port;
    ModbusExtension *m_extension;
    Behaviour m_behaviour;
    _modbus *m_listenContext = nullptr;
    int m_listener = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;

    mutable std::mutex m_mutex;
    std::map<int, uint16_t> m_registers;
    std::vector<int> m_registerReads;
    std::list<ClientThread> m_clientThreads;
    std::vector<int> m_clients;
};
