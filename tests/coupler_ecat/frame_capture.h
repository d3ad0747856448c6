#pragma once

// Writes every frame that passes an adapter, both ways, into a pcap file while it lives, so an
// independent dissector can check what went over the wire.
#include <pcap/pcap.h>

#include <atomic>
#include <string>
#include <thread>

class FrameCapture
{
public:
    FrameCapture(const std::string &adapter, const std::string &file)
    {
        char error[PCAP_ERRBUF_SIZE] = "";
        m_handle = pcap_create(adapter.c_str(), error);
        if (!m_handle)
            return;
        pcap_set_immediate_mode(m_handle, 1);
        pcap_set_snaplen(m_handle, 2048);
        if (pcap_activate(m_handle) < 0 || pcap_setnonblock(m_handle, 1, error) < 0)
            return;
        m_dumper = pcap_dump_open(m_handle, file.c_str());
        if (m_dumper)
            m_thread = std::thread([this] { record(); });
    }

    ~FrameCapture()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_dumper)
            pcap_dump_close(m_dumper);
        if (m_handle)
            pcap_close(m_handle);
    }

    bool recording() const { return m_dumper != nullptr; }

private:
    void record()
    {
        // Whatever is still queued when the capture is stopped is written too.
        for (bool last = false; !last;) {
            last = m_stop;
            while (pcap_dispatch(m_handle, -1, pcap_dump, reinterpret_cast<u_char *>(m_dumper)) > 0) {
            }
            if (!last)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pcap_dump_flush(m_dumper);
    }

    pcap_t *m_handle = nullptr;
    pcap_dumper_t *m_dumper = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
