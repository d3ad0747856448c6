// The EtherCAT page as a user meets it: its form, the adapter list and its restore, Update
// with the busy dialog against the simulated coupler, the two messages, Abort and the close
// button, and the stored keys.
#include "coupler_ecat/adapter_list.h"
#include "coupler_ecat/tarnlow_ecat.h"
#include "ethercat/ethercat_master.h"
#include "tests/coupler_ecat/coupler_segment.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>

#include <memory>

#include <arpa/inet.h>
#include <linux/if_packet.h>

using SimEthercat::Coupler;

namespace {

struct Page {
    // The page opens its segment with `opener`.
    explicit Page(Ethercat::LinkOpener opener = Ethercat::defaultLinkOpener())
        : window(new TarnlowECAT(nullptr, TarnlowTest::environment(), std::move(opener))) {}
    std::unique_ptr<TarnlowECAT> window;
    QComboBox *adapters() const { return window->findChild<QComboBox *>("comboBox"); }
    QComboBox *files() const { return window->findChild<QComboBox *>("comboBox_firmware_file"); }
    QPushButton *update() const { return window->findChild<QPushButton *>("button_update"); }
    QList<QProgressDialog *> dialogs() const { return window->findChildren<QProgressDialog *>(); }
};

bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return condition();
}

pcap_if_t adapter(const char *name, const char *description, pcap_if_t *next = nullptr)
{
    pcap_if_t entry{};
    entry.name = const_cast<char *>(name);
    entry.description = const_cast<char *>(description);
    entry.next = next;
    return entry;
}

}

class TestEcatPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SandboxFiles::write("ECAT Firmware/Coupler.BIN", FirmwareBuilder::pattern(700));
        SandboxFiles::write("ECAT Firmware/README.txt", "Plain notes");
    }
    void init() { QSettings().clear(); }

    void aFreshPageListsTheFilesAndTheAdapters()
    {
        Page page;
        QCOMPARE(page.files()->currentText(), QString("Coupler"));
        QCOMPARE(page.window->findChild<QTextEdit *>("textEdit_explain")->toPlainText(), QString("Plain notes"));
        QVERIFY(page.window->findChild<QTextEdit *>("textEdit_explain")->isReadOnly());
        QVERIFY(page.adapters()->findData("lo") >= 0);
        QCOMPARE(page.adapters()->findData("any"), -1);
    }

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
    }

    void refreshKeepsTheShownAdapterAndPicksTheLastTwin()
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
        box.setCurrentIndex(1);
        fillAdapterComboBox(&box, entries);
        QCOMPARE(box.currentData().toString(), QString("eth2"));
        QCOMPARE(box.itemText(0), QString("eth0 \u2014 no IPv4"));
    }

    // Without a description the adapter shows its MAC and IPv4 addresses; a text stored before
    // the addresses changed still finds the adapter by its name.
    void adaptersWithoutDescriptionShowTheirAddresses()
    {
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_halen = 6;
        const uint8_t mac[] = {0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc};
        std::copy(std::begin(mac), std::end(mac), link.sll_addr);
        sockaddr_in ipv4{};
        ipv4.sin_family = AF_INET;
        ipv4.sin_addr.s_addr = htonl(0xC0A80A05);
        pcap_addr_t second{nullptr, reinterpret_cast<sockaddr *>(&ipv4), nullptr, nullptr, nullptr};
        pcap_addr_t first{&second, reinterpret_cast<sockaddr *>(&link), nullptr, nullptr, nullptr};
        pcap_if_t plant = adapter("eth0", nullptr);
        plant.addresses = &first;
        QCOMPARE(adapterDisplayText(plant), QString("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 192.168.10.5"));
        first.next = nullptr;
        QCOMPARE(adapterDisplayText(plant), QString("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 no IPv4"));
        QCOMPARE(captureNameOfDisplayText("eth0 \u2014 00:1b:21:aa:bb:cc \u2014 10.0.0.1"), QString("eth0"));
        QCOMPARE(captureNameOfDisplayText("lo"), QString("lo"));

        // A refresh after the address changed keeps the same adapter, not the first one.
        QComboBox box;
        fillAdapterComboBox(&box, {{"eth9 \u2014 no IPv4", "eth9", ""}, {"eth0 \u2014 10.0.0.1", "eth0", ""}});
        box.setCurrentIndex(1);
        fillAdapterComboBox(&box, {{"eth9 \u2014 no IPv4", "eth9", ""}, {"eth0 \u2014 10.0.0.2", "eth0", ""}});
        QCOMPARE(box.currentData().toString(), QString("eth0"));
    }

    void theStoredAdapterIsRestoredAndAPressRefreshes()
    {
        QSettings().setValue("Settings/nic", "lo");
        QSettings().setValue("Settings/filename", "Unknown");
        Page page;
        QCOMPARE(page.adapters()->currentData().toString(), QString("lo"));
        QVERIFY(page.adapters()->currentText().startsWith("lo \u2014 "));
        QCOMPARE(page.files()->currentText(), QString("Coupler"));
        const int count = page.adapters()->count();
        page.adapters()->addItem("stale", "stale0");
        QTest::mousePress(page.adapters(), Qt::LeftButton);
        QCOMPARE(page.adapters()->count(), count);
        QCOMPARE(page.adapters()->currentData().toString(), QString("lo"));
    }

    void aSuccessfulUpdate()
    {
        Coupler coupler(128, true);
        Page page(couplerSegment(&coupler));
        page.adapters()->setCurrentIndex(page.adapters()->findData("lo"));
        MessageBoxRecorder boxes;
        QString dialogLabel;
        QSize dialogSize;
        boxes.onBox([&](QMessageBox *) {
            dialogLabel = page.dialogs().value(0) ? page.dialogs().first()->labelText() : QString();
            dialogSize = page.dialogs().value(0) ? page.dialogs().first()->size() : QSize();
        });
        QTimer::singleShot(0, page.update(), &QPushButton::click);
        QVERIFY(boxes.waitForBoxes(1, 20000));
        QCOMPARE(boxes.last().icon, QMessageBox::Information);
        QCOMPARE(boxes.last().title, QString("Tarnlow"));
        QCOMPARE(boxes.last().text, QString("Update firmware successfully."));
        QVERIFY(waitUntil([&] { return page.update()->isEnabled(); }));
        const auto &file = coupler.record().file;
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(file.data()), int(file.size())),
                 FirmwareBuilder::pattern(700) + QByteArray(68, char(0xFF)));
        QCOMPARE(QSettings().value("Settings/filename").toString(), QString("Coupler"));
        QVERIFY(QSettings().value("Settings/nic").toString().startsWith("lo \u2014 "));
        QCOMPARE(dialogLabel, QString("Burning Firmware to Vq-FBUS..."));
        QCOMPARE(dialogSize, QSize(400, 100));
        // Neither the busy dialog nor the worker outlives the update.
        QVERIFY(waitUntil([&] { return page.dialogs().isEmpty(); }));
        QVERIFY(waitUntil([&] { return page.window->findChildren<QThread *>().isEmpty(); }));
    }

    void aFailedUpdateAndASecondDialog()
    {
        Page page(couplerSegment(nullptr));   // nothing on the cable
        MessageBoxRecorder boxes;
        for (int run = 1; run <= 2; ++run) {
            QTimer::singleShot(0, page.update(), &QPushButton::click);
            QVERIFY(boxes.waitForBoxes(run, 20000));
            QCOMPARE(boxes.last().icon, QMessageBox::Critical);
            QCOMPARE(boxes.last().text, QString("Update Firmware failed."));
            QVERIFY(boxes.last().informative.startsWith("No EtherCAT slave 1 answered on "));
            QVERIFY(waitUntil([&] { return page.update()->isEnabled(); }));
        }
        QVERIFY(waitUntil([&] { return page.dialogs().isEmpty(); }));
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
        Page page(couplerSegment(&coupler));
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
        QVERIFY(waitUntil([&] { return page.update()->isEnabled(); }, 20000));
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 0);
        // The aborted run's worker and its dialog are gone once it has ended.
        QVERIFY(waitUntil([&] { return page.dialogs().isEmpty() && !dialog; }));
        QVERIFY(waitUntil([&] { return page.window->findChildren<QThread *>().isEmpty(); }));
        QCOMPARE(coupler.record().alControlWrites.back(), uint16_t(Ethercat::PRE_OP));
    }

    void withoutAdaptersUpdateDoesNothing()
    {
        Page page;
        page.adapters()->clear();
        MessageBoxRecorder boxes;
        page.update()->click();
        QVERIFY(page.update()->isEnabled());
        QVERIFY(page.dialogs().isEmpty());
        QCOMPARE(boxes.count(), 0);
        QVERIFY(!QSettings().contains("Settings/nic"));
    }
};

TARNLOW_TEST_MAIN(TestEcatPage)
#include "test_ecat_page.moc"
