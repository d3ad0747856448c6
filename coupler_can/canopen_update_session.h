#pragma once

// One CANopen coupler update as the page and the command line both run it: the coupler's serial
// port, opened exclusively by its name ("COM3" or a device path), and the engine on it.
#include "core/update_outcome.h"
#include "core/update_result.h"
#include "core/update_tools.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"

#include <optional>
#include <string>
#include <vector>

class CanopenUpdateSession
{
public:
    // Opens the port at once; it is closed with the session.
    explicit CanopenUpdateSession(const std::string &portName);
    ~CanopenUpdateSession();

    // The box of a port that did not open: an update through it would only end in a "Read
    // timeout" later.
    const std::optional<UpdateOutcome> &openFailure() const { return m_openFailure; }
    CANopenCOMM &connection() { return m_connection; }

    // What node `nodeId` says its product code is (identity object 0x1018 sub 2); nothing when it
    // does not say (no answer, an abort, or a reply for another object).
    std::optional<uint32_t> productCode(int nodeId);

    // The run of node `nodeId` for the first `imageLength` bytes of `image` (see
    // CanopenUpdateEngine::run). Only on a port that opened.
    UpdateResult update(int nodeId, const std::vector<uint8_t> &image, int imageLength,
                        std::vector<uint8_t> &readBack, const UpdateTools &tools);

private:
    USBPassThroughCANopenCOMM m_connection;
    std::optional<UpdateOutcome> m_openFailure;
};
