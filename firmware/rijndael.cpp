#include "firmware/rijndael.h"

#include "firmware/aes_instructions.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int AesBlockBytes = 16;

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
uint8_t gfMultiply(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00));
        b >>= 1;
    }
    return product;
}

uint32_t rotateRight8(uint32_t word) { return (word >> 8) | (word << 24); }

uint32_t packWord(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return (uint32_t(b0) << 24) | (uint32_t(b1) << 16) | (uint32_t(b2) << 8) | uint32_t(b3);
}

uint8_t byteOf(uint32_t word, int index) { return uint8_t(word >> (24 - 8 * index)); }

// The S-box, its inverse and the combined round tables, derived once from their definition:
// the multiplicative inverse in GF(2^8) followed by the affine transformation.
struct Tables {
    uint8_t sbox[256];
    uint8_t inverseSbox[256];
    uint32_t encrypt[4][256];
    uint32_t decrypt[4][256];

    Tables()
    {
        // 3 generates the multiplicative group: walking its powers gives every inverse at once,
        // as x = 3^k has the inverse 3^(255-k).
        uint8_t power[255];
        uint8_t exponent[256] = {};
        uint8_t element = 1;
        for (int k = 0; k < 255; ++k) {
            power[k] = element;
            exponent[element] = uint8_t(k);
            element = gfMultiply(element, 3);
        }
        for (int x = 0; x < 256; ++x) {
            const uint8_t inverse = x ? power[(255 - exponent[x]) % 255] : 0;
            uint8_t s = inverse;
            for (int shift = 1; shift < 5; ++shift)
                s ^= uint8_t((inverse << shift) | (inverse >> (8 - shift)));
            s ^= 0x63;
            sbox[x] = s;
            inverseSbox[s] = uint8_t(x);
        }
        for (int x = 0; x < 256; ++x) {
            const uint8_t s = sbox[x];
            const uint8_t i = inverseSbox[x];
            encrypt[0][x] = packWord(gfMultiply(s, 2), s, s, gfMultiply(s, 3));
            decrypt[0][x] = packWord(gfMultiply(i, 14), gfMultiply(i, 9), gfMultiply(i, 13),
                                     gfMultiply(i, 11));
            for (int t = 1; t < 4; ++t) {
                encrypt[t][x] = rotateRight8(encrypt[t - 1][x]);
                decrypt[t][x] = rotateRight8(decrypt[t - 1][x]);
            }
        }
    }
};

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

// Row r of the state moves left by shiftOf(r) columns; the offsets depend on the block width.
constexpr int shiftOf(int row, int words)
{
    constexpr int offsets[3][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 3, 4}};
    return offsets[(words - 4) / 2][row];
}

// The column whose byte in `row` lands in column j; `Direction` is +1 for encryption (rows
// shift left) and -1 for decryption (rows shift right).
template <int Words, int Direction>
constexpr int sourceColumn(int j, int row)
{
    return (j + Direction * shiftOf(row, Words) + Words) % Words;
}

void loadState(const char *in, uint32_t *state, int words, const uint32_t *roundKey)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(in);
    for (int j = 0; j < words; ++j)
        state[j] = packWord(bytes[4 * j], bytes[4 * j + 1], bytes[4 * j + 2], bytes[4 * j + 3])
                   ^ roundKey[j];
}

void storeState(const uint32_t *state, char *out, int words)
{
    for (int j = 0; j < words; ++j)
        for (int b = 0; b < 4; ++b)
            out[4 * j + b] = char(byteOf(state[j], b));
}

// One full round with the combined tables. The block width is a template argument so that
// the loops unroll and the state stays in registers.
template <int Words, int Direction>
void tableRound(const uint32_t table[4][256], const uint32_t *in, uint32_t *out, const uint32_t *roundKey)
{
#pragma GCC unroll 8
    for (int j = 0; j < Words; ++j) {
        uint32_t word = roundKey[j];
#pragma GCC unroll 4
        for (int row = 0; row < 4; ++row)
            word ^= table[row][byteOf(in[sourceColumn<Words, Direction>(j, row)], row)];
        out[j] = word;
    }
}

template <int Words, int Direction>
void finalRound(const uint8_t *box, const uint32_t *in, uint32_t *out, const uint32_t *roundKey)
{
#pragma GCC unroll 8
    for (int j = 0; j < Words; ++j) {
        uint8_t bytes[4];
#pragma GCC unroll 4
        for (int row = 0; row < 4; ++row)
            bytes[row] = box[byteOf(in[sourceColumn<Words, Direction>(j, row)], row)];
        out[j] = packWord(bytes[0], bytes[1], bytes[2], bytes[3]) ^ roundKey[j];
    }
}

