#include "app/tarnlow_etn.h"
#include "tests/support/test_main.h"

#include <QLabel>
#include <QTabWidget>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void freshStartShowsCouplerTab()
    {
        TarnlowETN window;
        QCOMPARE(window.windowTitle(), QString("Tarnlow"));

        auto *outer = window.findChild<QTabWidget *>("TarnlowTabWidget");
        auto *inner = window.findChild<QTabWidget *>("ETNTabWidget");
        QVERIFY(outer && inner);
        QCOMPARE(outer->count(), 3);
        QCOMPARE(outer->tabText(0), QString("ETN"));
        QCOMPARE(outer->tabText(1), QString("ECAT"));
        QCOMPARE(outer->tabText(2), QString("COP"));
        QCOMPARE(inner->tabText(0), QString("Coupler"));
        QCOMPARE(inner->tabText(1), QString("Module"));
        QCOMPARE(outer->currentIndex(), 0);
        QCOMPARE(inner->currentIndex(), 0);

        auto *version = window.findChild<QLabel *>("version_text");
        QCOMPARE(version->text(), QString("Tarnlow Version 1.7.0.0"));
    }

    void pagesSitInTheirTabs()
    {
        TarnlowETN window;
        auto *outer = window.findChild<QTabWidget *>("TarnlowTabWidget");
        auto *inner = window.findChild<QTabWidget *>("ETNTabWidget");
        // Each page is the tab itself or the one widget on it.
        const auto holds = [](QWidget *tab, const char *className) {
            const QList<QWidget *> children = tab->findChildren<QWidget *>();
            return tab->inherits(className) || (!children.isEmpty() && children.first()->inherits(className));
        };
        QVERIFY(holds(inner->widget(0), "CouplerFirmwareWidget"));
        QVERIFY(holds(inner->widget(1), "ModuleFirmwareWidget"));
        QVERIFY(holds(outer->widget(1), "TarnlowECAT"));
        QVERIFY(holds(outer->widget(2), "OsmerinRemoteIOFirmwareUpdater"));
    }
};

TARNLOW_TEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
