#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How an update ended, as facts without a person's words: what happened, why, and what else is
// known of the device. The pages and the command line each turn it into their own texts; nothing
// above the protocol layer passes a bare error number on.
struct UpdateResult {
    enum class Kind {
        Verified,   // written, read back and equal
        Written,    // every part acknowledged; the device offers no read-back
        Failed,
        Aborted,    // the user stopped it
    };
    enum class Cause {
        None,
        FileUnreadable,            // missing, empty, or larger than the device takes
        FileForAnotherDevice,      // a kind of file another page writes
        AdapterNotOpened,
        DeviceNotFound,
        BootLoaderNotReached,
        TransferRefused,           // the boot loader answered with an error code
        TransferNotFound,          // ... with its "file not found" code
        TransferUnexpectedReply,   // an answer that belongs to no step of the transfer
        TransferWrongAcknowledge,  // another part acknowledged than the one sent
        TransferStillBusy,         // busy through every resend
        TransferTimedOut,          // no answer within the time-out
        TransferBroken,            // a message could not be sent or read
        HardwareVersionMismatch,   // the device's register says the file is not for it
        ProductCodeMismatch,
        ReplyMalformed,            // a reply that is not the answer to the request
        SendFailed,                // the system refused to send a request
        FlashDiffers,              // what was read back is not the file
        UserFirmwareNotStarted,    // written and verified, but the new firmware did not start
        ConnectionFailed,          // the device's server could not be reached
    };

    // What a device runs after the run, as far as the engine knows.
    enum class DeviceAfter {
        Unknown,
        Untouched,               // nothing reached its boot loader: it runs what it ran before
        Unanswered,              // asked to enter its boot loader, but it did not answer
        InBootLoader,            // left in its boot loader without the new firmware
        NewFirmware,             // runs the new firmware
        NewFirmwareUnconfirmed,  // written and verified, but it did not confirm that it runs it
    };

    Kind kind = Kind::Failed;
    Cause cause = Cause::None;
    DeviceAfter deviceAfter = DeviceAfter::Unknown;
    // Of a range, each device from the first on.
    std::vector<DeviceAfter> rangeAfter;
    uint32_t deviceErrorCode = 0;   // the boot loader's own code of a refusal
    // What a technician can act on, in the engine's diagnostic words (OS errors, addresses).
    std::string detail;
    // The device's address as the requests were sent to it.
    std::string address;
    // The exchange that failed, in the protocol's own words ("WRITE DATA page:256, ...").
    std::string exchange;
    // A register that did not fit: its address, what it read, or why it could not be read, and
    // what the file's header asks for there.
    int registerAddress = 0;
    uint16_t registerValue = 0;
    std::string registerReadFailure;
    uint32_t fileValue = 0;
    // Registers of a range's devices that could not be read, and why.
    struct UnreadRegister {
        int address;
        int module;
        std::string failure;
    };
    std::vector<UnreadRegister> unreadRegisters;
    // The range a run covered, and the devices of it the cause concerns (those that did not fit,
    // or the one the run ended at).
    int firstModule = 0;
    int lastModule = 0;
    std::vector<int> modules;
    // The server port the connection went to.
    int port = 0;
    // The state the device was left in, where it was read back ("PRE-OP", "unknown"); empty
    // where it was not.
    std::string deviceState;
    // The mode signature the device gave when it was last asked (the CANopen coupler's), where it
    // gave one.
    std::optional<uint32_t> modeSignature;
    // False when the device did not come out of its boot loader as it should after the transfer.
    bool leftCleanly = true;

    static UpdateResult ended(Kind kind, Cause cause = Cause::None)
    {
        UpdateResult result;
        result.kind = kind;
        result.cause = cause;
        return result;
    }
};
