// tarnlow-sim-ethercat: the simulated EtherCAT coupler on a raw network adapter. Every EtherCAT
// frame that arrives on the adapter passes the coupler and goes back out, as from the last slave
// of a segment, unless the coupler destroys it; the program writes one line per event to
// standard output and stores each file its boot loader receives.
#include "ethercat/pcap_link.h"
#include "sim/ethercat_coupler.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

struct Options {
    std::string adapter;
    std::string storePath;
    int mailboxSize = SimEthercat::defaultMailboxSize;
    bool startInBoot = false;
    SimEthercat::BootMailbox bootMailbox = SimEthercat::BootMailbox::Bootstrap;
    int replyDelayUs = 0;
    SimEthercat::Faults faults;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: tarnlow-sim-ethercat --interface NAME [--store FILE] [--mailbox BYTES]\n"
                 "  [--start-in-boot] [--boot-keeps-standard-mailbox] [--never-boot] [--boot-delay-ms N]\n"
                 "  [--al-control-delay-ms N] [--foe-error CODE]\n"
                 "  [--foe-error-packet N] [--wrong-ack] [--coe-reply-packet N] [--busy N] [--silent-mailbox]\n"
                 "  [--delay-us N]\n");
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const auto number = [&](auto &target) {
            const char *text = value();
            if (!text)
                return false;
            target = decltype(target + 0)(std::strtoul(text, nullptr, 0));
            return true;
        };
        bool ok = true;
        if (arg == "--interface") { const char *v = value(); ok = v; if (v) options.adapter = v; }
        else if (arg == "--store") { const char *v = value(); ok = v; if (v) options.storePath = v; }
        else if (arg == "--mailbox") ok = number(options.mailboxSize);
        else if (arg == "--start-in-boot") options.startInBoot = true;
        else if (arg == "--boot-keeps-standard-mailbox") options.bootMailbox = SimEthercat::BootMailbox::Standard;
        else if (arg == "--never-boot") options.faults.neverBoot = true;
        else if (arg == "--boot-delay-ms") ok = number(options.faults.bootDelayMs);
        else if (arg == "--al-control-delay-ms") ok = number(options.faults.alControlDelayMs);
        else if (arg == "--foe-error") ok = number(options.faults.foeErrorCode);
        else if (arg == "--foe-error-packet") ok = number(options.faults.foeErrorAtPacket);
        else if (arg == "--wrong-ack") options.faults.wrongAckPacket = true;
        else if (arg == "--coe-reply-packet") ok = number(options.faults.coeReplyAtPacket);
        else if (arg == "--busy") ok = number(options.faults.busyReplies);
        else if (arg == "--silent-mailbox") options.faults.silentMailbox = true;
        else if (arg == "--delay-us") ok = number(options.replyDelayUs);
        else ok = false;
        if (!ok)
            return false;
    }
    return !options.adapter.empty() && options.mailboxSize > 12
        && options.mailboxSize <= SimEthercat::maximumMailboxSize;
}

void store(const SimEthercat::Bytes &file, const std::string &path)
{
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    }
    std::rename(partial.c_str(), path.c_str());
}

}

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    auto link = Ethercat::PcapLink::open(options.adapter);
    if (!link)
        return 1;
    SimEthercat::Coupler coupler(uint16_t(options.mailboxSize), options.startInBoot, options.bootMailbox);
    coupler.faults = options.faults;
    coupler.onEvent = [](const std::string &text) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    };
    // The file goes to disk only after the frame with the last acknowledge has left, so the
    // reply is not held up by the write; it is written under another name and renamed.
    bool fileToStore = false;
    coupler.onFileStored = [&](const SimEthercat::Record &) { fileToStore = !options.storePath.empty(); };
    std::printf("ready on %s\n", options.adapter.c_str());
    std::fflush(stdout);
    for (Ethercat::Bytes frame;;) {
        if (!link->receive(frame, 1000000))
            continue;
        const auto answered = coupler.answer(frame);
        if (!answered)
            continue;
        if (options.replyDelayUs > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(options.replyDelayUs));
        link->send(*answered);
        if (fileToStore) {
            fileToStore = false;
            store(coupler.record().file, options.storePath);
        }
    }
}
