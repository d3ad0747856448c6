#include "sim/simulated_coupler.h"

#include <cerrno>
#include <cstring>

SimulatedCoupler::SimulatedCoupler(const SimulatedCouplerSetup &setup)
    : m_setup(setup),
      m_udp(m_bootLoader, setup.address, setup.bootPort, setup.otherBootPort, setup.replyPort)
{
    m_bootLoader.setRestartMs(setup.restartMs);
    m_bootLoader.setModeListener([this](bool bootMode) { modeChanged(bootMode); });
    if (setup.modbus == SimulatedCouplerSetup::Modbus::Absent)
        return;
    const auto behaviour = setup.modbus == SimulatedCouplerSetup::Modbus::Silent
        ? CouplerModbusServer::Behaviour::Silent
        : CouplerModbusServer::Behaviour::Answering;
    m_modbus = std::make_unique<CouplerModbusServer>(
        setup.address, setup.modbusPort,
        std::map<int, uint16_t>{{kProductCodeRegister, setup.productCode},
                                {kHardwareVersionRegister, setup.hardwareVersion}},
        setup.modules, behaviour);
}

SimulatedCoupler::~SimulatedCoupler()
{
    stop();
}

bool SimulatedCoupler::start(std::string &failure)
{
    if (!m_udp.start()) {
        failure = "UDP " + m_setup.address + ":" + std::to_string(m_setup.bootPort) + "/"
            + std::to_string(m_setup.otherBootPort) + ": " + std::strerror(errno);
        return false;
    }
    if (m_modbus && !m_bootLoader.inBootMode() && !m_modbus->start()) {
        failure = "Modbus TCP " + m_setup.address + ":" + std::to_string(m_setup.modbusPort) + ": "
            + std::strerror(errno);
        m_udp.stop();
        return false;
    }
    return true;
}

void SimulatedCoupler::stop()
{
    m_udp.stop();   // first: no mode change can restart the Modbus server after this
    if (m_modbus)
        m_modbus->stop();
}

// The boot loader has no Modbus TCP server: its port is closed, so a client is refused.
void SimulatedCoupler::modeChanged(bool bootMode)
{
    if (!m_modbus)
        return;
    if (bootMode)
        m_modbus->stop();
    else
        m_modbus->start();
}

std::vector<int> SimulatedCoupler::registerReads() const
{
    return m_modbus ? m_modbus->registerReads() : std::vector<int>();
}
