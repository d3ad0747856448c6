// How long tarnlow-cli scan, as it ships, takes to find 64 simulated Ethernet couplers in a /24
// whose other addresses refuse, and to ask the 127 CANopen node IDs of a pseudo-terminal whose
// simulated coupler answers one of them. The devices run in this program, on threads of their
// own; the scans run as child processes. Fails unless every device is found.
#include "sim/canopen_pty_server.h"
#include "sim/simulated_coupler.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <limits.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kCouplers = 64;
constexpr const char *kRange = "127.0.3.0/24";
constexpr int kCanopenNode = 127;   // the last asked: the scan passes every silent node first

std::string cliProgram()
{
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, length > 0 ? size_t(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin/tarnlow-cli";
}

struct Scan {
    double seconds = 0;
    int status = -1;
    std::string output;
};

// Runs tarnlow-cli with `arguments` and takes its wall time and standard output.
Scan runCli(const std::vector<std::string> &arguments)
{
    const std::string program = cliProgram();
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int output[2];
    Scan scan;
    if (pipe(output) != 0)
        return scan;
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(output[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;)
        scan.output.append(buffer, size_t(got));
    close(output[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return scan;
    scan.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    scan.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return scan;
}

// The number the closing line starts with: "64 coupler(s) found ...".
int foundIn(const std::string &output, const std::string &closingWords)
{
    const size_t at = output.find(closingWords);
    if (at == std::string::npos)
        return -1;
    const size_t lineStart = output.rfind('\n', at);
    return std::atoi(output.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1));
}

bool scanCouplers()
{
    std::vector<std::unique_ptr<SimulatedCoupler>> couplers;
    for (int i = 0; i < kCouplers; ++i) {
        SimulatedCouplerSetup setup;
        setup.address = "127.0.3." + std::to_string(i + 1);
        couplers.push_back(std::make_unique<SimulatedCoupler>(setup));
        std::string failure;
        if (!couplers.back()->start(failure)) {
            std::printf("cannot start the coupler on %s: %s\n", setup.address.c_str(), failure.c_str());
            return false;
        }
    }
    const Scan scan = runCli({"scan", "coupler", kRange});
    const int found = foundIn(scan.output, " coupler(s) found");
    std::printf("scan coupler %s: %d of %d couplers found in %.2f s (254 addresses, exit status %d)\n", kRange, found,
                kCouplers, scan.seconds, scan.status);
    return scan.status == 0 && found == kCouplers;
}

bool scanCanopen()
{
    char directory[] = "/tmp/tarnlow-scan-XXXXXX";
    if (!mkdtemp(directory))
        return false;
    const std::string link = std::string(directory) + "/canopen";
    bool found = false;
    {
        CanopenPtyServer server(kCanopenNode, false);
        if (!server.start(link)) {
            std::printf("cannot start the CANopen coupler: %s\n", server.error().c_str());
            return false;
        }
        const Scan scan = runCli({"scan", "canopen", "--port", link});
        found = scan.status == 0 && foundIn(scan.output, " node(s) found") == 1
            && scan.output.find(link + " node " + std::to_string(kCanopenNode)) != std::string::npos;
        std::printf("scan canopen: node IDs 1 to 127 asked in %.2f s, node %d %s (exit status %d)\n", scan.seconds,
                    kCanopenNode, found ? "found" : "NOT FOUND", scan.status);
    }
    unlink(link.c_str());
    rmdir(directory);
    return found;
}

}

int main()
{
    if (geteuid() != 0) {
        std::printf("skipped: the couplers' Modbus port 502 needs root\n");
        return 0;
    }
    const bool couplersFound = scanCouplers();
    const bool canopenFound = scanCanopen();
    return couplersFound && canopenFound ? 0 : 1;
}
