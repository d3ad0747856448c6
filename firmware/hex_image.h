#pragma once

#include "core/update_outcome.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// What a page's loader does differently: capacity, long-line rule, decode capacity, the kind of
// box for a missing file, and the header defaults the page starts with.
struct HexPageProfile {
    int capacity;                 // image bytes; also %1 of the "bigger than" message
    bool skipLinesLongerThan43;   // a 43-character line is a record of 16 data bytes
    int decodeCapacity;           // decoded bytes a line may hold
    bool missingFileIsCritical;   // "File does not exist." as critical box, else warning
    uint32_t defaultProductCode;
    int defaultHardwareVersion;
    bool defaultFixVectorChecksum;

    static const HexPageProfile &coupler();
    static const HexPageProfile &module();
    static const HexPageProfile &canopen();
};

// One page's firmware: the file, the flat image (0xFF beyond the data) and the header values.
struct HexImage {
    explicit HexImage(const HexPageProfile &profile);

    std::string fileName;
    std::vector<uint8_t> image;   // profile.capacity bytes
    int imageLength = 0;          // written only by a successful load
    uint32_t productCode;
    int hardwareVersion;          // decimal digit << 12
    bool fixVectorChecksum;
};

// Why a load failed; None on success.
enum class HexLoadError {
    None,
    NoFileName,       // "Please choose hex file"
    CannotOpen,       // "File does not exist."
    FormatError,      // "File format error."  (decryption failed)
    RecordError,      // "unexpected format or checksum error"
    TooBig,           // "Data size in hex file is bigger than %1"
    NoData,           // "File format error."  (no data record: wrong key, not a HEX text)
};

struct HexLoadResult {
    HexLoadError error = HexLoadError::None;
    uint32_t vectorChecksum = 0;  // the word written at bytes 28..31 when fixVectorChecksum
    bool ok() const { return error == HexLoadError::None; }
};

// Loads hex.fileName into hex without any user interface (the firmware tool and the pages share
// it). Fills the whole image with 0xFF first. Data records are laid back to back in file order;
// their addresses only take part in the checksum.
HexLoadResult loadHexImage(HexImage &hex, const HexPageProfile &profile);

// The untranslated message text of a failure, as the pages show it (%1 filled in).
QString hexLoadErrorText(HexLoadError error, const HexPageProfile &profile);

// The one message box a failed load shows on a page: its icon, its title ("Load hex file error",
// or the application's name when no file was chosen) and its text, translated in the page's
// class context.
UpdateOutcome hexLoadOutcome(HexLoadError error, const HexPageProfile &profile, const char *translationContext);
