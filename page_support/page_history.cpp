#include "page_support/page_history.h"

#include "firmware/hex_image.h"

#include <QCryptographicHash>

namespace {

// The module's own target: "module 4 behind 192.168.1.10".
QString moduleTarget(const HistoryEntry &start, int module)
{
    return QStringLiteral("module %1 behind %2").arg(module).arg(start.ip);
}

void takeImage(const HexImage &image, HistoryEntry &entry)
{
    const QByteArray bytes(reinterpret_cast<const char *>(image.image.data()), image.imageLength);
    entry.imageSha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    entry.productCode = image.productCode;
    entry.hardwareVersion = image.hardwareVersion >> 12;   // the header keeps the digit in the top nibble
}

}

HistoryEntry pageHistoryStart(const QString &kind, const QString &target, const QString &firmwareFile)
{
    HistoryEntry start;
    start.started = QDateTime::currentDateTimeUtc();
    start.surface = QStringLiteral("page");
    start.kind = kind;
    start.target = target;
    start.firmwareFile = firmwareFile;
    return start;
}

PageHistory::PageHistory(const UpdateEnvironment &environment, HistoryEntry start, const HexImage *image, int modules)
    : m_history(environment.historyFile)
{
    if (image)
        takeImage(*image, start);
    for (int i = 0; i < modules; ++i) {
        HistoryEntry entry = start;
        if (modules > 1 || entry.module) {
            entry.module = start.module + i;
            entry.target = moduleTarget(start, entry.module);
        }
        m_entries << entry;
        m_ids << m_history.begin(entry);
        if (!m_ids.last() && m_notKept.isEmpty())
            m_notKept = m_history.lastError();
    }
}

UpdateOutcome PageHistory::finish(const UpdateOutcome &shown, const QJsonArray &phases,
                                  const std::function<UpdateOutcome(int module)> &outcomeOf)
{
    for (int i = 0; i < m_entries.size(); ++i) {
        HistoryEntry entry = m_entries[i];
        const UpdateOutcome outcome = outcomeOf ? outcomeOf(entry.module) : shown;
        entry.ended = QDateTime::currentDateTimeUtc();
        entry.outcome = outcome.name();
        entry.title = outcome.title;
        entry.text = outcome.text;
        entry.informative = outcome.informative;
        entry.deviceState = outcome.deviceState;
        entry.phases = phases;
        if (m_ids[i] && !m_history.finish(*m_ids[i], entry) && m_notKept.isEmpty())
            m_notKept = m_history.lastError();
    }
    if (m_notKept.isEmpty() || !shown.showsBox())
        return shown;
    UpdateOutcome told = shown;
    const QString note = QStringLiteral("This update is not in the update history: %1.").arg(m_notKept);
    told.informative = told.informative.isEmpty() ? note : told.informative + QLatin1Char('\n') + note;
    return told;
}
