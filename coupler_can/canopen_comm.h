#pragma once

#include <cstdint>

// Expedited SDO transfers of four data bytes to and from one coupler. A request and the wait for
// its reply are separate calls, so a caller can send a command whose reply it does not read.
// The read calls throw a new timeout_exception when the reply does not arrive.
class CANopenCOMM
{
public:
    virtual ~CANopenCOMM() = default;

    virtual bool sendDownloadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex,
                                     const uint32_t *value) = 0;
    virtual bool readDownloadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) = 0;
    virtual bool sendUploadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex) = 0;
    virtual bool readUploadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) = 0;
    // Waits for the one 4-byte frame the coupler sends once its user firmware runs.
    virtual void receiveGuard() = 0;
};
