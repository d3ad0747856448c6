#pragma once

#include <cstdint>

// Whether firmware made for the header's hardware version runs on a device whose hardware
// version register reads `versionRegister`: version 1 firmware (0x1000) on a register below
// 0x2000, version 2 firmware (0x2000) on 0x2000 and above. Any other header version fits nothing.
bool firmwareFitsHardware(int headerHardwareVersion, uint16_t versionRegister);
