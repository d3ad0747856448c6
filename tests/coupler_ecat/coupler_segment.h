#pragma once

#include "ethercat/ethercat_link.h"
#include "sim/ethercat_inprocess_link.h"

#include <memory>

// A link opener that puts a master on a simulated coupler in this process, whatever adapter
// name the code under test opens. Without a coupler the segment is empty: no frame comes back.
inline Ethercat::LinkOpener couplerSegment(SimEthercat::Coupler *coupler)
{
    return [coupler](const std::string &) {
        return std::unique_ptr<Ethercat::Link>(new SimEthercat::InProcessLink(coupler));
    };
}
