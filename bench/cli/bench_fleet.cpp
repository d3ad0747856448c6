// A fleet at once: tarnlow-cli, as it ships (real waits), updates 256 simulated Ethernet couplers
// with --jobs 256 and, in the same run, one of them alone; then 16 simulated CANopen couplers on
// 16 pseudo-terminals with --jobs 16, and one alone. Prints each run's time, the fleet's time
// over one device's, and the program's peak memory (its maximum resident set). The simulated
// devices live in a child process of their own (this program again), so that tarnlow-cli is
// started from a small process and its peak is its own.
#include "sim/canopen_pty_server.h"
#include "sim/simulated_coupler.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCouplers = 256;
constexpr int kCanopenCouplers = 16;
// A CANopen round takes 12 s and its ratio wanders with the scheduler: three of them, and their
// median counts. A round of the couplers takes 24 s and wanders less.
constexpr int kCouplerRounds = 1;
constexpr int kCanopenRounds = 3;
constexpr double kTimeGoal = 1.15;          // the fleet's time over one device's
constexpr double kMemoryGoalMiB = 150.0;    // the program's peak resident memory
// A real coupler is deaf for about two seconds while it restarts into its boot loader and back.
constexpr int kCouplerRestartMs = 2000;

std::string binDirectory()
{
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, length > 0 ? size_t(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin/";
}

std::string couplerAddress(int index)
{
    return "127.0." + std::to_string(1 + index / 200) + "." + std::to_string(1 + index % 200);
}

struct CliRun {
    double seconds = 0;
    double peakMiB = 0;
    int status = -1;
    int verified = 0;   // devices the report calls verified
};

int countOf(const std::string &text, const std::string &word)
{
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size()))
        ++count;
    return count;
}

// Runs tarnlow-cli on `plan` with `jobs` and takes its wall time and maximum resident set.
CliRun runPlan(const std::string &plan, int jobs)
{
    const std::string cli = binDirectory() + "tarnlow-cli";
    const std::string report = plan + ".report.json";
    const std::string jobsText = std::to_string(jobs);
    CliRun run;
    std::fflush(stdout);   // or the child would print what is buffered here once more
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        // The runs' update history goes to the bench's folder, not to the user's.
        setenv("XDG_DATA_HOME", plan.substr(0, plan.rfind('/')).c_str(), 1);
        execl(cli.c_str(), cli.c_str(), "plan", plan.c_str(), "--jobs", jobsText.c_str(), "--quiet", "--report",
              report.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream written(report);
    std::stringstream text;
    text << written.rdbuf();
    run.verified = countOf(text.str(), "\"outcome\": \"verified\"");
    return run;
}

std::string writePlan(const std::string &path, const std::vector<std::string> &lines)
{
    std::ofstream plan(path);
    for (const std::string &line : lines)
        plan << line << '\n';
    return path;
}

// One device alone and all of them at once, run back to back.
struct Round {
    CliRun one;
    CliRun all;
    double ratio() const { return all.seconds / one.seconds; }
};

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool report(const char *what, int devices, const std::vector<Round> &rounds)
{
    bool allVerified = true;
    double peakMiB = 0;
    std::vector<double> ratios;
    std::printf("%s, %zu round(s):\n", what, rounds.size());
    for (const Round &round : rounds) {
        const bool verified = round.one.status == 0 && round.one.verified == 1 && round.all.status == 0
            && round.all.verified == devices;
        allVerified = allVerified && verified;
        peakMiB = std::max(peakMiB, round.all.peakMiB);
        ratios.push_back(round.ratio());
        std::printf("  one device %.2f s (peak %.1f MiB), %d at once %.2f s (peak %.1f MiB): %.3f, %s\n",
                    round.one.seconds, round.one.peakMiB, devices, round.all.seconds, round.all.peakMiB,
                    round.ratio(), verified ? "every device verified" : "NOT EVERY DEVICE VERIFIED");
    }
    const double ratio = medianOf(ratios);
    const bool memoryMet = peakMiB < kMemoryGoalMiB;
    std::printf("  %d at once over one: median %.3f (spread %.3f to %.3f; goal at most %.2f: %s); "
                "peak memory %.1f MiB (goal under %.0f MiB: %s)\n",
                devices, ratio, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), kTimeGoal, ratio <= kTimeGoal ? "met" : "NOT MET",
                peakMiB, kMemoryGoalMiB, memoryMet ? "met" : "NOT MET");
    return allVerified && ratio <= kTimeGoal && memoryMet;
}

void allowManyFiles()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

std::vector<std::string> couplerPlanLines()
{
    std::vector<std::string> lines;
    const std::string firmware = binDirectory() + "Coupler Firmware/ETN_Coupler_Demo.HEX";
    for (int i = 0; i < kCouplers; ++i)
        lines.push_back("coupler," + couplerAddress(i) + "," + firmware);
    return lines;
}

