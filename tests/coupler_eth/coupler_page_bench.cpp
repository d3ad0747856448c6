#include "tests/coupler_eth/coupler_page_bench.h"

#include "tests/support/firmware_builder.h"
#include "tests/support/free_port.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <random>

namespace CouplerTest {

Bytes randomImage(size_t size, unsigned salt)
{
    std::mt19937 generator(salt);
    Bytes image(size);
    for (uint8_t &byte : image)
        byte = static_cast<uint8_t>(generator());
    return image;
}

void writeFirmware(const QString &name, const Bytes &image, const QString &header)
{
    const QByteArray data(reinterpret_cast<const char *>(image.data()), static_cast<int>(image.size()));
    SandboxFiles::write("Coupler Firmware/" + name + ".HEX", FirmwareBuilder::encryptedHex(data, header));
}

SimulatedCouplerSetup couplerAt(const char *address)
{
    SimulatedCouplerSetup setup;
    setup.address = address;
    setup.modbusPort = FreePort::tcp(address);
    return setup;
}

PageBench::PageBench(const SimulatedCouplerSetup &setup, uint16_t listenPort, int waitDivisor) : coupler(setup)
{
    QSettings().setValue("Coupler/Settings/port", QString::number(listenPort));
    page = std::make_unique<CouplerFirmwareWidget>(nullptr, TarnlowTest::environment(waitDivisor, setup.modbusPort));
}

bool PageBench::start()
{
    std::string failure;
    if (!coupler.start(failure))
        qWarning("simulated coupler: %s", failure.c_str());
    return failure.empty();
}

void PageBench::choose(const QString &firmware, const QString &address)
{
    const QString typed = address.isEmpty() ? QString::fromStdString(coupler.setup().address) : address;
    for (int i = 0; i < 4; ++i)
        page->findChild<QLineEdit *>(QString("lineEdit_ip%1").arg(i + 1))->setText(typed.section('.', i, i));
    QComboBox *files = page->findChild<QComboBox *>("comboBox_firmware_file");
    files->setCurrentIndex(files->findText(firmware));
}

void PageBench::clickUpdate()
{
    QTest::mouseClick(page->findChild<QPushButton *>("button_update"), Qt::LeftButton);
}

std::vector<SimulatedCouplerBootLoader::LoggedRequest> PageBench::requestsOf(CouplerCommand command)
{
    return coupler.bootLoader().requestsOf(command);
}

QByteArray PageBench::commandSequence()
{
    QByteArray codes;
    for (const auto &request : coupler.bootLoader().requests())
        codes.append(char(request.bytes.size() > 6 ? request.bytes[6] : 0xFF));
    return codes.toHex().toUpper();
}

bool PageBench::flashHolds(const Bytes &image)
{
    const Bytes flash = coupler.bootLoader().flash();
    const size_t paddedEnd = (image.size() + 255) / 256 * 256;
    return std::equal(image.begin(), image.end(), flash.begin())
        && std::all_of(flash.begin() + long(image.size()), flash.begin() + long(paddedEnd),
                       [](uint8_t byte) { return byte == 0xFF; });
}

}
