#include "firmware/hex_image.h"

const HexPageProfile &HexPageProfile::coupler()
{
    static const HexPageProfile profile{1048576, true, 512, false, 0x702, 0x1000, true};
    return profile;
}

const HexPageProfile &HexPageProfile::module()
{
    static const HexPageProfile profile{1048576, false, 64, true, 0xFFFF, 0x1000, true};
    return profile;
}

const HexPageProfile &HexPageProfile::canopen()
{
    static const HexPageProfile profile{131072, true, 512, true, 0xFFFF, 0x1000, true};
    return profile;
}

HexImage::HexImage(const HexPageProfile &profile)
    : image(static_cast<size_t>(profile.capacity), 0xFF),
      productCode(profile.defaultProductCode),
      hardwareVersion(profile.defaultHardwareVersion),
      fixVectorChecksum(profile.defaultFixVectorChecksum)
{
}

HexLoadResult loadHexImage(HexImage &, const HexPageProfile &)
{
    return {HexLoadError::RecordError, 0};
}

bool loadHexFile(QWidget *, const char *, HexImage &, const HexPageProfile &)
{
    return false;
}
