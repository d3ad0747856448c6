#pragma once

#include "core/update_result.h"

// One CANopen coupler update over expedited SDO, without any widget: boot loader entered, the
// pages written through the page buffer, read back and compared, the verification reported and
// the user firmware started. The page shows what the run reports and the one box it ends in.

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class CANopenCOMM;

// What the engine shows while it runs, and where it learns of Abort.
class CanopenUpdateObserver
{
public:
    virtual ~CanopenUpdateObserver() = default;
    virtual void setLabelText(const QString &text) = 0;
    virtual void setRange(int minimum, int maximum) = 0;
    // Also the moment a window-modal dialog processes events, and so notices Abort.
    virtual void setValue(int value) = 0;
    virtual bool wasCanceled() = 0;
    // Timing and mode lines for the debug log.
    virtual void debugLine(const QString &line) = 0;
};

class CanopenUpdateEngine
{
public:
    // Blocks for the given milliseconds; the page passes FixedWait::blocking.
    using Wait = std::function<void(int milliseconds)>;

    CanopenUpdateEngine(CANopenCOMM &link, int nodeId, CanopenUpdateObserver &observer, Wait wait);

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
    CanopenUpdateObserver &m_observer;
    Wait m_wait;
    int progressCounter = 0;
};
