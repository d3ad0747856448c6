#include "coupler_eth/coupler_boot_protocol.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace CouplerBoot {

namespace {

Bytes header(CouplerBootCommand command, uint16_t listenPort)
{
    Bytes request(kHeaderBytes);
    std::memcpy(request.data(), kSignature, kSignatureBytes);
    request[kCommandOffset] = static_cast<uint8_t>(command);
    qToBigEndian<quint16>(listenPort, request.data() + kListenPortOffset);
    return request;
}

Bytes withPageNumber(CouplerBootCommand command, uint16_t listenPort, uint16_t pageNumber)
{
    Bytes request = header(command, listenPort);
    request.resize(kPageDataOffset);
    qToBigEndian<quint16>(pageNumber, request.data() + kPageNumberOffset);
    return request;
}

bool hasSignature(const uint8_t *reply, int length)
{
    return length >= kSignatureBytes && std::memcmp(reply, kSignature, kSignatureBytes) == 0;
}

std::string failureText(const std::string &opening, const uint8_t *reply, int length)
{
    return opening + ", bytes_received:" + std::to_string(length) + ", data:" + byteDump(reply, length);
}

}

const char *commandName(CouplerBootCommand command)
{
    switch (command) {
    case CouplerBootCommand::ConfirmBootMode: return "CONFIRM BOOT MODE";
    case CouplerBootCommand::ReadData: return "READ DATA";
    case CouplerBootCommand::WriteData: return "WRITE DATA";
    case CouplerBootCommand::RunUserMode: return "RUN USER MODE";
    case CouplerBootCommand::WriteChecksumStep2: return "WRITE CHECKSUM Step 2";
    case CouplerBootCommand::WriteChecksumStep1: return "WRITE CHECKSUM Step 1";
    case CouplerBootCommand::EnterBootMode: return "ENTER BOOT MODE";
    }
    return "";
}

int requestLength(CouplerBootCommand command)
{
    switch (command) {
    case CouplerBootCommand::ReadData: return kPageDataOffset;
    case CouplerBootCommand::WriteData: return kPageDataOffset + kPageBytes;
    case CouplerBootCommand::WriteChecksumStep2: return kHeaderBytes + int(sizeof(Checksum));
    default: return kHeaderBytes;
    }
}

Bytes encodeRequest(CouplerBootCommand command, uint16_t listenPort)
{
    return header(command, listenPort);
}

Bytes encodeReadRequest(uint16_t listenPort, uint16_t pageNumber)
{
    return withPageNumber(CouplerBootCommand::ReadData, listenPort, pageNumber);
}

Bytes encodeWriteRequest(uint16_t listenPort, uint16_t pageNumber, const uint8_t *pageData)
{
    Bytes request = withPageNumber(CouplerBootCommand::WriteData, listenPort, pageNumber);
    request.insert(request.end(), pageData, pageData + kPageBytes);
    return request;
}

Bytes encodeChecksumStep2(uint16_t listenPort, const Checksum &checksum)
{
    Bytes request = header(CouplerBootCommand::WriteChecksumStep2, listenPort);
    request.insert(request.end(), checksum.begin(), checksum.end());
    return request;
}

std::optional<bool> parseConfirmReply(const uint8_t *reply, int length)
{
    if (length != kConfirmReplyBytes || !hasSignature(reply, length))
        return std::nullopt;
    const uint8_t flag = reply[kBootModeFlagOffset];
    if (flag > 1)
        return std::nullopt;
    return flag == 1;
}

bool isPageReply(CouplerBootCommand command, uint16_t pageNumber, const uint8_t *reply, int length)
{
    const int wanted = command == CouplerBootCommand::ReadData ? kReadReplyBytes : kEchoReplyBytes;
    return length == wanted && hasSignature(reply, length)
        && reply[kCommandOffset] == static_cast<uint8_t>(command)
        && qFromBigEndian<quint16>(reply + kPageNumberOffset) == pageNumber;
}

std::optional<Checksum> parseChecksumStep1Reply(const uint8_t *reply, int length)
{
    if (length != kEchoReplyBytes)
        return std::nullopt;
    Checksum checksum;
    std::copy_n(reply + kChecksumReplyOffset, checksum.size(), checksum.begin());
    return checksum;
}

bool isChecksumStep2Reply(const Checksum &sent, const uint8_t *reply, int length)
{
    return length == kEchoReplyBytes
        && std::equal(sent.begin(), sent.end(), reply + kChecksumReplyOffset);
}

std::string byteDump(const uint8_t *reply, int length)
{
    std::string dump;
    for (int i = 0; i < length; ++i) {
        dump += "[i]=";
        dump += static_cast<char>(reply[i]);
    }
    return dump;
}

std::string pageFailureText(CouplerBootCommand command, uint16_t pageNumber, const uint8_t *reply,
                            int length)
{
    return failureText(std::string(commandName(command)) + " page:" + std::to_string(pageNumber),
                       reply, length);
}

std::string checksumFailureText(CouplerBootCommand step, const uint8_t *reply, int length)
{
    return failureText(commandName(step), reply, length);
}

std::string hexDump(const uint8_t *reply, int length)
{
    if (length < 0)
        return "no reply";
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < length; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[reply[i] >> 4];
        text += digits[reply[i] & 0x0F];
    }
    return text;
}

int pageCount(int imageLength)
{
    return (std::max(imageLength, 0) + kPageBytes - 1) / kPageBytes;
}

int paddedLength(int imageLength)
{
    return pageCount(imageLength) * kPageBytes;
}

uint16_t pageNumberAt(int imageOffset)
{
    return static_cast<uint16_t>(kFirstPageNumber + imageOffset / kPageBytes);
}

}
