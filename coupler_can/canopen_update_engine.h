#pragma once

#include "core/update_result.h"
#include "core/update_tools.h"

// One CANopen coupler update over expedited SDO, without any widget: boot loader entered, the
// pages written through the page buffer, read back and compared, the verification reported and
// the user firmware started. The page shows what the run reports and the one box it ends in.

#include <cstdint>
#include <functional>
#include <vector>

class CANopenCOMM;

class CanopenUpdateEngine
{
public:
    CanopenUpdateEngine(CANopenCOMM &link, int nodeId, const UpdateTools &tools);

    // The progress maximum of an image: both transfers of every whole page, plus one.
    static int progressMaximum(int imageLength);

    // The whole update of the first `imageLength` bytes of `image` (whole pages are sent, the
    // last one padded with the image's own 0xFF filling); `readBack` (as large as `image`)
    // receives the flash read back.
    // A read that timed out ends the run with the timeout's text as the result's exchange.
    UpdateResult run(const std::vector<uint8_t> &image, int imageLength,
                         std::vector<uint8_t> &readBack);

    // The steps, in the order run() takes them. They let the link's timeout_exception pass.
    bool enterBootMode();
    void writeFirmware(const std::vector<uint8_t> &image, int imageLength);
    void readFlash(std::vector<uint8_t> &readBack, int imageLength);
    static bool compareImage(const std::vector<uint8_t> &image, const std::vector<uint8_t> &readBack,
                             int imageLength);
    void reportVerified();
    bool enterUserMode();
    bool checkBootMode();
    bool checkUserMode();

private:
    UpdateResult runSteps(const std::vector<uint8_t> &image, int imageLength,
                              std::vector<uint8_t> &readBack);
    // Calls `transferPage(byteIndex, address)` for each page until Abort; returns the bytes done.
    int forEachPage(int imageLength, const std::function<void(int, uint32_t)> &transferPage);
    void writeCommand(uint8_t command, uint32_t value);
    void sendUnansweredCommand(uint8_t command);
    uint32_t readModeSignature();

    CANopenCOMM &m_link;
    uint8_t m_nodeId;
    UpdateTools m_tools;
    int progressCounter = 0;
    UpdateResult::DeviceAfter m_deviceAfter = UpdateResult::DeviceAfter::Unknown;
    std::optional<uint32_t> m_modeSignature;
};
