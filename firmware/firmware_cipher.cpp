#include "firmware/firmware_cipher.h"

#include "firmware/rijndael.h"

namespace {

// The key is used as its 16 ASCII bytes, not as hexadecimal digits. ECB ignores the chaining
// block, which the key set-up wants all the same.
constexpr char FirmwareKey[] = "5C3A9E07D21B84F6";
constexpr char FirmwareChainBlock[] = "A47E10C9B3D6528F";
constexpr int AesBytes = 16;

void setUpFirmwareCipher(CRijndael &cipher)
{
    cipher.setKey(FirmwareKey, FirmwareChainBlock, AesBytes, AesBytes);
}

size_t trimmedLength(const std::vector<uint8_t> &bytes)
{
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0x00)
        --end;
    return end == 0 ? bytes.size() : end - 1;
}

} // namespace

bool decryptFirmwareData(const uint8_t *data, size_t size, std::vector<uint8_t> &plain)
{
    if (size == 0 || size % AesBytes != 0)
        return false;
    try {
        CRijndael cipher;
        setUpFirmwareCipher(cipher);
        std::vector<uint8_t> output(size, 0x00);
        cipher.decrypt(reinterpret_cast<const char *>(data), reinterpret_cast<char *>(output.data()),
                       size, CRijndael::ECB);
        output.resize(trimmedLength(output));
        plain = std::move(output);
        return true;
    } catch (const CRijndael::my_exception &) {
        return false;
    }
}

std::vector<uint8_t> encryptFirmwareData(const std::vector<uint8_t> &plain)
{
    std::vector<uint8_t> padded(plain);
    padded.push_back(FirmwarePaddingMarker);
    padded.resize((padded.size() + AesBytes - 1) / AesBytes * AesBytes, 0x00);
    std::vector<uint8_t> encrypted(padded.size());
    CRijndael cipher;
    setUpFirmwareCipher(cipher);
    cipher.encrypt(reinterpret_cast<const char *>(padded.data()),
                   reinterpret_cast<char *>(encrypted.data()), padded.size(), CRijndael::ECB);
    return encrypted;
}
