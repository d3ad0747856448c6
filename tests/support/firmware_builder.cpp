#include "tests/support/firmware_builder.h"

#include "firmware/firmware_cipher.h"

#include <vector>

namespace {

constexpr int BytesPerRecord = 16;
constexpr int SegmentSize = 0x10000;

QByteArray record(uint8_t type, uint16_t address, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    uint8_t sum = 0;
    for (char byte : bytes)
        sum = uint8_t(sum + uint8_t(byte));
    bytes.append(char(uint8_t(0u - sum)));
    return ":" + bytes.toHex().toUpper() + "\r\n";
}

} // namespace

namespace FirmwareBuilder {

QByteArray hexText(const QByteArray &image, const QString &header)
{
    QByteArray text;
    if (!header.isEmpty())
        text += header.toLatin1() + "\r\n";
    for (int offset = 0; offset < image.size(); offset += BytesPerRecord) {
        if (offset % SegmentSize == 0 && offset > 0) {
            const uint16_t upper = uint16_t(offset / SegmentSize);
            text += record(0x04, 0, QByteArray(1, char(upper >> 8)) + char(upper & 0xFF));
        }
        text += record(0x00, uint16_t(offset % SegmentSize), image.mid(offset, BytesPerRecord));
    }
    text += ":00000001FF\r\n";
    return text;
}

QByteArray encrypt(const QByteArray &plaintext)
{
    const std::vector<uint8_t> plain(plaintext.begin(), plaintext.end());
    const std::vector<uint8_t> encrypted = encryptFirmwareData(plain);
    return QByteArray(reinterpret_cast<const char *>(encrypted.data()), int(encrypted.size()));
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 256) & 0xFF);
    return bytes;
}

QByteArray encryptedHex(const QByteArray &image, const QString &header)
{
    return encrypt(hexText(image, header));
}

}