std::string canopenLink(const std::string &directory, int index)
{
    return directory + "/canopen" + std::to_string(index);
}

std::vector<std::string> canopenPlanLines(const std::string &directory)
{
    std::vector<std::string> lines;
    const std::string firmware = binDirectory() + "COP Firmware/COP_Coupler_Demo.HEX";
    for (int i = 0; i < kCanopenCouplers; ++i)
        lines.push_back("canopen," + canopenLink(directory, i) + ",1," + firmware);
    return lines;
}

// The simulated devices, until standard input closes: "ready" on standard output once they serve.
// Real devices have processors of their own. Here they share two with the 256 jobs under test,
// and when pairs of job and device answer each other every few microseconds the scheduler let
// other devices wait up to 130 ms for a processor, so a reply missed the coupler's 150 ms
// window now and then. Their threads, started from this one, inherit a higher priority.
int hostDevices(const std::string &directory)
{
    setpriority(PRIO_PROCESS, 0, -10);
    std::vector<std::unique_ptr<SimulatedCoupler>> couplers;
    for (int i = 0; i < kCouplers; ++i) {
        SimulatedCouplerSetup setup;
        setup.address = couplerAddress(i);
        setup.restartMs = kCouplerRestartMs;
        couplers.push_back(std::make_unique<SimulatedCoupler>(setup));
        std::string failure;
        if (!couplers.back()->start(failure)) {
            std::printf("cannot start the Ethernet coupler on %s: %s\n", setup.address.c_str(), failure.c_str());
            return 1;
        }
    }
    std::vector<std::unique_ptr<CanopenPtyServer>> canopen;
    for (int i = 0; i < kCanopenCouplers; ++i) {
        canopen.push_back(std::make_unique<CanopenPtyServer>(uint8_t(1), false));
        if (!canopen.back()->start(canopenLink(directory, i))) {
            std::printf("cannot start the CANopen coupler %d: %s\n", i, canopen.back()->error().c_str());
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char ignored[64];
    while (read(STDIN_FILENO, ignored, sizeof ignored) > 0) {
    }
    return 0;
}

// Starts this program as the devices' host; its standard input is `*stop`, closed to end it.
pid_t startDeviceHost(const std::string &directory, int *stop)
{
    int toHost[2], fromHost[2];
    if (pipe(toHost) != 0 || pipe(fromHost) != 0)
        return -1;
    std::fflush(stdout);
    const pid_t host = fork();
    if (host == 0) {
        dup2(toHost[0], STDIN_FILENO);
        dup2(fromHost[1], STDOUT_FILENO);
        close(toHost[1]);
        close(fromHost[0]);
        execl("/proc/self/exe", "bench_fleet", "--host-devices", directory.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(toHost[0]);
    close(fromHost[1]);
    *stop = toHost[1];
    char answer[256] = {};
    const ssize_t got = read(fromHost[0], answer, sizeof answer - 1);
    close(fromHost[0]);
    if (got <= 0 || std::string(answer).rfind("ready", 0) != 0) {
        std::printf("the simulated devices did not start: %s\n", answer);
        return -1;
    }
    return host;
}

bool fleetOf(const char *what, const std::string &directory, const std::vector<std::string> &lines, int rounds)
{
    const std::string kind = lines.front().substr(0, lines.front().find(','));
    const std::string onePlan = writePlan(directory + "/" + kind + "-one.csv", {lines.front()});
    const std::string allPlan = writePlan(directory + "/" + kind + "-all.csv", lines);
    std::vector<Round> measured;
    for (int i = 0; i < rounds; ++i)
        measured.push_back({runPlan(onePlan, 1), runPlan(allPlan, int(lines.size()))});
    return report(what, int(lines.size()), measured);
}

}

int main(int argc, char **argv)
{
    allowManyFiles();
    if (argc == 3 && std::string(argv[1]) == "--host-devices")
        return hostDevices(argv[2]);
    if (geteuid() != 0) {
        std::printf("skipped: the couplers' Modbus port 502 needs root\n");
        return 0;
    }
    char directory[] = "/tmp/tarnlow-fleet-XXXXXX";
    if (!mkdtemp(directory))
        return 1;
    int stop = -1;
    const pid_t host = startDeviceHost(directory, &stop);
    bool met = host > 0;
    if (met) {
        met = fleetOf("Ethernet couplers, real waits", directory, couplerPlanLines(), kCouplerRounds);
        met = fleetOf("CANopen couplers on pseudo-terminals, real waits", directory, canopenPlanLines(directory),
                      kCanopenRounds)
            && met;
        close(stop);
        waitpid(host, nullptr, 0);
    }
    if (met)
        std::system(("rm -rf " + std::string(directory)).c_str());
    else
        std::printf("plans and reports kept in %s\n", directory);
    return met ? 0 : 1;
}
