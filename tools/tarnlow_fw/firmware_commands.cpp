#include "tools/tarnlow_fw/firmware_commands.h"

#include "firmware/encrypted_hex_file.h"
#include "firmware/firmware_cipher.h"
#include "firmware/hex_image.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <vector>

namespace {

int fail(const std::string &message)
{
    std::cerr << "tarnlow-fw: " << message << std::endl;
    return 1;
}

bool readFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The pages end a line at CR only, so every line of the input is given CR LF, whatever it had.
std::vector<uint8_t> withCrLf(const std::vector<uint8_t> &text)
{
    std::vector<uint8_t> result;
    result.reserve(text.size() + text.size() / 40 + 2);
    std::vector<uint8_t> line;
    auto flush = [&] {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.insert(result.end(), line.begin(), line.end());
        result.push_back('\r');
        result.push_back('\n');
        line.clear();
    };
    for (uint8_t byte : text) {
        if (byte == '\n')
            flush();
        else
            line.push_back(byte);
    }
    if (!line.empty())
        flush();
    return result;
}

const HexPageProfile *profileNamed(const std::string &page)
{
    static const std::map<std::string, const HexPageProfile *> profiles = {
        {"coupler", &HexPageProfile::coupler()},
        {"module", &HexPageProfile::module()},
        {"canopen", &HexPageProfile::canopen()}};
    const auto found = profiles.find(page);
    return found == profiles.end() ? nullptr : found->second;
}

} // namespace

namespace FirmwareCommands {

int encrypt(const std::string &input, const std::string &output, const std::string *header)
{
    std::vector<uint8_t> text;
    if (!readFile(input, text))
        return fail("cannot read " + input);
    if (header) {
        std::vector<uint8_t> headed(header->begin(), header->end());
        headed.push_back('\n');
        headed.insert(headed.end(), text.begin(), text.end());
        text.swap(headed);
    }
    const std::vector<uint8_t> encrypted = encryptFirmwareData(withCrLf(text));
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(encrypted.data()), std::streamsize(encrypted.size()));
    out.close();
    if (!out)
        return fail("cannot write " + output);
    return 0;
}

int decrypt(const std::string &input)
{
    std::vector<uint8_t> raw;
    if (!readFile(input, raw))
        return fail("cannot read " + input);
    std::vector<uint8_t> plain;
    if (!decryptFirmwareData(raw.data(), raw.size(), plain))
        return fail(input + ": not a firmware file (its size is 0 or not a multiple of 16 bytes)");
    std::fwrite(plain.data(), 1, plain.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : fail("cannot write the plaintext");
}

int info(const std::string &page, const std::string &input)
{
    const HexPageProfile *profile = profileNamed(page);
    if (!profile)
        return fail("unknown page '" + page + "' (coupler, module or canopen)");
    HexImage hex(*profile);
    hex.fileName = input;
    const HexLoadResult result = loadHexImage(hex, *profile);
    if (!result.ok())
        return fail(input + ": " + hexLoadErrorText(result.error, *profile).toStdString());
    // The hash reads the loaded image where it lies; a copy would cost more than the hashing.
    const QByteArray image = QByteArray::fromRawData(reinterpret_cast<const char *>(hex.image.data()), hex.imageLength);
    std::printf("productCode: 0x%X\n", hex.productCode);
    std::printf("hardwareVersion: 0x%X\n", unsigned(hex.hardwareVersion));
    std::printf("fixVectorChecksum: %s\n", hex.fixVectorChecksum ? "true" : "false");
    std::printf("imageLength: %d\n", hex.imageLength);
    if (hex.fixVectorChecksum)
        std::printf("vectorChecksum: %08X\n", result.vectorChecksum);
    else
        std::printf("vectorChecksum: not written\n");
    std::printf("sha256: %s\n",
                QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex().constData());
    return 0;
}

}
