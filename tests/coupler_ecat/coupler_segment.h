#pragma once

#include "ethercat/ethercat_master.h"
#include "sim/ethercat_inprocess_link.h"

#include <memory>

// Points the default master at a simulated coupler in this process for the lifetime of the
// object (whatever adapter name the code under test opens). Without a coupler the segment is
// empty: no frame comes back.
class CouplerSegment
{
public:
    explicit CouplerSegment(SimEthercat::Coupler *coupler)
    {
        Ethercat::Master::setLinkOpener([coupler](const std::string &) {
            return std::unique_ptr<Ethercat::Link>(new SimEthercat::InProcessLink(coupler));
        });
    }
    ~CouplerSegment() { Ethercat::Master::restoreDefaultLinkOpener(); }
};
