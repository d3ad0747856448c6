#include "module/module_update_engine.h"

#include "firmware/hardware_version.h"
#include "firmware/hex_image.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace {

using Outcome = ModuleRunResult::Outcome;
using Icon = UpdateOutcome::Icon;

// The boxes belong to the module page, so their texts are translated in its context.
QString pageText(const char *source)
{
    return QCoreApplication::translate("ModuleFirmwareWidget", source);
}

// A box titled with the application's name, as every box at the end of a module run is.
ModuleRunResult closingBox(Outcome outcome, Icon icon, const QString &text)
{
    const UpdateOutcome::Kind kind = outcome == Outcome::Updated ? UpdateOutcome::Kind::Verified
        : outcome == Outcome::Cancelled                           ? UpdateOutcome::Kind::Aborted
                                                                  : UpdateOutcome::Kind::Failed;
    return {outcome, {kind, icon, QCoreApplication::applicationName(), text, QString(), false}};
}

ModuleRunResult cancelled()
{
    return closingBox(Outcome::Cancelled, Icon::Information, pageText("User cancel the operation."));
}

QString secondsSince(const QElapsedTimer &timer)
{
    return QStringLiteral("Cost time %1 second").arg(timer.elapsed() / 1000);
}

}

UpdateOutcome ModuleUpdateEngine::connectionFailure(const std::string &ip, int port, const std::string &failure)
{
    return UpdateOutcome::failed(Icon::Critical, pageText("Connection failed"),
                                 pageText("Please check field of IP and port is correct"),
                                 QStringLiteral("Modbus TCP %1:%2: %3.")
                                     .arg(QString::fromStdString(ip))
                                     .arg(port)
                                     .arg(QString::fromStdString(failure)));
}

ModuleUpdateEngine::ModuleUpdateEngine(const ModuleRange &target, ModuleUpdateObserver &observer,
                                       Wait wait)
    : m_target(target),
      m_observer(observer),
      m_transport(target.link, std::move(wait)),
      m_bootLoader(m_transport, observer)
{
}

ModuleRunResult ModuleUpdateEngine::run(const HexImage &firmware)
{
    m_firmware = &firmware;
    m_readBackBuffer.assign(firmware.image.size(), 0xFF);
    if (!m_target.advanceMode) {
        if (std::optional<ModuleRunResult> mismatch = checkProductCodes())
            return *mismatch;
        if (std::optional<ModuleRunResult> mismatch = checkHardwareVersions())
            return *mismatch;
    }
    m_observer.checksPassed();
    // A stop asked for during the checks comes before any module is selected.
    if (m_observer.wasCanceled())
        return cancelled();
    m_transport.clearRequestBuffer();
    m_transport.setResponseTimeout(0, kResponseTimeoutUs);
    for (int module = m_target.firstModule; module <= m_target.lastModule; ++module) {
        if (std::optional<ModuleRunResult> end = updateModule(module))
            return *end;
    }
    if (m_observer.wasCanceled())
        return cancelled();
    return finished();
}

std::optional<ModuleRunResult> ModuleUpdateEngine::checkProductCodes()
{
    const uint32_t productCode = m_firmware->productCode;
    return checkModules(&ModuleTransport::productCodeRegister,
                        [productCode](uint16_t code) { return code == productCode; },
                        "Firmware does not match with the module %1");
}

std::optional<ModuleRunResult> ModuleUpdateEngine::checkHardwareVersions()
{
    const int hardwareVersion = m_firmware->hardwareVersion;
    return checkModules(&ModuleTransport::hardwareVersionRegister,
                        [hardwareVersion](uint16_t version) {
                            return firmwareFitsHardware(hardwareVersion, version);
                        },
                        "Firmware does not match with with the model %1");
}

