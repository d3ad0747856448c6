#include "cli/firmware_files.h"

#include "cli/firmware_checks.h"

#include <QCryptographicHash>

namespace {

QString sha256Of(const HexImage &hex)
{
    const QByteArray image(reinterpret_cast<const char *>(hex.image.data()), hex.imageLength);
    return QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
}

LoadedHex load(const DeviceJob &job)
{
    const HexKind kind = hexKindOf(job.kind);
    auto hex = std::make_shared<HexImage>(kind.profile);
    hex->fileName = job.firmwareFile.toStdString();
    LoadedHex loaded;
    loaded.result = loadHexImage(*hex, kind.profile);
    if (loaded.result.ok()) {
        loaded.imageSha256 = sha256Of(*hex);
        loaded.hex = std::move(hex);
    }
    return loaded;
}

}

LoadedHex FirmwareFiles::hexFor(const DeviceJob &job)
{
    const QString key = QString::number(int(job.kind)) + QLatin1Char(':') + job.firmwareFile;
    std::promise<LoadedHex> mine;
    std::shared_future<LoadedHex> loading;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto known = m_loads.find(key);
        first = known == m_loads.end();
        loading = first ? m_loads.emplace(key, mine.get_future().share()).first->second : known->second;
    }
    // The first to ask loads it outside the lock, so that other files load meanwhile.
    if (first) {
        try {
            mine.set_value(load(job));
        } catch (...) {
            mine.set_exception(std::current_exception());
        }
    }
    return loading.get();
}
