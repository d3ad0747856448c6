#include "firmware/encrypted_hex_file.h"
#include "firmware/firmware_cipher.h"
#include "firmware/firmware_file_kind.h"
#include "firmware/rijndael.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/test_main.h"

#include <sstream>

namespace {

QByteArray runCipher(const QByteArray &key, const QByteArray &block, bool encrypt, int blockSize = 16)
{
    CRijndael cipher;
    cipher.setKey(key.constData(), QByteArray(32, 0).constData(), key.size(), blockSize);
    QByteArray out(block.size(), 0);
    if (encrypt)
        cipher.encryptBlock(block.constData(), out.data());
    else
        cipher.decryptBlock(block.constData(), out.data());
    return out;
}

std::vector<std::string> linesOf(const QByteArray &plaintextPadded)
{
    // Encrypt exactly these bytes (already a multiple of 16), without the tool's padding.
    CRijndael cipher;
    cipher.setKey("5C3A9E07D21B84F6", "A47E10C9B3D6528F", 16, 16);
    QByteArray encrypted(plaintextPadded.size(), 0);
    cipher.encrypt(plaintextPadded.constData(), encrypted.data(), size_t(encrypted.size()));
    std::istringstream in(encrypted.toStdString());
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

class TestFirmwareCipher : public QObject
{
    Q_OBJECT

private slots:
    void aesKnownAnswers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("cipherText");
        const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"
                                                   "101112131415161718191a1b1c1d1e1f");
        QTest::newRow("AES-128") << key.left(16) << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
        QTest::newRow("AES-192") << key.left(24) << QByteArray::fromHex("dda97ca4864cdfe06eaf70a0ec0d7191");
        QTest::newRow("AES-256") << key << QByteArray::fromHex("8ea2b7ca516745bfeafc49904b496089");
    }
    void aesKnownAnswers()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, cipherText);
        const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        QCOMPARE(runCipher(key, plain, true), cipherText);
        QCOMPARE(runCipher(key, cipherText, false), plain);
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
        const QByteArray ours = FirmwareBuilder::encrypt(text);
        QProcess openssl;
        openssl.start("openssl", {"enc", "-d", "-aes-128-ecb", "-nopad", "-K",
                                  QByteArray("5C3A9E07D21B84F6").toHex()});
        QVERIFY(openssl.waitForStarted());
        openssl.write(ours);
        openssl.closeWriteChannel();
        QVERIFY(openssl.waitForFinished());
        QCOMPARE(openssl.exitCode(), 0);
        const QByteArray decrypted = openssl.readAllStandardOutput();
        QCOMPARE(decrypted.left(text.size()), text);
        QCOMPARE(quint8(decrypted.at(text.size())), quint8(FirmwarePaddingMarker));
        QCOMPARE(decrypted.size() % 16, 0);
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
