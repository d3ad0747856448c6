// Feeds arbitrary bytes to the loader as decrypted firmware text and as a raw firmware file, and
// to the check that tells a HEX page's file from the EtherCAT coupler's.
#include "firmware/encrypted_hex_file.h"
#include "firmware/firmware_cipher.h"
#include "firmware/firmware_file_kind.h"
#include "firmware/hex_image.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    (void)firmwareFileKind(data, size, size);
    std::istringstream raw(std::string(reinterpret_cast<const char *>(data), size));
    EncryptedHexFile file;
    file.read(raw);

    static const std::string path = "/tmp/fuzz_firmware_file." + std::to_string(getpid());
    const std::vector<uint8_t> encrypted = encryptFirmwareData(std::vector<uint8_t>(data, data + size));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(encrypted.data()),
                                                std::streamsize(encrypted.size()));
    for (const HexPageProfile *profile :
         {&HexPageProfile::coupler(), &HexPageProfile::module(), &HexPageProfile::canopen()}) {
        HexImage hex(*profile);
        hex.fileName = path;
        loadHexImage(hex, *profile);
    }
    return 0;
}
