#include "cli/history_listing.h"

#include "core/hex_text.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

namespace {

QString localTime(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString utcTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QString duration(const HistoryEntry &entry)
{
    if (!entry.ended.isValid())
        return QStringLiteral("-");
    return QStringLiteral("%1 s").arg(double(entry.started.msecsTo(entry.ended)) / 1000.0, 0, 'f', 1);
}

QString firstLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

QList<QStringList> tableRows(const QList<HistoryEntry> &entries)
{
    QList<QStringList> rows = {{"Started", "Took", "From", "Target", "Firmware", "Outcome", "Message"}};
    for (const HistoryEntry &entry : entries)
        rows << QStringList{localTime(entry.started), duration(entry), entry.surface, entry.target,
                            QFileInfo(entry.firmwareFile).fileName(), entry.outcome, firstLine(entry.text)};
    return rows;
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject targetOf(const HistoryEntry &entry)
{
    QJsonObject target{{"kind", entry.kind}, {"description", entry.target}};
    const auto put = [&target](const char *key, const QJsonValue &value, bool present) {
        if (present)
            target.insert(QLatin1String(key), value);
    };
    put("ip", entry.ip, !entry.ip.isEmpty());
    put("module", entry.module, entry.module != 0);
    put("listenPort", entry.listenPort, entry.kind == QLatin1String("coupler"));
    put("port", entry.serialPort, !entry.serialPort.isEmpty());
    put("node", entry.node, entry.node != 0);
    put("adapter", entry.adapter, !entry.adapter.isEmpty());
    put("slave", entry.slave, entry.slave != 0);
    return target;
}

QJsonObject jsonOf(const HistoryEntry &entry)
{
    QJsonObject header;
    if (entry.productCode)
        header.insert("productCode", hexText(*entry.productCode, 4));
    if (entry.hardwareVersion)
        header.insert("hardwareVersion", *entry.hardwareVersion);
    return QJsonObject{{"id", entry.id},
                       {"started", utcTime(entry.started)},
                       {"ended", textOrNull(utcTime(entry.ended))},
                       {"surface", entry.surface},
                       {"target", targetOf(entry)},
                       {"firmwareFile", textOrNull(entry.firmwareFile)},
                       {"imageSha256", textOrNull(entry.imageSha256)},
                       {"header", header},
                       {"outcome", entry.outcome},
                       {"title", textOrNull(entry.title)},
                       {"message", textOrNull(entry.text)},
                       {"detail", textOrNull(entry.informative)},
                       {"deviceState", textOrNull(entry.deviceState)},
                       {"phases", entry.phases}};
}

// Quoted where it must be; a leading = + - @ would make a spreadsheet compute the cell.
QString csvField(QString text)
{
    if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    return text;
}

QString numberOrEmpty(int number)
{
    return number ? QString::number(number) : QString();
}

QStringList csvFields(const HistoryEntry &entry)
{
    return {QString::number(entry.id), utcTime(entry.started), utcTime(entry.ended), entry.surface, entry.kind,
            entry.target, entry.ip, numberOrEmpty(entry.module),
            entry.kind == QLatin1String("coupler") ? QString::number(entry.listenPort) : QString(), entry.serialPort,
            numberOrEmpty(entry.node), entry.adapter, numberOrEmpty(entry.slave), entry.firmwareFile,
            entry.imageSha256, entry.productCode ? hexText(*entry.productCode, 4) : QString(),
            entry.hardwareVersion ? QString::number(*entry.hardwareVersion) : QString(), entry.outcome, entry.title,
            entry.text, entry.informative, entry.deviceState,
            QString::fromUtf8(QJsonDocument(entry.phases).toJson(QJsonDocument::Compact))};
}

}

QString historyTable(const QList<HistoryEntry> &entries)
{
    if (entries.isEmpty())
        return QStringLiteral("No update is recorded.\n");
    const QList<QStringList> rows = tableRows(entries);
    QList<int> widths;
    for (const QString &heading : rows.first())
        widths << heading.size();
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], int(row[column].size()));
    QString table;
    for (const QStringList &row : rows) {
        QStringList cells;
        for (int column = 0; column < row.size(); ++column)
            cells << (column + 1 < row.size() ? row[column].leftJustified(widths[column]) : row[column]);
        table += cells.join(QLatin1String("  ")) + QLatin1Char('\n');
    }
    return table;
}

QByteArray historyJson(const QList<HistoryEntry> &entries)
{
    QJsonArray list;
    for (const HistoryEntry &entry : entries)
        list.append(jsonOf(entry));
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

QByteArray historyCsv(const QList<HistoryEntry> &entries)
{
    QString csv = QStringLiteral("id,started,ended,surface,kind,target,ip,module,listen_port,serial_port,node,adapter,slave,"
                                 "firmware_file,image_sha256,product_code,hardware_version,outcome,title,message,detail,"
                                 "device_state,phases\r\n");
    for (const HistoryEntry &entry : entries) {
        QStringList fields;
        for (const QString &field : csvFields(entry))
            fields << csvField(field);
        csv += fields.join(QLatin1Char(',')) + QLatin1String("\r\n");
    }
    return csv.toUtf8();
}
