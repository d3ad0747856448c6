#include "firmware/encrypted_hex_file.h"

#include "firmware/firmware_cipher.h"

#include <cstdint>

namespace {

constexpr uint8_t CarriageReturn = 0x0D;

std::vector<uint8_t> readAll(std::istream &in)
{
    std::vector<uint8_t> bytes;
    char c;
    while (in.get(c))
        bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

} // namespace

bool EncryptedHexFile::read(std::istream &in)
{
    const std::vector<uint8_t> raw = readAll(in);
    std::vector<uint8_t> plain;
    if (!decryptFirmwareData(raw.data(), raw.size(), plain))
        return false;
    std::string line;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == CarriageReturn) {
            m_lines.push_back(line);
            line.clear();
            ++i;  // the LF after the CR, whatever it is
        } else {
            line.push_back(static_cast<char>(plain[i]));
        }
    }
    return true;
}
