#include "app/tarnlow_etn.h"
#include "tests/support/test_main.h"

#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void freshStartShowsCouplerTab()
    {
        TarnlowETN window;
        QCOMPARE(window.objectName(), QString("TarnlowETN"));
        QCOMPARE(window.windowTitle(), QString("Tarnlow"));
        QCOMPARE(window.size(), QSize(821, 316));
        QCOMPARE(window.font().family(), QString("MS Sans Serif"));
        QCOMPARE(window.font().pointSize(), 12);

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
        QVERIFY(version->alignment() & Qt::AlignRight);
        QVERIFY(window.findChild<QMenuBar *>("menubar")->actions().isEmpty());
        QVERIFY(window.findChild<QStatusBar *>("statusbar")->currentMessage().isEmpty());
    }

    void pagesSitInTheirTabs()
    {
        TarnlowETN window;
        const char *const names[] = {"widget", "widget_2", "ETHERCAT", "CANBUS"};
        const char *const classes[] = {"CouplerFirmwareWidget", "ModuleFirmwareWidget", "TarnlowECAT",
                                       "OsmerinRemoteIOFirmwareUpdater"};
        for (int i = 0; i < 4; ++i) {
            QWidget *page = window.findChild<QWidget *>(names[i]);
            QVERIFY2(page, names[i]);
            QCOMPARE(page->metaObject()->className(), classes[i]);
        }
        auto *outer = window.findChild<QTabWidget *>("TarnlowTabWidget");
        QCOMPARE(outer->widget(1)->objectName(), QString("ETHERCAT"));
        QCOMPARE(outer->widget(2)->objectName(), QString("CANBUS"));
    }
};

TARNLOW_TEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
