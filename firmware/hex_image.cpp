#include "firmware/hex_image.h"

#include "firmware/encrypted_hex_file.h"
#include "firmware/hex_header.h"
#include "firmware/hex_record.h"
#include "core/byte_order.h"

#include <QDebug>

#include <algorithm>
#include <fstream>

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
bool isSkippedLongLine(const std::string &line, const HexPageProfile &profile, std::vector<uint8_t> &bytes)
{
    if (!profile.skipLinesLongerThan43 || line.size() <= HexRecord::LongestSixteenByteRecord)
        return false;
    const bool dataRecord = HexRecord::decode(line, size_t(profile.decodeCapacity), bytes)
                            && bytes.size() > HexRecord::FieldsBeforeData
                            && bytes[3] == HexRecord::DataRecordType
                            && bytes.size() == HexRecord::FieldsBeforeData + bytes[0] + 1
                            && HexRecord::checksumIsZero(bytes);
    return !dataRecord;
}

// The data records, back to back in file order. The file must close with an end-of-file record
// (a file cut short loads no less than a whole one otherwise) and hold data.
HexLoadError loadRecords(const std::vector<std::string> &lines, size_t first, HexImage &hex,
                         const HexPageProfile &profile, int &used)
{
    std::vector<uint8_t> bytes;
    bool endOfFile = false;
    for (size_t index = first; index < lines.size(); ++index) {
        const std::string &line = lines[index];
        if (!HexRecord::looksLikeRecord(line) || isSkippedLongLine(line, profile, bytes))
            continue;
        if (!HexRecord::decode(line, size_t(profile.decodeCapacity), bytes)
            || bytes.size() < HexRecord::FieldsBeforeData)
            return HexLoadError::RecordError;
        if (bytes[3] == HexRecord::EndOfFileRecordType)
            endOfFile = true;
        if (bytes[3] != HexRecord::DataRecordType)
            continue;
        if (!isWellFormedDataRecord(bytes) || endOfFile)
            return HexLoadError::RecordError;
        const int count = bytes[0];
        if (used + count > profile.capacity)
            return HexLoadError::TooBig;
        std::copy_n(bytes.begin() + HexRecord::FieldsBeforeData, count, hex.image.begin() + used);
        used += count;
    }
    if (used == 0)
        return HexLoadError::NoData;
    return endOfFile ? HexLoadError::None : HexLoadError::RecordError;
}

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
    EncryptedHexFile encrypted;
    if (!encrypted.read(file))
        return {HexLoadError::FormatError, 0};
    const std::vector<std::string> lines = encrypted.lines();

    // A first line that does not start with ':' is the header; an empty one counts as a header
    // that says nothing.
    size_t firstRecord = 0;
    if (!lines.empty() && (lines[0].empty() || lines[0][0] != ':')) {
        parseHexHeader(lines[0], {hex.productCode, hex.hardwareVersion, hex.fixVectorChecksum});
        firstRecord = 1;
    }
    int used = 0;
    const HexLoadError error = loadRecords(lines, firstRecord, hex, profile, used);
    if (error != HexLoadError::None)
        return {error, 0};
    HexLoadResult result;
    if (hex.fixVectorChecksum)
        result.vectorChecksum = writeVectorChecksum(hex.image);
    hex.imageLength = used;
    return result;
}
