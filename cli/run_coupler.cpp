#include "cli/device_runners.h"

#include "coupler_eth/coupler_listen_socket.h"
#include "coupler_eth/coupler_update_session.h"

namespace {

// The page's dialog label for the run; the engine names the later phases itself.
const char *const kBurningLabel = "Burning Firmware to Device...";

class CouplerRunObserver : public CouplerUpdateObserver
{
public:
    CouplerRunObserver(RunReport &report, qint64 totalBytes) : m_report(report), m_totalBytes(totalBytes) {}
    void setLabelText(const QString &text) override { m_report.phase(text); }
    void setValue(int value) override { m_report.steps(value, m_maximum, m_totalBytes); }
    bool wasCanceled() override { return m_report.stopRequested(); }
    void waitBeforeRun(int milliseconds, const Wait &wait) override
    {
        m_report.phase(QStringLiteral("Waiting before the run"));
        wait(milliseconds);
    }
    void runStarts(int maximum) override
    {
        m_maximum = maximum;
        m_report.phase(QString::fromLatin1(kBurningLabel));
    }

private:
    RunReport &m_report;
    qint64 m_totalBytes;
    int m_maximum = 0;
};

}

UpdateOutcome runCoupler(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Opening the listen port"));
    UpdateOutcome refusal;
    const std::unique_ptr<QUdpSocket> socket = bindCouplerListenPort(uint16_t(job.listenPort), refusal);
    if (!socket)
        return refusal;
    CouplerRunObserver observer(report, 2 * qint64(hex.imageLength));
    CouplerUpdateSession session(*socket, job.ip.toStdString(), observer, job.environment);
    std::vector<uint8_t> readBack(hex.image.size(), 0xFF);
    report.phase(QStringLiteral("Checking the coupler's registers"));
    return session.update(hex, readBack);
}
