#pragma once

#include "core/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// One EtherCAT datagram carried alone in one Ethernet frame (EtherType 0x88A4): the master
// sends it, every slave on the segment works on it in passing and the last one sends the frame
// back with the working counter raised by each slave that served it.
namespace Ethercat {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t etherType = 0x88A4;
constexpr std::size_t ethernetHeaderSize = 14;
constexpr std::size_t ethernetMinimumFrame = 60;   // without the frame check sequence
constexpr std::size_t frameHeaderSize = 2;         // 11-bit length, 4-bit type
constexpr uint8_t frameTypeDatagrams = 1;
constexpr std::size_t datagramHeaderSize = 10;
constexpr std::size_t workingCounterSize = 2;
constexpr std::size_t maximumDatagramData = 1486;  // what fits into one standard frame
// The master's source address; a slave sets bit 1 of its first byte on the way back, so the
// master never mistakes its own frame for an answer.
constexpr uint8_t masterMac[6] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
constexpr uint8_t returnedFrameMacBit = 0x02;

enum class Command : uint8_t {
    APRD = 1, APWR = 2, APRW = 3, FPRD = 4, FPWR = 5, FPRW = 6, BRD = 7, BWR = 8, BRW = 9,
    ARMW = 13,
};

// ESC registers the master touches.
namespace Register {
constexpr uint16_t type = 0x0000;
constexpr uint16_t stationAddress = 0x0010;
constexpr uint16_t alControl = 0x0120;
constexpr uint16_t alStatus = 0x0130;
constexpr uint16_t alStatusCode = 0x0134;
constexpr uint16_t eepromConfig = 0x0500;
constexpr uint16_t eepromControl = 0x0502;
constexpr uint16_t eepromAddress = 0x0504;
constexpr uint16_t eepromData = 0x0508;
constexpr uint16_t syncManager0 = 0x0800;
constexpr uint16_t syncManager1 = 0x0808;
constexpr uint16_t syncManagerSize = 8;
constexpr uint16_t syncManagerStatusOffset = 5;
// The master toggles the repeat bit of the read mailbox's activate byte to have the slave put
// its last message back (a reply lost on the way); the slave answers with the same value of the
// repeat-acknowledge bit in its PDI control byte.
constexpr uint16_t syncManagerActivateOffset = 6;
constexpr uint16_t syncManagerPdiControlOffset = 7;
constexpr uint8_t syncManagerRepeatBit = 0x02;
}

constexpr uint8_t syncManagerMailboxFull = 0x08;  // bit 3 of the sync manager status byte
constexpr uint16_t eepromCommandRead = 0x0100;
constexpr uint16_t eepromBusy = 0x8000;
constexpr uint16_t eepromErrorBits = 0x7800;     // checksum, device info, command, write enable

struct Datagram {
    Command command = Command::BRD;
    uint8_t index = 0;
    uint16_t position = 0;  // ADP: auto-increment position or station address
    uint16_t offset = 0;    // ADO: register or memory address in the slave
    Bytes data;
    uint16_t workingCounter = 0;
};

// The whole Ethernet frame (broadcast destination, master source, padded to 60 bytes).
Bytes encodeFrame(const Datagram &datagram);
// The datagram of a frame, or nothing when the frame is not a well-formed EtherCAT frame
// carrying exactly one datagram that fits the frame.
std::optional<Datagram> decodeFrame(const uint8_t *frame, std::size_t size);
inline std::optional<Datagram> decodeFrame(const Bytes &frame)
{
    return decodeFrame(frame.data(), frame.size());
}
bool isReturnedFrame(const Bytes &frame);

// Every datagram of a frame, in order (a frame may chain several), or nothing when the frame
// is not a well-formed EtherCAT frame.
std::optional<std::vector<Datagram>> decodeDatagrams(const Bytes &frame);
// A frame chaining `datagrams` in order.
Bytes encodeDatagrams(const std::vector<Datagram> &datagrams);

using ::le16;
using ::le32;
// The little-endian writers at a position of a byte vector.
inline void putLe16(Bytes &out, std::size_t at, uint16_t value) { ::putLe16(out.data() + at, value); }
inline void putLe32(Bytes &out, std::size_t at, uint32_t value) { ::putLe32(out.data() + at, value); }

}
