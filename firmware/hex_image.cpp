#include "firmware/hex_image.h"

#include "firmware/encrypted_hex_file.h"
#include "firmware/hex_header.h"
#include "firmware/hex_record.h"
#include "core/byte_order.h"

#include <QDebug>

#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>

namespace {

constexpr int VectorWordsSummed = 7;
constexpr size_t VectorChecksumOffset = 28;

// The boot code checks that the first eight words of the vector table sum to zero.
uint32_t writeVectorChecksum(std::vector<uint8_t> &image)
{
    uint32_t sum = 0;
    for (int word = 0; word < VectorWordsSummed; ++word)
        sum += le32(image.data() + size_t(word) * 4);
    const uint32_t checksum = 0u - sum;
    putLe32(image.data() + VectorChecksumOffset, checksum);
    qDebug().noquote() << QString::asprintf("%08X", checksum);
    return checksum;
}

// A data record is taken only when its byte count agrees with the bytes on the line, so no byte
// of the next record or beyond the line is ever copied.
bool isWellFormedDataRecord(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() <= HexRecord::FieldsBeforeData)
        return false;
    const size_t count = bytes[0];
    return count <= size_t(HexRecord::MaxDataBytes)
           && bytes.size() == HexRecord::FieldsBeforeData + count + 1
           && HexRecord::checksumIsZero(bytes);
}

// A line longer than a 16-byte record is skipped on the pages that skip such lines, unless it is
// a valid data record: skipping that would flash the image with a hole in it.
bool isSkippedLongLine(size_t lineLength, HexRecord::LineKind kind, const std::vector<uint8_t> &bytes,
                       const HexPageProfile &profile)
{
    if (!profile.skipLinesLongerThan43 || lineLength <= HexRecord::LongestSixteenByteRecord)
        return false;
    const bool dataRecord = kind == HexRecord::LineKind::Decoded
                            && bytes.size() > HexRecord::FieldsBeforeData
                            && bytes[3] == HexRecord::DataRecordType
                            && bytes.size() == HexRecord::FieldsBeforeData + bytes[0] + 1
                            && HexRecord::checksumIsZero(bytes);
    return !dataRecord;
}

// Takes the lines of a firmware text one by one: a first line that does not start with ':' is
// the header (an empty one counts as a header that says nothing), the data records after it go
// back to back in file order. The file must close with an end-of-file record (a file cut short
// loads no less than a whole one otherwise) and hold data.
class RecordLoader
{
public:
    RecordLoader(HexImage &hex, const HexPageProfile &profile) : m_hex(hex), m_profile(profile) {}

    // False at the first line that makes the load fail.
    bool take(std::string_view line)
    {
        if (m_firstLine) {
            m_firstLine = false;
            if (line.empty() || line[0] != ':') {
                parseHexHeader(std::string(line), {m_hex.productCode, m_hex.hardwareVersion, m_hex.fixVectorChecksum});
                return true;
            }
        }
        m_error = takeRecord(line);
        return m_error == HexLoadError::None;
    }

    HexLoadError finish() const
    {
        if (m_error != HexLoadError::None)
            return m_error;
        if (m_used == 0)
            return HexLoadError::NoData;
        return m_endOfFile ? HexLoadError::None : HexLoadError::RecordError;
    }

    int used() const { return m_used; }

private:
    HexLoadError takeRecord(std::string_view line)
    {
        const HexRecord::LineKind kind = HexRecord::decodeLine(line, size_t(m_profile.decodeCapacity), m_bytes);
        if (kind == HexRecord::LineKind::NotARecord || isSkippedLongLine(line.size(), kind, m_bytes, m_profile))
            return HexLoadError::None;
        if (kind != HexRecord::LineKind::Decoded || m_bytes.size() < HexRecord::FieldsBeforeData)
            return HexLoadError::RecordError;
        if (m_bytes[3] == HexRecord::EndOfFileRecordType)
            m_endOfFile = true;
        if (m_bytes[3] != HexRecord::DataRecordType)
            return HexLoadError::None;
        if (!isWellFormedDataRecord(m_bytes) || m_endOfFile)
            return HexLoadError::RecordError;
        const int count = m_bytes[0];
        if (m_used + count > m_profile.capacity)
            return HexLoadError::TooBig;
        std::copy_n(m_bytes.begin() + HexRecord::FieldsBeforeData, count, m_hex.image.begin() + m_used);
        m_used += count;
        return HexLoadError::None;
    }

    HexImage &m_hex;
    const HexPageProfile &m_profile;
    std::vector<uint8_t> m_bytes;
    bool m_firstLine = true;
    bool m_endOfFile = false;
    int m_used = 0;
    HexLoadError m_error = HexLoadError::None;
};

} // namespace

const HexPageProfile &HexPageProfile::coupler()
{
    static const HexPageProfile profile{1048576, true, 512, false, 0x702, 0x1000, true};
    return profile;
}

const HexPageProfile &HexPageProfile::module()
{
    static const HexPageProfile profile{1048576, false, 64, true, 0xFFFF, 0x1000, true};
    return profile;
}

const HexPageProfile &HexPageProfile::canopen()
{
    static const HexPageProfile profile{131072, true, 512, true, 0xFFFF, 0x1000, true};
    return profile;
}

HexImage::HexImage(const HexPageProfile &profile)
    : image(static_cast<size_t>(profile.capacity), 0xFF),
      productCode(profile.defaultProductCode),
      hardwareVersion(profile.defaultHardwareVersion),
      fixVectorChecksum(profile.defaultFixVectorChecksum)
{
}

HexLoadResult loadHexImage(HexImage &hex, const HexPageProfile &profile)
{
    hex.image.assign(size_t(profile.capacity), 0xFF);
    std::ifstream file(hex.fileName, std::ios::in | std::ios::binary);
    if (hex.fileName.empty())
        return {HexLoadError::NoFileName, 0};
    if (!file.is_open())
        return {HexLoadError::CannotOpen, 0};
    RecordLoader records(hex, profile);
    if (!EncryptedHexFile::forEachLine(file, [&records](std::string_view line) { return records.take(line); }))
        return {HexLoadError::FormatError, 0};
    const HexLoadError error = records.finish();
    if (error != HexLoadError::None)
        return {error, 0};
    HexLoadResult result;
    if (hex.fixVectorChecksum)
        result.vectorChecksum = writeVectorChecksum(hex.image);
    hex.imageLength = records.used();
    return result;
}
