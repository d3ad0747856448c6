#include "page_support/hex_load_box.h"
#include "firmware/hex_image.h"
#include "firmware/hex_record.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QWidget>

namespace {

QByteArray record(uint8_t type, uint16_t address, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size())).append(char(address >> 8)).append(char(address)).append(char(type));
    bytes.append(data);
    uint8_t sum = 0;
    for (char b : bytes)
        sum = uint8_t(sum + uint8_t(b));
    bytes.append(char(uint8_t(0u - sum)));
    return ":" + bytes.toHex().toUpper();
}

uint32_t word(const std::vector<uint8_t> &image, int index)
{
    const size_t o = size_t(index) * 4;
    return uint32_t(image[o]) | uint32_t(image[o + 1]) << 8 | uint32_t(image[o + 2]) << 16
           | uint32_t(image[o + 3]) << 24;
}

} // namespace

class TestHexLoader : public QObject
{
    Q_OBJECT

    QWidget page;
    MessageBoxRecorder boxes;

    bool load(HexImage &hex, const HexPageProfile &profile, const QByteArray &plaintext)
    {
        hex.fileName = SandboxFiles::write("firmware/test.HEX", FirmwareBuilder::encrypt(plaintext))
                           .toStdString();
        return loadHexFile(&page, "CouplerFirmwareWidget", hex, profile);
    }

    void expectBox(QMessageBox::Icon icon, const QString &title, const QString &text)
    {
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().icon, icon);
        QCOMPARE(boxes.last().title, title);
        QCOMPARE(boxes.last().text, text);
    }

