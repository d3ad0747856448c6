#include "firmware/encrypted_hex_file.h"
#include "firmware/firmware_cipher.h"
#include "firmware/firmware_file_kind.h"
#include "firmware/rijndael.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/test_main.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>

#include <sstream>
#include <streambuf>
#include <string>

namespace {

using Engine = CRijndael::Engine;

QByteArray runCipher(const QByteArray &key, const QByteArray &block, bool encrypt, Engine engine, int blockSize = 16)
{
    CRijndael cipher;
    cipher.setKey(key.constData(), QByteArray(32, 0).constData(), key.size(), blockSize);
    if (!cipher.setEngine(engine))
        return "<engine refused>";
    QByteArray out(block.size(), 0);
    if (encrypt)
        cipher.encryptBlock(block.constData(), out.data());
    else
        cipher.decryptBlock(block.constData(), out.data());
    return out;
}

// What /proc/cpuinfo says, independently of the cipher's own check.
bool processorHasAesInstructions()
{
    QFile cpuinfo("/proc/cpuinfo");
    if (!cpuinfo.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : cpuinfo.readAll().split('\n'))
        if (line.startsWith("flags"))
            return line.split(':').value(1).split(' ').contains("aes");
    return false;
}

QList<Engine> enginesOfThisProcessor()
{
    return processorHasAesInstructions() ? QList<Engine>{Engine::Portable, Engine::AesInstructions}
                                         : QList<Engine>{Engine::Portable};
}

QByteArray randomBytes(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, 0);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// openssl's output for `input`, or an empty array when it fails.
QByteArray openssl(const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.start("openssl", arguments);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                                   : QByteArray();
}

// A stream that cannot seek, as a pipe.
class PipeBuffer : public std::streambuf
{
public:
    explicit PipeBuffer(std::string bytes) : m_bytes(std::move(bytes))
    {
        setg(m_bytes.data(), m_bytes.data(), m_bytes.data() + m_bytes.size());
    }

private:
    std::string m_bytes;
};

QByteArray streamedText(std::istream &in, bool &ok)
{
    QByteArray text;
    ok = decryptFirmwareStream(in, [&text](const uint8_t *piece, size_t size) {
        text.append(reinterpret_cast<const char *>(piece), int(size));
        return true;
    });
    return text;
}

// Encrypts exactly these bytes (already a multiple of 16) with the firmware key, without the
// tool's padding.
QByteArray encryptedExactly(const QByteArray &plaintextPadded)
{
    CRijndael cipher;
    cipher.setKey("5C3A9E07D21B84F6", "A47E10C9B3D6528F", 16, 16);
    QByteArray encrypted(plaintextPadded.size(), 0);
    cipher.encrypt(plaintextPadded.constData(), encrypted.data(), size_t(encrypted.size()));
    return encrypted;
}

std::vector<std::string> linesOf(const QByteArray &plaintextPadded)
{
    std::istringstream in(encryptedExactly(plaintextPadded).toStdString());
    EncryptedHexFile file;
    if (!file.read(in))
        return {"<read failed>"};
    return file.lines();
}

QByteArray padded(QByteArray text)
{
    text.append(QByteArray((16 - text.size() % 16) % 16, '\0'));
    return text;
}

} // namespace

Q_DECLARE_METATYPE(CRijndael::Engine)

