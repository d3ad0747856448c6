// tarnlow-sim-modules: simulated I/O modules behind a Modbus TCP front on 127.0.0.x port 502,
// for trying the module page by hand. Runs until interrupted.
#include "sim/module_bank.h"
#include "sim/module_bank_server.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: tarnlow-sim-modules [--address 127.0.0.11] [--modules N] [--product-code HEX]\n"
                 "       [--hardware-version HEX] [--large-flash M] [--split BYTES]\n"
                 "       [--fault M:never-sync|lower-case|lose-packet=N|flip-bit=OFFSET|delay=MS]...\n");
}

bool applyFault(ModuleBank &bank, const std::string &faultText, ModuleFaults *faultsOf)
{
    const size_t colon = faultText.find(':');
    if (colon == std::string::npos)
        return false;
    const int module = std::atoi(faultText.substr(0, colon).c_str());
    if (module < 1 || module > bank.moduleCount())
        return false;
    const std::string kind = faultText.substr(colon + 1);
    const size_t equals = kind.find('=');
    const std::string name = kind.substr(0, equals);
    const int value = equals == std::string::npos ? 0 : std::atoi(kind.c_str() + equals + 1);
    ModuleFaults &faults = faultsOf[module - 1];
    if (name == "never-sync")
        faults.neverSynchronizes = true;
    else if (name == "lower-case")
        faults.answersLowerCase = true;
    else if (name == "lose-packet")
        faults.loseDataPacket = value;
    else if (name == "flip-bit")
        faults.flipFlashBitAt = value;
    else if (name == "delay")
        faults.replyDelayMs = value;
    else
        return false;
    return true;
}

}

int main(int argc, char **argv)
{
    std::string address = "127.0.0.11";
    int moduleCount = 4;
    ModuleBank::ModuleSetup setup;
    setup.productCode = 0x0A31;
    int split = 0;
    std::vector<int> largeFlash;
    std::vector<std::string> faultTexts;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        const char *value = argv[++i];
        if (option == "--address")
            address = value;
        else if (option == "--modules")
            moduleCount = std::atoi(value);
        else if (option == "--product-code")
            setup.productCode = static_cast<uint16_t>(std::strtoul(value, nullptr, 16));
        else if (option == "--hardware-version")
            setup.hardwareVersion = static_cast<uint16_t>(std::strtoul(value, nullptr, 16));
        else if (option == "--large-flash")
            largeFlash.push_back(std::atoi(value));
        else if (option == "--split")
            split = std::atoi(value);
        else if (option == "--fault")
            faultTexts.push_back(value);
        else {
            usage();
            return 2;
        }
    }
    if (moduleCount < 1 || moduleCount > ModuleBank::kMaxModules) {
        usage();
        return 2;
    }

    ModuleBank bank(moduleCount);
    for (int module = 1; module <= moduleCount; ++module) {
        ModuleBank::ModuleSetup own = setup;
        for (int large : largeFlash)
            own.largeFlash = own.largeFlash || large == module;
        bank.setModule(module, own);
    }
    ModuleFaults faults[ModuleBank::kMaxModules];
    for (const std::string &faultText : faultTexts) {
        if (!applyFault(bank, faultText, faults)) {
            std::fprintf(stderr, "bad fault: %s\n", faultText.c_str());
            usage();
            return 2;
        }
    }
    for (int module = 1; module <= moduleCount; ++module)
        bank.setFaults(module, faults[module - 1]);
    bank.setReplySplit(split);

    ModuleBankServer server(address, 502, bank);
    if (!server.start()) {
        std::fprintf(stderr, "cannot listen on %s:502 (%s)\n", address.c_str(), std::strerror(errno));
        return 1;
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::printf("%d simulated I/O modules (product code %04X, hardware version %04X) behind %s:502\n",
                moduleCount, setup.productCode, setup.hardwareVersion, address.c_str());
    std::fflush(stdout);
    while (!stopRequested)
        ::pause();
    server.stop();
    return 0;
}