template <int Words, int Direction>
void runTableBlock(const uint32_t table[4][256], const uint8_t *box, const uint32_t (*roundKeys)[CRijndael::MaxWords],
                   int rounds, const char *in, char *out)
{
    uint32_t state[Words], next[Words];
    loadState(in, state, Words, roundKeys[0]);
    for (int round = 1; round < rounds; ++round) {
        tableRound<Words, Direction>(table, state, next, roundKeys[round]);
        std::copy(next, next + Words, state);
    }
    finalRound<Words, Direction>(box, state, next, roundKeys[rounds]);
    storeState(next, out, Words);
}

// Each block width has its own unrolled code.
template <int Direction>
void runTableBlocks(const uint32_t table[4][256], const uint8_t *box, const uint32_t (*roundKeys)[CRijndael::MaxWords],
                    int rounds, int blockSize, const char *in, char *out, size_t n)
{
    for (size_t offset = 0; offset < n; offset += size_t(blockSize)) {
        if (blockSize == 16)
            runTableBlock<4, Direction>(table, box, roundKeys, rounds, in + offset, out + offset);
        else if (blockSize == 24)
            runTableBlock<6, Direction>(table, box, roundKeys, rounds, in + offset, out + offset);
        else
            runTableBlock<8, Direction>(table, box, roundKeys, rounds, in + offset, out + offset);
    }
}

bool processorRunsAes()
{
#ifdef TARNLOW_HAS_AES_INSTRUCTIONS
    return AesInstructions::available();
#else
    return false;
#endif
}

uint32_t substituteWord(uint32_t word)
{
    const uint8_t *s = tables().sbox;
    return packWord(s[byteOf(word, 0)], s[byteOf(word, 1)], s[byteOf(word, 2)],
                    s[byteOf(word, 3)]);
}

uint32_t inverseMixColumn(uint32_t word)
{
    const Tables &t = tables();
    uint32_t mixed = 0;
    for (int row = 0; row < 4; ++row)
        mixed ^= t.decrypt[row][t.sbox[byteOf(word, row)]];
    return mixed;
}

} // namespace

const char *CRijndael::my_exception::what() const noexcept
{
    if (m_message && *m_message)
        return m_message;
    const char *base = std::exception::what();
    return (base && *base) ? base : "Unknown exception";
}

CRijndael::CRijndael() = default;
CRijndael::~CRijndael() = default;

void CRijndael::setKey(const char *key, const char *chain, int keyLength, int blockSize)
{
    if (!key)
        throw my_exception("Empty key");
    if (keyLength != 16 && keyLength != 24 && keyLength != 32)
        throw my_exception("Incorrect key length");
    if (blockSize != 16 && blockSize != 24 && blockSize != 32)
        throw my_exception("Incorrect block length");
    m_keyLength = keyLength;
    m_blockSize = blockSize;
    std::memset(m_initialChain, 0, sizeof m_initialChain);
    if (chain)
        std::memcpy(m_initialChain, chain, size_t(blockSize));
    std::memcpy(m_chain, m_initialChain, sizeof m_chain);
    m_rounds = (keyLength > blockSize ? keyLength : blockSize) / 4 + 6;
    expandKey(key);
    keepAesKeyBytes();
    m_engine = blockSize == AesBlockBytes && processorRunsAes() ? Engine::AesInstructions : Engine::Portable;
    m_keyInitialized = true;
}

bool CRijndael::setEngine(Engine engine)
{
    if (engine == Engine::AesInstructions && (m_blockSize != AesBlockBytes || !processorRunsAes()))
        return false;
    m_engine = engine;
    return true;
}

void CRijndael::expandKey(const char *key)
{
    const int keyWords = m_keyLength / 4;
    const int blockWords = m_blockSize / 4;
    const int totalWords = blockWords * (m_rounds + 1);
    const auto *bytes = reinterpret_cast<const uint8_t *>(key);
    for (int i = 0; i < keyWords; ++i)
        m_keyWork[i] = packWord(bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2], bytes[4 * i + 3]);

    uint8_t roundConstant = 1;
    uint32_t previous[MaxWords];
    std::memcpy(previous, m_keyWork, sizeof previous);
    for (int i = 0; i < totalWords; ++i) {
        uint32_t word;
        if (i < keyWords) {
            word = m_keyWork[i];
        } else {
            uint32_t temp = previous[(i - 1) % keyWords];
            if (i % keyWords == 0) {
                temp = substituteWord((temp << 8) | (temp >> 24)) ^ (uint32_t(roundConstant) << 24);
                roundConstant = gfMultiply(roundConstant, 2);
            } else if (keyWords > 6 && i % keyWords == 4) {
                temp = substituteWord(temp);
            }
            word = previous[i % keyWords] ^ temp;
        }
        previous[i % keyWords] = word;
        m_encryptKeys[i / blockWords][i % blockWords] = word;
    }

    for (int round = 0; round <= m_rounds; ++round)
        for (int j = 0; j < blockWords; ++j) {
            const uint32_t word = m_encryptKeys[m_rounds - round][j];
            const bool outerRound = round == 0 || round == m_rounds;
            m_decryptKeys[round][j] = outerRound ? word : inverseMixColumn(word);
        }
}

