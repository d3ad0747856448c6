#pragma once

#include "ethercat/mailbox_header.h"

// CoE expedited SDO download: up to four bytes written to one object-dictionary entry in one
// request, answered by a download response or an abort.
namespace Ethercat::Coe {

constexpr uint16_t serviceSdoRequest = 2;
constexpr uint16_t serviceSdoResponse = 3;
constexpr uint8_t commandDownloadExpedited = 0x23;  // ccs 1, expedited, size indicated; n in bits 2-3
constexpr uint8_t commandDownloadResponse = 0x60;
constexpr uint8_t commandAbort = 0x80;
constexpr std::size_t sdoMessageSize = mailboxHeaderSize + 10;

struct SdoDownload {
    uint16_t index = 0;
    uint8_t subIndex = 0;
    Bytes value;  // 1 to 4 bytes
};

Bytes encodeExpeditedDownload(const SdoDownload &request, uint8_t counter);
std::optional<SdoDownload> decodeExpeditedDownload(const Bytes &message);

enum class Reply { Confirmed, Aborted, Unexpected };
struct DownloadReply {
    Reply kind = Reply::Unexpected;
    uint32_t abortCode = 0;
};
DownloadReply checkDownloadReply(const Bytes &message, uint16_t index, uint8_t subIndex);

Bytes encodeDownloadResponse(uint16_t index, uint8_t subIndex, uint8_t counter);
Bytes encodeAbort(uint16_t index, uint8_t subIndex, uint32_t code, uint8_t counter);

}
