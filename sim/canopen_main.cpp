// tarnlow-sim-canopen: a simulated CANopen coupler on a pseudo-terminal, for trying the
// CANopen page by hand. Runs until it is stopped (SIGINT or SIGTERM).
#include "sim/canopen_pty_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: tarnlow-sim-canopen --link PATH [--node N] [--boot] [--split]\n"
                 "         [--delay-us N] [--silent-from N] [--abort-from N] [--truncate N]\n"
                 "         [--answer-boot-request] [--flip-bit ADDRESS] [--no-guard]\n"
                 "         [--user-aborts-signature]\n");
}

struct Options {
    std::string link;
    int node = 1;
    bool boot = false;
    CanopenSimulatedCoupler::Faults faults;
    CanopenPtyServer::Timing timing;
};

bool parse(int argc, char **argv, Options &o)
{
    CanopenSimulatedCoupler::Faults &faults = o.faults;
    CanopenPtyServer::Timing &timing = o.timing;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--link" && hasValue)
            o.link = argv[++i];
        else if (option == "--node" && hasValue)
            o.node = std::atoi(argv[++i]);
        else if (option == "--boot")
            o.boot = true;
        else if (option == "--split")
            timing.splitReplies = true;
        else if (option == "--delay-us" && hasValue)
            timing.replyDelayUs = std::atoi(argv[++i]);
        else if (option == "--silent-from" && hasValue)
            faults.silentFromRequest = std::atoi(argv[++i]);
        else if (option == "--abort-from" && hasValue)
            faults.abortFromRequest = std::atoi(argv[++i]);
        else if (option == "--truncate" && hasValue)
            faults.truncateRepliesTo = static_cast<size_t>(std::atoi(argv[++i]));
        else if (option == "--answer-boot-request")
            faults.answerBootRequest = true;
        else if (option == "--flip-bit" && hasValue) {
            faults.flipBitAddress = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
            faults.flipBitMask = 0x01;
        } else if (option == "--no-guard")
            faults.noGuardFrame = true;
        else if (option == "--user-aborts-signature")
            faults.userAbortsSignature = true;
        else {
            return false;
        }
    }
    return !o.link.empty() && o.node >= 1 && o.node <= 127;
}

}

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    const int node = options.node;
    const std::string &link = options.link;
    CanopenPtyServer server(static_cast<uint8_t>(node), options.boot);
    server.withCoupler([&](CanopenSimulatedCoupler &coupler) { coupler.faults = options.faults; });
    server.setTiming(options.timing);
    if (!server.start(link)) {
        std::fprintf(stderr, "tarnlow-sim-canopen: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("tarnlow-sim-canopen: node %d on %s (linked as %s)\n", node,
                server.devicePath().c_str(), link.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    while (!stopRequested)
        ::pause();
    server.stop();
    return 0;
}