// The instructions take each round key as the 16 bytes of the block it is added to.
void CRijndael::keepAesKeyBytes()
{
    if (m_blockSize != AesBlockBytes)
        return;
    constexpr int words = AesBlockBytes / 4;
    for (int round = 0; round <= m_rounds; ++round) {
        const int offset = AesBlockBytes * round;
        storeState(m_encryptKeys[round], reinterpret_cast<char *>(m_encryptKeyBytes + offset), words);
        storeState(m_decryptKeys[round], reinterpret_cast<char *>(m_decryptKeyBytes + offset), words);
    }
}

void CRijndael::requireKey() const
{
    if (!m_keyInitialized)
        throw my_exception("Object not Initialized");
}

void CRijndael::requireWholeBlocks(size_t n) const
{
    if (n == 0 || n % size_t(m_blockSize) != 0)
        throw my_exception("Data not multiple of Block Size");
}

void CRijndael::encryptBlocks(const char *in, char *result, size_t n) const
{
#ifdef TARNLOW_HAS_AES_INSTRUCTIONS
    if (m_engine == Engine::AesInstructions) {
        AesInstructions::encryptBlocks(m_encryptKeyBytes, m_rounds, in, result, n / AesBlockBytes);
        return;
    }
#endif
    const Tables &t = tables();
    runTableBlocks<+1>(t.encrypt, t.sbox, m_encryptKeys, m_rounds, m_blockSize, in, result, n);
}

void CRijndael::decryptBlocks(const char *in, char *result, size_t n) const
{
#ifdef TARNLOW_HAS_AES_INSTRUCTIONS
    if (m_engine == Engine::AesInstructions) {
        AesInstructions::decryptBlocks(m_decryptKeyBytes, m_rounds, in, result, n / AesBlockBytes);
        return;
    }
#endif
    const Tables &t = tables();
    runTableBlocks<-1>(t.decrypt, t.inverseSbox, m_decryptKeys, m_rounds, m_blockSize, in, result, n);
}

void CRijndael::encryptBlock(const char *in, char *result)
{
    requireKey();
    encryptBlocks(in, result, size_t(m_blockSize));
}

void CRijndael::decryptBlock(const char *in, char *result)
{
    requireKey();
    decryptBlocks(in, result, size_t(m_blockSize));
}

void CRijndael::xorChain(char *block) const
{
    for (int i = 0; i < m_blockSize; ++i)
        block[i] = char(block[i] ^ m_chain[i]);
}

void CRijndael::setChain(const char *block) { std::memcpy(m_chain, block, size_t(m_blockSize)); }

void CRijndael::encrypt(const char *in, char *result, size_t n, int mode)
{
    requireKey();
    requireWholeBlocks(n);
    if (mode != CBC && mode != CFB) {
        encryptBlocks(in, result, n);
        return;
    }
    char block[MaxBlockSize];
    for (size_t offset = 0; offset < n; offset += size_t(m_blockSize)) {
        const char *source = in + offset;
        char *target = result + offset;
        if (mode == CBC) {
            std::memcpy(block, source, size_t(m_blockSize));
            xorChain(block);
            encryptBlock(block, target);
            setChain(target);
        } else {
            encryptBlock(m_chain, block);
            for (int i = 0; i < m_blockSize; ++i)
                target[i] = char(block[i] ^ source[i]);
            setChain(target);
        }
    }
}

void CRijndael::decrypt(const char *in, char *result, size_t n, int mode)
{
    requireKey();
    requireWholeBlocks(n);
    // ECB blocks are independent, so the engine takes them all at once.
    if (mode != CBC && mode != CFB) {
        decryptBlocks(in, result, n);
        return;
    }
    char block[MaxBlockSize];
    for (size_t offset = 0; offset < n; offset += size_t(m_blockSize)) {
        const char *source = in + offset;
        char *target = result + offset;
        if (mode == CBC) {
            decryptBlock(source, block);
            xorChain(block);
            setChain(source);
            std::memcpy(target, block, size_t(m_blockSize));
        } else {
            encryptBlock(m_chain, block);
            setChain(source);
            for (int i = 0; i < m_blockSize; ++i)
                target[i] = char(block[i] ^ source[i]);
        }
    }
}
