// The module page without a coupler: its form, the input rules of its slots, the settings
// restore with its fall-backs, advance mode, and a connection that cannot be made.
#include "module/module_firmware_widget.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <memory>

namespace {

struct Page {
    std::unique_ptr<ModuleFirmwareWidget> widget{new ModuleFirmwareWidget(nullptr, TarnlowTest::environment())};
    QLineEdit *field(const char *name) const { return widget->findChild<QLineEdit *>(name); }
    QSpinBox *spin(const char *name) const { return widget->findChild<QSpinBox *>(name); }
    QCheckBox *check(const char *name) const { return widget->findChild<QCheckBox *>(name); }
    QComboBox *files() const { return widget->findChild<QComboBox *>("comboBox_firmware_file"); }
    QString ip() const
    {
        return QStringList{field("lineEdit_ip1")->text(), field("lineEdit_ip2")->text(),
                           field("lineEdit_ip3")->text(), field("lineEdit_ip4")->text()}
            .join('.');
    }
};

void store(const QString &key, const QVariant &value)
{
    QSettings().setValue(key, value);
}

}

class TestModulePageForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SandboxFiles::write("Module Firmware/Alpha.HEX", "not read at construction");
        SandboxFiles::write("Module Firmware/Beta.hex", "not read at construction");
    }
    void init() { QSettings().clear(); }

    void firstStartShowsTheDefaults()
    {
        Page page;
        QCOMPARE(page.widget->objectName(), QString("ModuleFirmwareWidget"));
        QCOMPARE(page.widget->windowTitle(), QString("Form"));
        QCOMPARE(page.ip(), QString("192.168.0.212"));
        QCOMPARE(page.field("lineEdit_port")->text(), QString("502"));
        QVERIFY(!page.field("lineEdit_port")->isEnabled());
        QCOMPARE(page.spin("spinbox_module_number_start")->value(), 1);
        QCOMPARE(page.spin("spinbox_module_number_end")->value(), 1);
        QCOMPARE(page.spin("spinbox_module_number_end")->maximum(), 16);
        QVERIFY(!page.check("checkBox_end")->isChecked());
        QVERIFY(!page.spin("spinbox_module_number_end")->isEnabled());
        QVERIFY(!page.check("ADMode")->isChecked());
        QCOMPARE(page.files()->count(), 2);
        QCOMPARE(page.files()->currentIndex(), 0);
        for (const char *name : {"label", "label_module_number", "label_module_number_2",
                                 "label_module_number_3", "label_module_number_4",
                                 "label_module_number_5", "label_module_number_6", "textEdit_explain"})
            QVERIFY2(page.widget->findChild<QWidget *>(name), name);
        QCOMPARE(page.widget->findChild<QPushButton *>("button_update")->text(), QString("Update"));
        QVERIFY(page.widget->findChild<QLayout *>("horizontalLayout_4"));
    }

    void addressFieldsAcceptOnlyBytes()
    {
        Page page;
        int position = 0;
        QString text = "256";
        QVERIFY(page.field("lineEdit_ip1")->validator()->validate(text, position) != QValidator::Acceptable);
        text = "1000";
        QCOMPARE(page.field("lineEdit_ip2")->validator()->validate(text, position), QValidator::Invalid);
        text = "255";
        QCOMPARE(page.field("lineEdit_ip4")->validator()->validate(text, position), QValidator::Acceptable);
    }

    void storedValuesAreRestoredWithFallBacks_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("last");
        QTest::addColumn<bool>("endEnabled");
        QTest::addColumn<QString>("expectedIp");
        QTest::addColumn<int>("expectedFirst");
        QTest::addColumn<int>("expectedLast");
        QTest::newRow("plain") << "10.1.2.3" << QVariant("3") << QVariant("7") << true << "10.1.2.3" << 3 << 7;
        QTest::newRow("text around the address") << "ip=172.16.5.9;" << QVariant("2") << QVariant("2")
                                                 << false << "172.16.5.9" << 2 << 2;
        QTest::newRow("no address") << "coupler" << QVariant() << QVariant() << false << "192.168.0.212" << 1 << 1;
        QTest::newRow("first out of range") << "" << QVariant("20") << QVariant("4") << true << "192.168.0.212" << 1 << 4;
        QTest::newRow("last below first") << "" << QVariant("5") << QVariant("2") << true << "192.168.0.212" << 5 << 5;
        QTest::newRow("not numbers") << "" << QVariant("x") << QVariant("y") << true << "192.168.0.212" << 1 << 1;
        QTest::newRow("end unchecked, stored last kept") << "" << QVariant("6") << QVariant("9") << false
                                                          << "192.168.0.212" << 6 << 9;
    }
    void storedValuesAreRestoredWithFallBacks()
    {
        QFETCH(QString, ip);
        QFETCH(QVariant, first);
        QFETCH(QVariant, last);
        QFETCH(bool, endEnabled);
        store("Module/Settings/ip", ip);
        if (first.isValid())
            store("Module/Settings/module_number_start", first);
        if (last.isValid())
            store("Module/Settings/module_number_end", last);
        store("Module/Settings/end_enable", endEnabled ? "true" : "false");
        Page page;
        QTEST(page.ip(), "expectedIp");
        QTEST(page.spin("spinbox_module_number_start")->value(), "expectedFirst");
        QTEST(page.spin("spinbox_module_number_end")->value(), "expectedLast");
        QCOMPARE(page.check("checkBox_end")->isChecked(), endEnabled);
        QCOMPARE(page.spin("spinbox_module_number_end")->isEnabled(), endEnabled);
    }

    void storedFileIsSelectedOnlyByItsExactName()
    {
        store("Module/Settings/filename", "Beta");
        {
            Page page;
            QCOMPARE(page.files()->currentText(), QString("Beta"));
        }
        store("Module/Settings/filename", "beta");
        Page page;
        QCOMPARE(page.files()->currentIndex(), 0);
    }

    void rangeStaysOrdered()
    {
        Page page;
        QSpinBox *first = page.spin("spinbox_module_number_start");
        QSpinBox *last = page.spin("spinbox_module_number_end");
        first->setValue(4);
        QCOMPARE(last->value(), 4);   // unchecked end: copied
        page.check("checkBox_end")->setChecked(true);
        QVERIFY(last->isEnabled());
        last->setValue(9);
        first->setValue(6);
        QCOMPARE(last->value(), 9);
        first->setValue(12);
        QCOMPARE(last->value(), 12);
        last->setValue(3);
        QCOMPARE(first->value(), 3);
        last->setValue(10);
        page.check("checkBox_end")->setChecked(false);
        QCOMPARE(last->value(), 3);
        QVERIFY(!last->isEnabled());
    }

    void advanceModeWarnsEachTimeItIsChecked()
    {
        Page page;
        MessageBoxRecorder recorder;
        QCheckBox *advance = page.check("ADMode");
        advance->setChecked(true);
        advance->setChecked(false);
        advance->setChecked(true);
        QCOMPARE(recorder.count(), 2);
        QCOMPARE(recorder.last().icon, QMessageBox::Warning);
        QCOMPARE(recorder.last().title, QString("Advance mode"));
        QCOMPARE(recorder.last().text,
                 QString("Advance mode contains actions that may harm your device(s). Contact our "
                         "distributors for more details and instructions."));
        QVERIFY(advance->isChecked());
    }

    void unreachableCouplerReportsTheConnection_data()
    {
        QTest::addColumn<QString>("lastPart");
        QTest::addColumn<QString>("why");
        QTest::newRow("nobody listening") << "40" << "Modbus TCP 127.0.0.40:502: Connection refused.";
        QTest::newRow("empty field") << "" << "Modbus TCP 127.0.0.:502: not an IPv4 address.";
    }
    void unreachableCouplerReportsTheConnection()
    {
        QFETCH(QString, lastPart);
        QFETCH(QString, why);
        Page page;
        page.field("lineEdit_ip1")->setText("127");
        page.field("lineEdit_ip2")->setText("0");
        page.field("lineEdit_ip3")->setText("0");
        page.field("lineEdit_ip4")->setText(lastPart);
        MessageBoxRecorder recorder;
        QTest::mouseClick(page.widget->findChild<QPushButton *>("button_update"), Qt::LeftButton);
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, QMessageBox::Critical);
        QCOMPARE(recorder.last().title, QString("Connection failed"));
        QCOMPARE(recorder.last().text, QString("Please check field of IP and port is correct"));
        QCOMPARE(recorder.last().informative, why);
        QVERIFY(!QSettings().contains("Module/Settings/ip"));
        QVERIFY(page.widget->findChild<QPushButton *>("button_update")->isEnabled());
    }
};

TARNLOW_TEST_MAIN(TestModulePageForm)
#include "test_module_page_form.moc"
