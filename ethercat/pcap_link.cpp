#include "ethercat/pcap_link.h"

#include "core/deadline.h"

#include <cstdio>
#include <poll.h>

namespace Ethercat {

namespace {
constexpr int snapshotLength = 2048;
constexpr char incomingEthercatFilter[] = "ether proto 0x88a4";

bool fail(pcap_t *handle, const std::string &adapter, const char *what)
{
    std::fprintf(stderr, "%s on %s: %s\n", what, adapter.c_str(), pcap_geterr(handle));
    pcap_close(handle);
    return false;
}

bool activate(pcap_t *handle, const std::string &adapter)
{
    pcap_set_snaplen(handle, snapshotLength);
    pcap_set_promisc(handle, 1);
    pcap_set_immediate_mode(handle, 1);
    if (pcap_activate(handle) < 0)
        return fail(handle, adapter, "pcap_activate");
    bpf_program filter;
    if (pcap_compile(handle, &filter, incomingEthercatFilter, 1, PCAP_NETMASK_UNKNOWN) < 0)
        return fail(handle, adapter, "pcap_compile");
    const int set = pcap_setfilter(handle, &filter);
    pcap_freecode(&filter);
    if (set < 0)
        return fail(handle, adapter, "pcap_setfilter");
    if (pcap_setdirection(handle, PCAP_D_IN) < 0)
        return fail(handle, adapter, "pcap_setdirection");
    char error[PCAP_ERRBUF_SIZE];
    if (pcap_setnonblock(handle, 1, error) < 0) {
        std::fprintf(stderr, "pcap_setnonblock on %s: %s\n", adapter.c_str(), error);
        pcap_close(handle);
        return false;
    }
    return true;
}
}

std::unique_ptr<Link> PcapLink::open(const std::string &adapter)
{
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t *handle = pcap_create(adapter.c_str(), error);
    if (!handle) {
        std::fprintf(stderr, "pcap_create on %s: %s\n", adapter.c_str(), error);
        return nullptr;
    }
    if (!activate(handle, adapter))
        return nullptr;
    return std::unique_ptr<Link>(new PcapLink(handle));
}

LinkOpener defaultLinkOpener()
{
    return PcapLink::open;
}

PcapLink::~PcapLink()
{
    pcap_close(m_handle);
}

bool PcapLink::send(const Bytes &frame)
{
    ++framesSent;
    return pcap_inject(m_handle, frame.data(), frame.size()) == int(frame.size());
}

bool PcapLink::receive(Bytes &frame, int timeoutUs)
{
    const Deadline deadline = Deadline::afterMicroseconds(timeoutUs);
    const int fd = pcap_get_selectable_fd(m_handle);
    for (;;) {
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int got = pcap_next_ex(m_handle, &header, &data);
        if (got < 0)
            return false;
        if (got == 1) {
            frame.assign(data, data + header->caplen);
            return true;
        }
        if (deadline.passed())
            return false;
        pollfd readable{fd, POLLIN, 0};
        poll(&readable, 1, deadline.remainingMillisecondsRoundedUp());
    }
}

}
