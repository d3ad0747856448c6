#include "firmware/encrypted_hex_file.h"

#include "firmware/firmware_cipher.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char CarriageReturn = 0x0D;

// Cuts the text into lines as it arrives in pieces. A line that lies within one piece goes to
// the sink where it is; only one that spans pieces is gathered first.
class LineSplitter
{
public:
    explicit LineSplitter(const EncryptedHexFile::LineSink &sink) : m_sink(sink) {}

    // False once the sink has asked to stop.
    bool take(const uint8_t *bytes, size_t size)
    {
        const char *next = reinterpret_cast<const char *>(bytes);
        const char *const end = next + size;
        if (m_dropNextByte && next < end) {
            ++next;
            m_dropNextByte = false;
        }
        while (next < end) {
            const auto *lineEnd = static_cast<const char *>(std::memchr(next, CarriageReturn, size_t(end - next)));
            if (!lineEnd) {
                m_lineStart.append(next, end);
                break;
            }
            if (!handOver(next, lineEnd))
                return false;
            next = lineEnd + 1;
            // The byte after the CR (normally LF) is dropped, even when it arrives with the next piece.
            if (next < end)
                ++next;
            else
                m_dropNextByte = true;
        }
        return true;
    }

private:
    bool handOver(const char *begin, const char *end)
    {
        if (m_lineStart.empty())
            return m_sink(std::string_view(begin, size_t(end - begin)));
        m_lineStart.append(begin, end);
        const bool more = m_sink(m_lineStart);
        m_lineStart.clear();
        return more;
    }

    const EncryptedHexFile::LineSink &m_sink;
    std::string m_lineStart;   // the part of the current line that came with earlier pieces
    bool m_dropNextByte = false;
};

} // namespace

bool EncryptedHexFile::forEachLine(std::istream &in, const LineSink &sink)
{
    LineSplitter splitter(sink);
    return decryptFirmwareStream(in, [&splitter](const uint8_t *text, size_t size) {
        return splitter.take(text, size);
    });
}

bool EncryptedHexFile::read(std::istream &in)
{
    return forEachLine(in, [this](std::string_view line) {
        m_lines.emplace_back(line);
        return true;
    });
}
