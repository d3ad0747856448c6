// The Ethernet coupler page as a technician finds it: defaults, restored settings, the address
// and port rules, and the hidden unlock of the listen-port field.
#include "coupler_eth/coupler_firmware_widget.h"
#include "tests/coupler_eth/coupler_page_bench.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

namespace {

QString field(QWidget &page, const char *name)
{
    return page.findChild<QLineEdit *>(name)->text();
}

QStringList address(QWidget &page)
{
    return {field(page, "lineEdit_ip1"), field(page, "lineEdit_ip2"), field(page, "lineEdit_ip3"),
            field(page, "lineEdit_ip4")};
}

void releaseMouseOn(QWidget *widget, int times)
{
    for (int i = 0; i < times; ++i)
        QTest::mouseClick(widget, Qt::LeftButton);
}

}

class TestCouplerPageForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CouplerTest::writeFirmware("ETN_A", CouplerTest::randomImage(300, 1));
        CouplerTest::writeFirmware("ETN_B", CouplerTest::randomImage(300, 2));
        SandboxFiles::write("Coupler Firmware/ETN_Z.HEX", "not a firmware file");
    }

    void init() { QSettings().clear(); }

    void freshPageShowsTheDefaults()
    {
        CouplerFirmwareWidget page(nullptr, TarnlowTest::environment());
        QCOMPARE(address(page), (QStringList{"192", "168", "0", "212"}));
        QLineEdit *port = page.findChild<QLineEdit *>("lineEdit_port");
        QCOMPARE(port->text(), QString("23456"));
        QVERIFY(!port->isEnabled());
        QCOMPARE(page.findChild<QComboBox *>("comboBox_firmware_file")->currentText(), QString("ETN_A"));
        const auto *ipRule = qobject_cast<const QIntValidator *>(page.findChild<QLineEdit *>("lineEdit_ip3")->validator());
        QVERIFY(ipRule);
        QCOMPARE(ipRule->bottom(), 0);
        QCOMPARE(ipRule->top(), 255);
        const auto *portRule = qobject_cast<const QIntValidator *>(port->validator());
        QVERIFY(portRule);
        QCOMPARE(portRule->bottom(), 1);
        QCOMPARE(portRule->top(), 65535);
    }

    void storedValuesAreRestored_data()
    {
        QTest::addColumn<QString>("storedIp");
        QTest::addColumn<QString>("storedPort");
        QTest::addColumn<QString>("storedFile");
        QTest::addColumn<QStringList>("ip");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("file");
        QTest::newRow("as stored") << "10.20.30.40" << "4000" << "ETN_B"
                                   << QStringList{"10", "20", "30", "40"} << "4000" << "ETN_B";
        QTest::newRow("octet over 255 is cut") << "10.0.0.300" << "23456" << "ETN_B"
                                               << QStringList{"10", "0", "0", "30"} << "23456" << "ETN_B";
        QTest::newRow("address found inside text") << "ip=10.1.2.3;" << "23456" << "ETN_B"
                                                   << QStringList{"10", "1", "2", "3"} << "23456" << "ETN_B";
        QTest::newRow("no address at all") << "coupler" << "70000" << "ETN_X"
                                           << QStringList{"192", "168", "0", "212"} << "4464" << "ETN_A";
        QTest::newRow("file name differs in case") << "1.2.3.4" << "abc" << "etn_b"
                                                   << QStringList{"1", "2", "3", "4"} << "0" << "ETN_A";
    }

    void storedValuesAreRestored()
    {
        QFETCH(QString, storedIp);
        QFETCH(QString, storedPort);
        QFETCH(QString, storedFile);
        QFETCH(QStringList, ip);
        QFETCH(QString, port);
        QFETCH(QString, file);
        {
            QSettings settings;
            settings.setValue("Coupler/Settings/ip", storedIp);
            settings.setValue("Coupler/Settings/port", storedPort);
            settings.setValue("Coupler/Settings/filename", storedFile);
        }
        CouplerFirmwareWidget page(nullptr, TarnlowTest::environment());
        QCOMPARE(address(page), ip);
        QCOMPARE(field(page, "lineEdit_port"), port);
        QCOMPARE(page.findChild<QComboBox *>("comboBox_firmware_file")->currentText(), file);
    }

    // The field opens after six releases on it, counted over every coupler page of the
    // program, and stays open; a port typed there is stored at the next Update even when
    // that update fails.
    void portFieldUnlocksAfterEnoughClicksAndItsPortIsStored()
    {
        CouplerFirmwareWidget first(nullptr, TarnlowTest::environment());
        first.show();
        QLineEdit *port = first.findChild<QLineEdit *>("lineEdit_port");
        releaseMouseOn(port, CouplerFirmwareWidget::kPortUnlockReleases);
        QVERIFY(!port->isEnabled());
        releaseMouseOn(port, 1);
        QVERIFY(port->isEnabled());

        CouplerFirmwareWidget second(nullptr, TarnlowTest::environment());
        second.show();
        QLineEdit *secondPort = second.findChild<QLineEdit *>("lineEdit_port");
        QVERIFY(!secondPort->isEnabled());
        releaseMouseOn(secondPort, 1);
        QVERIFY(secondPort->isEnabled());

        secondPort->setText("23481");
        QComboBox *files = second.findChild<QComboBox *>("comboBox_firmware_file");
        files->setCurrentIndex(files->findText("ETN_Z"));
        MessageBoxRecorder recorder;
        QTest::mouseClick(second.findChild<QPushButton *>("button_update"), Qt::LeftButton);
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text, QString("File format error."));
        QSettings settings;
        QCOMPARE(settings.value("Coupler/Settings/port").toString(), QString("23481"));
        QCOMPARE(settings.value("Coupler/Settings/ip").toString(), QString("192.168.0.212"));
        QCOMPARE(settings.value("Coupler/Settings/filename").toString(), QString("ETN_Z"));
    }
};

TARNLOW_TEST_MAIN(TestCouplerPageForm)
#include "test_coupler_page_form.moc"
