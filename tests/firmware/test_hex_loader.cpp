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

QByteArray withWrongChecksum(QByteArray line)
{
    const bool zero = line.endsWith("00");
    line.chop(2);
    return line + (zero ? "01" : "00");
}

QByteArray lines(const QList<QByteArray> &all)
{
    QByteArray text;
    for (const QByteArray &line : all)
        text += line + "\r\n";
    return text;
}

const HexPageProfile &profileNamed(const QString &name)
{
    return name == "module" ? HexPageProfile::module()
         : name == "canopen" ? HexPageProfile::canopen()
                             : HexPageProfile::coupler();
}

uint32_t word(const std::vector<uint8_t> &image, int index)
{
    const size_t o = size_t(index) * 4;
    return uint32_t(image[o]) | uint32_t(image[o + 1]) << 8 | uint32_t(image[o + 2]) << 16
           | uint32_t(image[o + 3]) << 24;
}

const QByteArray kEnd = ":00000001FF";
const QString kRecordError = "unexpected format or checksum error";

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

    void headerVariants_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<uint>("productCode");
        QTest::addColumn<int>("hardwareVersion");
        QTest::addColumn<bool>("fix");
        QTest::newRow("FALSE") << "0A31, V2, X=FALSE" << 0xA31u << 0x2000 << false;
        QTest::newRow("the last digits of both cases") << "09fF, V1, X=FALSE" << 0x9FFu << 0x1000 << false;
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
        const QByteArray image = FirmwareBuilder::pattern(40);
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(image, header)));
        QCOMPARE(hex.productCode, productCode);
        QCOMPARE(hex.hardwareVersion, hardwareVersion);
        QCOMPARE(hex.fixVectorChecksum, fix);
        QCOMPARE(hex.imageLength, 40);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(hex.image.data()), 40).mid(0, fix ? 28 : 40),
                 image.mid(0, fix ? 28 : 40));
        QCOMPARE(hex.image[40], uint8_t(0xFF));
        QCOMPARE(boxes.count(), 0);
        // A file without a header leaves the values of the one before.
        QVERIFY(load(hex, HexPageProfile::coupler(), FirmwareBuilder::hexText(image)));
        QCOMPARE(hex.productCode, productCode);
        QCOMPARE(hex.hardwareVersion, hardwareVersion);
    }

    // Data records are laid back to back in file order; the lines that are no data record are
    // skipped, and so are long lines on the pages that skip them when they are no valid record.
    void imagesThatLoad_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("image");
        const QByteArray a = FirmwareBuilder::pattern(16), b(16, '\x11');
        const QByteArray badChecksum = withWrongChecksum(record(0, 0x10, FirmwareBuilder::pattern(32)));
        QTest::newRow("back to back") << "coupler"
            << "0702, V1, X=FALSE\r\n" + lines({record(4, 0, QByteArray::fromHex("0001")), record(0, 0, a), record(0, 0x8000, b), kEnd})
            << a + b;
        QTest::newRow("empty first line") << "module" << lines({"", record(0, 0, a), kEnd}) << a;
        QTest::newRow("skipped lines") << "coupler"
            << lines({"0702, V1, X=FALSE", "; comment", record(0, 0, QByteArray(16, 'z')) + " ", record(0, 0, a).toLower(),
                      record(5, 0, FirmwareBuilder::pattern(20)), ":0000000100"})
            << a;
        for (const char *profile : {"coupler", "canopen"})
            QTest::newRow(qPrintable(QString("long invalid line on ") + profile))
                << profile << lines({record(0, 0, a), badChecksum, kEnd}) << a;
    }
    void imagesThatLoad()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, image);
        HexImage hex(profileNamed(profile));
        hex.fixVectorChecksum = false;
        QVERIFY(load(hex, profileNamed(profile), plaintext));
        QCOMPARE(hex.imageLength, image.size());
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(hex.image.data()), image.size()), image);
        QCOMPARE(boxes.count(), 0);
    }

    // A file that would flash something else than its writer meant is refused with one box, and
    // the image loaded before stays as it was: no data record at all (another key, plain HEX,
    // random bytes), cut short, data after the end, a record that does not check, too much data.
    void filesThatAreRefused_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        const int warning = QMessageBox::Warning, critical = QMessageBox::Critical;
        QByteArray random(4096, 0);
        for (int i = 0; i < random.size(); ++i)
            random[i] = char((i * 7919) ^ (i >> 3));
        for (const char *profile : {"coupler", "module", "canopen"}) {
            const auto row = [&](const char *name) { return &QTest::newRow(qPrintable(QString(name) + " on " + profile)); };
            *row("no line end") << profile << QByteArray("no line end at all") << warning << "File format error.";
            *row("only the end") << profile << lines({kEnd}) << warning << "File format error.";
            *row("empty data record") << profile << lines({":0000000000", kEnd}) << warning << "File format error.";
            *row("only skipped lines") << profile << lines({"0702, V1, X=TRUE", "; comment", " ", kEnd}) << warning << "File format error.";
            *row("random bytes") << profile << random << warning << "File format error.";
        }
        const QByteArray whole = FirmwareBuilder::hexText(FirmwareBuilder::pattern(4096), "0A31, V1, X=TRUE");
        QTest::newRow("cut short") << "module" << whole.left(whole.size() / 2) << critical << kRecordError;
        QTest::newRow("data after the end") << "module" << whole + lines({record(0, 0, FirmwareBuilder::pattern(16))}) << critical << kRecordError;
        const QByteArray badChecksum = withWrongChecksum(record(0, 0x10, FirmwareBuilder::pattern(32)));
        QTest::newRow("long invalid line on module") << "module" << lines({record(0, 0, FirmwareBuilder::pattern(16)), badChecksum, kEnd})
                                                     << critical << kRecordError;
        for (const char *profile : {"coupler", "canopen"})
            QTest::newRow(qPrintable(QString("32-byte record on ") + profile))
                << profile << lines({record(0, 0, FirmwareBuilder::pattern(16)), record(0, 0x10, FirmwareBuilder::pattern(32)), kEnd})
                << critical << kRecordError;
        QTest::newRow("checksum") << "canopen" << lines({withWrongChecksum(record(0, 0, FirmwareBuilder::pattern(16)))})
                                  << critical << kRecordError;
        QTest::newRow("half pair") << "canopen" << lines({":1000000"}) << critical << kRecordError;
        QTest::newRow("no type byte") << "canopen" << lines({":00"}) << critical << kRecordError;
        QTest::newRow("count says more") << "canopen" << lines({":10000000F0"}) << critical << kRecordError;
        QTest::newRow("count says less") << "canopen" << lines({":0200000001020304F4"}) << critical << kRecordError;
        QTest::newRow("one byte too many") << "canopen" << FirmwareBuilder::hexText(FirmwareBuilder::pattern(131073))
                                           << critical << "Data size in hex file is bigger than 131072";
    }
    void filesThatAreRefused()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, plaintext);
        QFETCH(int, icon);
        QFETCH(QString, text);
        HexImage hex(profileNamed(profile));
        hex.imageLength = 77;
        QVERIFY(!load(hex, profileNamed(profile), plaintext));
        expectBox(QMessageBox::Icon(icon), "Load hex file error", text);
        QCOMPARE(hex.imageLength, 77);
    }

    void capacityIsHeldExactly()
    {
        HexImage hex(HexPageProfile::canopen());
        QVERIFY(load(hex, HexPageProfile::canopen(), FirmwareBuilder::hexText(FirmwareBuilder::pattern(131072))));
        QCOMPARE(hex.imageLength, 131072);
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

    // What the loader makes of a line in its one pass: skipped, refused, or decoded.
    void lineKinds_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        const int notARecord = int(HexRecord::LineKind::NotARecord);
        const int undecodable = int(HexRecord::LineKind::Undecodable);
        QTest::newRow("colon only") << QByteArray(":") << notARecord;
        QTest::newRow("comment") << QByteArray("; :0A0B0C") << notARecord;
        QTest::newRow("no digit where a pair would be") << QByteArray(":0A0G0C") << notARecord;
        QTest::newRow("no digit in half a pair") << QByteArray(":0A0BX") << notARecord;
        QTest::newRow("trailing blank") << QByteArray(":0A0B0C ") << notARecord;
        QTest::newRow("half a pair") << QByteArray(":0A0B0") << undecodable;
        QTest::newRow("more pairs than a record holds") << QByteArray(":0A0B0C0D") << undecodable;
        QTest::newRow("both cases") << QByteArray(":0a0BfF") << int(HexRecord::LineKind::Decoded);
    }
    void lineKinds()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        std::vector<uint8_t> bytes;
        QCOMPARE(int(HexRecord::decodeLine(line.toStdString(), 3, bytes)), kind);
        if (kind == int(HexRecord::LineKind::Decoded))
            QCOMPARE(bytes, (std::vector<uint8_t>{0x0A, 0x0B, 0xFF}));
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
