#pragma once

#include <cstddef>
#include <cstdint>

// AES rounds run by the processor's own AES instructions, on x86 processors that have them.
// Everything else in the build stays plain x86-64: only these functions are compiled for the
// instructions, and the cipher calls them after asking the processor at run time.
#if defined(__x86_64__) || defined(__i386__)
#define TARNLOW_HAS_AES_INSTRUCTIONS 1

namespace AesInstructions {

// True when the processor executes the AES instructions.
bool available();

// `roundKeys` holds rounds + 1 keys of 16 bytes, in the order the rounds use them; for
// decryption those of the equivalent inverse cipher (the middle ones through InvMixColumns).
// `in` and `out` hold `blocks` blocks of 16 bytes; they are either the same buffer or apart.
void encryptBlocks(const uint8_t *roundKeys, int rounds, const char *in, char *out, size_t blocks);
void decryptBlocks(const uint8_t *roundKeys, int rounds, const char *in, char *out, size_t blocks);

}

#endif
