#include "firmware/hardware_version.h"

namespace {
constexpr int kHardwareVersion1 = 0x1000;
constexpr int kHardwareVersion2 = 0x2000;   // a register at or above it is version 2 hardware
}

bool firmwareFitsHardware(int headerHardwareVersion, uint16_t versionRegister)
{
    if (headerHardwareVersion == kHardwareVersion1)
        return versionRegister < kHardwareVersion2;
    if (headerHardwareVersion == kHardwareVersion2)
        return versionRegister >= kHardwareVersion2;
    return false;
}
