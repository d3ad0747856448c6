#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <vector>

// Every firmware file is its Intel HEX text encrypted as a whole with AES-128 in ECB mode under
// the key built into the tool.

// Decrypts a whole firmware file and trims its trailer: the last non-zero byte (the padding
// marker, or the final LF of a text padded with zeros only) and the zeros after it. False, with
// `plain` untouched, when size is 0 or not a multiple of 16; never throws.
bool decryptFirmwareData(const uint8_t *data, size_t size, std::vector<uint8_t> &plain);

// Takes one piece of decrypted, trimmed firmware text; false stops the decryption.
using FirmwareTextSink = std::function<bool(const uint8_t *text, size_t size)>;

// The plaintext decryptFirmwareData gives for the rest of `in`, handed to `sink` piece by piece
// in order. A stream that can seek (a file) is read a stretch at a time, so that neither the file
// nor its text is ever held whole; one that cannot (a pipe) is read whole first. False, with
// nothing handed over, when the rest is empty or not a multiple of 16 bytes; false as well when
// the stream gives out before its end.
bool decryptFirmwareStream(std::istream &in, const FirmwareTextSink &sink);

// The inverse, for the firmware tool: appends the padding marker and zeros up to a multiple of
// 16, then encrypts.
std::vector<uint8_t> encryptFirmwareData(const std::vector<uint8_t> &plain);

// The byte the encryption appends before the zero padding; the decryption trims it whatever it is.
constexpr uint8_t FirmwarePaddingMarker = 0x80;
