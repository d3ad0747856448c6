// A full 128 KiB update from the CANopen page against the simulated coupler on a pseudo-terminal,
// with the real 500 ms and 5000 ms waits: prints the total, the waits and the time per SDO
// exchange (one 11-byte request and its 11-byte reply).
#include "coupler_can/osmerin_remote_io_firmware_updater.h"
#include "platform/com_port_table.h"
#include "sim/canopen_pty_server.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int imageBytes = 128 * 1024;
constexpr double targetMicrosecondsPerExchange = 75.0;
// The boot entry pause and the user-firmware start.
constexpr double mandatedWaitMs = 500.0 + 5000.0;

void dropDebugLines(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int run()
{
    QByteArray image(imageBytes, '\0');
    for (int i = 0; i < imageBytes; ++i)
        image[i] = static_cast<char>(i * 13 + (i >> 8));
    SandboxFiles::write("COP Firmware/Full.HEX",
                        FirmwareBuilder::encryptedHex(image, "FFFF, V1, X=FALSE"));

    QTemporaryDir comDir;
    CanopenPtyServer coupler(1, false);
    if (!coupler.start((comDir.path() + "/COM1").toStdString())) {
        std::fprintf(stderr, "%s\n", coupler.error().c_str());
        return 1;
    }
    qputenv(ComPortTable::directoryVariable, comDir.path().toLocal8Bit());

    OsmerinRemoteIOFirmwareUpdater page(nullptr, TarnlowTest::environment());
    MessageBoxRecorder boxes;
    qInstallMessageHandler(dropDebugLines);
    QElapsedTimer clock;
    clock.start();
    page.findChild<QPushButton *>("button_update")->click();
    const double totalMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    qInstallMessageHandler(nullptr);

    int exchanges = 0;
    bool flashMatches = false;
    coupler.withCoupler([&](CanopenSimulatedCoupler &c) {
        // Commands 1 and 3 get no reply; every other request is one exchange.
        exchanges = static_cast<int>(c.requests().size()) - c.commandCount(1) - c.commandCount(3);
        flashMatches = std::equal(image.begin(), image.end(), c.flash().begin(),
                                  [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    });
    coupler.stop();

    const bool succeeded = boxes.count() == 1 && boxes.last().title == "Burning Firmware Successful";
    const double perExchangeUs = (totalMs - mandatedWaitMs) * 1000.0 / exchanges;
    std::printf("CANopen full update, %d bytes (%d pages) over a pseudo-terminal\n", imageBytes,
                imageBytes / 256);
    std::printf("  result:              %s\n",
                succeeded && flashMatches ? "success, flash verified"
                                          : qPrintable("FAILED: " + boxes.last().text));
    std::printf("  total:               %.0f ms\n", totalMs);
    std::printf("  mandated waits:      %.0f ms (500 ms boot entry + 5000 ms user start)\n",
                mandatedWaitMs);
    std::printf("  SDO exchanges:       %d\n", exchanges);
    std::printf("  per SDO exchange:    %.1f us (target below %.0f us)\n", perExchangeUs,
                targetMicrosecondsPerExchange);
    return succeeded && flashMatches ? 0 : 1;
}

}

TARNLOW_BENCH_MAIN(run)
