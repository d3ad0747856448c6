#include "coupler_ecat/ethercat_coupler_update.h"

#include "ethercat/foe_messages.h"

#include <cstring>

namespace {
constexpr int mailboxSendTimeoutUs = 20000;

using namespace Ethercat;

// What one reply means for the transfer: go on with the next data message, send the last
// message again, or stop with this result.
enum class Next { SendData, Resend, Stop };

Next judge(const Bytes &reply, uint32_t dataMessagesSent, int &result, uint32_t *errorCode)
{
    const auto foe = Foe::decode(reply);
    if (!foe) {
        result = foeUnexpectedReply;
        return Next::Stop;
    }
    switch (foe->opCode) {
    case Foe::Error:
        result = foe->word == Foe::errorNotFound ? foeFileNotFoundReply : foeErrorReply;
        if (errorCode)
            *errorCode = foe->word;
        return Next::Stop;
    case Foe::Busy:
        return Next::Resend;
    case Foe::Ack:
        if (foe->word == dataMessagesSent)
            return Next::SendData;
        result = foeWrongPacketAcknowledged;
        return Next::Stop;
    default:
        result = foeUnexpectedReply;
        return Next::Stop;
    }
}
}

int EthercatCouplerUpdate::foeWriteAbortable(uint16_t slave, const char *fileName, uint32_t password, int size,
                                             const uint8_t *data, int timeoutUs, uint32_t *errorCode)
{
    m_writeStoppedByAbort = false;
    Slave &target = master.ec_slave[slave];
    Bytes incoming(target.mbx_rl, 0);
    master.ec_clearmbx(incoming);
    master.ec_mbxreceive(slave, incoming, 0);
    if (target.mbx_l <= Foe::mailboxOverhead)
        return 0;
    const std::size_t maxdata = target.mbx_l - Foe::mailboxOverhead;
    const std::string name(fileName, std::min(std::strlen(fileName), maxdata));

    target.mbx_cnt = master.ec_nextmbxcnt(target.mbx_cnt);
    Bytes last = Foe::writeRequest(name, password, target.mbx_cnt);
    MailboxExchange exchanged = master.mailboxExchange(slave, last, incoming, mailboxSendTimeoutUs, timeoutUs);
    if (exchanged.sent <= 0)
        return exchanged.sent;

    const std::size_t total = std::size_t(std::max(size, 0));
    m_tools.progress.setMaximum(int(total));
    std::size_t remaining = total;
    uint32_t dataMessagesSent = 0;
    bool closingMessageOwed = false;
    int busyAnswers = 0;
    for (;;) {
        if (exchanged.received <= 0)
            return exchanged.received;
        int stop = 0;
        const Next next = judge(incoming, dataMessagesSent, stop, errorCode);
        if (next == Next::Stop)
            return stop;
        if (next == Next::Resend) {
            if (++busyAnswers > foeBusyResendLimit)
                return foeStillBusy;
            m_tools.wait(foeBusyPauseMs);
        } else {
            busyAnswers = 0;
            m_tools.progress.setValue(int(total - remaining));
            const std::size_t segment = std::min(remaining, maxdata);
            if (segment == 0 && !closingMessageOwed)
                return exchanged.received;
            closingMessageOwed = false;
            remaining -= segment;
            if (remaining == 0 && segment == maxdata)
                closingMessageOwed = true;
            last = Foe::dataMessage(++dataMessagesSent, data, segment, 0);
            data += segment;
        }
        target.mbx_cnt = master.ec_nextmbxcnt(target.mbx_cnt);
        setMailboxCounter(last, target.mbx_cnt);
        master.ec_clearmbx(incoming);
        exchanged = master.mailboxExchange(slave, last, incoming, mailboxSendTimeoutUs, timeoutUs);
        if (exchanged.sent <= 0)
            return exchanged.sent;
        if (m_tools.cancel.requested()) {
            // The positive count of a write stopped here is no success.
            m_writeStoppedByAbort = true;
            return exchanged.sent;
        }
    }
}
