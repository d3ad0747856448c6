#include "coupler_ecat/ethercat_coupler_update.h"

#include "firmware/firmware_file_kind.h"

#include <fstream>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
using namespace Ethercat;

constexpr int bootCheckTimeoutUs = 2000000;
constexpr int initTimeoutUs = 8000000;
constexpr int bootTimeoutUs = 8000000;
constexpr int eepromTimeoutUs = 20000;
constexpr int sdoTimeoutUs = 2000000;
constexpr int foeTimeoutUs = 2000000;

std::string programPath()
{
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string("tarnlow");
}

std::string withPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string withPrintf(const char *format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::string adapterFailureText(const char *interfaceName)
{
    std::string text = withPrintf("The network adapter %s could not be opened for raw EtherCAT frames.",
                                  interfaceName);
    if (::geteuid() != 0)
        text += " Raw frames need root, or the raw-socket capabilities for the program, if they are not "
                "granted yet: sudo setcap cap_net_raw,cap_net_admin+eip " + programPath();
    return text;
}

// "PRE-OP", or with the error indication "PRE-OP + ERROR, AL status code 0x0011".
std::string stateWithCode(uint16_t status, uint16_t code)
{
    std::string text = alStateName(status);
    if (status & alErrorIndication)
        text += withPrintf(", AL status code 0x%04X", unsigned(code));
    return text;
}

std::string bootFailureText(uint8_t position, const Slave &slave)
{
    if (slave.alStatusCode == 0)
        return withPrintf("Slave %d did not reach the BOOT state.", position);
    return withPrintf("Slave %d did not reach the BOOT state (it is in %s).", position,
                      stateWithCode(slave.state, slave.alStatusCode).c_str());
}

std::string syncManagerLine(const char *name, const SyncManagerRecord &record)
{
    return withPrintf(" %s A:%4.4x L:%4d F:%8.8x\n", name, record.StartAddr, record.SMlength, record.SMflags);
}
}

std::optional<UpdateResult> refuseFileForAnotherPage(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    uint8_t head[600] = {};
    file.read(reinterpret_cast<char *>(head), sizeof head);
    const size_t got = size_t(file.gcount());
    file.clear();
    file.seekg(0, std::ios::end);
    const auto size = size_t(std::max<std::streamoff>(file.tellg(), 0));
    const FirmwareFileKind kind = firmwareFileKind(head, got, size);
    if (kind == FirmwareFileKind::Binary)
        return std::nullopt;
    UpdateResult refusal = UpdateResult::ended(UpdateResult::Kind::Failed, UpdateResult::Cause::FileForAnotherDevice);
    refusal.detail = "The file " + path
                     + (kind == FirmwareFileKind::EncryptedHex ? " is an encrypted HEX file" : " is Intel HEX text")
                     + ", meant for the Ethernet coupler, module or CANopen page; the EtherCAT coupler takes its "
                       "firmware as a binary file. Nothing was sent.";
    return refusal;
}

