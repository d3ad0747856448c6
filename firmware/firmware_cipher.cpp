#include "firmware/firmware_cipher.h"

#include "firmware/rijndael.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// The key is used as its 16 ASCII bytes, not as hexadecimal digits. ECB ignores the chaining
// block, which the key set-up wants all the same.
constexpr char FirmwareKey[] = "5C3A9E07D21B84F6";
constexpr char FirmwareChainBlock[] = "A47E10C9B3D6528F";
constexpr int AesBytes = 16;
// Small enough to stay in the cache between decrypting and reading the text, big enough that a
// read and a call of the cipher come once per few thousand blocks; a multiple of AesBytes.
constexpr size_t StretchBytes = 64 * 1024;

void setUpFirmwareCipher(CRijndael &cipher)
{
    cipher.setKey(FirmwareKey, FirmwareChainBlock, AesBytes, AesBytes);
}

// The index of the last non-zero byte, or `size` when every byte is zero.
size_t lastNonZero(const uint8_t *bytes, size_t size)
{
    for (size_t index = size; index > 0; --index)
        if (bytes[index - 1] != 0x00)
            return index - 1;
    return size;
}

// The text ends before its last non-zero byte (the padding marker, or the final LF of a text
// padded with zeros only); a plaintext of zeros only is kept whole.
size_t trimmedLength(const std::vector<uint8_t> &bytes)
{
    return lastNonZero(bytes.data(), bytes.size());
}

// The rest of the stream; nothing from a stream that has already failed or ended.
std::vector<uint8_t> readAll(std::istream &in)
{
    if (!in.good())
        return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes from the stream's position to its end; nothing when it cannot seek (a pipe) or its
// end says nothing of its size (a directory), with the stream back where it was.
std::optional<size_t> bytesLeft(std::istream &in)
{
    const std::istream::pos_type start = in.tellg();
    if (start == std::istream::pos_type(-1))
        return std::nullopt;
    in.seekg(0, std::ios::end);
    const std::istream::pos_type end = in.tellg();
    in.clear();
    in.seekg(start);
    if (end == std::istream::pos_type(-1) || end < start || !in)
        return std::nullopt;
    return size_t(end - start);
}

// Decrypts the stream a stretch at a time into one buffer it keeps.
class StretchDecryptor
{
public:
    explicit StretchDecryptor(std::istream &in) : m_in(in), m_start(in.tellg()), m_buffer(StretchBytes)
    {
        setUpFirmwareCipher(m_cipher);
    }

    // The plaintext of `length` bytes (whole blocks, at most StretchBytes) from `offset`; null
    // when the stream does not give them all.
    const uint8_t *decryptAt(size_t offset, size_t length)
    {
        char *buffer = reinterpret_cast<char *>(m_buffer.data());
        m_in.seekg(m_start + std::streamoff(offset));
        if (!m_in.read(buffer, std::streamsize(length)))
            return nullptr;
        m_cipher.decrypt(buffer, buffer, length, CRijndael::ECB);
        return m_buffer.data();
    }

private:
    std::istream &m_in;
    const std::istream::pos_type m_start;
    CRijndael m_cipher;
    std::vector<uint8_t> m_buffer;
};

// Where the text of a file of `size` bytes ends, found from the back: normally in the last block.
std::optional<size_t> textEnd(StretchDecryptor &decryptor, size_t size)
{
    for (size_t stretchEnd = size; stretchEnd > 0;) {
        const size_t stretchStart = stretchEnd > StretchBytes ? stretchEnd - StretchBytes : 0;
        const uint8_t *plain = decryptor.decryptAt(stretchStart, stretchEnd - stretchStart);
        if (!plain)
            return std::nullopt;
        const size_t last = lastNonZero(plain, stretchEnd - stretchStart);
        if (last < stretchEnd - stretchStart)
            return stretchStart + last;
        stretchEnd = stretchStart;
    }
    return size;
}

bool decryptSeekableStream(std::istream &in, size_t size, const FirmwareTextSink &sink)
{
    StretchDecryptor decryptor(in);
    const std::optional<size_t> end = textEnd(decryptor, size);
    if (!end)
        return false;
    for (size_t offset = 0; offset < *end; offset += StretchBytes) {
        const size_t textBytes = std::min(StretchBytes, *end - offset);
        const size_t wholeBlocks = (textBytes + AesBytes - 1) / AesBytes * AesBytes;
        const uint8_t *plain = decryptor.decryptAt(offset, wholeBlocks);
        if (!plain)
            return false;
        if (!sink(plain, textBytes))
            break;
    }
    return true;
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

bool decryptFirmwareStream(std::istream &in, const FirmwareTextSink &sink)
{
    const std::optional<size_t> size = bytesLeft(in);
    if (size)
        return *size != 0 && *size % AesBytes == 0 && decryptSeekableStream(in, *size, sink);
    const std::vector<uint8_t> raw = readAll(in);
    std::vector<uint8_t> plain;
    if (!decryptFirmwareData(raw.data(), raw.size(), plain))
        return false;
    sink(plain.data(), plain.size());
    return true;
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
