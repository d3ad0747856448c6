#include "cli/device_runners.h"

#include "modbus/modbus_tcp_link.h"
#include "module/module_update_engine.h"
#include "module/module_update_outcome.h"

namespace {

// Each module's progress starts again at 0; the bytes count on across the range.
class ModuleRunObserver : public ModuleUpdateObserver
{
public:
    ModuleRunObserver(RunReport &report, const DeviceJob &job, int imageLength)
        : m_report(report),
          m_bytesPerModule(2 * qint64(imageLength)),
          m_totalBytes(m_bytesPerModule * (job.lastModule - job.firstModule + 1))
    {
    }
    void checksPassed() override {}
    void setLabelText(const QString &text) override { m_report.phase(text); }
    void setRange(int, int maximum) override { m_maximum = maximum; }
    void show() override { ++m_modulesStarted; }
    void debugLine(const QString &) override {}
    void setProgressValue(int value) override
    {
        if (m_maximum <= 0)
            return;
        const qint64 earlierModules = m_bytesPerModule * qMax(0, m_modulesStarted - 1);
        m_report.bytes(earlierModules + qMin<qint64>(value, m_maximum) * m_bytesPerModule / m_maximum, m_totalBytes);
    }
    bool wasCanceled() override { return m_report.stopRequested(); }

private:
    RunReport &m_report;
    qint64 m_bytesPerModule;
    qint64 m_totalBytes;
    int m_maximum = 0;
    int m_modulesStarted = 0;
};

}

UpdateOutcome runModules(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Connecting to the coupler"));
    const std::string ip = job.ip.toStdString();
    const int port = job.environment.modbusPort;
    std::string failure;
    std::unique_ptr<ModbusTcpLink> link = ModbusTcpLink::connect(ip, port, &failure);
    if (!link)
        return moduleUpdateOutcome(ModuleUpdateEngine::connectionFailure(ip, port, failure));
    report.phase(QStringLiteral("Checking the modules"));
    ModuleRunObserver observer(report, job, hex.imageLength);
    ModuleUpdateEngine engine({*link, job.firstModule, job.lastModule, job.advanceMode}, observer,
                              job.environment.waits.blocking());
    return moduleUpdateOutcome(engine.run(hex));
}
