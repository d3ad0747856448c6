#include "firmware/firmware_file_kind.h"

#include "firmware/firmware_cipher.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// The shortest record: colon, length, address, type and checksum.
constexpr size_t kShortestRecordDigits = 10;
// Two cipher blocks decrypt to text in a HEX file; random bytes do so about once in 10^14.
constexpr size_t kProbeBytes = 32;

bool isHexDigit(uint8_t byte)
{
    return std::isxdigit(byte) != 0;
}

bool isRecordLine(const uint8_t *data, size_t size)
{
    if (size == 0 || data[0] != ':')
        return false;
    size_t digits = 0;
    while (1 + digits < size && isHexDigit(data[1 + digits]))
        ++digits;
    const bool lineEnds = 1 + digits == size || data[1 + digits] == '\r' || data[1 + digits] == '\n';
    return digits >= kShortestRecordDigits && lineEnds;
}

bool isText(const std::vector<uint8_t> &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) {
        return (byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n' || byte == '\t';
    });
}

}

FirmwareFileKind firmwareFileKind(const uint8_t *head, size_t headSize, size_t fileSize)
{
    if (isRecordLine(head, headSize))
        return FirmwareFileKind::IntelHexText;
    std::vector<uint8_t> plain;
    // The cipher's files are whole blocks of 16 bytes.
    if (headSize >= kProbeBytes && fileSize % 16 == 0 && decryptFirmwareData(head, kProbeBytes, plain)
        && plain.size() >= kProbeBytes / 2 && isText(plain) && (plain[0] == ':' || isHexDigit(plain[0])))
        return FirmwareFileKind::EncryptedHex;
    return FirmwareFileKind::Binary;
}
