#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Every firmware file is its Intel HEX text encrypted as a whole with AES-128 in ECB mode under
// the key built into the tool.

// Decrypts a whole firmware file and trims its trailer: the last non-zero byte (the padding
// marker, or the final LF of a text padded with zeros only) and the zeros after it. False, with
// `plain` untouched, when size is 0 or not a multiple of 16; never throws.
bool decryptFirmwareData(const uint8_t *data, size_t size, std::vector<uint8_t> &plain);

// The inverse, for the firmware tool: appends the padding marker and zeros up to a multiple of
// 16, then encrypts.
std::vector<uint8_t> encryptFirmwareData(const std::vector<uint8_t> &plain);

// The byte the encryption appends before the zero padding; the decryption trims it whatever it is.
constexpr uint8_t FirmwarePaddingMarker = 0x80;
