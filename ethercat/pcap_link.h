#pragma once

#include "ethercat/ethercat_link.h"

#include <pcap/pcap.h>

namespace Ethercat {

// Raw EtherCAT frames on one network adapter through libpcap. Only incoming frames of
// EtherType 0x88A4 are captured, so the master never reads its own frames back.
class PcapLink : public Link
{
public:
    ~PcapLink() override;
    static std::unique_ptr<Link> open(const std::string &adapter);

    bool send(const Bytes &frame) override;
    bool receive(Bytes &frame, int timeoutUs) override;

private:
    explicit PcapLink(pcap_t *handle) : m_handle(handle) {}
    pcap_t *m_handle;
};

}
