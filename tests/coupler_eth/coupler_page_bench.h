#pragma once

// The Ethernet coupler page beside a simulated coupler on its own loopback address, driven as a
// user drives it: the listen port as stored by an earlier run, the address typed, the firmware
// chosen, Update pressed.
#include "coupler_eth/coupler_firmware_widget.h"
#include "sim/simulated_coupler.h"

#include <memory>
#include <vector>

namespace CouplerTest {

using Bytes = std::vector<uint8_t>;

// Random bytes, the same for the same salt.
Bytes randomImage(size_t size, unsigned salt);
// An encrypted firmware file in the coupler folder of the sandbox (no vector checksum, so the
// image loaded is exactly `image`).
void writeFirmware(const QString &name, const Bytes &image, const QString &header = "0702, V1, X=FALSE");
// A setup on `address` with the coupler's defaults (product code 0702, hardware version 1) and
// its Modbus server on a port the system finds free there.
SimulatedCouplerSetup couplerAt(const char *address);

struct PageBench {
    // The page's fixed waits are divided by `waitDivisor`; it checks the coupler's registers on
    // the port of `setup`.
    PageBench(const SimulatedCouplerSetup &setup, uint16_t listenPort, int waitDivisor = 50);

    bool start();
    // Types `address` (the coupler's own when empty) into the four fields, split at its dots, and
    // picks the firmware by its shown name.
    void choose(const QString &firmware, const QString &address = QString());
    void clickUpdate();

    std::vector<SimulatedCouplerBootLoader::LoggedRequest> requestsOf(CouplerCommand command);
    // The command code of every request, in order, in upper-case hexadecimal.
    QByteArray commandSequence();
    // The first bytes of the flash equal `image`, and the rest of its last page is 0xFF.
    bool flashHolds(const Bytes &image);

    SimulatedCoupler coupler;
    std::unique_ptr<CouplerFirmwareWidget> page;
};

}
