#include "firmware/aes_instructions.h"

#ifdef TARNLOW_HAS_AES_INSTRUCTIONS

#include <wmmintrin.h>

namespace {

constexpr size_t BlockBytes = 16;
constexpr int MostRoundKeys = 15;
// ECB blocks do not depend on each other, so eight go through the rounds side by side: an AES
// instruction takes several cycles to give its result, and the other seven blocks fill them.
constexpr size_t BlocksAbreast = 8;

template <bool Decrypting>
__attribute__((target("aes,sse2"))) inline __m128i middleRound(__m128i state, __m128i key)
{
    if constexpr (Decrypting)
        return _mm_aesdec_si128(state, key);
    else
        return _mm_aesenc_si128(state, key);
}

template <bool Decrypting>
__attribute__((target("aes,sse2"))) inline __m128i lastRound(__m128i state, __m128i key)
{
    if constexpr (Decrypting)
        return _mm_aesdeclast_si128(state, key);
    else
        return _mm_aesenclast_si128(state, key);
}

// Loads all `Count` blocks before storing any, so `in` and `out` may be the same buffer.
template <bool Decrypting, size_t Count>
__attribute__((target("aes,sse2"))) inline void runGroup(const __m128i *keys, int rounds, const char *in, char *out)
{
    __m128i state[Count];
#pragma GCC unroll 8
    for (size_t b = 0; b < Count; ++b)
        state[b] = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + BlockBytes * b)), keys[0]);
    for (int round = 1; round < rounds; ++round) {
#pragma GCC unroll 8
        for (size_t b = 0; b < Count; ++b)
            state[b] = middleRound<Decrypting>(state[b], keys[round]);
    }
#pragma GCC unroll 8
    for (size_t b = 0; b < Count; ++b)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + BlockBytes * b),
                         lastRound<Decrypting>(state[b], keys[rounds]));
}

template <bool Decrypting>
__attribute__((target("aes,sse2"))) void runBlocks(const uint8_t *roundKeys, int rounds, const char *in, char *out,
                                                   size_t blocks)
{
    __m128i keys[MostRoundKeys];
    for (int round = 0; round <= rounds; ++round)
        keys[round] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(roundKeys + BlockBytes * size_t(round)));
    size_t done = 0;
    for (; done + BlocksAbreast <= blocks; done += BlocksAbreast)
        runGroup<Decrypting, BlocksAbreast>(keys, rounds, in + BlockBytes * done, out + BlockBytes * done);
    for (; done < blocks; ++done)
        runGroup<Decrypting, 1>(keys, rounds, in + BlockBytes * done, out + BlockBytes * done);
}

} // namespace

namespace AesInstructions {

bool available()
{
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
}

void encryptBlocks(const uint8_t *roundKeys, int rounds, const char *in, char *out, size_t blocks)
{
    runBlocks<false>(roundKeys, rounds, in, out, blocks);
}

void decryptBlocks(const uint8_t *roundKeys, int rounds, const char *in, char *out, size_t blocks)
{
    runBlocks<true>(roundKeys, rounds, in, out, blocks);
}

}

#endif
