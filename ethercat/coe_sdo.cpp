#include "ethercat/coe_sdo.h"

namespace Ethercat::Coe {

namespace {
constexpr uint8_t commandSpecifierMask = 0xE0;
constexpr uint8_t expeditedFlags = 0x03;  // expedited and size indicated

Bytes sdoMessage(uint16_t service, uint8_t command, uint16_t index, uint8_t subIndex,
                 uint8_t counter)
{
    Bytes message(sdoMessageSize, 0);
    putMailboxHeader(message, {uint16_t(sdoMessageSize - mailboxHeaderSize), 0, 0, mailboxTypeCoe,
                               counter});
    putLe16(message, 6, uint16_t(service << 12));
    message[8] = command;
    putLe16(message, 9, index);
    message[11] = subIndex;
    return message;
}

bool isCoeSdo(const Bytes &message, uint16_t service)
{
    const auto header = readMailboxHeader(message);
    return header && header->type == mailboxTypeCoe && header->length >= 10
        && (le16(message.data() + 6) >> 12) == service;
}
}

Bytes encodeExpeditedDownload(const SdoDownload &request, uint8_t counter)
{
    const std::size_t size = request.value.size() < 1 ? 1 : (request.value.size() > 4 ? 4 : request.value.size());
    Bytes message = sdoMessage(serviceSdoRequest,
                               uint8_t(commandDownloadExpedited | ((4 - size) << 2)),
                               request.index, request.subIndex, counter);
    for (std::size_t i = 0; i < size && i < request.value.size(); ++i)
        message[12 + i] = request.value[i];
    return message;
}

std::optional<SdoDownload> decodeExpeditedDownload(const Bytes &message)
{
    if (!isCoeSdo(message, serviceSdoRequest))
        return std::nullopt;
    const uint8_t command = message[8];
    if ((command & commandSpecifierMask) != (commandDownloadExpedited & commandSpecifierMask)
        || (command & expeditedFlags) != expeditedFlags)
        return std::nullopt;
    SdoDownload request;
    request.index = le16(message.data() + 9);
    request.subIndex = message[11];
    request.value.assign(message.begin() + 12, message.begin() + 16 - ((command >> 2) & 0x03));
    return request;
}

DownloadReply checkDownloadReply(const Bytes &message, uint16_t index, uint8_t subIndex)
{
    if (!isCoeSdo(message, serviceSdoResponse) && !isCoeSdo(message, serviceSdoRequest))
        return {};
    if (le16(message.data() + 9) != index || message[11] != subIndex)
        return {};
    if (message[8] == commandAbort)
        return {Reply::Aborted, le32(message.data() + 12)};
    if ((message[8] & commandSpecifierMask) == commandDownloadResponse)
        return {Reply::Confirmed, 0};
    return {};
}

Bytes encodeDownloadResponse(uint16_t index, uint8_t subIndex, uint8_t counter)
{
    return sdoMessage(serviceSdoResponse, commandDownloadResponse, index, subIndex, counter);
}

Bytes encodeAbort(uint16_t index, uint8_t subIndex, uint32_t code, uint8_t counter)
{
    Bytes message = sdoMessage(serviceSdoRequest, commandAbort, index, subIndex, counter);
    putLe32(message, 12, code);
    return message;
}

}
