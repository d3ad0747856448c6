#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCryptographicHash>
#include <QProcess>

namespace {

struct Run {
    int status;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QString tool() { return SandboxFiles::binaryDirectory() + "/bin/tarnlow-fw"; }

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestFirmwareTool : public QObject
{
    Q_OBJECT

private slots:
    void encryptThenInfo()
    {
        const QByteArray image = FirmwareBuilder::pattern(100);
        QByteArray lfText = FirmwareBuilder::hexText(image).replace("\r\n", "\n");
        const QString in = SandboxFiles::write("work/in.hex", lfText);
        const QString out = SandboxFiles::applicationDirectory() + "/work/out.HEX";
        QCOMPARE(run(tool(), {"encrypt", in, out, "--header", "0A31, V2, X=FALSE"}).status, 0);

        const Run info = run(tool(), {"info", "--page", "module", out});
        QCOMPARE(info.status, 0);
        QCOMPARE(info.out, "productCode: 0xA31\nhardwareVersion: 0x2000\nfixVectorChecksum: false\n"
                           "imageLength: 100\nvectorChecksum: not written\nsha256: "
                               + sha256(image) + "\n");
        QVERIFY(info.err.isEmpty());

        const Run plain = run(tool(), {"decrypt", out});
        QCOMPARE(plain.status, 0);
        QCOMPARE(plain.out, "0A31, V2, X=FALSE\r\n" + FirmwareBuilder::hexText(image));
    }

    void infoWritesVectorChecksum()
    {
        const QString file = SandboxFiles::write("work/fix.HEX",
                                                 FirmwareBuilder::encryptedHex(QByteArray(32, '\0')));
        const Run info = run(tool(), {"info", "--page", "coupler", file});
        QCOMPARE(info.status, 0);
        // Seven zero words: the checksum word is 0 as well; the header defaults of the page hold.
        QVERIFY(info.out.contains("productCode: 0x702\n"));
        QVERIFY(info.out.contains("vectorChecksum: 00000000\n"));
    }

    void badInputGivesOneLineAndFailure_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("message");
        const QString plainHex = SandboxFiles::write("work/plain.hex", ":00000001FF\n");
        const QString badRecord = SandboxFiles::write("work/bad.HEX", FirmwareBuilder::encrypt(":10000000F1\r\n"));
        QTest::newRow("missing") << QStringList{"decrypt", "/nonexistent.HEX"} << QByteArray("cannot read");
        QTest::newRow("plain") << QStringList{"decrypt", plainHex} << QByteArray("not a firmware file");
        QTest::newRow("record") << QStringList{"info", "--page", "coupler", badRecord}
                                << QByteArray("unexpected format or checksum error");
        QTest::newRow("page") << QStringList{"info", "--page", "ecat", badRecord} << QByteArray("unknown page");
        const QString noData = SandboxFiles::write("work/nodata.HEX", FirmwareBuilder::encrypt(":00000001FF\r\n"));
        QTest::newRow("no data") << QStringList{"info", "--page", "canopen", noData} << QByteArray("File format error.");
        const QByteArray whole = FirmwareBuilder::hexText(QByteArray(4096, 'a'));
        const QString cut = SandboxFiles::write("work/cut.HEX", FirmwareBuilder::encrypt(whole.left(whole.size() / 2)));
        QTest::newRow("cut short") << QStringList{"info", "--page", "module", cut}
                                   << QByteArray("unexpected format or checksum error");
    }
    void badInputGivesOneLineAndFailure()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, message);
        const Run result = run(tool(), arguments);
        QVERIFY(result.status != 0);
        QVERIFY(result.out.isEmpty());
        QCOMPARE(result.err.count('\n'), 1);
        QVERIFY2(result.err.contains(message), result.err.constData());
    }

    // Intel HEX written by independent tools loads to exactly the binary it was made from.
    void independentHexWriters_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("objcopy") << "objcopy" << QStringList{"-I", "binary", "-O", "ihex", "IN", "OUT"};
        QTest::newRow("srec_cat") << "srec_cat"
                                  << QStringList{"IN", "-binary", "-o", "OUT", "-intel",
                                                 "-Output_Block_Size=16"};
    }
    void independentHexWriters()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const QByteArray image = FirmwareBuilder::pattern(70000);  // crosses a 64 KiB segment
        const QString bin = SandboxFiles::write("work/image.bin", image);
        const QString hex = SandboxFiles::applicationDirectory() + "/work/" + program + ".hex";
        arguments.replaceInStrings("IN", bin);
        arguments.replaceInStrings("OUT", hex);
        const Run converted = run(program, arguments);
        QVERIFY2(converted.status == 0, converted.err.constData());
        const QString encrypted = hex + ".HEX";
        QCOMPARE(run(tool(), {"encrypt", hex, encrypted, "--header", "0702, V1, X=FALSE"}).status, 0);
        const Run info = run(tool(), {"info", "--page", "module", encrypted});
        QCOMPARE(info.status, 0);
        QVERIFY(info.out.contains("imageLength: 70000\n"));
        QVERIFY(info.out.contains("sha256: " + sha256(image) + "\n"));
    }
};

TARNLOW_TEST_MAIN(TestFirmwareTool)
#include "test_firmware_tool.moc"