private slots:
    void init() { boxes.clear(); }

    void headerSetsValuesAndRecordsFollow()
    {
        HexImage hex(HexPageProfile::coupler());
        const QByteArray image = FirmwareBuilder::pattern(40);
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(image, "0A31, V2, X=FALSE")));
        QCOMPARE(hex.productCode, 0xA31u);
        QCOMPARE(hex.hardwareVersion, 0x2000);
        QCOMPARE(hex.fixVectorChecksum, false);
        QCOMPARE(hex.imageLength, 40);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(hex.image.data()), 40), image);
        QCOMPARE(hex.image[40], uint8_t(0xFF));
        QCOMPARE(boxes.count(), 0);
    }

    void headerVariants_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<uint>("productCode");
        QTest::addColumn<int>("hardwareVersion");
        QTest::addColumn<bool>("fix");
        QTest::newRow("TRUE") << "0702, V1, X=TRUE" << 0x702u << 0x1000 << true;
        QTest::newRow("lower false") << "0702, V1, X=false" << 0x702u << 0x1000 << true;
        QTest::newRow("FALSE and blank") << "0702, V1, X=FALSE " << 0x702u << 0x1000 << true;
        QTest::newRow("no comma") << "Firmware" << 0u << 0 << true;
        QTest::newRow("comma last") << "0703," << 0x703u << 0x0777 << false;
        QTest::newRow("nothing after first cut") << "0704, " << 0x704u << 0x0777 << false;
        QTest::newRow("non-digit version") << "0705, VX, X=FALSE" << 0x705u << 0 << false;
    }
    void headerVariants()
    {
        QFETCH(QString, header);
        QFETCH(uint, productCode);
        QFETCH(int, hardwareVersion);
        QFETCH(bool, fix);
        HexImage hex(HexPageProfile::coupler());
        hex.hardwareVersion = 0x0777;  // shows which values a short header leaves alone
        hex.fixVectorChecksum = false;
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(16), header)));
        QCOMPARE(hex.productCode, productCode);
        QCOMPARE(hex.hardwareVersion, hardwareVersion);
        QCOMPARE(hex.fixVectorChecksum, fix);
    }

    void noHeaderKeepsPreviousValues()
    {
        HexImage hex(HexPageProfile::coupler());
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(16), "0A31, V3, X=FALSE")));
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(16))));
        QCOMPARE(hex.productCode, 0xA31u);
        QCOMPARE(hex.hardwareVersion, 0x3000);
    }

    void emptyFirstLineAndNoLinesChangeNothing()
    {
        HexImage hex(HexPageProfile::module());
        QVERIFY(load(hex, HexPageProfile::module(), "\r\n" + record(0, 0, FirmwareBuilder::pattern(16)) + "\r\n:00000001FF\r\n"));
        QCOMPARE(hex.productCode, 0xFFFFu);
        QCOMPARE(hex.imageLength, 16);
    }

    // A file that decrypts but holds no data record (another key, a plain HEX text, random
    // bytes, nothing but skipped lines) would flash nothing and report success.
    void fileWithoutDataIsRefused_data()
    {
        QTest::addColumn<QByteArray>("plaintext");
        QTest::newRow("no line end at all") << QByteArray("no line end at all");
        QTest::newRow("only the end-of-file record") << QByteArray(":00000001FF\r\n");
        QTest::newRow("a data record of no bytes") << QByteArray(":0000000000\r\n:00000001FF\r\n");
        QTest::newRow("only skipped lines") << QByteArray("0702, V1, X=TRUE\r\n; comment\r\n \r\n:00000001FF\r\n");
        QByteArray random(4096, 0);
        for (int i = 0; i < random.size(); ++i)
            random[i] = char((i * 7919) ^ (i >> 3));
        QTest::newRow("random bytes") << random;
    }

    void fileWithoutDataIsRefused()
    {
        QFETCH(QByteArray, plaintext);
        for (const HexPageProfile *profile :
             {&HexPageProfile::coupler(), &HexPageProfile::module(), &HexPageProfile::canopen()}) {
            boxes.clear();
            HexImage hex(*profile);
            hex.imageLength = 5;
            QVERIFY(!load(hex, *profile, plaintext));
            expectBox(QMessageBox::Warning, "Load hex file error", "File format error.");
            QCOMPARE(hex.imageLength, 5);
        }
    }

    // A file cut short decrypts cleanly up to the cut; only the missing end-of-file record
    // shows it. Data after the end-of-file record are not what the file's writer meant either.
    void fileMustCloseWithTheEndOfFileRecord()
    {
        const QByteArray whole = FirmwareBuilder::hexText(FirmwareBuilder::pattern(4096), "0A31, V1, X=TRUE");
        HexImage hex(HexPageProfile::module());
        QVERIFY(load(hex, HexPageProfile::module(), whole));
        QCOMPARE(hex.imageLength, 4096);
        QVERIFY(!load(hex, HexPageProfile::module(), whole.left(whole.size() / 2)));
        expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
        boxes.clear();
        QVERIFY(!load(hex, HexPageProfile::module(), whole + record(0, 0, FirmwareBuilder::pattern(16)) + "\r\n"));
        expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
    }

    // Where long lines are skipped, a long line that is no valid data record still is.
    void longLineThatIsNoValidDataRecordIsSkipped()
    {
        QByteArray badChecksum = record(0, 0x10, FirmwareBuilder::pattern(32));
        const QByteArray goodChecksum = badChecksum.right(2);
        badChecksum.chop(2);
        badChecksum += goodChecksum == "00" ? "01" : "00";
        const QByteArray text = record(0, 0, FirmwareBuilder::pattern(16)) + "\r\n" + badChecksum + "\r\n:00000001FF\r\n";
        for (const HexPageProfile *profile : {&HexPageProfile::coupler(), &HexPageProfile::canopen()}) {
            HexImage hex(*profile);
            QVERIFY(load(hex, *profile, text));
            QCOMPARE(hex.imageLength, 16);
        }
        HexImage module(HexPageProfile::module());
        QVERIFY(!load(module, HexPageProfile::module(), text));
        expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
    }

    // On the coupler and CANopen pages a line longer than a 16-byte record is skipped, but a
    // valid data record of 32 bytes is refused: skipping it would leave a hole in the image.
    void longDataRecordIsRefusedWhereLongLinesAreSkipped()
    {
        for (const HexPageProfile *profile : {&HexPageProfile::coupler(), &HexPageProfile::canopen()}) {
            boxes.clear();
            HexImage hex(*profile);
            const QByteArray text = record(0, 0, FirmwareBuilder::pattern(16)) + "\r\n" + record(0, 0x10, FirmwareBuilder::pattern(32)) + "\r\n"
                                    + ":00000001FF\r\n";
            QVERIFY(!load(hex, *profile, text));
            expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
        }
    }

    void recordsAreLaidBackToBack()
    {
        HexImage hex(HexPageProfile::coupler());
        const QByteArray a = FirmwareBuilder::pattern(16), b = QByteArray(16, '\x11');
        const QByteArray text = record(4, 0, QByteArray::fromHex("0001")) + "\r\n" + record(0, 0, a)
                                + "\r\n" + record(0, 0x8000, b) + "\r\n:00000001FF\r\n";
        hex.fixVectorChecksum = false;
        QVERIFY(load(hex, HexPageProfile::coupler(), "0702, V1, X=FALSE\r\n" + text));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(hex.image.data()), 32), a + b);
    }

    void skippedLines()
    {
        HexImage hex(HexPageProfile::coupler());
        const QByteArray data = FirmwareBuilder::pattern(16);
        const QByteArray text = "0702, V1, X=FALSE\r\n; comment\r\n" + record(0, 0, QByteArray(16, 'z'))
                                + " \r\n" + record(0, 0, data).toLower() + "\r\n"
                                + record(5, 0, FirmwareBuilder::pattern(20)) + "\r\n"   // long, but no data record
                                + ":0000000100\r\n";  // end of file with a wrong checksum
        QVERIFY(load(hex, HexPageProfile::coupler(), text));
        QCOMPARE(hex.imageLength, 16);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(hex.image.data()), 16),
                 data);
    }

    void moduleDecodesLongRecords()
    {
        HexImage hex(HexPageProfile::module());
        QVERIFY(!load(hex, HexPageProfile::module(), record(0, 0, FirmwareBuilder::pattern(32)) + "\r\n"));
        expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
    }

    void recordErrors_data()
    {
        QTest::addColumn<QByteArray>("line");
        QByteArray badChecksum = record(0, 0, FirmwareBuilder::pattern(16));
        badChecksum.chop(2);
        badChecksum += "00";
        QTest::newRow("checksum") << badChecksum;
        QTest::newRow("half pair") << QByteArray(":1000000");
        QTest::newRow("no type byte") << QByteArray(":00");
        QTest::newRow("count says more than the line holds") << QByteArray(":10000000F0");
        QTest::newRow("count says less than the line holds") << QByteArray(":0200000001020304F4");
    }
    void recordErrors()
    {
        QFETCH(QByteArray, line);
        HexImage hex(HexPageProfile::canopen());
        hex.imageLength = 77;
        QVERIFY(!load(hex, HexPageProfile::canopen(), line + "\r\n"));
        expectBox(QMessageBox::Critical, "Load hex file error", "unexpected format or checksum error");
        QCOMPARE(hex.imageLength, 77);
    }

    // The digit pairs of a record as the loader takes them; anything else is no record.
    void recordDecoding()
    {
        std::vector<uint8_t> bytes{9, 9, 9, 9};
        QVERIFY(HexRecord::decode(":0A0bFF", 3, bytes));
        QCOMPARE(bytes, (std::vector<uint8_t>{0x0A, 0x0B, 0xFF}));
        QVERIFY(!HexRecord::decode(":0A0G", 3, bytes));       // a digit that is none
        QVERIFY(!HexRecord::decode(":0A0B0C0D", 3, bytes));   // more pairs than a record holds
        QVERIFY(!HexRecord::decode(":0A0", 3, bytes));        // half a pair
    }

    void capacityLimit()
    {
        HexImage hex(HexPageProfile::canopen());
        QVERIFY(load(hex, HexPageProfile::canopen(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(131072))));
        QCOMPARE(hex.imageLength, 131072);
        QVERIFY(!load(hex, HexPageProfile::canopen(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(131073))));
        expectBox(QMessageBox::Critical, "Load hex file error", "Data size in hex file is bigger than 131072");
    }

    void vectorChecksumMakesTableSumZero()
    {
        HexImage hex(HexPageProfile::coupler());
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(64), "0702, V1, X=TRUE")));
        uint32_t sum = 0;
        for (int i = 0; i < 8; ++i)
            sum += word(hex.image, i);
        QCOMPARE(sum, 0u);
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(8))));
        QCOMPARE(word(hex.image, 7), 0u - (word(hex.image, 0) + word(hex.image, 1) + 5 * 0xFFFFFFFFu));
    }

    void fileFailures()
    {
        HexImage hex(HexPageProfile::coupler());
        hex.fileName.clear();
        QVERIFY(!loadHexFile(&page, "CouplerFirmwareWidget", hex, HexPageProfile::coupler()));
        expectBox(QMessageBox::Critical, "Tarnlow", "Please choose hex file");

        for (const HexPageProfile *profile : {&HexPageProfile::coupler(), &HexPageProfile::module()}) {
            boxes.clear();
            hex.fileName = "/nonexistent/firmware.HEX";
            QVERIFY(!loadHexFile(&page, "CouplerFirmwareWidget", hex, *profile));
            expectBox(profile->missingFileIsCritical ? QMessageBox::Critical : QMessageBox::Warning,
                      "Load hex file error", "File does not exist.");
        }

        for (const QByteArray &content : {QByteArray(), QByteArray(17, 'x')}) {
            boxes.clear();
            hex.fileName = SandboxFiles::write("firmware/plain.HEX", content).toStdString();
            QVERIFY(!loadHexFile(&page, "CouplerFirmwareWidget", hex, HexPageProfile::coupler()));
            expectBox(QMessageBox::Warning, "Load hex file error", "File format error.");
        }
    }
};

TARNLOW_TEST_MAIN(TestHexLoader)
#include "test_hex_loader.moc"
