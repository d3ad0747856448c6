// tarnlow-sim-coupler: a simulated Ethernet bus coupler with I/O modules behind it, on a
// loopback address, for trying both ETN pages by hand. Runs until interrupted.
#include "sim/module_bank.h"
#include "sim/simulated_coupler.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <pthread.h>
#include <vector>

namespace {

constexpr int kRealisticRestartMs = 2000;

void usage()
{
    std::fprintf(stderr,
        "usage: tarnlow-sim-coupler [--address 127.0.0.21] [--product-code HEX] [--hardware-version HEX]\n"
        "       [--modbus answering|silent|absent] [--modbus-port 502] [--in-boot-loader] [--restart-ms MS]\n"
        "       [--reply-to-source-port]\n"
        "       [--fault drop|wrong-length|wrong-echo:COMMAND[:N]] [--fault delay:COMMAND:N:MS]\n"
        "       [--fault corrupt-step2] [--fault flip-bit=OFFSET] [--fault other-port]\n"
        "       [--modules N] [--module-product-code HEX] [--module-hardware-version HEX]\n"
        "       [--large-flash M] [--split BYTES]\n"
        "       [--module-fault M:never-sync|lower-case|lose-packet=N|flip-bit=OFFSET|delay=MS]...\n"
        "COMMAND: confirm, read, write, step1, step2; N counts that command's requests from 1 (0: all)\n");
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

bool applyCouplerFault(const std::string &text, CouplerBootFaults &faults)
{
    if (text == "corrupt-step2")
        faults.corruptStep2Echo = true;
    else if (text == "other-port")
        faults.answerFromOtherPort = true;
    else if (text.rfind("flip-bit=", 0) == 0)
        faults.flipFlashBitAt = std::atoi(text.c_str() + 9);
    else {
        static const std::map<std::string, CouplerReplyFault::Kind> kinds = {
            {"drop", CouplerReplyFault::Kind::Drop}, {"wrong-length", CouplerReplyFault::Kind::WrongLength},
            {"wrong-echo", CouplerReplyFault::Kind::WrongPageEcho}, {"delay", CouplerReplyFault::Kind::Delay}};
        static const std::map<std::string, CouplerCommand> commands = {
            {"confirm", CouplerCommand::ConfirmBootMode}, {"read", CouplerCommand::ReadData},
            {"write", CouplerCommand::WriteData}, {"step1", CouplerCommand::WriteChecksumStep1},
            {"step2", CouplerCommand::WriteChecksumStep2}};
        const std::vector<std::string> parts = split(text, ':');
        if (parts.size() < 2 || !kinds.count(parts[0]) || !commands.count(parts[1]))
            return false;
        CouplerReplyFault fault{kinds.at(parts[0]), commands.at(parts[1])};
        fault.nth = parts.size() > 2 ? std::atoi(parts[2].c_str()) : 0;
        fault.delayMs = parts.size() > 3 ? std::atoi(parts[3].c_str()) : 0;
        faults.replies.push_back(fault);
    }
    return true;
}

bool applyModuleFault(const std::string &text, int moduleCount, std::vector<ModuleFaults> &faults)
{
    const std::vector<std::string> parts = split(text, ':');
    const int module = std::atoi(parts[0].c_str());
    if (parts.size() != 2 || module < 1 || module > moduleCount)
        return false;
    const size_t equals = parts[1].find('=');
    const std::string name = parts[1].substr(0, equals);
    const int value = equals == std::string::npos ? 0 : std::atoi(parts[1].c_str() + equals + 1);
    ModuleFaults &own = faults[size_t(module - 1)];
    if (name == "never-sync")
        own.neverSynchronizes = true;
    else if (name == "lower-case")
        own.answersLowerCase = true;
    else if (name == "lose-packet")
        own.loseDataPacket = value;
    else if (name == "flip-bit")
        own.flipFlashBitAt = value;
    else if (name == "delay")
        own.replyDelayMs = value;
    else
        return false;
    return true;
}

struct Options {
    SimulatedCouplerSetup coupler;
    CouplerBootFaults couplerFaults;
    bool inBootLoader = false;
    int moduleCount = 4;
    ModuleBank::ModuleSetup module;
    std::vector<int> largeFlash;
    int split = 0;
    std::vector<std::string> moduleFaults;
};

bool parse(int argc, char **argv, Options &options)
{
    options.module.productCode = 0x0A31;
    options.coupler.restartMs = kRealisticRestartMs;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--in-boot-loader" || option == "--reply-to-source-port") {
            if (option == "--in-boot-loader")
                options.inBootLoader = true;
            else
                options.coupler.replyPort = CouplerUdpServer::ReplyPort::SourcePort;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        const auto hex = [&value] { return static_cast<uint16_t>(std::strtoul(value.c_str(), nullptr, 16)); };
        if (option == "--address")
            options.coupler.address = value;
        else if (option == "--product-code")
            options.coupler.productCode = hex();
        else if (option == "--hardware-version")
            options.coupler.hardwareVersion = hex();
        else if (option == "--modbus" && (value == "answering" || value == "silent" || value == "absent"))
            options.coupler.modbus = value == "answering" ? SimulatedCouplerSetup::Modbus::Answering
                : value == "silent" ? SimulatedCouplerSetup::Modbus::Silent : SimulatedCouplerSetup::Modbus::Absent;
        else if (option == "--modbus-port")
            options.coupler.modbusPort = std::atoi(value.c_str());
        else if (option == "--restart-ms")
            options.coupler.restartMs = std::atoi(value.c_str());
        else if (option == "--fault") {
            if (!applyCouplerFault(value, options.couplerFaults))
                return false;
        } else if (option == "--modules")
            options.moduleCount = std::atoi(value.c_str());
        else if (option == "--module-product-code")
            options.module.productCode = hex();
        else if (option == "--module-hardware-version")
            options.module.hardwareVersion = hex();
        else if (option == "--large-flash")
            options.largeFlash.push_back(std::atoi(value.c_str()));
        else if (option == "--split")
            options.split = std::atoi(value.c_str());
        else if (option == "--module-fault")
            options.moduleFaults.push_back(value);
        else
            return false;
    }
    return options.moduleCount >= 0 && options.moduleCount <= ModuleBank::kMaxModules;
}

bool setUpModules(const Options &options, ModuleBank &bank)
{
    std::vector<ModuleFaults> faults(ModuleBank::kMaxModules);
    for (const std::string &text : options.moduleFaults)
        if (!applyModuleFault(text, options.moduleCount, faults))
            return false;
    for (int module = 1; module <= options.moduleCount; ++module) {
        ModuleBank::ModuleSetup own = options.module;
        for (int large : options.largeFlash)
            own.largeFlash = own.largeFlash || large == module;
        bank.setModule(module, own);
        bank.setFaults(module, faults[size_t(module - 1)]);
    }
    bank.setReplySplit(options.split);
    return true;
}

}

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    ModuleBank bank(options.moduleCount);
    if (!setUpModules(options, bank)) {
        usage();
        return 2;
    }
    if (options.moduleCount > 0)
        options.coupler.modules = &bank;
    SimulatedCoupler coupler(options.coupler);
    coupler.bootLoader().setFaults(options.couplerFaults);
    if (options.inBootLoader)
        coupler.bootLoader().enterBootLoader();
    // Blocked before any server thread starts, so only the wait below takes the stop signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::string failure;
    if (!coupler.start(failure)) {
        std::fprintf(stderr, "cannot start the simulated coupler: %s\n", failure.c_str());
        return 1;
    }
    std::printf("simulated Ethernet coupler (product code %04X, hardware version %04X) on %s, "
                "UDP %d, Modbus TCP %d, %d I/O modules (product code %04X) behind it\n",
                options.coupler.productCode, options.coupler.hardwareVersion, options.coupler.address.c_str(),
                options.coupler.bootPort, options.coupler.modbusPort, options.moduleCount, options.module.productCode);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    coupler.stop();
    std::printf("flash %s, started %d times\n", coupler.bootLoader().sealed() ? "sealed" : "not sealed",
                coupler.bootLoader().startCount());
    return 0;
}
