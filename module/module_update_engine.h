#pragma once

#include "core/update_result.h"
#include "core/update_tools.h"

// One firmware file written to a range of I/O modules behind an Ethernet coupler, without any
// widget: the matching checks against the modules' information registers, then for each module
// select, handshake, erase, write, read-back, comparison and start.
#include "module/module_boot_loader.h"
#include "module/module_transport.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class PassThroughLink;
struct HexImage;

// The coupler to talk through and the modules to update, first to last.
struct ModuleRange {
    // The module numbers a coupler can address.
    static constexpr int kLowestModule = 1;
    static constexpr int kHighestModule = 16;

    PassThroughLink &link;
    int firstModule;
    int lastModule;
    bool advanceMode = false;   // skips the matching checks
};

class ModuleUpdateEngine
{
public:
    static constexpr int kResponseTimeoutUs = 500000;

    ModuleUpdateEngine(const ModuleRange &target, const UpdateTools &tools);

    // The whole run for the loaded `firmware`: verified, aborted, or failed with the modules
    // that did not fit (and the registers that could not be read) or the module it ended at.
    UpdateResult run(const HexImage &firmware);

    // The matching checks; each gives the run's end when a module does not fit.
    std::optional<UpdateResult> checkProductCodes();
    std::optional<UpdateResult> checkHardwareVersions();
    // True when flash read back equals the first imageLength bytes of the image.
    bool compareImage() const;

private:
    std::optional<UpdateResult> checkModules(int (*registerOf)(int), const std::function<bool(uint16_t)> &fits,
                                             UpdateResult::Cause cause);
    std::optional<UpdateResult> updateModule(int module);
    void beginModule(int module);
    void writeImage(ModuleVariant variant);
    bool readBack(int module);
    // The run's end, over the whole range; `module` is the one it ended at (0: none).
    UpdateResult ended(UpdateResult::Kind kind, UpdateResult::Cause cause = UpdateResult::Cause::None,
                       int module = 0) const;

    ModuleRange m_target;
    UpdateTools m_tools;
    ModuleTransport m_transport;
    ModuleBootLoader m_bootLoader;
    const HexImage *m_firmware = nullptr;
    std::vector<uint8_t> m_readBackBuffer;
};
