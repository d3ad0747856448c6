// Arbitrary bytes as the content of a read mailbox: every mailbox parser the master and the
// simulated boot loader use.
#include "ethercat/coe_sdo.h"
#include "ethercat/foe_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Ethercat::Bytes mailbox(data, data + size);
    Ethercat::readMailboxHeader(mailbox);
    Ethercat::Foe::decode(mailbox);
    Ethercat::Coe::decodeExpeditedDownload(mailbox);
    Ethercat::Coe::checkDownloadReply(mailbox, 0x5000, 3);
    return 0;
}
