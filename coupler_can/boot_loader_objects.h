#pragma once

#include <cstdint>

// The coupler objects through which its boot loader is driven; every value is 32 bits.
namespace BootLoaderObjects {

// Written; the subindex selects the command, the value is a key or a flash address.
constexpr uint16_t BootCommandObject = 0x5100;
// Read; tells which program runs.
constexpr uint16_t ModeSignatureObject = 0x5101;
constexpr uint8_t ModeSignatureSubIndex = 0;
// The boot loader's 256-byte page buffer as 64 words; subindex n is bytes 4n to 4n+3.
constexpr uint16_t PageBufferObject = 0x5102;
constexpr int PageBufferWords = 64;
constexpr int PageSize = 256;

enum Command : uint8_t {
    RequestBoot = 1,      // first half of the boot entry; the coupler does not answer it
    ConfirmBoot = 2,      // 500 ms later; answered, then the boot loader runs
    StartUser = 3,        // not answered; the user firmware sends one guard frame once it runs
    ReportVerified = 4,   // the read-back matched the image
    ProgramPage = 6,      // page buffer to flash at the address given
    FetchPage = 7,        // flash at the address given to the page buffer
    StartWriting = 8,     // once before the first page
};

constexpr uint32_t BootKey = 0x4C1D93E7;
constexpr uint32_t WriteStartKey = 0x9B27E05A;

// The signatures read as little-endian numbers of the wire bytes "toob" and "mron".
constexpr uint32_t BootLoaderSignature = 0x626F6F74;
constexpr uint32_t UserFirmwareSignature = 0x6E6F726D;

constexpr uint32_t FirstPageAddress = 0x8000;
constexpr int EnterBootPauseMs = 500;
constexpr int UserFirmwareStartMs = 5000;

}
