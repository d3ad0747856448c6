#include "cli/history_recording.h"

#include <QJsonObject>

namespace {

HistoryEntry startOf(const DeviceJob &job, int module)
{
    HistoryEntry entry;
    entry.started = QDateTime::currentDateTimeUtc();
    entry.surface = QStringLiteral("cli");
    entry.kind = DeviceJob::kindName(job.kind);
    DeviceJob one = job;
    if (job.kind == DeviceKind::Module)
        one.firstModule = one.lastModule = module;
    entry.target = one.target();
    entry.ip = job.ip;
    entry.module = job.kind == DeviceKind::Module ? module : 0;
    entry.listenPort = job.kind == DeviceKind::Coupler ? job.listenPort : 0;
    entry.serialPort = job.serialPort;
    entry.node = job.kind == DeviceKind::Canopen ? job.node : 0;
    entry.adapter = job.adapter;
    entry.slave = job.kind == DeviceKind::Ethercat ? DeviceJob::kEthercatSlave : 0;
    entry.firmwareFile = job.firmwareFile;
    return entry;
}

QJsonArray phasesOf(const QList<PhaseTime> &phases)
{
    QJsonArray list;
    for (const PhaseTime &phase : phases)
        list.append(QJsonObject{{"name", phase.name},
                                {"milliseconds", phase.milliseconds},
                                {"started", phase.started.toUTC().toString(Qt::ISODateWithMs)},
                                {"module", phase.module}});
    return list;
}

}

HistoryEntry historyEntryOf(const DeviceRecord &record, HistoryEntry start)
{
    HistoryEntry entry = std::move(start);
    if (record.started.isValid())
        entry.started = record.started;
    entry.ended = record.ended.isValid() ? record.ended : QDateTime::currentDateTimeUtc();
    entry.listenPort = record.job.kind == DeviceKind::Coupler ? record.job.listenPort : 0;
    entry.imageSha256 = record.imageSha256;
    entry.productCode = record.productCode;
    entry.hardwareVersion = record.hardwareVersion;
    entry.outcome = outcomeName(record);
    entry.title = record.outcome.title;
    entry.text = record.outcome.text;
    entry.informative = record.outcome.informative;
    entry.deviceState = record.outcome.deviceState;
    entry.phases = phasesOf(record.phases);
    return entry;
}

HistoryRecording::HistoryRecording(HistoryWriter &history, const DeviceJob &job) : m_history(history)
{
    const int first = job.kind == DeviceKind::Module ? job.firstModule : 0;
    const int last = job.kind == DeviceKind::Module ? job.lastModule : 0;
    for (int module = first; module <= last; ++module) {
        QString why;
        m_entries << startOf(job, module);
        m_ids << m_history.begin(m_entries.last(), why);
        if (m_notKept.isEmpty())
            m_notKept = why;
    }
}

void HistoryRecording::finish(const QList<DeviceRecord> &records)
{
    for (int i = 0; i < m_entries.size() && i < records.size(); ++i) {
        QString why;
        if (m_ids[i] && !m_history.finish(*m_ids[i], historyEntryOf(records[i], m_entries[i]), why) && m_notKept.isEmpty())
            m_notKept = why;
    }
}