DiagnosticLog standardOutputLog()
{
    return [](const std::string &text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
}

EthercatCouplerUpdate::EthercatCouplerUpdate(Ethercat::LinkOpener opener, const UpdateTools &tools)
    : master(std::move(opener)), firmwareBuffer(firmwareBufferSize, firmwareFill), m_tools(tools)
{
}

// From wherever the slave is, through INIT and PRE-OP and the boot request towards BOOT. INIT is
// requested with any error indication acknowledged (a slave with an error pending takes no
// request for a higher state). In INIT the slave gets the standard mailbox, which PRE-OP and the
// boot request need; a slave that needs another one for BOOT says so by refusing BOOT, and
// reachBoot takes it from there.
void EthercatCouplerUpdate::requestBoot(uint8_t slave)
{
    Slave &target = master.ec_slave[slave];
    say(withPrintf("Request init state for slave %d\n", slave));
    master.requestState(slave, INIT | alAcknowledge);
    master.ec_statecheck(slave, INIT, initTimeoutUs);
    say(withPrintf("Slave %d state to INIT.\n", slave));

    m_bootstrapMailbox = master.readSiiMailbox(slave, siiBootstrapReceiveMailbox, eepromTimeoutUs);
    say(syncManagerLine("SM0", target.SM[0]));
    say(syncManagerLine("SM1", target.SM[1]));
    master.setMailbox(slave, master.readSiiMailbox(slave, siiStandardReceiveMailbox, eepromTimeoutUs));

    if (master.ec_statecheck(slave, BOOT, bootCheckTimeoutUs) == BOOT)
        return;
    // The boot request goes over the mailbox, which a slave serves from PRE-OP on.
    master.requestState(slave, PRE_OP);
    master.awaitState(slave, PRE_OP, initTimeoutUs);
    const uint8_t code[4] = {uint8_t(bootRequestCode), uint8_t(bootRequestCode >> 8),
                             uint8_t(bootRequestCode >> 16), uint8_t(bootRequestCode >> 24)};
    master.ec_SDOwrite(slave, bootRequestIndex, bootRequestSubIndex, false, sizeof code, code,
                       sdoTimeoutUs);
    master.requestState(slave, BOOT);
}

// Waits for BOOT. A boot loader that works only with its bootstrap mailbox refuses BOOT on the
// standard one (AL status code 0x0015): it is taken the standard way, back to INIT, the bootstrap
// mailbox set, BOOT requested from INIT. In BOOT every message goes over the mailbox the slave
// really has.
bool EthercatCouplerUpdate::reachBoot(uint8_t slave)
{
    if (master.awaitState(slave, BOOT, bootTimeoutUs) != BOOT
        && (master.ec_slave[slave].alStatusCode != alStatusInvalidBootstrapMailbox || !bootFromInit(slave)))
        return false;
    master.readMailbox(slave);
    return true;
}

bool EthercatCouplerUpdate::bootFromInit(uint8_t slave)
{
    master.requestState(slave, INIT | alAcknowledge);
    if (master.awaitState(slave, INIT, initTimeoutUs) != INIT)
        return false;
    // The bootstrap mailbox as requestBoot read it from the SII: only a BOOT requested there is
    // refused this way. An SII without one leaves the slave in INIT.
    if (!master.setMailbox(slave, m_bootstrapMailbox))
        return false;
    master.requestState(slave, BOOT);
    return master.awaitState(slave, BOOT, bootTimeoutUs) == BOOT;
}

// A slave controller refuses PRE-OP from BOOT: BOOT is left through INIT, with any error
// indication acknowledged, and the standard mailbox goes back where the bootstrap one was set,
// so that the slave accepts PRE-OP. The state it reaches is kept for the report.
void EthercatCouplerUpdate::leaveBoot(uint8_t slave)
{
    Slave &target = master.ec_slave[slave];
    // A slave that no longer answers (a cable pulled) is not waited for.
    const bool answers = master.requestState(slave, INIT | alAcknowledge) > 0;
    if (answers && master.awaitState(slave, INIT, initTimeoutUs) == INIT)
        master.setMailbox(slave, master.readSiiMailbox(slave, siiStandardReceiveMailbox, eepromTimeoutUs));
    say(withPrintf("Request Pre-OP state for slave %d\n", slave));
    m_leftIn = SlaveState{};
    if (master.requestState(slave, PRE_OP) <= 0)
        return;
    master.awaitState(slave, PRE_OP, initTimeoutUs);
    if (target.state != 0)
        m_leftIn = SlaveState{true, target.state, target.alStatusCode};
}

int EthercatCouplerUpdate::writeFile(uint8_t slave, const char *fileName)
{
    if (!readFirmwareFile(fileName, firmwareSize)) {
        say("File not read OK.\n");
        explain(UpdateResult::Cause::FileUnreadable, withPrintf("The firmware file could not be read, is empty or is larger than 8 MiB: %s", fileName));
        return 0;
    }
    say(withPrintf("File read OK, %d bytes.\n", firmwareSize));
    say("FoE write....");
    uint32_t errorCode = 0;
    const int result = foeWriteAbortable(slave, fileName, foePassword, firmwareSize, firmwareBuffer.data(),
                                         foeTimeoutUs, &errorCode);
    say(withPrintf("result %d.\n", result));
    m_foeErrorCode = errorCode;
    if (result <= 0)
        explain(foeFailureCause(result), foeFailureText(result, errorCode));
    return result;
}

// An empty file or one larger than the buffer is refused: sent as it is, the coupler would
// store no firmware or the first 8 MiB of it, and the transfer would still succeed.
int EthercatCouplerUpdate::readFirmwareFile(const char *path, int &size)
{
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return 0;
    const std::size_t stored = std::fread(firmwareBuffer.data(), 1, firmwareBufferSize, file);
    const bool moreThanFits = stored == std::size_t(firmwareBufferSize) && std::fgetc(file) != EOF;
    std::fclose(file);
    if (stored == 0 || moreThanFits)
        return 0;
    const std::size_t padded = (stored + firmwarePageSize - 1) / firmwarePageSize * firmwarePageSize;
    std::memset(firmwareBuffer.data() + stored, firmwareFill, padded - stored);
    size = int(padded);
    return 1;
}

UpdateResult::Cause foeFailureCause(int result)
{
    using Cause = UpdateResult::Cause;
    switch (result) {
    case foeErrorReply: return Cause::TransferRefused;
    case foeFileNotFoundReply: return Cause::TransferNotFound;
    case foeUnexpectedReply: return Cause::TransferUnexpectedReply;
    case foeWrongPacketAcknowledged: return Cause::TransferWrongAcknowledge;
    case foeStillBusy: return Cause::TransferStillBusy;
    case 0: return Cause::TransferTimedOut;
    default: return Cause::TransferBroken;
    }
}

std::string foeFailureText(int result, uint32_t errorCode)
{
    switch (result) {
    case foeErrorReply:
    case foeFileNotFoundReply:
        return withPrintf("The coupler refused the file with FoE error 0x%04X%s.", unsigned(errorCode),
                          result == foeFileNotFoundReply ? " (not found)" : "");
    case foeUnexpectedReply: return "The coupler answered with a mailbox message that is no FoE reply.";
    case foeWrongPacketAcknowledged: return "The coupler acknowledged another packet than the one sent.";
    case foeStillBusy: return "The coupler stayed busy through every resend.";
    case 0: return "The coupler's mailbox did not answer in time.";
    default: return withPrintf("A mailbox message could not be sent or read (result %d).", result);
    }
}

int EthercatCouplerUpdate::updateSlaveFirmware(const char *interfaceName, uint8_t slave, const char *fileName)
{
    int result = 0;
    m_why.clear();
    m_cause = UpdateResult::Cause::None;
    m_foeErrorCode = 0;
    m_writeStoppedByAbort = false;
    m_leftIn.reset();
    m_identity.reset();
    m_bootstrapMailbox = {};
    say("Starting firmware update example\n");
    if (!master.ec_init(interfaceName)) {
        say(withPrintf("No socket connection on %s\nExcecute as root\n", interfaceName));
        explain(UpdateResult::Cause::AdapterNotOpened, adapterFailureText(interfaceName));
        return 0;
    }
    say(withPrintf("ec_init on %s succeeded.\n", interfaceName));
    if (master.ec_config_init(false) > 0 && slave <= master.ec_slavecount) {
        say(withPrintf("%d slaves found and configured.\n", master.ec_slavecount));
        m_identity = Ethercat::readSiiIdentity(master, slave);
        if (master.ec_statecheck(slave, BOOT, bootCheckTimeoutUs) != BOOT)
            requestBoot(slave);
        if (reachBoot(slave)) {
            master.ec_slave[slave].state = BOOT;
            master.ec_writestate(slave);
            say(withPrintf("Slave %d state to BOOT.\n", slave));
            result = writeFile(slave, fileName);
        } else {
            explain(UpdateResult::Cause::BootLoaderNotReached, bootFailureText(slave, master.ec_slave[slave]));
        }
        leaveBoot(slave);
    } else {
        say("No slaves found!\n");
        explain(UpdateResult::Cause::DeviceNotFound,
                withPrintf("No EtherCAT slave %d answered on %s.", slave, interfaceName));
    }
    say("End firmware update example, close socket\n");
    master.ec_close();
    return result;
}

std::string EthercatCouplerUpdate::stateLeftIn() const
{
    if (!m_leftIn)
        return std::string();
    return m_leftIn->known ? stateWithCode(m_leftIn->status, m_leftIn->statusCode) : "unknown";
}

// The file is in the coupler, but a coupler that did not come out of BOOT cleanly does not run it
// yet: the result says so.
UpdateResult EthercatCouplerUpdate::resultOf(int foeResult) const
{
    UpdateResult result;
    result.deviceState = stateLeftIn();
    if (m_writeStoppedByAbort) {
        result.kind = UpdateResult::Kind::Aborted;
        return result;
    }
    if (foeResult > 0) {
        result.kind = UpdateResult::Kind::Written;
        result.leftCleanly = !m_leftIn || (m_leftIn->known && (m_leftIn->status & stateMask) != BOOT
                                           && !(m_leftIn->status & alErrorIndication));
        return result;
    }
    result.cause = m_cause;
    result.deviceErrorCode = m_foeErrorCode;
    result.detail = m_why;
    return result;
}
