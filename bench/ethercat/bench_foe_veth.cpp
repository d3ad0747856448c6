// FoE write of an 8 MiB file to the simulated coupler over a veth pair, with mailboxes of 128
// and 1024 bytes: throughput against the limit of a stop-and-wait transfer on the same pair,
// measured in the same run (one mailbox payload per frame round trip), and frames per data
// message.
#include "coupler_ecat/ethercat_coupler_update.h"
#include "ethercat/foe_messages.h"
#include "sim/ethercat_veth_segment.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits.h>
#include <string>
#include <unistd.h>
#include <vector>

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

constexpr int runsPerMailbox = 5;
constexpr int mailboxSizes[] = {128, 1024};
// FoE waits for each data message's acknowledge before it sends the next: a transfer can move at
// most one mailbox payload per round trip. The median run must reach this share of it.
constexpr double limitShareGoal = 0.90;

void fillPattern(std::vector<uint8_t> &firmwareBuffer)
{
    // A pattern that never repeats within the file, so swapped or repeated segments show.
    uint32_t state = 0x9E3779B9u;
    for (int i = 0; i < firmwareBufferSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        firmwareBuffer[i] = uint8_t(state);
    }
}

// The time one frame of `size` data bytes takes round the segment: the floor under every
// exchange of the FoE transfer, measured on the same segment as the transfer.
double roundTripMicroseconds(Ethercat::Master &master, uint16_t size)
{
    constexpr int trips = 2000;
    Ethercat::Bytes data(size, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < trips; ++i)
        master.ec_FPRD(master.ec_slave[1].configadr, 0x4000, size, data.data(), 20000);
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / trips;
}

struct Run {
    bool ok = false;
    double megabytesPerSecond = 0;
    double framesPerMessage = 0;
    double roundTripUs = 0;
    double limitShare = 0;   // of one payload per round trip, the round trip taken just before
};

Run measureOnce(EthercatCouplerUpdate &engine, int mailboxSize)
{
    Run run;
    std::string error;
    const auto segment = SimEthercat::VethSegment::create(
        simulatorProgram(), {"--start-in-boot", "--mailbox", std::to_string(mailboxSize)}, error);
    if (!segment) {
        std::printf("mailbox %4d: %s\n", mailboxSize, error.c_str());
        return run;
    }
    Ethercat::Master &master = engine.master;
    if (!master.ec_init(segment->masterAdapter().c_str()) || master.ec_config_init(false) < 1
        || master.ec_statecheck(1, Ethercat::BOOT, 2000000) != Ethercat::BOOT) {
        std::printf("mailbox %4d: the coupler did not answer\n", mailboxSize);
        return run;
    }
    run.roundTripUs = roundTripMicroseconds(master, uint16_t(mailboxSize));
    const long framesBefore = master.framesSent();
    const auto start = std::chrono::steady_clock::now();
    const int result = engine.foeWriteAbortable(1, "/bench/firmware.bin", foePassword, firmwareBufferSize,
                                                engine.firmwareBuffer.data(), foeTimeoutUs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long frames = master.framesSent() - framesBefore;
    master.ec_close();
    const long maxdata = mailboxSize - long(Ethercat::Foe::mailboxOverhead);
    const long dataMessages = firmwareBufferSize / maxdata + 1;
    const std::string storedFile = segment->storedFile();
    const bool stored = storedFile.size() == std::size_t(firmwareBufferSize)
                        && std::memcmp(storedFile.data(), engine.firmwareBuffer.data(), storedFile.size()) == 0;
    if (result <= 0 || !stored)
        std::printf("mailbox %4d: FAILED, result %d, stored %zu bytes%s; the coupler's log ends:\n%s\n",
                    mailboxSize, result, storedFile.size(),
                    storedFile.size() == std::size_t(firmwareBufferSize) ? ", content differs" : "",
                    lastLines(segment->simulatorLog(), 6).c_str());
    run.ok = result > 0 && stored;
    run.megabytesPerSecond = firmwareBufferSize / seconds / 1e6;
    run.framesPerMessage = double(frames) / double(dataMessages + 1);
    run.limitShare = run.megabytesPerSecond * 1e6 / (double(maxdata) / (run.roundTripUs / 1e6));
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double spreadLow(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

double spreadHigh(const std::vector<double> &values)
{
    return *std::max_element(values.begin(), values.end());
}

bool measure(EthercatCouplerUpdate &engine, int mailboxSize)
{
    std::vector<double> rates, frames, roundTrips, shares;
    bool allOk = true;
    for (int i = 0; i < runsPerMailbox; ++i) {
        const Run run = measureOnce(engine, mailboxSize);
        allOk = allOk && run.ok;
        rates.push_back(run.megabytesPerSecond);
        frames.push_back(run.framesPerMessage);
        roundTrips.push_back(run.roundTripUs);
        shares.push_back(run.limitShare);
    }
    const double maxdata = mailboxSize - double(Ethercat::Foe::mailboxOverhead);
    const double limit = maxdata / median(roundTrips);
    const bool goalMet = median(shares) >= limitShareGoal;
    std::printf("mailbox %4d: %s, median %.2f MB/s (spread %.2f to %.2f) over %d runs of 8 MiB, "
                "stored file compared byte for byte\n"
                "              %.2f frames per data message; frame round trip %.1f us (spread %.1f to %.1f), "
                "so at most %.2f MB/s stop-and-wait\n"
                "              %.2f of that limit (spread %.2f to %.2f; goal %.2f: %s)\n",
                mailboxSize, allOk ? "all written" : "FAILED", median(rates), spreadLow(rates), spreadHigh(rates),
                runsPerMailbox, median(frames), median(roundTrips), spreadLow(roundTrips), spreadHigh(roundTrips),
                limit, median(shares), spreadLow(shares), spreadHigh(shares), limitShareGoal,
                goalMet ? "met" : "NOT MET");
    return allOk && goalMet;
}

}

int main()
{
    if (geteuid() != 0) {
        std::printf("skipped: the veth pair and network namespace need root\n");
        return 0;
    }
    UpdateProgress unshown;
    CancelFlag never;
    EthercatCouplerUpdate engine(Ethercat::defaultLinkOpener(), {unshown, never, FixedWaits().blocking(), standardOutputLog()});
    fillPattern(engine.firmwareBuffer);
    bool allOk = true;
    for (int mailboxSize : mailboxSizes)
        allOk = measure(engine, mailboxSize) && allOk;
    return allOk ? 0 : 1;
}
