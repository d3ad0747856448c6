// FoE write of an 8 MiB file to the simulated coupler over a veth pair, with mailboxes of 128
// and 1024 bytes: throughput and frames per data message.
#include "coupler_ecat/foe_write_abortable.h"
#include "coupler_ecat/slave_firmware_update.h"
#include "ethercat/ethercat_master.h"
#include "ethercat/foe_messages.h"
#include "sim/ethercat_veth_segment.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int foeTimeoutUs = 2000000;

std::string simulatorProgram()
{
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? std::size_t(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin/tarnlow-sim-ethercat";
}

std::string lastLines(const std::string &text, int count)
{
    std::size_t at = text.size();
    for (int found = 0; at > 0 && found <= count; --at)
        if (text[at - 1] == '\n')
            ++found;
    return text.substr(at);
}

bool measure(int mailboxSize)
{
    std::string error;
    const auto segment = SimEthercat::VethSegment::create(
        simulatorProgram(), {"--start-in-boot", "--mailbox", std::to_string(mailboxSize)}, error);
    if (!segment) {
        std::printf("mailbox %4d: %s\n", mailboxSize, error.c_str());
        return false;
    }
    Ethercat::Master &master = Ethercat::defaultMaster();
    if (!master.ec_init(segment->masterAdapter().c_str()) || master.ec_config_init(false) < 1
        || master.ec_statecheck(1, Ethercat::BOOT, 2000000) != Ethercat::BOOT) {
        std::printf("mailbox %4d: the coupler did not answer\n", mailboxSize);
        return false;
    }
    // A pattern that never repeats within the file, so swapped or repeated segments show.
    uint32_t state = 0x9E3779B9u;
    for (int i = 0; i < firmwareBufferSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        firmwareBuffer[i] = uint8_t(state);
    }
    const long framesBefore = master.framesSent();
    const auto start = std::chrono::steady_clock::now();
    const int result = foeWriteAbortable(1, "/bench/firmware.bin", foePassword, firmwareBufferSize,
                                         firmwareBuffer, foeTimeoutUs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long frames = master.framesSent() - framesBefore;
    master.ec_close();
    const long maxdata = mailboxSize - long(Ethercat::Foe::mailboxOverhead);
    const long dataMessages = firmwareBufferSize / maxdata + 1;
    const std::string storedFile = segment->storedFile();
    const bool stored = storedFile.size() == std::size_t(firmwareBufferSize)
                        && std::memcmp(storedFile.data(), firmwareBuffer, storedFile.size()) == 0;
    if (!stored)
        std::printf("mailbox %4d: result %d, stored %zu bytes%s; the coupler's log ends:\n%s\n", mailboxSize, result,
                    storedFile.size(),
                    storedFile.size() == std::size_t(firmwareBufferSize) ? ", content differs" : "",
                    lastLines(segment->simulatorLog(), 6).c_str());
    std::printf("mailbox %4d: %s, %.2f MB/s (%.1f s), %ld data messages, %.2f frames per data message\n",
                mailboxSize, result > 0 && stored ? "8 MiB written" : "FAILED",
                firmwareBufferSize / seconds / 1e6, seconds, dataMessages,
                double(frames) / double(dataMessages + 1));
    return result > 0 && stored;
}

}

int main()
{
    if (geteuid() != 0) {
        std::printf("skipped: the veth pair and network namespace need root\n");
        return 0;
    }
    const bool small = measure(128);
    const bool large = measure(1024);
    return small && large ? 0 : 1;
}
