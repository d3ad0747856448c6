#pragma once

#include <memory>
#include <string>
#include <vector>

namespace SimEthercat {

// A real EtherCAT segment made for one test or benchmark: a network namespace holding one end
// of a fresh veth pair, the simulated coupler program on that end, and the other end left in
// this namespace for the master. Everything is removed again when the object goes (needs root).
class VethSegment
{
public:
    // Nothing, with the reason in `error`, when the segment cannot be made.
    static std::unique_ptr<VethSegment> create(const std::string &simulatorProgram,
                                               const std::vector<std::string> &simulatorOptions,
                                               std::string &error);
    ~VethSegment();

    const std::string &masterAdapter() const { return m_masterEnd; }
    // The file the coupler's boot loader stored last, and the simulator's event lines.
    std::string storedFile() const;
    std::string simulatorLog() const;

private:
    VethSegment() = default;
    bool start(const std::string &program, const std::vector<std::string> &options, std::string &error);

    std::string m_namespace;
    std::string m_masterEnd;
    std::string m_couplerEnd;
    std::string m_directory;
    int m_simulator = -1;
};

// A name for this process's segments, "tlec<pid>" plus a running number.
std::string uniqueSegmentName();

}
