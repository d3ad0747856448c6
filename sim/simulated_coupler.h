#pragma once

// One simulated Ethernet bus coupler on a loopback address (127.0.0.x, so several run side by
// side): the UDP boot loader on port 10275 and the Modbus TCP server on the Modbus port (502, or
// the port the tests chose; 0 for one the system chooses, see modbusPort()) with the coupler's product code (3004) and hardware version (3006),
// and optionally the I/O modules behind it. While the coupler runs its boot loader, nothing
// listens on the Modbus port.
#include "sim/coupler_boot_loader.h"
#include "sim/coupler_modbus_server.h"
#include "sim/coupler_udp_server.h"

#include <memory>
#include <string>

struct SimulatedCouplerSetup {
    enum class Modbus { Answering, Silent, Absent };

    std::string address = "127.0.0.21";
    uint16_t productCode = 0x0702;
    uint16_t hardwareVersion = 0x1000;
    Modbus modbus = Modbus::Answering;
    ModbusExtension *modules = nullptr;   // the module bank behind the coupler, if any
    int restartMs = 50;                   // deaf after ENTER BOOT MODE and RUN USER MODE
    CouplerUdpServer::ReplyPort replyPort = CouplerUdpServer::ReplyPort::NamedInRequest;
    uint16_t bootPort = 10275;
    uint16_t otherBootPort = 10276;       // the port the "answer from another port" fault uses
    int modbusPort = 502;
};

class SimulatedCoupler
{
public:
    static constexpr int kProductCodeRegister = 3004;
    static constexpr int kHardwareVersionRegister = 3006;

    explicit SimulatedCoupler(const SimulatedCouplerSetup &setup);
    ~SimulatedCoupler();

    // Binds both sides (Modbus only when the firmware runs); on failure says which in `failure`
    // and leaves nothing running.
    bool start(std::string &failure);
    void stop();

    const SimulatedCouplerSetup &setup() const { return m_setup; }
    // The port the Modbus server listens on once started.
    int modbusPort() const { return m_modbus ? m_modbus->port() : m_setup.modbusPort; }
    SimulatedCouplerBootLoader &bootLoader() { return m_bootLoader; }
    // The register reads of the coupler's own registers; empty without a Modbus server.
    std::vector<int> registerReads() const;

private:
    void modeChanged(bool bootMode);

    SimulatedCouplerSetup m_setup;
    SimulatedCouplerBootLoader m_bootLoader;
    CouplerUdpServer m_udp;
    std::unique_ptr<CouplerModbusServer> m_modbus;
};
