#include "cli/device_runners.h"

#include "coupler_can/canopen_update_engine.h"
#include "coupler_can/canopen_update_outcome.h"
#include "coupler_can/serial_open_failure.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

namespace {

const char *const kBurningLabel = "Burning Firmware to Remote IO...";

class CanopenRunObserver : public CanopenUpdateObserver
{
public:
    CanopenRunObserver(RunReport &report, qint64 totalBytes) : m_report(report), m_totalBytes(totalBytes) {}
    void setLabelText(const QString &text) override { m_report.phase(text); }
    void setRange(int, int maximum) override { m_maximum = maximum; }
    void setValue(int value) override { m_report.steps(value, m_maximum, m_totalBytes); }
    bool wasCanceled() override { return m_report.stopRequested(); }
    void debugLine(const QString &) override {}

private:
    RunReport &m_report;
    qint64 m_totalBytes;
    int m_maximum = 0;
};

}

UpdateOutcome runCanopen(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Opening the serial port"));
    USBPassThroughCANopenCOMM connection;
    try {
        connection.openByName(job.serialPort.toStdString());
    } catch (const std::exception &failure) {
        return serialOpenFailure(job.serialPort, failure);
    }
    report.phase(QString::fromLatin1(kBurningLabel));
    CanopenRunObserver observer(report, 2 * qint64(hex.imageLength));
    CanopenUpdateEngine engine(connection, job.node, observer, job.environment.waits.blocking());
    std::vector<uint8_t> readBack(hex.image.size(), 0xFF);
    const UpdateOutcome outcome = canopenUpdateOutcome(engine.run(hex.image, hex.imageLength, readBack));
    connection.close();
    return outcome;
}
