#pragma once

// One Ethernet coupler update over the boot protocol, without any widget: boot mode, the pages
// written, the checksum sealed, the pages read back and compared, the firmware started.
#include "core/update_result.h"
#include "core/update_tools.h"
#include "coupler_eth/coupler_boot_protocol.h"
#include "firmware/hex_image.h"

#include <string>
#include <vector>

class CouplerBootLink;

class CouplerUpdateEngine
{
public:
    // The boot loader restarts after ENTER BOOT MODE and the firmware after RUN USER MODE;
    // each needs this long before it answers CONFIRM BOOT MODE.
    static constexpr int kModeChangeWaitMs = 5000;
    static constexpr int kWaitBeforeRunMs = 1500;

    // The register checks go to `modbusPort`.
    CouplerUpdateEngine(CouplerBootLink &link, const UpdateTools &tools, int modbusPort);

    // The whole update of the coupler at `ip` with the loaded file: its registers checked
    // against the file header, the wait, the run. For a protocol fault the result's exchange is
    // the exception's text and its detail what else is known (the OS error, the reply in
    // hexadecimal); for a flash that differs, the first differing byte.
    UpdateResult update(const HexImage &hex, const std::string &ip, std::vector<uint8_t> &readBack);

    // The whole run for the first `imageLength` bytes of `image` (padded with its own 0xFF fill
    // to whole pages); `readBack` (as large as `image`) receives the flash read back.
    UpdateResult run(const std::vector<uint8_t> &image, int imageLength,
                         std::vector<uint8_t> &readBack);

    // The exchanges, in the order run() makes them. They throw FormatErrorException and
    // SendFailedException.
    void enterBootMode();
    bool confirmBootMode();
    void writePages(const std::vector<uint8_t> &image, int imageLength);
    void writeChecksum();
    void readPages(std::vector<uint8_t> &readBack, int imageLength);
    void runUserMode();

private:
    // Runs `steps`; a protocol fault ends them in its result.
    template <typename Steps>
    UpdateResult faultsEnd(Steps steps);
    UpdateResult writeAndVerify(const std::vector<uint8_t> &image, int imageLength,
                                    std::vector<uint8_t> &readBack);
    void exchangePage(CouplerBootCommand command, int offset, const uint8_t *pageData,
                      uint8_t *readInto);
    void sendHeaderOnly(CouplerBootCommand command);
    std::string replyDetail(const uint8_t *reply, int length) const;
    void advanceProgress();

    CouplerBootLink &m_link;
    UpdateTools m_tools;
    int m_modbusPort;
    int m_progressValue = 0;
    UpdateResult::DeviceAfter m_deviceAfter = UpdateResult::DeviceAfter::Unknown;
};
