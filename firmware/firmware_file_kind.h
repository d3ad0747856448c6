#pragma once

// What a firmware file's first bytes say it is. The EtherCAT coupler takes its firmware as raw
// bytes, the other pages take encrypted Intel HEX files: a file meant for one page is told apart
// before it reaches the other's device.
#include <cstddef>
#include <cstdint>

enum class FirmwareFileKind {
    Binary,         // neither of the two below
    IntelHexText,   // a record line from its first byte on (":10000000...")
    EncryptedHex,   // decrypts under the tool's key to a header or record line
};

// From the first `headSize` bytes of a file of `fileSize` bytes (a few hundred are enough).
FirmwareFileKind firmwareFileKind(const uint8_t *head, size_t headSize, size_t fileSize);