// Lists the modules whose register does not fit, in ascending order; a register that cannot be
// read counts as 0, and the informative text says which and why.
std::optional<ModuleRunResult> ModuleUpdateEngine::checkModules(int (*registerOf)(int),
                                                                const std::function<bool(uint16_t)> &fits,
                                                                const char *text)
{
    QStringList mismatched;
    QStringList unread;
    for (int module = m_target.firstModule; module <= m_target.lastModule; ++module) {
        std::string failure;
        const int address = registerOf(module);
        if (fits(m_transport.readModuleRegister(address, &failure)))
            continue;
        mismatched << QString::number(module);
        if (!failure.empty())
            unread << QStringLiteral("Register %1 of module %2 could not be read: %3.")
                          .arg(address)
                          .arg(module)
                          .arg(QString::fromStdString(failure));
    }
    if (mismatched.isEmpty())
        return std::nullopt;
    return ModuleRunResult{Outcome::ModulesDoNotMatch,
                           UpdateOutcome::failed(Icon::Critical, pageText("Firmware matching error"),
                                                 pageText(text).arg(mismatched.join(", ")), unread.join("\n"))};
}

// One module from its selection to its start. A result when the run ends at this module.
std::optional<ModuleRunResult> ModuleUpdateEngine::updateModule(int module)
{
    beginModule(module);
    m_transport.selectModule(module);
    const std::optional<ModuleVariant> variant = m_bootLoader.synchronize();
    if (!variant)
        return closingBox(Outcome::NotSynchronized, Icon::Critical,
                          pageText("Connection failed. Synchronizing baudrate of module failed."));
    m_bootLoader.erase(*variant);
    writeImage(*variant);
    const bool readComplete = readBack(module);
    if (m_observer.wasCanceled())
        return cancelled();
    m_observer.setLabelText(pageText("Comparing data of module %1 ...").arg(module));
    // Bytes that a read never brought back were not verified, whatever the buffer holds.
    if (!readComplete || !compareImage())
        return closingBox(Outcome::FlashDiffers, Icon::Critical,
                          pageText("Burning Firmware to module %1 Failed. Comparison is NOT equal. "
                                   "Content is different between local file and flash.")
                              .arg(module));
    m_bootLoader.startModuleFirmware();
    return std::nullopt;
}

void ModuleUpdateEngine::beginModule(int module)
{
    m_observer.setRange(0, 2 * m_firmware->imageLength + 1);
    m_bootLoader.resetProgressCounter();
    m_observer.setProgressValue(1);
    m_observer.setLabelText(pageText("Burning Firmware to module %1...").arg(module));
    m_observer.show();
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
        if (m_observer.wasCanceled())
            break;
    }
    m_bootLoader.writeFlashBlock(m_firmware->image, 0, variant);
    m_observer.setProgressValue(m_firmware->imageLength);
    m_observer.debugLine(secondsSince(timer));
}

bool ModuleUpdateEngine::readBack(int module)
{
    std::fill(m_readBackBuffer.begin(), m_readBackBuffer.end(), 0xFF);
    QElapsedTimer timer;
    timer.start();
    m_observer.setLabelText(pageText("Reading flash data on module %1 ...").arg(module));
    const bool complete = m_bootLoader.readFlash(m_firmware->imageLength, m_readBackBuffer);
    m_observer.debugLine(secondsSince(timer));
    return complete;
}

bool ModuleUpdateEngine::compareImage() const
{
    const auto length = static_cast<size_t>(std::max(m_firmware->imageLength, 0));
    const auto image = m_firmware->image.begin();
    return std::equal(image, image + length, m_readBackBuffer.begin());
}

ModuleRunResult ModuleUpdateEngine::finished() const
{
    const int first = m_target.firstModule;
    const int last = m_target.lastModule;
    const QString text = first == last
        ? pageText("Burning firmware successful. Firmware of module %1 has been updated.").arg(first)
        : pageText("Burning firmware successful. Firmware of module %1-%2 has been updated.").arg(first).arg(last);
    return closingBox(Outcome::Updated, Icon::Information, text);
}
