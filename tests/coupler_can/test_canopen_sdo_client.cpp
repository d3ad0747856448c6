// The SDO client over the serial pass-through, exchange by exchange against a scripted peer on a
// pseudo-terminal: the request bytes, the values taken from the replies, records that arrive in
// pieces or pile up, the time-out with its message, and the exclusive open.
#include "coupler_can/sdo_messages.h"
#include "coupler_can/timeout_exception.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"
#include "platform/serial_port.h"
#include "tests/coupler_can/scripted_serial_peer.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>
#include <QFile>

#include <QTemporaryDir>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <stdexcept>

namespace {

constexpr int port = 12;

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// Runs `call` and returns the message of the timeout_exception it throws ("" when none).
template <typename Call>
QString timeoutMessage(Call call)
{
    try {
        call();
    } catch (timeout_exception *timeout) {
        std::unique_ptr<timeout_exception> owned(timeout);
        return QString::fromStdString(owned->what());
    }
    return QString();
}

}

class TestCanopenSdoClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedSerialPeer> peer;
    std::unique_ptr<USBPassThroughCANopenCOMM> comm;

private slots:
    void init()
    {
        peer.reset(new ScriptedSerialPeer(port));
        QVERIFY(peer->isReady());
        comm.reset(new USBPassThroughCANopenCOMM);
        comm->openPort(port);
    }
    void cleanup()
    {
        comm->close();
        comm.reset();
        peer.reset();
    }

    void requestsCarryNodeIndexSubindexAndValue()
    {
        const uint32_t value = 0x01020304;
        QTest::ignoreMessage(QtDebugMsg, "Download request Index: 5102  SubIndex: 3f 4   3   2   1  ");
        QVERIFY(comm->sendDownloadRequest(1, 0x5102, 0x3F, &value));
        QCOMPARE(peer->take(11).toHex(' '), bytes("01 06 08 23 02 51 3F 04 03 02 01").toHex(' '));
        QTest::ignoreMessage(QtDebugMsg, "Upload request Index: 5101  SubIndex: 0  Data: "
                                         "7f   6   8   40   1   51   0   0   0   0   0  ");
        QVERIFY(comm->sendUploadRequest(127, 0x5101, 0));
        QCOMPARE(peer->take(11).toHex(' '), bytes("7F 06 08 40 01 51 00 00 00 00 00").toHex(' '));
    }

    void recordInPiecesIsAssembledAndQueuedRepliesComeInOrder()
    {
        uint32_t result = 0;
        peer->replyInPieces(bytes("81 05 08 60 00"), bytes("51 02 11 22 33 44"), 300);
        QVERIFY(comm->readDownloadResponse(0x5100, 2, &result));
        QCOMPARE(result, 0x44332211u);

        peer->reply(bytes("81 05 08 60 00 51 01 01 00 00 00" "81 05 08 60 00 51 02 02 00 00 00"));
        QVERIFY(comm->readDownloadResponse(0x5100, 2, &result));
        QCOMPARE(result, 1u);
        QVERIFY(comm->readDownloadResponse(0x5100, 2, &result));
        QCOMPARE(result, 2u);
    }

    void openingPurgesWhatWasPending()
    {
        comm->close();
        peer->reply(bytes("81 05 08 60 00 51 01 ee ee ee ee"));
        comm->openPort(port);
        peer->reply(bytes("81 05 08 60 00 51 01 01 00 00 00"));
        uint32_t result = 0;
        comm->readDownloadResponse(0x5100, 1, &result);
        QCOMPARE(result, 1u);
    }

    void guardFrameIsAnyFourBytes()
    {
        peer->reply(bytes("8a 07 01 05"));
        QTest::ignoreMessage(QtDebugMsg, "Receive guide");
        QTest::ignoreMessage(QtDebugMsg, "5");
        comm->receiveGuard();
        // Nothing of the guard is left to spoil the next reply.
        peer->reply(bytes("81 05 08 43 01 51 00 6D 72 6F 6E"));
        uint32_t result = 0;
        comm->readUploadResponse(0x5101, 0, &result);
        QCOMPARE(result, 0x6E6F726Du);
    }

    // The one real 4000 ms wait of this program: an incomplete record that never completes.
    void missingReplyTimesOutAfterFourSecondsLeavingTheResult()
    {
        uint32_t result = 0xAAAAAAAA;
        peer->reply(bytes("81 05 08 60"));
        QElapsedTimer clock;
        clock.start();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^SDO download response timeout:  "
                                                            "(39[0-9][0-9]|40[0-9][0-9])  milli-second$"));
        QCOMPARE(timeoutMessage([&] { comm->readDownloadResponse(0x5102, 0x3F, &result); }),
                 QString("Index: 5102, SubIndex: 3f"));
        QVERIFY2(clock.elapsed() >= 3900 && clock.elapsed() < 4800,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(result, 0xAAAAAAAAu);
    }

    void closedPortTimesOutAtOnce()
    {
        comm->close();
        uint32_t value = 1;
        QVERIFY(!comm->sendDownloadRequest(1, 0x5100, 1, &value));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(timeoutMessage([&] { comm->readUploadResponse(0x5101, 0, &value); }),
                 QString("Index: 5101, SubIndex: 0"));
        QCOMPARE(timeoutMessage([&] { comm->receiveGuard(); }), QString("Receive Guard"));
        QVERIFY(clock.elapsed() < 500);
    }

    void portNamedInLowerCaseOpens()
    {
        comm->close();
        const QString lower = peer->comDirectory() + "/com" + QString::number(port);
        QVERIFY(QFile::rename(peer->comDirectory() + "/COM" + QString::number(port), lower));
        comm->openPort(port);
        peer->reply(bytes("81 05 08 60 00 51 01 01 00 00 00"));
        uint32_t result = 0;
        comm->readDownloadResponse(0x5100, 1, &result);
        QCOMPARE(result, 1u);
    }

    void secondOpenerAndMissingPortAreRefused()
    {
        const QString refused = "Does there has other application lock the COM port?";
        USBPassThroughCANopenCOMM second;
        try {
            second.openPort(port);
            QFAIL("a second opener got the port");
        } catch (const std::exception &failure) {
            QCOMPARE(QString(failure.what()), refused);
        }
        try {
            second.openPort(port + 1);
            QFAIL("a port that does not exist opened");
        } catch (const std::exception &failure) {
            QCOMPARE(QString(failure.what()), refused);
        }
        comm->close();
        second.openPort(port);
        second.close();
    }

    // A port that does not open says why, so the technician knows what to do.
    void openFailuresNameTheirCause()
    {
        SerialPort missing;
        QVERIFY(!missing.open("/nonexistent/ttyACM0"));
        QCOMPARE(QString::fromStdString(missing.openFailure()),
                 QString("/nonexistent/ttyACM0: no such device. Is the coupler's USB cable plugged in?"));
        QCOMPARE(QString::fromStdString(SerialPort::describeOpenFailure(EACCES, "/dev/null")),
                 QString("/dev/null: permission denied. Ask an administrator for access to the port "
                         "(for example the dialout group or a udev rule)."));
        // A port its group may use names that group (dialout has gid 20 on Debian).
        QTemporaryDir directory;
        const QString device = directory.path() + "/ttyACM0";
        QFile(device).open(QIODevice::WriteOnly);
        if (::chown(device.toUtf8().constData(), uid_t(-1), 20) != 0)
            QSKIP("giving a file another group needs root");
        QVERIFY(::chmod(device.toUtf8().constData(), 0660) == 0);
        const group *dialout = ::getgrgid(20);
        QVERIFY(dialout);
        const QString name = QString::fromUtf8(dialout->gr_name);
        QCOMPARE(QString::fromStdString(SerialPort::describeOpenFailure(EACCES, device.toStdString())),
                 device + ": permission denied. Join the group that owns the port (" + name
                     + "): sudo usermod -aG " + name + " $USER, then log in again.");
        QCOMPARE(QString::fromStdString(SerialPort::describeOpenFailure(EIO, "/dev/ttyACM0")),
                 QString("/dev/ttyACM0: Input/output error"));
    }
};

TARNLOW_TEST_MAIN(TestCanopenSdoClient)
#include "test_canopen_sdo_client.moc"
