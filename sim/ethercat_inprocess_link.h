#pragma once

#include "ethercat/ethercat_link.h"
#include "sim/ethercat_coupler.h"

#include <deque>

namespace SimEthercat {

// A segment inside the process: every frame the master sends passes the simulated coupler at
// once and comes back on the next receive. Without a coupler no frame ever comes back, as on a
// cable with nothing at its end.
class InProcessLink : public Ethercat::Link
{
public:
    explicit InProcessLink(Coupler *coupler) : m_coupler(coupler) {}

    bool send(const Bytes &frame) override
    {
        ++framesSent;
        if (m_coupler)
            if (auto answered = m_coupler->answer(frame))
                m_pending.push_back(std::move(*answered));
        return true;
    }

    bool receive(Bytes &frame, int) override
    {
        if (m_pending.empty())
            return false;
        frame = std::move(m_pending.front());
        m_pending.pop_front();
        return true;
    }

private:
    Coupler *m_coupler;
    std::deque<Bytes> m_pending;
};

}
