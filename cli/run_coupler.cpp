#include "cli/device_runners.h"

#include "cli/reported_progress.h"
#include "coupler_eth/coupler_boot_protocol.h"
#include "coupler_eth/coupler_listen_socket.h"
#include "coupler_eth/coupler_update_outcome.h"
#include "coupler_eth/coupler_update_session.h"

UpdateOutcome runCoupler(const DeviceJob &job, const HexImage &hex, RunReport &report)
{
    report.phase(QStringLiteral("Opening the listen port"));
    UpdateOutcome refusal;
    const std::unique_ptr<QUdpSocket> socket = bindCouplerListenPort(uint16_t(job.listenPort), refusal);
    if (!socket) {
        const QString choice = QStringLiteral("Choose another listen port with --listen-port, or 0 to let the system "
                                              "choose one.");
        refusal.informative = refusal.informative.isEmpty() ? choice : refusal.informative + QStringLiteral(" ") + choice;
        return refusal;
    }
    ReportedProgress progress(report, [](UpdatePhase phase, int) { return couplerPhaseLabel(phase); },
                              2 * qint64(hex.imageLength));
    progress.setChecksPassedPhase(QStringLiteral("Waiting before the run"));
    CouplerUpdateSession session(*socket, job.ip.toStdString(),
                                 {progress, progress, report.countedWait(job.environment.waits), nullptr}, job.environment);
    // The pages the image covers, not the whole 1 MiB buffer: a fleet runs hundreds at once.
    std::vector<uint8_t> readBack(size_t(CouplerBoot::paddedLength(hex.imageLength)), 0xFF);
    report.phase(QStringLiteral("Checking the coupler's registers"));
    return session.update(hex, readBack);
}