class TestFirmwareCipher : public QObject
{
    Q_OBJECT

private slots:
    // The example vectors of FIPS-197, appendix C, on every engine this processor has.
    void aesKnownAnswers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("cipherText");
        QTest::addColumn<Engine>("engine");
        const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"
                                                   "101112131415161718191a1b1c1d1e1f");
        for (Engine engine : enginesOfThisProcessor()) {
            const char *name = engine == Engine::Portable ? "portable" : "AES instructions";
            QTest::addRow("AES-128, %s", name) << key.left(16) << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a") << engine;
            QTest::addRow("AES-192, %s", name) << key.left(24) << QByteArray::fromHex("dda97ca4864cdfe06eaf70a0ec0d7191") << engine;
            QTest::addRow("AES-256, %s", name) << key << QByteArray::fromHex("8ea2b7ca516745bfeafc49904b496089") << engine;
        }
    }
    void aesKnownAnswers()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, cipherText);
        QFETCH(Engine, engine);
        const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        QCOMPARE(runCipher(key, plain, true, engine), cipherText);
        QCOMPARE(runCipher(key, cipherText, false, engine), plain);
    }

    // Rijndael's wider blocks run the portable code only: their results must stay what they were
    // before the rounds were specialised per block width.
    void widerBlocks_data()
    {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<QByteArray>("cipherText");
        QTest::newRow("24-byte block, 16-byte key") << 24 << 16 << QByteArray::fromHex("e64018d211d8349b350f38893d7d23899fece7a9aca7c6ba");
        QTest::newRow("24-byte block, 32-byte key") << 24 << 32 << QByteArray::fromHex("65d851df8d04b5cbb510935fdd1eb17b33efb8cb255ee712");
        QTest::newRow("32-byte block, 16-byte key") << 32 << 16
            << QByteArray::fromHex("98c6f98ba9631b91c34f431e0887c561b6ac44c985cecd38dbc4cb30b9170d2f");
        QTest::newRow("32-byte block, 24-byte key") << 32 << 24
            << QByteArray::fromHex("3c386395e910345a59a7dd165dcbda604bf072f0a03a6b0055a79b734e668868");
    }
    void widerBlocks()
    {
        QFETCH(int, blockSize);
        QFETCH(int, keyLength);
        QFETCH(QByteArray, cipherText);
        QByteArray key(keyLength, 0), plain(blockSize, 0);
        for (int i = 0; i < blockSize; ++i)
            plain[i] = char(i * 0x11);
        for (int i = 0; i < keyLength; ++i)
            key[i] = char(i);
        QCOMPARE(runCipher(key, plain, true, Engine::Portable, blockSize), cipherText);
        QCOMPARE(runCipher(key, cipherText, false, Engine::Portable, blockSize), plain);
    }

    // A 16-byte block runs on the AES instructions wherever the processor has them, so that the
    // tests below compare both engines there; nothing else can run on them.
    void engineChoice()
    {
        CRijndael cipher;
        QVERIFY(!cipher.setEngine(Engine::AesInstructions));
        cipher.setKey("0123456789abcdef", nullptr, 16, 16);
        const Engine fastest = processorHasAesInstructions() ? Engine::AesInstructions : Engine::Portable;
        QCOMPARE(cipher.engine(), fastest);
        QVERIFY(cipher.setEngine(Engine::Portable));
        QCOMPARE(cipher.engine(), Engine::Portable);
        QCOMPARE(cipher.setEngine(Engine::AesInstructions), processorHasAesInstructions());
        cipher.setKey("0123456789abcdef0123456789abcdef", nullptr, 32, 32);
        QCOMPARE(cipher.engine(), Engine::Portable);
        QVERIFY(!cipher.setEngine(Engine::AesInstructions));
        QCOMPARE(cipher.engine(), Engine::Portable);
    }

    // Random data in every mode, each engine against openssl and the fast one against the
    // portable one. 1001 blocks: the AES instructions take eight blocks at a time and the rest
    // one by one. ECB is also run in place, as the firmware reader decrypts.
    void enginesAgreeWithOpenssl_data()
    {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("opensslMode");
        QTest::newRow("AES-128 ECB") << 16 << int(CRijndael::ECB) << "ecb";
        QTest::newRow("AES-192 ECB") << 24 << int(CRijndael::ECB) << "ecb";
        QTest::newRow("AES-256 ECB") << 32 << int(CRijndael::ECB) << "ecb";
        QTest::newRow("AES-128 CBC") << 16 << int(CRijndael::CBC) << "cbc";
        QTest::newRow("AES-256 CFB") << 32 << int(CRijndael::CFB) << "cfb";
    }
    void enginesAgreeWithOpenssl()
    {
        QFETCH(int, keyLength);
        QFETCH(int, mode);
        QFETCH(QString, opensslMode);
        QRandomGenerator random(uint(keyLength * 7 + mode));
        const QByteArray key = randomBytes(random, keyLength);
        const QByteArray chain = randomBytes(random, 16);
        const QByteArray plain = randomBytes(random, 1001 * 16);
        QStringList arguments{"enc", QString("-aes-%1-%2").arg(keyLength * 8).arg(opensslMode), "-nopad", "-K", key.toHex()};
        if (mode != CRijndael::ECB)
            arguments << "-iv" << chain.toHex();
        const QByteArray expected = openssl(arguments, plain);
        QCOMPARE(expected.size(), plain.size());

        QMap<Engine, QByteArray> encrypted;
        for (Engine engine : enginesOfThisProcessor()) {
            CRijndael cipher;
            cipher.setKey(key.constData(), chain.constData(), keyLength, 16);
            QVERIFY(cipher.setEngine(engine));
            QByteArray out(plain.size(), 0);
            cipher.encrypt(plain.constData(), out.data(), size_t(plain.size()), mode);
            encrypted[engine] = out;

            cipher.setKey(key.constData(), chain.constData(), keyLength, 16);
            QVERIFY(cipher.setEngine(engine));
            QByteArray back = expected;
            char *inPlace = back.data();
            cipher.decrypt(inPlace, inPlace, size_t(back.size()), mode);
            QCOMPARE(back, plain);
        }
        QCOMPARE(encrypted[Engine::Portable], expected);
        if (encrypted.contains(Engine::AesInstructions))
            QCOMPARE(encrypted[Engine::AesInstructions], encrypted[Engine::Portable]);
    }

    void cipherFaultsAreExceptions()
    {
        auto message = [](auto action) -> QString {
            try {
                action();
            } catch (const CRijndael::my_exception &e) {
                return QString::fromLatin1(e.what());
            }
            return QString();
        };
        CRijndael cipher;
        char out[32];
        QCOMPARE(message([&] { cipher.setKey(nullptr, nullptr, 16, 16); }), QString("Empty key"));
        QCOMPARE(message([&] { cipher.setKey("k", nullptr, 20, 16); }), QString("Incorrect key length"));
        QCOMPARE(message([&] { cipher.setKey("0123456789abcdef", nullptr, 16, 8); }),
                 QString("Incorrect block length"));
        QCOMPARE(message([&] { cipher.decryptBlock(out, out); }), QString("Object not Initialized"));
        cipher.setKey("0123456789abcdef", "0123456789abcdef", 16, 16);
        QCOMPARE(message([&] { cipher.decrypt(out, out, 17); }), QString("Data not multiple of Block Size"));
        QCOMPARE(message([&] { cipher.decrypt(out, out, 0); }), QString("Data not multiple of Block Size"));
        QVERIFY(QString(CRijndael::my_exception().what()).size() > 0);
    }

    void lineSplitting()
    {
        using Lines = std::vector<std::string>;
        QCOMPARE(linesOf(padded(QByteArray(":00000001FF\r\n\x80", 14))), Lines{":00000001FF"});
        QCOMPARE(linesOf(padded(":00000001FF\r\n")), Lines{":00000001FF"});
        QCOMPARE(linesOf(padded("first\r\nlast line without CR")), Lines{"first"});
        QCOMPARE(linesOf(QByteArray(32, '\0')), Lines{});
        QCOMPARE(linesOf(padded("a\nb\nc\r\nd\n")), Lines{"a\nb\nc"});
        QCOMPARE(linesOf(padded("ab\rXcd\r\n")), Lines({"ab", "cd"}));
    }

    void allZeroPlaintextIsKept()
    {
        CRijndael cipher;
        cipher.setKey("5C3A9E07D21B84F6", "A47E10C9B3D6528F", 16, 16);
        const QByteArray zeros(32, '\0');
        QByteArray encrypted(32, 0);
        cipher.encrypt(zeros.constData(), encrypted.data(), 32);
        std::vector<uint8_t> plain;
        QVERIFY(decryptFirmwareData(reinterpret_cast<const uint8_t *>(encrypted.constData()), 32, plain));
        QCOMPARE(plain.size(), size_t(32));
    }

    // The files must be what openssl makes of the same text with the key's 16 ASCII bytes.
    void matchesOpenssl()
    {
        const QByteArray text = FirmwareBuilder::hexText(QByteArray(100, '\x5A'), "0702, V1, X=FALSE");
        const QByteArray decrypted = openssl({"enc", "-d", "-aes-128-ecb", "-nopad", "-K", QByteArray("5C3A9E07D21B84F6").toHex()},
                                             FirmwareBuilder::encrypt(text));
        QCOMPARE(decrypted.left(text.size()), text);
        QCOMPARE(quint8(decrypted.at(text.size())), quint8(FirmwarePaddingMarker));
        QCOMPARE(decrypted.size() % 16, 0);
    }

    // Read a stretch at a time, a file gives the text it gives decrypted whole: the trailer
    // trimmed wherever it falls, zeros after the marker reaching back over earlier stretches, a
    // file of zeros only kept whole; from a stream that can seek and from one that cannot.
    void streamedTextEqualsWholeText_data()
    {
        QTest::addColumn<QByteArray>("plaintext");
        QRandomGenerator random(11);
        const QByteArray text = randomBytes(random, 200000);
        QTest::newRow("marker in the last block") << padded(text + '\x80');
        QTest::newRow("zeros over two stretches") << padded(text.left(1000) + '\x80' + QByteArray(150000, '\0'));
        QTest::newRow("marker first") << padded('\x80' + QByteArray(70000, '\0'));
        QTest::newRow("no trailer, last byte taken as one") << text.left(131072);
        QTest::newRow("zeros only") << QByteArray(140000, '\0');
        QTest::newRow("one block") << padded("ab\r\n\x80");
    }
    void streamedTextEqualsWholeText()
    {
        QFETCH(QByteArray, plaintext);
        const QByteArray encrypted = encryptedExactly(plaintext);
        std::vector<uint8_t> whole;
        QVERIFY(decryptFirmwareData(reinterpret_cast<const uint8_t *>(encrypted.constData()), size_t(encrypted.size()), whole));
        const QByteArray expected(reinterpret_cast<const char *>(whole.data()), int(whole.size()));
        bool ok = false;
        std::istringstream seekable(encrypted.toStdString());
        QCOMPARE(streamedText(seekable, ok), expected);
        QVERIFY(ok);
        PipeBuffer pipe(encrypted.toStdString());
        std::istream piped(&pipe);
        QCOMPARE(streamedText(piped, ok), expected);
        QVERIFY(ok);
    }

    void streamsThatHoldNoFirmwareFile()
    {
        for (const std::string &bytes : {std::string(), std::string(17, 'x')}) {
            bool ok = true;
            std::istringstream seekable(bytes);
            QCOMPARE(streamedText(seekable, ok), QByteArray());
            QVERIFY(!ok);
            PipeBuffer pipe(bytes);
            std::istream piped(&pipe);
            QCOMPARE(streamedText(piped, ok), QByteArray());
            QVERIFY(!ok);
        }
    }

    // Lines, and the byte after their CR, that fall on either side of where one 64 KiB stretch
    // of the file ends and the next begins, and a line longer than two stretches.
    void linesAcrossStretches_data()
    {
        QTest::addColumn<int>("firstLineLength");
        QTest::addColumn<QByteArray>("afterCr");
        for (int length : {65534, 65535, 65536, 131071, 200000})
            QTest::addRow("CR at %d", length) << length << QByteArray("\n");
        QTest::newRow("CR last in a stretch, X dropped") << 65535 << QByteArray("X");
    }
    void linesAcrossStretches()
    {
        QFETCH(int, firstLineLength);
        QFETCH(QByteArray, afterCr);
        const QByteArray first(firstLineLength, 'a');
        const QByteArray second = "second line";
        QCOMPARE(linesOf(padded(first + '\r' + afterCr + second + "\r\n" + "no CR\x80")),
                 (std::vector<std::string>{first.toStdString(), second.toStdString()}));
    }

    void readingStopsWhenAsked()
    {
        std::istringstream in(encryptedExactly(padded(QByteArray(70000, 'a') + "\r\nb\r\nc\r\n\x80")).toStdString());
        std::vector<std::string> seen;
        QVERIFY(EncryptedHexFile::forEachLine(in, [&seen](std::string_view line) {
            seen.emplace_back(line);
            return seen.size() < 2;
        }));
        QCOMPARE(seen, (std::vector<std::string>{std::string(70000, 'a'), "b"}));
    }

    // A file meant for the HEX pages is told from a binary one by its first bytes.
    void firmwareFilesAreToldApart_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("kind");
        const QByteArray text = FirmwareBuilder::hexText(FirmwareBuilder::pattern(300));
        QTest::newRow("encrypted, with header") << FirmwareBuilder::encryptedHex(FirmwareBuilder::pattern(300), "0702, V1, X=FALSE")
                                                << int(FirmwareFileKind::EncryptedHex);
        QTest::newRow("encrypted, records only") << FirmwareBuilder::encryptedHex(FirmwareBuilder::pattern(300))
                                                 << int(FirmwareFileKind::EncryptedHex);
        QTest::newRow("Intel HEX text") << text << int(FirmwareFileKind::IntelHexText);
        QTest::newRow("one record") << QByteArray(":00000001FF") << int(FirmwareFileKind::IntelHexText);
        QTest::newRow("binary") << FirmwareBuilder::pattern(4096) << int(FirmwareFileKind::Binary);
        QTest::newRow("binary starting with a colon") << QByteArray(":\x01\x02\x03binary") + FirmwareBuilder::pattern(64)
                                                      << int(FirmwareFileKind::Binary);
        QTest::newRow("text cut short") << text.left(20) + FirmwareBuilder::pattern(12)
                                        << int(FirmwareFileKind::Binary);
        QTest::newRow("empty") << QByteArray() << int(FirmwareFileKind::Binary);
        // An encrypted file cut off the block size is no cipher text.
        QTest::newRow("encrypted, one byte more") << FirmwareBuilder::encryptedHex(FirmwareBuilder::pattern(300)) + 'x'
                                                  << int(FirmwareFileKind::Binary);
    }
    void firmwareFilesAreToldApart()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, kind);
        const QByteArray head = file.left(592);
        QCOMPARE(int(firmwareFileKind(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size()),
                                      size_t(file.size()))),
                 kind);
    }
};

TARNLOW_TEST_MAIN(TestFirmwareCipher)
#include "test_firmware_cipher.moc"
