// The EtherCAT page and its update sequence against the simulated coupler in this process: the
// form, the adapter list and its restore, Update with the busy dialog, the boxes, Abort and the
// close button, the stored keys; the state changes from wherever the coupler is, the file as
// the boot loader receives it, every result of the FoE write and the lines on standard output.
#include "coupler_ecat/adapter_list.h"
#include "platform/default_route.h"
#include "coupler_ecat/ethercat_coupler_update.h"
#include "coupler_ecat/ethercat_update_outcome.h"
#include "coupler_ecat/tarnlow_ecat.h"
#include "sim/ethercat_coupler.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <numeric>
#include <thread>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <unistd.h>

using FirmwareBuilder::pattern;
using SimEthercat::Coupler;
using SimEthercat::Faults;
using Setup = std::function<void(Faults &)>;

namespace {

struct Page {
    explicit Page(Ethercat::LinkOpener opener = Ethercat::defaultLinkOpener())
        : window(new TarnlowECAT(nullptr, TarnlowTest::environment(), std::move(opener))) {}
    std::unique_ptr<TarnlowECAT> window;
    QComboBox *adapters() const { return window->findChild<QComboBox *>("comboBox"); }
    QComboBox *files() const { return window->findChild<QComboBox *>("comboBox_firmware_file"); }
    QPushButton *update() const { return window->findChild<QPushButton *>("button_update"); }
    QList<QProgressDialog *> dialogs() const { return window->findChildren<QProgressDialog *>(); }
};

pcap_if_t adapter(const char *name, const char *description, pcap_if_t *next = nullptr)
{
    pcap_if_t entry{};
    entry.name = const_cast<char *>(name);
    entry.description = const_cast<char *>(description);
    entry.next = next;
    return entry;
}

QByteArray received(const Coupler &coupler)
{
    const auto &file = coupler.record().file;
    return QByteArray(reinterpret_cast<const char *>(file.data()), int(file.size()));
}

// The engine's runs read their files from a folder the page does not list.
QString firmware(const QByteArray &content)
{
    return SandboxFiles::write("engine/Coupler.BIN", content);
}

// The engine as the page builds it: no progress shown, the abort flag, the product's waits and
// the diagnostic lines on standard output. `onValue` sees the bytes acknowledged.
struct PageTools : UpdateProgress {
    CancelFlag abort;
    std::function<void(int)> onValue;
    void setValue(int value) override
    {
        if (onValue)
            onValue(value);
    }
};
struct PageEngine : PageTools, EthercatCouplerUpdate {
    explicit PageEngine(Ethercat::LinkOpener opener = Ethercat::defaultLinkOpener())
        : EthercatCouplerUpdate(std::move(opener), {*this, abort, FixedWaits().blocking(), standardOutputLog()})
    {
    }
};

struct Run {
    int result = 0;
    QByteArray output;   // what went to standard output
    QString why;         // what the page's box adds below "Update Firmware failed."
};

Run update(EthercatCouplerUpdate &engine, const QString &path)
{
    QTemporaryFile file;
    file.open();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    Run run;
    run.result = engine.updateSlaveFirmware("tlec-test", 1, path.toUtf8().constData());
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    run.output = file.readAll();
    run.why = QString::fromStdString(engine.failureReason());
    return run;
}

// A segment with the simulated coupler on it, whatever adapter name the code under test opens;
// without a coupler no frame comes back. When given, `harm` sees every frame before the coupler
// does: the frame may be lost on the way out, its reply lost, delivered twice or 5 ms late, or
// the send refused as by an adapter whose queue is full.
enum class Harm { None, LoseFrame, LoseReply, DoubleReply, DelayReply, RefuseSend };
using Harmer = std::function<Harm(const Ethercat::Bytes &)>;
class HarmfulLink : public Ethercat::Link
{
public:
    static constexpr auto kDelay = std::chrono::milliseconds(5);

    // `earlyCopies`, when given, counts the frames sent again while the reply to the one before
    // was still on its way.
    HarmfulLink(Coupler *coupler, Harmer harm, int *earlyCopies)
        : m_coupler(coupler), m_harm(std::move(harm)), m_earlyCopies(earlyCopies)
    {
    }

    bool send(const Ethercat::Bytes &frame) override
    {
        ++framesSent;
        countEarlyCopy(frame);
        const Harm harm = m_harm ? m_harm(frame) : Harm::None;
        if (harm == Harm::RefuseSend)
            return false;
        const auto answered = !m_coupler || harm == Harm::LoseFrame ? std::nullopt : m_coupler->answer(frame);
        const Clock::time_point due = Clock::now() + (harm == Harm::DelayReply ? kDelay : Clock::duration::zero());
        if (answered && harm != Harm::LoseReply)
            m_pending.insert(m_pending.end(), harm == Harm::DoubleReply ? 2 : 1, {due, *answered});
        return true;
    }

    // The first reply due within the time-out, waited for as a real segment takes its time.
    bool receive(Ethercat::Bytes &frame, int timeoutUs) override
    {
        const Clock::time_point until = Clock::now() + std::chrono::microseconds(timeoutUs);
        const auto next = std::min_element(m_pending.begin(), m_pending.end(),
                                           [](const Pending &a, const Pending &b) { return a.due < b.due; });
        if (next == m_pending.end() || next->due > until) {
            std::this_thread::sleep_until(until);
            return false;
        }
        std::this_thread::sleep_until(next->due);
        frame = next->frame;
        m_pending.erase(next);
        return true;
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        Ethercat::Bytes frame;
    };

