#include "sim/ethercat_veth_segment.h"

#include "core/deadline.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace SimEthercat {

namespace {
constexpr int simulatorStartTimeoutMs = 5000;

bool run(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}

std::string uniqueSegmentName()
{
    static int next = 0;
    return "tlec" + std::to_string(getpid()) + "n" + std::to_string(next++);
}

std::unique_ptr<VethSegment> VethSegment::create(const std::string &simulatorProgram,
                                                 const std::vector<std::string> &simulatorOptions,
                                                 std::string &error)
{
    std::unique_ptr<VethSegment> segment(new VethSegment);
    const std::string name = uniqueSegmentName();
    segment->m_namespace = name;
    segment->m_masterEnd = name + "m";
    segment->m_couplerEnd = name + "s";
    char directory[] = "/tmp/tlec-XXXXXX";
    if (!mkdtemp(directory)) {
        error = "no temporary directory";
        return nullptr;
    }
    segment->m_directory = directory;
    const std::string &ns = segment->m_namespace;
    if (!run("ip netns add " + ns)
        || !run("ip link add " + segment->m_masterEnd + " type veth peer name " + segment->m_couplerEnd)
        || !run("ip link set " + segment->m_couplerEnd + " netns " + ns)
        || !run("ip link set " + segment->m_masterEnd + " up")
        || !run("ip netns exec " + ns + " ip link set " + segment->m_couplerEnd + " up")) {
        error = "cannot make the namespace and veth pair " + ns + " (root needed)";
        return nullptr;
    }
    if (!segment->start(simulatorProgram, simulatorOptions, error))
        return nullptr;
    return segment;
}

bool VethSegment::start(const std::string &program, const std::vector<std::string> &options,
                        std::string &error)
{
    std::vector<std::string> arguments = {"ip", "netns", "exec", m_namespace, program,
                                          "--interface", m_couplerEnd, "--store", m_directory + "/stored.bin"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const std::string log = m_directory + "/simulator.log";
    m_simulator = fork();
    if (m_simulator == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    const Deadline deadline = Deadline::afterMilliseconds(simulatorStartTimeoutMs);
    while (!deadline.passed()) {
        if (simulatorLog().find("ready on") != std::string::npos)
            return true;
        if (waitpid(m_simulator, nullptr, WNOHANG) == m_simulator) {
            m_simulator = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = "the simulator did not start: " + simulatorLog();
    return false;
}

VethSegment::~VethSegment()
{
    if (m_simulator > 0) {
        kill(m_simulator, SIGTERM);
        waitpid(m_simulator, nullptr, 0);
    }
    if (!m_masterEnd.empty())
        run("ip link del " + m_masterEnd);
    if (!m_namespace.empty())
        run("ip netns del " + m_namespace);
    if (!m_directory.empty())
        run("rm -rf " + m_directory);
}

std::string VethSegment::storedFile() const
{
    return readAll(m_directory + "/stored.bin");
}

std::string VethSegment::simulatorLog() const
{
    return readAll(m_directory + "/simulator.log");
}

}
