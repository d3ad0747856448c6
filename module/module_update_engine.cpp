#include "module/module_update_engine.h"

#include "firmware/hardware_version.h"
#include "firmware/hex_image.h"

#include <QElapsedTimer>

#include <algorithm>
#include <utility>

namespace {

using Kind = UpdateResult::Kind;
using Cause = UpdateResult::Cause;

std::string secondsSince(const QElapsedTimer &timer)
{
    return "Cost time " + std::to_string(timer.elapsed() / 1000) + " second";
}

}

UpdateResult ModuleUpdateEngine::ended(Kind kind, Cause cause, int module) const
{
    using After = UpdateResult::DeviceAfter;
    UpdateResult result = UpdateResult::ended(kind, cause);
    result.firstModule = m_target.firstModule;
    result.lastModule = m_target.lastModule;
    if (module > 0)
        result.modules = {module};
    // The modules before the one the run ended at were started with the new firmware; that one
    // was left in its boot loader, the later ones were not touched.
    for (int each = m_target.firstModule; each <= m_target.lastModule; ++each) {
        if (kind == Kind::Verified || (module > 0 && each < module))
            result.rangeAfter.push_back(After::NewFirmware);
        else
            result.rangeAfter.push_back(each == module ? After::InBootLoader : After::Untouched);
    }
    return result;
}

ModuleUpdateEngine::ModuleUpdateEngine(const ModuleRange &target, const UpdateTools &tools)
    : m_target(target),
      m_tools(tools),
      m_transport(target.link, tools.wait, tools.log),
      m_bootLoader(m_transport, tools.progress, tools.cancel)
{
}

UpdateResult ModuleUpdateEngine::run(const HexImage &firmware)
{
    m_firmware = &firmware;
    m_readBackBuffer.assign(firmware.image.size(), 0xFF);
    if (!m_target.advanceMode) {
        if (std::optional<UpdateResult> mismatch = checkProductCodes())
            return *mismatch;
        if (std::optional<UpdateResult> mismatch = checkHardwareVersions())
            return *mismatch;
    }
    m_tools.progress.checksPassed();
    // A stop asked for during the checks comes before any module is selected.
    if (m_tools.cancel.requested())
        return ended(Kind::Aborted);
    m_transport.clearRequestBuffer();
    m_transport.setResponseTimeout(0, kResponseTimeoutUs);
    for (int module = m_target.firstModule; module <= m_target.lastModule; ++module) {
        if (std::optional<UpdateResult> end = updateModule(module))
            return *end;
    }
    if (m_tools.cancel.requested()) {
        // Seen after the last module had started: every one runs the new firmware.
        UpdateResult stopped = ended(Kind::Aborted);
        stopped.rangeAfter.assign(stopped.rangeAfter.size(), UpdateResult::DeviceAfter::NewFirmware);
        return stopped;
    }
    return ended(Kind::Verified);
}

std::optional<UpdateResult> ModuleUpdateEngine::checkProductCodes()
{
    const uint32_t productCode = m_firmware->productCode;
    return checkModules(&ModuleTransport::productCodeRegister,
                        [productCode](uint16_t code) { return code == productCode; },
                        Cause::ProductCodeMismatch);
}

std::optional<UpdateResult> ModuleUpdateEngine::checkHardwareVersions()
{
    const int hardwareVersion = m_firmware->hardwareVersion;
    return checkModules(&ModuleTransport::hardwareVersionRegister,
                        [hardwareVersion](uint16_t version) {
                            return firmwareFitsHardware(hardwareVersion, version);
                        },
                        Cause::HardwareVersionMismatch);
}

// Lists the modules whose register does not fit, in ascending order; a register that cannot be
// read counts as 0, and the result says which and why.
std::optional<UpdateResult> ModuleUpdateEngine::checkModules(int (*registerOf)(int),
                                                             const std::function<bool(uint16_t)> &fits,
                                                             Cause cause)
{
    UpdateResult mismatch = ended(Kind::Failed, cause);
    for (int module = m_target.firstModule; module <= m_target.lastModule; ++module) {
        std::string failure;
        const int address = registerOf(module);
        if (fits(m_transport.readModuleRegister(address, &failure)))
            continue;
        mismatch.modules.push_back(module);
        if (!failure.empty())
            mismatch.unreadRegisters.push_back({address, module, failure});
    }
    if (mismatch.modules.empty())
        return std::nullopt;
    return mismatch;
}

// One module from its selection to its start. A result when the run ends at this module.
std::optional<UpdateResult> ModuleUpdateEngine::updateModule(int module)
{
    beginModule(module);
    m_transport.selectModule(module);
    const std::optional<ModuleVariant> variant = m_bootLoader.synchronize();
    if (!variant)
        return ended(Kind::Failed, Cause::BootLoaderNotReached, module);
    m_bootLoader.erase(*variant);
    writeImage(*variant);
    const bool readComplete = readBack(module);
    if (m_tools.cancel.requested())
        return ended(Kind::Aborted, Cause::None, module);
    m_tools.progress.phase(UpdatePhase::Comparing, module);
    // Bytes that a read never brought back were not verified, whatever the buffer holds.
    if (!readComplete || !compareImage())
        return ended(Kind::Failed, Cause::FlashDiffers, module);
    m_bootLoader.startModuleFirmware();
    return std::nullopt;
}

void ModuleUpdateEngine::beginModule(int module)
{
    m_tools.progress.setMaximum(2 * m_firmware->imageLength + 1);
    m_bootLoader.resetProgressCounter();
    m_tools.progress.setValue(1);
    m_tools.progress.phase(UpdatePhase::Writing, module);
}

// Blocks 1 to the last first, block 0 last: it holds the vector table, so the module's start
// vector stays erased until the rest of the image is in place.
void ModuleUpdateEngine::writeImage(ModuleVariant variant)
{
    const int blockBytes = ModuleBootLoader::kFlashBlockBytes;
    const int blockCount = (m_firmware->imageLength + blockBytes - 1) / blockBytes;
    QElapsedTimer timer;
    timer.start();
    for (int block = 1; block < blockCount; ++block) {
        m_bootLoader.writeFlashBlock(m_firmware->image, block * blockBytes, variant);
        if (m_tools.cancel.requested())
            break;
    }
    m_bootLoader.writeFlashBlock(m_firmware->image, 0, variant);
    m_tools.progress.setValue(m_firmware->imageLength);
    m_tools.logLine(secondsSince(timer));
}

bool ModuleUpdateEngine::readBack(int module)
{
    std::fill(m_readBackBuffer.begin(), m_readBackBuffer.end(), 0xFF);
    QElapsedTimer timer;
    timer.start();
    m_tools.progress.phase(UpdatePhase::ReadingBack, module);
    const bool complete = m_bootLoader.readFlash(m_firmware->imageLength, m_readBackBuffer);
    m_tools.logLine(secondsSince(timer));
    return complete;
}

bool ModuleUpdateEngine::compareImage() const
{
    const auto length = static_cast<size_t>(std::max(m_firmware->imageLength, 0));
    const auto image = m_firmware->image.begin();
    return std::equal(image, image + length, m_readBackBuffer.begin());
}
