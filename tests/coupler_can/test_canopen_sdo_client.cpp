// The SDO client over the serial pass-through, exchange by exchange against a scripted peer on a
// pseudo-terminal: the request bytes, the values taken from the replies, records that arrive in
// pieces or pile up, the time-outs with their messages, and the opening of the port.
#include "coupler_can/timeout_exception.h"
#include "coupler_can/usb_pass_through_canopen_comm.h"
#include "platform/com_port_table.h"
#include "platform/serial_port.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

// The coupler's end of a pseudo-terminal that the COM-port table names COM12: reads what the
// client sent and writes the replies byte for byte.
struct Peer {
    QTemporaryDir directory;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    int keepOpen = -1;  // keeps the far end from hanging up while the client has it closed
    std::thread late;

    Peer()
    {
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        keepOpen = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        ::tcgetattr(keepOpen, &mode);
        cfmakeraw(&mode);
        ::tcsetattr(keepOpen, TCSANOW, &mode);
        QFile::link(::ptsname(master), directory.filePath("COM" + QString::number(port)));
        qputenv(ComPortTable::directoryVariable, directory.path().toLocal8Bit());
    }
    ~Peer()
    {
        if (late.joinable())
            late.join();
        qunsetenv(ComPortTable::directoryVariable);
        ::close(master);
        ::close(keepOpen);
    }
    // Exactly `count` bytes the client wrote (waiting up to a second); fewer when none came.
    QByteArray take(int count)
    {
        QByteArray got;
        char buffer[256];
        pollfd waiting{master, POLLIN, 0};
        while (got.size() < count && ::poll(&waiting, 1, 1000) > 0) {
            const ssize_t n = ::read(master, buffer, size_t(qMin(256, count - got.size())));
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
        return got;
    }
    void reply(const QByteArray &data)
    {
        QCOMPARE(::write(master, data.constData(), size_t(data.size())), ssize_t(data.size()));
    }
    // `rest` follows after `gapMs`, while the client is already waiting.
    void replyLater(const QByteArray &rest, int gapMs)
    {
        late = std::thread([this, rest, gapMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            if (::write(master, rest.constData(), size_t(rest.size())) != rest.size())
                qWarning("short write to the pseudo-terminal");
        });
    }
};

}

class TestCanopenSdoClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<Peer> peer;
    std::unique_ptr<USBPassThroughCANopenCOMM> comm;

private slots:
    void init()
    {
        peer.reset(new Peer);
        QVERIFY(peer->keepOpen >= 0);
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

    void recordsInPiecesOrPiledUpAreTakenInOrder()
    {
        uint32_t result = 0;
        peer->reply(bytes("81 05 08 60 00"));
        peer->replyLater(bytes("51 02 11 22 33 44"), 300);
        QVERIFY(comm->readDownloadResponse(0x5100, 2, &result));
        QCOMPARE(result, 0x44332211u);

        // The guard frame is any four bytes, and nothing of it is left for the next reply.
        peer->reply(bytes("8a 07 01 05" "81 05 08 60 00 51 01 01 00 00 00" "81 05 08 43 01 51 00 6D 72 6F 6E"));
        QTest::ignoreMessage(QtDebugMsg, "Receive guide");
        QTest::ignoreMessage(QtDebugMsg, "5");
        comm->receiveGuard();
        QVERIFY(comm->readDownloadResponse(0x5100, 2, &result));
        QCOMPARE(result, 1u);
        QVERIFY(comm->readUploadResponse(0x5101, 0, &result));
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
        QCOMPARE(timeoutMessage([&] { comm->readDownloadResponse(0x5100, 6, &value); }),
                 QString("Index: 5100, SubIndex:  6"));
        QCOMPARE(timeoutMessage([&] { comm->readUploadResponse(0x5101, 0, &value); }),
                 QString("Index: 5101, SubIndex: 0"));
        QCOMPARE(timeoutMessage([&] { comm->receiveGuard(); }), QString("Receive Guard"));
        QVERIFY(clock.elapsed() < 500);
    }

    // What came while the port was closed is purged at the opening; "com12" opens as COM12.
    void reopeningPurgesAndFindsTheLowerCaseName()
    {
        comm->close();
        const QString name = "COM" + QString::number(port);
        QVERIFY(QFile::rename(peer->directory.filePath(name), peer->directory.filePath(name.toLower())));
        peer->reply(bytes("81 05 08 60 00 51 01 ee ee ee ee"));
        comm->openPort(port);
        peer->reply(bytes("81 05 08 60 00 51 01 01 00 00 00"));
        uint32_t result = 0;
        comm->readDownloadResponse(0x5100, 1, &result);
        QCOMPARE(result, 1u);
    }

    void secondOpenerAndMissingPortAreRefused()
    {
        USBPassThroughCANopenCOMM second;
        for (int number : {port, port + 1}) {
            try {
                second.openPort(number);
                QFAIL(qPrintable(QString("COM%1 opened").arg(number)));
            } catch (const std::exception &failure) {
                QCOMPARE(QString(failure.what()), QString("Does there has other application lock the COM port?"));
            }
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
        QCOMPARE(QString::fromStdString(SerialPort::describeOpenFailure(EIO, "/dev/ttyACM0")),
                 QString("/dev/ttyACM0: Input/output error"));
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
    }
};

TARNLOW_TEST_MAIN(TestCanopenSdoClient)
#include "test_canopen_sdo_client.moc"
