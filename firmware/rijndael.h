#pragma once

#include <cstdint>
#include <exception>

// The Rijndael block cipher in its general form (block and key lengths of 16, 24 or 32 bytes);
// with a 16-byte block it is AES as published in FIPS-197. The firmware files need only AES-128
// decryption in ECB mode; encryption serves the firmware tool and the tests. With a 16-byte block
// the processor's AES instructions run the cipher where it has them, table code everywhere else.
class CRijndael
{
public:
    class my_exception : public std::exception
    {
    public:
        explicit my_exception(const char *message = nullptr) : m_message(message) {}
        const char *what() const noexcept override;

    private:
        const char *m_message;
    };

    enum CipherMode { ECB = 0, CBC = 1, CFB = 2 };
    enum class Engine { Portable, AesInstructions };

    static constexpr int MaxBlockSize = 32;
    static constexpr int MaxRounds = 14;
    static constexpr int MaxWords = MaxBlockSize / 4;

    CRijndael();
    virtual ~CRijndael();

    // key: keyLength raw bytes; chain: blockSize bytes, the initial chaining block of CBC/CFB.
    void setKey(const char *key, const char *chain, int keyLength, int blockSize);

    void encryptBlock(const char *in, char *result);
    void decryptBlock(const char *in, char *result);

    // n bytes, a non-zero multiple of the block size; mode is a CipherMode (other values: ECB).
    void encrypt(const char *in, char *result, size_t n, int mode = ECB);
    void decrypt(const char *in, char *result, size_t n, int mode = ECB);

    int blockSize() const { return m_blockSize; }
    int rounds() const { return m_rounds; }

    // setKey picks the AES instructions when the block is 16 bytes and the processor has them,
    // the portable code otherwise. setEngine switches for the key set; false, with nothing
    // changed, when the block size or the processor rules the engine out.
    Engine engine() const { return m_engine; }
    bool setEngine(Engine engine);

private:
    void requireKey() const;
    void requireWholeBlocks(size_t n) const;
    void expandKey(const char *key);
    void keepAesKeyBytes();
    // ECB over n bytes, a multiple of the block size, on the engine chosen.
    void encryptBlocks(const char *in, char *result, size_t n) const;
    void decryptBlocks(const char *in, char *result, size_t n) const;
    void xorChain(char *block) const;
    void setChain(const char *block);

    bool m_keyInitialized = false;
    int m_keyLength = 0;
    int m_blockSize = 0;
    int m_rounds = 0;
    uint32_t m_encryptKeys[MaxRounds + 1][MaxWords] = {};
    uint32_t m_decryptKeys[MaxRounds + 1][MaxWords] = {};
    char m_initialChain[MaxBlockSize] = {};
    char m_chain[MaxBlockSize] = {};
    uint32_t m_keyWork[MaxWords] = {};
    Engine m_engine = Engine::Portable;
    // The round keys as the AES instructions take them, 16 bytes a round.
    uint8_t m_encryptKeyBytes[(MaxRounds + 1) * 16] = {};
    uint8_t m_decryptKeyBytes[(MaxRounds + 1) * 16] = {};
};
