#pragma once

#include "core/update_result.h"
#include "core/update_tools.h"
#include "firmware/hex_image.h"

#include <optional>
#include <string>

// The coupler's Modbus registers against the file header: the hardware version (3006) first,
// then the product code (3004). Nothing when the firmware fits, and nothing when the coupler
// does not answer Modbus at all (one already in its boot loader): it is then updated without
// the checks. A register that cannot be read counts as 0, which hardware of version 1 reads too;
// the refusal then says why. One connection to `modbusPort` of `ip`, with the
// library's default response time-out and slave address; a coupler not reached is logged.
std::optional<UpdateResult> checkCouplerCompatibility(const HexImage &hex, const std::string &ip, int modbusPort,
                                                      const UpdateTools &tools);

// The coupler's own holding registers that tell which firmware fits it.
constexpr int kCouplerProductCodeRegister = 3004;
constexpr int kCouplerHardwareVersionRegister = 3006;