    static bool sameRequest(const Ethercat::Datagram &a, const Ethercat::Datagram &b)
    {
        return a.command == b.command && a.position == b.position && a.offset == b.offset && a.data == b.data;
    }
    void countEarlyCopy(const Ethercat::Bytes &frame)
    {
        const auto datagram = Ethercat::decodeFrame(frame);
        if (m_earlyCopies && datagram && m_last && sameRequest(*datagram, *m_last)
            && std::any_of(m_pending.begin(), m_pending.end(), [](const Pending &p) { return p.due > Clock::now(); }))
            ++*m_earlyCopies;
        m_last = datagram;
    }

    Coupler *m_coupler;
    Harmer m_harm;
    int *m_earlyCopies;
    std::optional<Ethercat::Datagram> m_last;
    std::deque<Pending> m_pending;
};

Ethercat::LinkOpener segment(Coupler *coupler, Harmer harm = {}, int *earlyCopies = nullptr)
{
    return [=](const std::string &) {
        return std::unique_ptr<Ethercat::Link>(new HarmfulLink(coupler, harm, earlyCopies));
    };
}

// Another master has found the coupler and taken it to PRE-OP, and perhaps asked for a state
// the coupler refused, which left the error indication.
void bringToPreOp(Coupler &coupler, bool withError)
{
    Ethercat::Master master(segment(&coupler));
    master.ec_init("tlec-test");
    master.ec_config_init(false);
    master.requestState(1, Ethercat::PRE_OP);
    QCOMPARE(master.ec_statecheck(1, Ethercat::PRE_OP, 100000), uint16_t(Ethercat::PRE_OP));
    if (withError) {
        master.requestState(1, Ethercat::SAFE_OP);
        QCOMPARE(master.awaitState(1, Ethercat::SAFE_OP, 100000), uint16_t(Ethercat::PRE_OP));
        QCOMPARE(master.ec_slave[1].alStatusCode, SimEthercat::alStatusInvalidStateChange);
    }
}

}

Q_DECLARE_METATYPE(SimEthercat::BootMailbox)
Q_DECLARE_METATYPE(std::vector<uint16_t>)
Q_DECLARE_METATYPE(std::vector<uint32_t>)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Harm)

class TestEcatPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SandboxFiles::write("ECAT Firmware/Coupler.BIN", pattern(700));
        SandboxFiles::write("ECAT Firmware/Module.BIN", FirmwareBuilder::encryptedHex(pattern(700)));
        SandboxFiles::write("ECAT Firmware/README.txt", "Plain notes");
    }
    void init() { QSettings().clear(); }

    // A file name stored that the folder no longer has gives the first file; the stored adapter
    // is shown again, and a press on the list reads the adapters anew, keeping the one shown.
    void thePageListsTheFilesAndRestoresTheAdapter()
    {
        QSettings().setValue("Settings/nic", "lo");
        QSettings().setValue("Settings/filename", "Unknown");
        Page page;
        QCOMPARE(page.files()->currentText(), QString("Coupler"));
        QCOMPARE(page.window->findChild<QTextEdit *>("textEdit_explain")->toPlainText(), QString("Plain notes"));
        QVERIFY(page.window->findChild<QTextEdit *>("textEdit_explain")->isReadOnly());
        QCOMPARE(page.adapters()->findData("any"), -1);
        QCOMPARE(page.adapters()->currentData().toString(), QString("lo"));
        QVERIFY(page.adapters()->currentText().startsWith("lo \u2014 "));
        const int count = page.adapters()->count();
        page.adapters()->addItem("stale", "stale0");
        QTest::mousePress(page.adapters(), Qt::LeftButton);
        QCOMPARE(page.adapters()->count(), count);
        QCOMPARE(page.adapters()->currentData().toString(), QString("lo"));
    }

    // An adapter shows its description without the wrapper, or without one its name, MAC and
    // IPv4 addresses; pseudo devices are left out.
    void adapterTexts()
    {
        QCOMPARE(adapterDisplayText("x", "Network adapter 'Intel PRO/1000' on local host"), QString("Intel PRO/1000"));
        QCOMPARE(adapterDisplayText("x", "Network adapter 'Intel PRO/1000'"), QString("Network adapter 'Intel PRO/1000'"));
        QCOMPARE(adapterDisplayText("enp3s0", nullptr), QString("enp3s0"));
        QCOMPARE(adapterDisplayText("enp3s0", ""), QString("enp3s0"));
        for (const char *name : {"any", "nflog", "nfqueue", "dbus-system", "bluetooth-monitor", "usbmon1"})
            QVERIFY2(isPseudoAdapter(name), name);
        for (const char *name : {"lo", "eth0", "anyfi0", "enp3s0"})
            QVERIFY2(!isPseudoAdapter(name), name);

        sockaddr_ll link{AF_PACKET, 0, 0, 0, 0, 6, {0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc}};
        sockaddr_in ipv4{AF_INET, 0, {htonl(0xC0A80A05)}, {}};
        pcap_addr_t second{nullptr, reinterpret_cast<sockaddr *>(&ipv4), nullptr, nullptr, nullptr};
        pcap_addr_t first{&second, reinterpret_cast<sockaddr *>(&link), nullptr, nullptr, nullptr};
        pcap_if_t plant = adapter("eth0", nullptr);
        plant.addresses = &first;
        QCOMPARE(adapterDisplayText(plant), QString("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 192.168.10.5"));
        QVERIFY(adapterEntries(&plant)[0].carriesIpv4);
        first.next = nullptr;
        QVERIFY(!adapterEntries(&plant)[0].carriesIpv4);
        QCOMPARE(adapterDisplayText(plant), QString("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 no IPv4"));
        QCOMPARE(captureNameOfDisplayText("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 10.0.0.1"), QString("eth0"));
        QCOMPARE(captureNameOfDisplayText("lo"), QString("lo"));
    }

    // A refresh keeps the adapter shown by its text (the last of several with that text), or by
    // its name when its addresses changed, not the first one.
    void aRefreshKeepsTheShownAdapter()
    {
        pcap_if_t third = adapter("eth2", "Network adapter 'Twin' on local host");
        pcap_if_t second = adapter("eth1", "Twin", &third);
        pcap_if_t any = adapter("any", "Pseudo-device that captures on all interfaces", &second);
        pcap_if_t first = adapter("eth0", nullptr, &any);
        const QVector<AdapterEntry> entries = adapterEntries(&first);
        QCOMPARE(entries.size(), 3);
        QComboBox box;
        fillAdapterComboBox(&box, entries);
        QCOMPARE(box.currentData().toString(), QString("eth0"));
        QCOMPARE(box.itemText(0), QString("eth0 \u2014 no IPv4"));
        box.setCurrentIndex(1);
        fillAdapterComboBox(&box, entries);
        QCOMPARE(box.currentData().toString(), QString("eth2"));

        fillAdapterComboBox(&box, {{"eth9 \u2014 no IPv4", "eth9", ""}, {"eth0 \u2014 10.0.0.1", "eth0", ""}});
        box.setCurrentIndex(1);
        fillAdapterComboBox(&box, {{"eth9 \u2014 no IPv4", "eth9", ""}, {"eth0 \u2014 10.0.0.2", "eth0", ""}});
        QCOMPARE(box.currentData().toString(), QString("eth0"));

        // Nothing shown before: the first adapter with neither IPv4 nor the default route, or none.
        const AdapterEntry plant{"eth0 \u2014 192.0.2.2", "eth0", "", true, true};
        const AdapterEntry routed{"ppp0 \u2014 no IPv4", "ppp0", "", false, true};
        const AdapterEntry segment{"eth1 \u2014 no IPv4", "eth1", "", false, false};
        QComboBox fresh;
        fillAdapterComboBox(&fresh, {plant, routed, segment});
        QCOMPARE(fresh.currentData().toString(), QString("eth1"));
        QComboBox none;
        fillAdapterComboBox(&none, {plant, routed});
        QCOMPARE(none.currentIndex(), -1);
    }

    void theDefaultRouteIsReadFromTheRoutingTables()
    {
        const std::string ipv4 = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\n"
                                 "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\n"
                                 "eth1\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\n"
                                 "eth2\t00000000\t00000000\t0000\t0\t0\t0\t00000000\t0\n";
        const std::string zero(32, '0');
        const std::string ipv6 = zero + " 00 " + zero + " 00 " + zero + " 00000400 00000001 00000000 00000003 wlan0\n"
                                 + zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n"
                                 "fe800000000000000000000000000000 40 " + zero + " 00 " + zero
                                 + " 00000100 00000001 00000000 00000001 eth1\n";
        QCOMPARE(defaultRouteInterfacesIn(ipv4, ipv6), (std::set<std::string>{"eth0", "wlan0"}));
        const pcap_if_t lo = adapter("lo", nullptr);
        const QVector<AdapterEntry> entries = adapterEntries(&lo, {"lo"});
        QVERIFY(entries[0].carriesDefaultRoute && !entries[0].carriesIpv4);
    }

    // Update with the busy dialog ends in one box, the keys stored and nothing of the run left
    // behind; a second run gets a dialog of its own.
    void anUpdateEndsInOneBox_data()
    {
        QTest::addColumn<bool>("onTheCable");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        QTest::newRow("success") << true << 1 << int(QMessageBox::Information) << "Update firmware successfully."
                                 << "The coupler left its boot loader with the new firmware written. Its AL state after "
                                    "the run: PRE-OP.";
        QTest::newRow("nothing on the cable, twice") << false << 2 << int(QMessageBox::Critical)
                                                     << "Update Firmware failed." << "No EtherCAT slave 1 answered on lo.";
    }
    void anUpdateEndsInOneBox()
    {
        QFETCH(bool, onTheCable);
        QFETCH(int, runs);
        QFETCH(int, icon);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        Coupler coupler(128, true);
        Page page(segment(onTheCable ? &coupler : nullptr));
        page.adapters()->setCurrentIndex(page.adapters()->findData("lo"));
        MessageBoxRecorder boxes;
        QString dialog;   // the busy dialog while the box is up
        boxes.onBox([&](QMessageBox *) {
            for (QProgressDialog *shown : page.dialogs())
                if (shown->isVisible())
                    dialog += QString("%1 %2x%3").arg(shown->labelText()).arg(shown->width()).arg(shown->height());
        });
        for (int run = 1; run <= runs; ++run) {
            dialog.clear();
            QTimer::singleShot(0, page.update(), &QPushButton::click);
            QVERIFY(boxes.waitForBoxes(run, 20000));
            QCOMPARE(int(boxes.last().icon), icon);
            QCOMPARE(boxes.last().title, QString("Tarnlow"));
            QCOMPARE(boxes.last().text, text);
            QCOMPARE(boxes.last().informative, informative);
            // The busy dialog, Abort with it, is closed before the box comes.
            QCOMPARE(dialog, QString());
            QTRY_VERIFY_WITH_TIMEOUT(page.update()->isEnabled(), 10000);
            // Neither the busy dialog nor the worker outlives the update.
            QTRY_VERIFY_WITH_TIMEOUT(page.dialogs().isEmpty(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(page.window->findChildren<QThread *>().isEmpty(), 10000);
        }
        if (onTheCable)
            QCOMPARE(received(coupler), pattern(700) + QByteArray(68, char(0xFF)));
        QCOMPARE(QSettings().value("Settings/filename").toString(), QString("Coupler"));
        QVERIFY(QSettings().value("Settings/nic").toString().startsWith("lo \u2014 "));
    }

    void abortAndTheCloseButtonEndTheWaitWithoutAMessage_data()
    {
        QTest::addColumn<bool>("closeButton");
        QTest::newRow("Abort") << false;
        QTest::newRow("close button") << true;
    }
    void abortAndTheCloseButtonEndTheWaitWithoutAMessage()
    {
        QFETCH(bool, closeButton);
        Coupler coupler(128);  // in INIT: the worker is busy with the state changes for seconds
        Page page(segment(&coupler));
        page.adapters()->setCurrentIndex(page.adapters()->findData("lo"));
        MessageBoxRecorder boxes;
        // The user acts while Update's own wait runs: from a timer inside that wait.
        QPointer<QProgressDialog> dialog;
        QTimer user;
        connect(&user, &QTimer::timeout, [&] {
            if (dialog || page.dialogs().isEmpty() || !page.dialogs().first()->isVisible())
                return;
            dialog = page.dialogs().first();
            if (closeButton)
                dialog->close();
            else
                dialog->findChild<QPushButton *>()->click();
        });
        user.start(20);
        page.update()->click();
        user.stop();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!dialog->isVisible());
        // The worker still runs its sequence; Update waits for it.
        QVERIFY(!page.update()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(page.update()->isEnabled(), 20000);
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 0);
        // The aborted run's worker and its dialog are gone once it has ended.
        QTRY_VERIFY_WITH_TIMEOUT(page.dialogs().isEmpty() && !dialog, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(page.window->findChildren<QThread *>().isEmpty(), 10000);
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    // An encrypted HEX file, meant for another page, is refused before the coupler is touched.
    void aFileForAnotherPageIsRefused()
    {
        Coupler coupler(128, true);
        Page page(segment(&coupler));
        page.adapters()->setCurrentIndex(page.adapters()->findData("lo"));
        page.files()->setCurrentIndex(page.files()->findText("Module"));
        MessageBoxRecorder boxes;
        page.update()->click();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, QString("Update Firmware failed."));
        QVERIFY2(boxes.last().informative.endsWith("/ECAT Firmware/Module.BIN is an encrypted HEX file, meant for the "
                                                   "Ethernet coupler, module or CANopen page; the EtherCAT coupler "
                                                   "takes its firmware as a binary file. Nothing was sent.\n"
                                                   "Nothing was written: the coupler runs the firmware it ran before."),
                 qPrintable(boxes.last().informative));
        QVERIFY(coupler.record().alControlWrites.empty());
        QVERIFY(page.dialogs().isEmpty());
        QVERIFY(page.update()->isEnabled());
    }

    // With no choice stored, an adapter that carries IPv4 (here the only one, lo) is not chosen
    // for the user: Update stays unusable until one is chosen, and without adapters it does
    // nothing.
    void noAdapterIsChosenForTheUser()
    {
        Page page;
        QCOMPARE(page.adapters()->currentIndex(), -1);
        QVERIFY(!page.update()->isEnabled());
        page.adapters()->setCurrentIndex(page.adapters()->findData("lo"));
        QVERIFY(page.update()->isEnabled());
        page.adapters()->clear();
        QVERIFY(!page.update()->isEnabled());
        MessageBoxRecorder boxes;
        page.update()->click();
        QVERIFY(page.dialogs().isEmpty());
        QCOMPARE(boxes.count(), 0);
        QVERIFY(!QSettings().contains("Settings/nic"));
    }

    // Both kinds of boot loader, from every state the coupler may be in, with firmware that takes
    // each AL control value a little late: the whole file arrives over the mailbox the slave has
    // in BOOT, no sync manager write is lost, and BOOT is left through INIT with the error
    // indication acknowledged, so the coupler ends in PRE-OP.
    void everyStartOnBothKindsOfBootLoaderStoresTheFile_data()
    {
        using SimEthercat::BootMailbox;
        QTest::addColumn<BootMailbox>("bootMailbox");
        QTest::addColumn<int>("startState");
        QTest::addColumn<int>("firstSegment");
        QTest::addColumn<std::vector<uint16_t>>("stateRequests");
        // BOOT refused on the standard mailbox (0x0015), then INIT, the bootstrap mailbox, BOOT.
        const std::vector<uint16_t> bootstrapWay{0x11, 2, 3, 0x11, 3, 3, 0x11, 2};
        const std::vector<uint16_t> standardWay{0x11, 2, 3, 3, 0x11, 2};
        const std::vector<uint16_t> alreadyInBoot{3, 0x11, 2};
        const int preOpWithError = Ethercat::PRE_OP | Ethercat::alErrorIndication;
        QTest::newRow("bootstrap mailbox, from INIT") << BootMailbox::Bootstrap << int(Ethercat::INIT) << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, from PRE-OP") << BootMailbox::Bootstrap << int(Ethercat::PRE_OP) << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, from PRE-OP with an error") << BootMailbox::Bootstrap << preOpWithError << 244 << bootstrapWay;
        QTest::newRow("bootstrap mailbox, in BOOT") << BootMailbox::Bootstrap << int(Ethercat::BOOT) << 244 << alreadyInBoot;
        QTest::newRow("standard mailbox, from INIT") << BootMailbox::Standard << int(Ethercat::INIT) << 116 << standardWay;
        QTest::newRow("standard mailbox, from PRE-OP with an error") << BootMailbox::Standard << preOpWithError << 116 << standardWay;
        QTest::newRow("standard mailbox, in BOOT") << BootMailbox::Standard << int(Ethercat::BOOT) << 116 << alreadyInBoot;
    }
    void everyStartOnBothKindsOfBootLoaderStoresTheFile()
    {
        QFETCH(SimEthercat::BootMailbox, bootMailbox);
        QFETCH(int, startState);
        QFETCH(int, firstSegment);
        QFETCH(std::vector<uint16_t>, stateRequests);
        Coupler coupler(256, startState == Ethercat::BOOT, bootMailbox);
        if ((startState & Ethercat::stateMask) == Ethercat::PRE_OP)
            bringToPreOp(coupler, startState & Ethercat::alErrorIndication);
        coupler.faults.alControlDelayMs = 2;
        const std::size_t earlierRequests = coupler.record().alControlWrites.size();
        PageEngine engine(segment(&coupler));
        const QString path = firmware(pattern(1000));
        const Run run = update(engine, path);
        QVERIFY(run.result > 0);

        const auto &record = coupler.record();
        QCOMPARE(QString::fromStdString(record.foeFileName), path);
        QCOMPARE(record.foePassword, 0x6B2F1D94u);
        QCOMPARE(received(coupler), pattern(1000) + QByteArray(24, char(0xFF)));
        QCOMPARE(int(record.foeSegmentSizes.front()), firstSegment);
        QCOMPARE(std::vector<uint16_t>(record.alControlWrites.begin() + long(earlierRequests), record.alControlWrites.end()),
                 stateRequests);
        for (const auto &write : record.syncManagerWrites)
            QVERIFY2(!write.dropped, qPrintable(QString::number(write.offset, 16)));
        QTRY_COMPARE_WITH_TIMEOUT(coupler.state(), uint16_t(Ethercat::PRE_OP), 1000);
        QCOMPARE(QString::fromStdString(engine.stateLeftIn()), QString("PRE-OP"));
        QCOMPARE(ethercatUpdateOutcome(engine.resultOf(run.result)).informative, QString());
        if (startState != Ethercat::BOOT) {
            QCOMPARE(int(record.sdoDownloads.size()), 1);
            QCOMPARE(record.sdoDownloads[0].index, uint16_t(0x5000));
            QCOMPARE(record.sdoDownloads[0].subIndex, uint8_t(3));
            QCOMPARE(record.sdoDownloads[0].value, (Ethercat::Bytes{0x15, 0x2C, 0x7A, 0x4E}));
            QVERIFY(run.output.contains("Request init state for slave 1\nSlave 1 state to INIT.\n"
                                        " SM0 A:1000 L: 128 F:00010026\n"
                                        " SM1 A:1080 L: 128 F:00010022\n"
                                        "Slave 1 state to BOOT.\nFile read OK, 1024 bytes.\n"));
            const std::vector<uint16_t> bootstrapEntries{0x0014, 0x0016};
            QVERIFY(std::search(record.eepromReads.begin(), record.eepromReads.end(), bootstrapEntries.begin(),
                                bootstrapEntries.end()) != record.eepromReads.end());
        } else {   // a coupler in BOOT is written without the boot request
            QVERIFY(record.sdoDownloads.empty());
            QCOMPARE(run.output, QByteArray("Starting firmware update example\nec_init on tlec-test succeeded.\n"
                                            "1 slaves found and configured.\nSlave 1 state to BOOT.\nFile read OK, 1024 bytes.\n"
                                            "FoE write....result 1.\nRequest Pre-OP state for slave 1\n"
                                            "End firmware update example, close socket\n"));
        }
        // Every message the master sent carries the next counter: 1..7, then 1 again.
        for (std::size_t i = 0; i < record.mailboxCounters.size(); ++i)
            QCOMPARE(int(record.mailboxCounters[i]), int(i % 7 + 1));
    }

    // A boot loader busy for a while gets the same message again after a pause, each data
    // message is taken once, and the end is an empty message when the file fills the last one.
    void fileSizesBusyAnswersAndTheClosingEmptyMessage_data()
    {
        QTest::addColumn<int>("mailboxSize");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<int>("busy");
        QTest::addColumn<QVector<int>>("segments");
        QTest::newRow("256 bytes go unpadded") << 128 << 256 << 0 << QVector<int>{116, 116, 24};
        QTest::newRow("whole multiple of maxdata") << 140 << 256 << 0 << QVector<int>{128, 128, 0};
        QTest::newRow("maxdata of 1012 bytes") << 1024 << 2048 << 0 << QVector<int>{1012, 1012, 24};
        QTest::newRow("busy three times") << 128 << 512 << 3 << QVector<int>{116, 116, 116, 116, 48};
    }
    void fileSizesBusyAnswersAndTheClosingEmptyMessage()
    {
        QFETCH(int, mailboxSize);
        QFETCH(int, fileSize);
        QFETCH(int, busy);
        QFETCH(QVector<int>, segments);
        Coupler coupler(uint16_t(mailboxSize), true);
        coupler.faults.busyReplies = busy;
        PageEngine engine(segment(&coupler));
        QVERIFY(update(engine, firmware(pattern(fileSize))).result > 0);
        QVector<int> sizes;
        for (std::size_t size : coupler.record().foeSegmentSizes)
            sizes.append(int(size));
        QCOMPARE(sizes, segments);
        QCOMPARE(received(coupler), pattern(fileSize));
        QVERIFY(coupler.record().fileComplete);
        QCOMPARE(coupler.record().busyAnswers, busy);
    }

    // Every way an update fails: the lines on standard output, the result and the text below the
    // box. An empty file would store no firmware and one over 8 MiB only its first 8 MiB, and
    // both transfers would succeed: neither is read.
    void everyFailureIsToldOnStandardOutputAndBelowTheBox_data()
    {
        QTest::addColumn<bool>("onTheCable");
        QTest::addColumn<Setup>("faults");
        QTest::addColumn<int>("fileSize");   // -1: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("lines");   // between ec_init's line and the closing one
        QTest::addColumn<QString>("why");        // <file> stands for the file's path
        QTest::addColumn<int>("cause");
        using Cause = UpdateResult::Cause;
        const auto inBoot = [](const QString &lines) {
            return "1 slaves found and configured.\nSlave 1 state to BOOT.\n" + lines.toUtf8() + "Request Pre-OP state for slave 1\n";
        };
        const auto written = [&](int size, int result) {
            return inBoot(QString("File read OK, %1 bytes.\nFoE write....result %2.\n").arg(size).arg(result));
        };
        const QString notFound = "The coupler refused the file with FoE error 0x8001 (not found).";
        const QString notRead = "The firmware file could not be read, is empty or is larger than 8 MiB: <file>";
        QTest::newRow("not found on the write request") << true << Setup([](Faults &f) { f.foeErrorCode = 0x8001; })
            << 1024 << -10 << written(1024, -10) << notFound
            << int(Cause::TransferNotFound);
        QTest::newRow("not found on packet 2") << true << Setup([](Faults &f) { f.foeErrorCode = 0x8001; f.foeErrorAtPacket = 2; })
            << 1024 << -10 << written(1024, -10) << notFound
            << int(Cause::TransferNotFound);
        QTest::newRow("access denied") << true << Setup([](Faults &f) { f.foeErrorCode = 0x8002; f.foeErrorAtPacket = 1; })
            << 1024 << -5 << written(1024, -5) << "The coupler refused the file with FoE error 0x8002."
            << int(Cause::TransferRefused);
        QTest::newRow("wrong packet acknowledged") << true << Setup([](Faults &f) { f.wrongAckPacket = true; })
            << 1024 << -7 << written(1024, -7) << "The coupler acknowledged another packet than the one sent."
            << int(Cause::TransferWrongAcknowledge);
        QTest::newRow("a CoE message instead of FoE") << true << Setup([](Faults &f) { f.coeReplyAtPacket = 3; })
            << 1024 << -3 << written(1024, -3) << "The coupler answered with a mailbox message that is no FoE reply."
            << int(Cause::TransferUnexpectedReply);
        QTest::newRow("a boot loader that stays busy") << true << Setup([](Faults &f) { f.busyReplies = 1000; })
            << 1024 << foeStillBusy << written(1024, -11) << "The coupler stayed busy through every resend."
            << int(Cause::TransferStillBusy);
        QTest::newRow("a boot loader that never answers") << true << Setup([](Faults &f) { f.silentMailbox = true; })
            << 256 << 0 << written(256, 0) << "The coupler's mailbox did not answer in time."
            << int(Cause::TransferTimedOut);
        QTest::newRow("empty file") << true << Setup() << 0 << 0 << inBoot("File not read OK.\n") << notRead
            << int(Cause::FileUnreadable);
        QTest::newRow("one byte over 8 MiB") << true << Setup() << firmwareBufferSize + 1 << 0
            << inBoot("File not read OK.\n") << notRead
            << int(Cause::FileUnreadable);
        QTest::newRow("no file") << true << Setup() << -1 << 0 << inBoot("File not read OK.\n") << notRead
            << int(Cause::FileUnreadable);
        QTest::newRow("no BOOT within the time-out") << true << Setup([](Faults &f) { f.neverBoot = true; }) << 256 << 0
            << QByteArray("1 slaves found and configured.\nRequest init state for slave 1\nSlave 1 state to INIT.\n"
                          " SM0 A:1000 L: 128 F:00010026\n SM1 A:1080 L: 128 F:00010022\n"
                          "Request Pre-OP state for slave 1\n")
            << "Slave 1 did not reach the BOOT state (it is in PRE-OP + ERROR, AL status code 0x0011)."
            << int(Cause::BootLoaderNotReached);
        QTest::newRow("no slave on the segment") << false << Setup() << 256 << 0 << QByteArray("No slaves found!\n")
            << "No EtherCAT slave 1 answered on tlec-test."
            << int(Cause::DeviceNotFound);
    }
    void everyFailureIsToldOnStandardOutputAndBelowTheBox()
    {
        QFETCH(bool, onTheCable);
        QFETCH(Setup, faults);
        QFETCH(int, fileSize);
        QFETCH(int, result);
        QFETCH(QByteArray, lines);
        QFETCH(QString, why);
        QFETCH(int, cause);
        Faults wanted;
        if (faults)
            faults(wanted);
        Coupler coupler(128, !wanted.neverBoot);
        coupler.faults = wanted;
        PageEngine engine(segment(onTheCable ? &coupler : nullptr));
        const QString path = fileSize < 0 ? QString() : firmware(QByteArray(fileSize, '\x5A'));
        const Run run = update(engine, path);
        QCOMPARE(run.result, result);
        QCOMPARE(run.output, "Starting firmware update example\nec_init on tlec-test succeeded.\n" + lines
                                 + "End firmware update example, close socket\n");
        QCOMPARE(run.why, QString(why).replace("<file>", path));
        const UpdateResult failed = engine.resultOf(run.result);
        QCOMPARE(int(failed.kind), int(UpdateResult::Kind::Failed));
        QCOMPARE(int(failed.cause), cause);
        QCOMPARE(QString::fromStdString(failed.detail), run.why);
        QVERIFY(!coupler.record().fileComplete);
        if (onTheCable)   // back in PRE-OP whatever failed
            QCOMPARE(coupler.state(), uint16_t(Ethercat::PRE_OP));
        // Below the box: whether the coupler's firmware was touched, and the AL state read last.
        const QString state = ethercatUpdateOutcome(failed).deviceState;
        if (!onTheCable)
            QCOMPARE(state, QString());
        else
            QCOMPARE(state, (run.output.contains("FoE write")
                                 ? "The FoE write did not finish: the coupler's firmware may be erased or incomplete; "
                                   "run the update again."
                                 : "Nothing was written: the coupler runs the firmware it ran before.")
                                + QString(" Its AL state after the run: PRE-OP."));
        QCOMPARE(coupler.record().busyAnswers, wanted.busyReplies ? foeBusyResendLimit + 1 : 0);
    }

    void fileOfExactly8MiBIsRead()
    {
        int size = 0;
        PageEngine engine;
        const QString path = firmware(QByteArray(firmwareBufferSize, '\x11'));
        QCOMPARE(engine.readFirmwareFile(path.toUtf8().constData(), size), 1);
        QCOMPARE(size, firmwareBufferSize);
    }

    void anAdapterThatCannotBeOpened()
    {
        PageEngine engine([](const std::string &) { return nullptr; });
        const Run run = update(engine, "x");
        QCOMPARE(run.result, 0);
        QCOMPARE(run.output, QByteArray("Starting firmware update example\n"
                                        "No socket connection on tlec-test\nExcecute as root\n"));
        QVERIFY(run.why.startsWith("The network adapter tlec-test could not be opened for raw EtherCAT frames."));
        // Without root the text says how to grant the raw-socket capabilities.
        QCOMPARE(run.why.contains("setcap cap_net_raw,cap_net_admin+eip"), ::geteuid() != 0);
    }

    // An abort asked for before the write still sends the first data message; one during the
    // transfer stops after the message it is on. Either way the coupler is taken back to PRE-OP.
    void abortStopsAfterTheCurrentMessage_data()
    {
        QTest::addColumn<int>("abortAfterBytes");   // 0: before the update starts
        QTest::addColumn<std::vector<uint32_t>>("packets");
        QTest::newRow("before the write") << 0 << std::vector<uint32_t>{1};
        QTest::newRow("during the transfer") << 2 * 116 << std::vector<uint32_t>{1, 2, 3};
    }
    void abortStopsAfterTheCurrentMessage()
    {
        QFETCH(int, abortAfterBytes);
        QFETCH(std::vector<uint32_t>, packets);
        Coupler coupler(128, true);
        PageEngine engine(segment(&coupler));
        if (abortAfterBytes == 0)
            engine.abort.request();
        engine.onValue = [&](int sent) {
            if (abortAfterBytes > 0 && sent >= abortAfterBytes)
                engine.abort.request();
        };
        // The count of the last message sent, as foeWriteAbortable returns it, is no success.
        const Run run = update(engine, firmware(pattern(4096)));
        QVERIFY(run.result > 0);
        QCOMPARE(int(engine.resultOf(run.result).kind), int(UpdateResult::Kind::Aborted));
        const UpdateOutcome stopped = ethercatUpdateOutcome(engine.resultOf(run.result));
        QVERIFY(!stopped.showsBox());
        QCOMPARE(stopped.deviceState, QString("The FoE write did not finish: the coupler's firmware may be erased or "
                                              "incomplete; run the update again. Its AL state after the run: PRE-OP."));
        QCOMPARE(coupler.record().foeWriteRequests, 1);
        QCOMPARE(coupler.record().foePackets, packets);
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    // The file is written, but a boot loader that keeps BOOT does not run it, and of a coupler
    // lost after the file nobody knows: the success box tells the technician to switch it off
    // and on.
    void aCouplerNotBackInPreOpIsNamedInTheSuccessBox_data()
    {
        QTest::addColumn<bool>("cableCut");
        QTest::addColumn<QString>("state");
        QTest::newRow("stays in BOOT") << false << "BOOT + ERROR, AL status code 0x0011";
        QTest::newRow("lost after the file") << true << "unknown";
    }
    void aCouplerNotBackInPreOpIsNamedInTheSuccessBox()
    {
        QFETCH(bool, cableCut);
        QFETCH(QString, state);
        Coupler coupler(128, true);
        coupler.faults.staysInBoot = !cableCut;
        // The cable is pulled once the file is in: from the first state request after it, no
        // frame comes back.
        bool cut = false;
        PageEngine engine(segment(&coupler, [&](const Ethercat::Bytes &frame) {
            const auto datagram = Ethercat::decodeFrame(frame);
            cut = cut || (cableCut && coupler.record().fileComplete && datagram && datagram->offset == Ethercat::Register::alControl);
            return cut ? Harm::LoseFrame : Harm::None;
        }));
        const Run run = update(engine, firmware(pattern(256)));
        QVERIFY(run.result > 0);
        QCOMPARE(received(coupler), pattern(256));
        QVERIFY(run.output.endsWith("Request Pre-OP state for slave 1\nEnd firmware update example, close socket\n"));
        QCOMPARE(QString::fromStdString(engine.stateLeftIn()), state);
        const UpdateOutcome outcome = ethercatUpdateOutcome(engine.resultOf(run.result));
        QCOMPARE(outcome.text, QString("Update firmware successfully."));
        QCOMPARE(outcome.deviceState, QString("The coupler did not leave BOOT cleanly (state %1); switch it off and "
                                              "on again to start the new firmware.").arg(state));
    }

    // Every third datagram of one kind is harmed: a frame lost on either way is sent again, a
    // lost mailbox reply is asked for again, a mailbox message sent twice is taken once, and a
    // late duplicate reply is dropped.
    void lostAndDoubledFramesStillWriteTheWholeFile_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("offset");
        QTest::addColumn<Harm>("harm");
        const int read = int(Ethercat::Command::FPRD);
        const int write = int(Ethercat::Command::FPWR);
        QTest::newRow("mailbox write lost") << write << int(SimEthercat::bootstrapWriteMailbox) << Harm::LoseFrame;
        QTest::newRow("mailbox write acknowledged, reply lost") << write << int(SimEthercat::bootstrapWriteMailbox) << Harm::LoseReply;
        QTest::newRow("mailbox read reply lost") << read << int(SimEthercat::bootstrapReadMailbox) << Harm::LoseReply;
        QTest::newRow("mailbox read reply twice") << read << int(SimEthercat::bootstrapReadMailbox) << Harm::DoubleReply;
        QTest::newRow("mailbox read lost") << read << int(SimEthercat::bootstrapReadMailbox) << Harm::LoseFrame;
        QTest::newRow("mailbox write refused by the adapter") << write << int(SimEthercat::bootstrapWriteMailbox)
                                                              << Harm::RefuseSend;
        QTest::newRow("mailbox read refused by the adapter") << read << int(SimEthercat::bootstrapReadMailbox)
                                                             << Harm::RefuseSend;
        QTest::newRow("mailbox write answered 5 ms late") << write << int(SimEthercat::bootstrapWriteMailbox)
                                                          << Harm::DelayReply;
        QTest::newRow("mailbox read answered 5 ms late") << read << int(SimEthercat::bootstrapReadMailbox)
                                                         << Harm::DelayReply;
    }
    void lostAndDoubledFramesStillWriteTheWholeFile()
    {
        QFETCH(int, command);
        QFETCH(int, offset);
        QFETCH(Harm, harm);
        Coupler coupler(128, true);
        int seen = 0;
        PageEngine engine(segment(&coupler, [&](const Ethercat::Bytes &frame) {
            const auto datagram = Ethercat::decodeFrame(frame);
            if (!datagram || int(datagram->command) != command || datagram->offset != offset)
                return Harm::None;
            // An adapter with a full queue refuses two sends of three, one after the other.
            const bool harmed = harm == Harm::RefuseSend ? ++seen % 3 != 0 : ++seen % 3 == 0;
            return harmed ? harm : Harm::None;
        }));
        const Run run = update(engine, firmware(pattern(4096)));
        QVERIFY2(run.result > 0, run.output.constData());
        QVERIFY(coupler.record().fileComplete);
        QCOMPARE(received(coupler), pattern(4096));
        if (harm == Harm::LoseReply && offset == SimEthercat::bootstrapReadMailbox)
            QVERIFY(coupler.record().repeatRequests > 0);
        std::vector<uint32_t> eachPacketOnce(4096 / (128 - 12) + 1);
        std::iota(eachPacketOnce.begin(), eachPacketOnce.end(), 1u);
        QCOMPARE(coupler.record().foePackets, eachPacketOnce);
    }

    // A segment whose every reply takes 5 ms, far beyond a cable's microseconds (a loaded host, a
    // long line of slaves): the coupler is found, taken to BOOT and written, each packet once, and
    // once the master has seen its round trips it no longer sends frames twice.
    void aSegmentFiveMillisecondsAwayIsUpdated()
    {
        Coupler coupler(128, false);
        int earlyCopies = 0;
        PageEngine engine(segment(&coupler, [](const Ethercat::Bytes &) { return Harm::DelayReply; }, &earlyCopies));
        const Run run = update(engine, firmware(pattern(1024)));
        QVERIFY2(run.result > 0, qPrintable(run.why));
        QCOMPARE(received(coupler), pattern(1024));
        std::vector<uint32_t> eachPacketOnce(1024 / (128 - 12) + 1);
        std::iota(eachPacketOnce.begin(), eachPacketOnce.end(), 1u);
        QCOMPARE(coupler.record().foePackets, eachPacketOnce);
        // The first frame goes again after 2 ms, its reply comes at 5 ms; none goes twice after it.
        QCOMPARE(earlyCopies, 1);
    }
};

TARNLOW_TEST_MAIN(TestEcatPage)
#include "test_ecat_page.moc"
