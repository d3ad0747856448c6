#pragma once

// The firmware files of a run, each loaded once however many devices take it: a fleet of
// couplers shares one image, read only, across all its jobs' threads.
#include "cli/device_job.h"
#include "firmware/hex_image.h"

#include <QString>

#include <future>
#include <map>
#include <memory>
#include <mutex>

struct LoadedHex {
    std::shared_ptr<const HexImage> hex;   // null when the file did not load
    HexLoadResult result;
    QString imageSha256;                   // of the image bytes that go to the device
};

class FirmwareFiles
{
public:
    // `job`'s file as its kind's page loads it: loaded by the first caller, from any thread; the
    // others wait for that load and share its image.
    LoadedHex hexFor(const DeviceJob &job);

private:
    std::mutex m_mutex;
    std::map<QString, std::shared_future<LoadedHex>> m_loads;   // by kind and path
};
