#include "sim/module_simulated_boot_loader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr const char *kLineEnd = "\r\n";
constexpr int kLargestReadBytes = 246;        // answer of 249 bytes: the 260-byte frame limit
constexpr int kLargestCopyBytes = 4096;
constexpr int kCopyGranule = 128;
constexpr int kFlashAlignment = 256;

std::string returnLine(char code)
{
    return std::string(1, code) + kLineEnd;
}

bool parseNumber(const std::string &token, long long &value)
{
    if (token.empty() || !std::all_of(token.begin(), token.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    if (token.size() > 12)
        return false;
    value = std::strtoll(token.c_str(), nullptr, 10);
    return true;
}

}

SimulatedBootLoader::SimulatedBootLoader(bool largeFlash)
    : m_largeFlash(largeFlash),
      m_flash(static_cast<size_t>(sectorCount()) * kSectorBytes, 0xFF),
      m_ram(kRamBytes, 0)
{
}

int SimulatedBootLoader::sectorCount() const
{
    return m_largeFlash ? kLargeFlashSectors : kStandardSectors;
}

void SimulatedBootLoader::setFlash(const std::vector<uint8_t> &content)
{
    std::fill(m_flash.begin(), m_flash.end(), 0xFF);
    std::copy_n(content.begin(), std::min(content.size(), m_flash.size()), m_flash.begin());
}

void SimulatedBootLoader::enterBootLoader()
{
    m_state = State::AwaitQuestionMark;
    m_line.clear();
    m_pendingBytes = 0;
    m_dataPackets = 0;
    m_unlocked = false;
    m_preparedFirst = m_preparedLast = -1;
}

std::optional<std::string> SimulatedBootLoader::receive(const uint8_t *bytes, size_t n)
{
    if (m_state == State::RunningFirmware)
        return std::nullopt;
    size_t used = 0;
    if (m_pendingBytes > 0) {
        ++m_dataPackets;
        if (faults.loseDataPacket == m_dataPackets) {
            m_pendingBytes = 0;
            return std::nullopt;
        }
        const size_t data = std::min(static_cast<size_t>(m_pendingBytes), n);
        std::memcpy(m_ram.data() + (m_pendingAddress - kRamBase), bytes, data);
        m_pendingAddress += static_cast<long long>(data);
        m_pendingBytes -= static_cast<long long>(data);
        used = data;
    }
    if (m_state != State::Commands && n - used == 1 && bytes[used] == '?') {
        if (faults.neverSynchronizes)
            return std::nullopt;
        m_state = State::AwaitSynchronizedEcho;
        m_line.clear();
        return std::string(faults.answersLowerCase ? "synchronized" : "Synchronized") + kLineEnd;
    }
    m_line.append(reinterpret_cast<const char *>(bytes) + used, n - used);
    std::string answer;
    bool answered = false;
    for (size_t end; (end = m_line.find(kLineEnd)) != std::string::npos;) {
        const std::string line = m_line.substr(0, end);
        m_line.erase(0, end + 2);
        if (m_state == State::AwaitSynchronizedEcho && line == "Synchronized") {
            m_state = State::AwaitClock;
            answer += std::string("OK") + kLineEnd;
            answered = true;
        } else if (m_state == State::AwaitClock) {
            m_state = State::Commands;
            answer += std::string("OK") + kLineEnd;
            answered = true;
        } else if (m_state == State::Commands) {
            answer += command(line);
            answered = true;
            if (m_pendingBytes > 0)
                break;   // what follows the command is its data, in the next packet
        }
    }
    if (m_pendingBytes > 0)
        m_line.clear();
    if (!answered)
        return std::nullopt;
    return answer;
}

std::string SimulatedBootLoader::command(const std::string &line)
{
    m_commands.push_back(line);
    std::istringstream words(line);
    std::string letter;
    words >> letter;
    std::vector<long long> args;
    bool thumb = false;
    for (std::string token; words >> token;) {
        long long value = 0;
        if (letter == "G" && token == "T" && args.size() == 1)
            thumb = true;
        else if (parseNumber(token, value))
            args.push_back(value);
        else
            return returnLine(ParameterError);
    }
    if (letter == "A" && args.size() == 1)
        return returnLine(Success);
    if (letter == "J" && args.empty())
        return returnLine(Success)
               + (m_largeFlash ? kLargeFlashIdentification : kStandardIdentification) + kLineEnd;
    if (letter == "U" && args.size() == 1) {
        m_unlocked = args[0] == kUnlockCode;
        return returnLine(m_unlocked ? Success : InvalidCode);
    }
    if (letter == "W" && args.size() == 2)
        return writeToRam(args);
    if (letter == "P" && args.size() == 2)
        return prepare(args);
    if (letter == "E" && args.size() == 2)
        return erase(args);
    if (letter == "C" && args.size() == 3)
        return copyToFlash(args);
    if (letter == "R" && args.size() == 2)
        return readFlash(args);
    if (letter == "G" && args.size() == 1 && thumb)
        return go(args);
    return returnLine(InvalidCommand);
}

bool SimulatedBootLoader::ramRangeValid(long long address, long long count) const
{
    return address >= kRamBase && count >= 0 && address + count <= kRamBase + kRamBytes;
}

bool SimulatedBootLoader::sectorRangeValid(long long firstSector, long long lastSector) const
{
    return firstSector >= 0 && firstSector <= lastSector && lastSector < sectorCount();
}

std::string SimulatedBootLoader::writeToRam(const std::vector<long long> &args)
{
    if (!ramRangeValid(args[0], args[1]) || args[1] % 4 != 0)
        return returnLine(AddressError);
    m_pendingAddress = args[0];
    m_pendingBytes = args[1];
    return returnLine(Success);
}

std::string SimulatedBootLoader::prepare(const std::vector<long long> &args)
{
    if (!sectorRangeValid(args[0], args[1]))
        return returnLine(InvalidSector);
    m_preparedFirst = args[0];
    m_preparedLast = args[1];
    return returnLine(Success);
}

std::string SimulatedBootLoader::erase(const std::vector<long long> &args)
{
    if (!sectorRangeValid(args[0], args[1]))
        return returnLine(InvalidSector);
    if (!m_unlocked)
        return returnLine(Locked);
    if (args[0] < m_preparedFirst || args[1] > m_preparedLast)
        return returnLine(SectorNotPrepared);
    std::fill(m_flash.begin() + args[0] * kSectorBytes, m_flash.begin() + (args[1] + 1) * kSectorBytes, 0xFF);
    m_preparedFirst = m_preparedLast = -1;
    return returnLine(Success);
}

std::string SimulatedBootLoader::copyToFlash(const std::vector<long long> &args)
{
    const long long flashAddress = args[0], ramAddress = args[1], count = args[2];
    if (!m_unlocked)
        return returnLine(Locked);
    if (count % kCopyGranule != 0 || count > kLargestCopyBytes)
        return returnLine(CountError);
    if (flashAddress % kFlashAlignment != 0 || flashAddress + count > static_cast<long long>(m_flash.size())
        || !ramRangeValid(ramAddress, count))
        return returnLine(AddressError);
    const long long lastByte = flashAddress + std::max(count, 1LL) - 1;
    if (flashAddress / kSectorBytes < m_preparedFirst || lastByte / kSectorBytes > m_preparedLast)
        return returnLine(SectorNotPrepared);
    for (long long i = 0; i < count; ++i)
        m_flash[flashAddress + i] &= m_ram[ramAddress - kRamBase + i];   // flash bits only clear
    if (faults.flipFlashBitAt >= flashAddress && faults.flipFlashBitAt < flashAddress + count)
        m_flash[faults.flipFlashBitAt] ^= 0x01;
    m_preparedFirst = m_preparedLast = -1;
    return returnLine(Success);
}

std::string SimulatedBootLoader::readFlash(const std::vector<long long> &args)
{
    const long long address = args[0], count = args[1];
    if (count < 0 || count > kLargestReadBytes)
        return returnLine(CountError);
    if (address < 0 || address + count > static_cast<long long>(m_flash.size()))
        return returnLine(AddressError);
    return returnLine(Success)
           + std::string(reinterpret_cast<const char *>(m_flash.data()) + address, static_cast<size_t>(count));
}

std::string SimulatedBootLoader::go(const std::vector<long long> &args)
{
    if (!m_unlocked)
        return returnLine(Locked);
    const long long address = args[0];
    if (!ramRangeValid(address, static_cast<long long>(kStartStub.size()))
        || !std::equal(kStartStub.begin(), kStartStub.end(), m_ram.begin() + (address - kRamBase)))
        return returnLine(AddressError);
    ++m_startCount;
    m_state = State::RunningFirmware;
    return returnLine(Success);
}
