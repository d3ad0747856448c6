#pragma once

#include "core/update_result.h"
#include "core/update_tools.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/sii_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The firmware file as it goes to the coupler: at most 8 MiB, filled up with 0xFF to a whole
// number of 256-byte pages.
constexpr int firmwareBufferSize = 8 * 1024 * 1024;
constexpr int firmwarePageSize = 256;
constexpr uint8_t firmwareFill = 0xFF;

constexpr uint32_t foePassword = 0x6B2F1D94;
constexpr uint16_t bootRequestIndex = 0x5000;
constexpr uint8_t bootRequestSubIndex = 3;
constexpr uint32_t bootRequestCode = 0x4E7A2C15;

// Results of foeWriteAbortable besides the positive working counter of success and the 0 or
// negative value of a failed mailbox send or receive.
constexpr int foeUnexpectedReply = -3;
constexpr int foeErrorReply = -5;
constexpr int foeWrongPacketAcknowledged = -7;
constexpr int foeFileNotFoundReply = -10;
// The boot loader stayed busy through every resend of the same message.
constexpr int foeStillBusy = -11;

// The boot loader answers "busy" while it cannot take the message yet (for example while it
// erases flash): the same message goes again after a pause, a bounded number of times.
constexpr int foeBusyPauseMs = 20;
constexpr int foeBusyResendLimit = 100;

// One EtherCAT coupler update, without any widget: its own master and firmware buffer, so one
// object runs one update at a time and nothing is shared with anything else. The FoE write
// counts its bytes on the tools' progress and asks their cancel token after every data
// message; their wait is the pause before a message the boot loader was busy for goes again.
class EthercatCouplerUpdate
{
public:
    EthercatCouplerUpdate(Ethercat::LinkOpener opener, const UpdateTools &tools);

    // Opens the adapter, brings the slave at `slave` into BOOT, writes the file by FoE, takes the
    // slave out of BOOT through INIT, asks for PRE-OP and closes the adapter. Returns the FoE
    // result: greater than 0 is success; after a failure failureReason() says what a technician
    // can act on.
    int updateSlaveFirmware(const char *interfaceName, uint8_t slave, const char *fileName);
    const std::string &failureReason() const { return m_why; }
    // What the slave's SII says it is, read once the segment was configured; nothing when no
    // slave was found.
    const std::optional<Ethercat::SiiIdentity> &slaveIdentity() const { return m_identity; }
    // The AL state the slave was left in ("PRE-OP", "BOOT + ERROR, AL status code 0x0011",
    // "unknown" when it no longer answered); empty when no slave was found.
    std::string stateLeftIn() const;
    // How the run that updateSlaveFirmware ended with `foeResult` went: written, failed with its
    // cause, or aborted when Abort stopped the FoE write (its positive count is no success).
    UpdateResult resultOf(int foeResult) const;

    // Reads the file into firmwareBuffer; 1 on success, 0 when it cannot be opened, is empty or
    // is larger than the buffer.
    int readFirmwareFile(const char *path, int &size);

    // Writes `size` bytes from `data` under `fileName` to the slave's boot loader by FoE. Returns
    // the last working counter (> 0) on success. The error code of an FoE error reply goes to
    // `errorCode` when given.
    int foeWriteAbortable(uint16_t slave, const char *fileName, uint32_t password, int size,
                          const uint8_t *data, int timeoutUs, uint32_t *errorCode = nullptr);

    Ethercat::Master master;
    std::vector<uint8_t> firmwareBuffer;
    int firmwareSize = 0;

private:
    // The AL state the slave was left in, unless it could not be read.
    struct SlaveState {
        bool known = false;
        uint16_t status = 0;
        uint16_t statusCode = 0;
    };

    void requestBoot(uint8_t slave);
    bool reachBoot(uint8_t slave);
    bool bootFromInit(uint8_t slave);
    void leaveBoot(uint8_t slave);
    int writeFile(uint8_t slave, const char *fileName);
    void explain(UpdateResult::Cause cause, const std::string &text)
    {
        m_cause = cause;
        m_why = text;
    }
    void say(const std::string &text) const { m_tools.logLine(text); }

    UpdateTools m_tools;
    UpdateResult::Cause m_cause = UpdateResult::Cause::None;
    uint32_t m_foeErrorCode = 0;
    bool m_writeStoppedByAbort = false;
    std::string m_why;
    Ethercat::MailboxArea m_bootstrapMailbox;
    std::optional<SlaveState> m_leftIn;
    std::optional<Ethercat::SiiIdentity> m_identity;
};

// The refusal of a file meant for another page (an encrypted HEX file, or Intel HEX text) before
// the coupler is touched; nothing for any other file, or one that cannot be read (the update
// says so itself).
std::optional<UpdateResult> refuseFileForAnotherPage(const std::string &path);

// The page's diagnostic lines: on standard output as they come.
DiagnosticLog standardOutputLog();

// The cause of a failed FoE write, from its result and the error code of an FoE error reply,
// as a result's cause and in the technician's words.
UpdateResult::Cause foeFailureCause(int result);
std::string foeFailureText(int result, uint32_t errorCode);
