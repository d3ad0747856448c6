#include "history/update_history.h"

#include "core/application_identity.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

namespace {

constexpr const char *kDriver = "QSQLITE";
// Another writer holds the file for the length of one short statement; 256 jobs that all start
// at once queue for a few seconds at most.
constexpr int kBusyTimeoutMs = 30000;
constexpr int kSchemaVersion = 1;

const char *const kCreateTable =
    "CREATE TABLE IF NOT EXISTS updates ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " started TEXT NOT NULL, ended TEXT, surface TEXT NOT NULL, kind TEXT NOT NULL, target TEXT NOT NULL,"
    " ip TEXT, module INTEGER, listen_port INTEGER, serial_port TEXT, node INTEGER, adapter TEXT, slave INTEGER,"
    " firmware_file TEXT, image_sha256 TEXT, product_code INTEGER, hardware_version INTEGER,"
    " outcome TEXT NOT NULL, title TEXT, text TEXT, informative TEXT, device_state TEXT, phases TEXT)";
const char *const kCreateIndex = "CREATE INDEX IF NOT EXISTS updates_started ON updates (started)";

// Sorts as text in time order: UTC with milliseconds.
QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFrom(const QVariant &value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant(QVariant::String) : QVariant(text);
}

QVariant numberOrNull(int number)
{
    return number ? QVariant(number) : QVariant(QVariant::Int);
}

// The columns an entry fills, in the order of the statements below.
QList<QVariant> valuesOf(const HistoryEntry &entry)
{
    return {timeText(entry.started),
            entry.ended.isValid() ? QVariant(timeText(entry.ended)) : QVariant(QVariant::String),
            entry.surface,
            entry.kind,
            entry.target,
            textOrNull(entry.ip),
            numberOrNull(entry.module),
            numberOrNull(entry.listenPort),
            textOrNull(entry.serialPort),
            numberOrNull(entry.node),
            textOrNull(entry.adapter),
            numberOrNull(entry.slave),
            textOrNull(entry.firmwareFile),
            textOrNull(entry.imageSha256),
            entry.productCode ? QVariant(qlonglong(*entry.productCode)) : QVariant(QVariant::LongLong),
            entry.hardwareVersion ? QVariant(*entry.hardwareVersion) : QVariant(QVariant::Int),
            entry.outcome,
            textOrNull(entry.title),
            textOrNull(entry.text),
            textOrNull(entry.informative),
            textOrNull(entry.deviceState),
            QString::fromUtf8(QJsonDocument(entry.phases).toJson(QJsonDocument::Compact))};
}

const char *const kColumns =
    "started, ended, surface, kind, target, ip, module, listen_port, serial_port, node, adapter, slave,"
    " firmware_file, image_sha256, product_code, hardware_version, outcome, title, text, informative,"
    " device_state, phases";

HistoryEntry entryFrom(const QSqlQuery &row)
{
    HistoryEntry entry;
    int column = 0;
    const auto next = [&row, &column] { return row.value(column++); };
    entry.id = next().toLongLong();
    entry.started = timeFrom(next());
    entry.ended = timeFrom(next());
    entry.surface = next().toString();
    entry.kind = next().toString();
    entry.target = next().toString();
    entry.ip = next().toString();
    entry.module = next().toInt();
    entry.listenPort = next().toInt();
    entry.serialPort = next().toString();
    entry.node = next().toInt();
    entry.adapter = next().toString();
    entry.slave = next().toInt();
    entry.firmwareFile = next().toString();
    entry.imageSha256 = next().toString();
    const QVariant productCode = next();
    if (!productCode.isNull())
        entry.productCode = quint32(productCode.toLongLong());
    const QVariant hardwareVersion = next();
    if (!hardwareVersion.isNull())
        entry.hardwareVersion = hardwareVersion.toInt();
    entry.outcome = next().toString();
    entry.title = next().toString();
    entry.text = next().toString();
    entry.informative = next().toString();
    entry.deviceState = next().toString();
    entry.phases = QJsonDocument::fromJson(next().toString().toUtf8()).array();
    return entry;
}

bool matches(const HistoryEntry &entry, const QString &target)
{
    for (const QString &name : {entry.ip, entry.serialPort, entry.adapter, entry.target})
        if (!name.isEmpty() && name.compare(target, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

}

QString UpdateHistory::defaultFile()
{
    // The window and the command line share it, whatever identity the process has set.
    return QStringLiteral("%1/%2/%3/history.sqlite")
        .arg(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
             QString::fromLatin1(ApplicationIdentity::organisationName),
             QString::fromLatin1(ApplicationIdentity::applicationName));
}

UpdateHistory::UpdateHistory(const QString &file)
    : m_file(file.isEmpty() ? defaultFile() : file),
      m_connection(QStringLiteral("history-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

UpdateHistory::~UpdateHistory()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool UpdateHistory::fail(const QString &why)
{
    m_lastError = QStringLiteral("the update history %1 cannot be used: %2").arg(QDir::toNativeSeparators(m_file), why);
    return false;
}

// Creates the folder and the table where needed. A file that is not a database is left as it is.
bool UpdateHistory::open()
{
    if (m_open)
        return true;
    if (!QSqlDatabase::isDriverAvailable(QString::fromLatin1(kDriver)))
        return fail(QStringLiteral("Qt's SQLite driver is not installed"));
    if (!QDir().mkpath(QFileInfo(m_file).absolutePath()))
        return fail(QStringLiteral("its folder cannot be made"));
    QSqlDatabase database = QSqlDatabase::addDatabase(QString::fromLatin1(kDriver), m_connection);
    database.setDatabaseName(m_file);
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!database.open())
        return fail(database.lastError().databaseText());
    QSqlQuery query(database);
    for (const QString &statement : {QStringLiteral("PRAGMA journal_mode=WAL"), QString::fromLatin1(kCreateTable),
                                     QString::fromLatin1(kCreateIndex),
                                     QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion)}) {
        if (!query.exec(statement))
            return fail(query.lastError().databaseText());
    }
    m_open = true;
    return true;
}

std::optional<qint64> UpdateHistory::begin(const HistoryEntry &entry)
{
    const std::optional<std::vector<qint64>> ids = write({{std::nullopt, entry}});
    return ids ? std::optional<qint64>(ids->front()) : std::nullopt;
}

bool UpdateHistory::finish(qint64 id, const HistoryEntry &entry)
{
    return write({{id, entry}}).has_value();
}

// BEGIN IMMEDIATE takes the write lock at once, waiting for another writer within the busy
// time-out, rather than finding it taken half-way.
std::optional<std::vector<qint64>> UpdateHistory::write(const std::vector<Change> &changes)
{
    if (!open())
        return std::nullopt;
    QSqlQuery control(QSqlDatabase::database(m_connection, false));
    if (!control.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        fail(control.lastError().databaseText());
        return std::nullopt;
    }
    std::vector<qint64> ids;
    for (const Change &change : changes) {
        const std::optional<qint64> id = change.id ? (update(*change.id, change.entry) ? change.id : std::nullopt)
                                                   : insert(change.entry);
        if (!id) {
            control.exec(QStringLiteral("ROLLBACK"));
            return std::nullopt;
        }
        ids.push_back(*id);
    }
    if (!control.exec(QStringLiteral("COMMIT"))) {
        fail(control.lastError().databaseText());
        control.exec(QStringLiteral("ROLLBACK"));
        return std::nullopt;
    }
    return ids;
}

std::optional<qint64> UpdateHistory::insert(const HistoryEntry &entry)
{
    QSqlQuery insert(QSqlDatabase::database(m_connection, false));
    QStringList marks;
    const QList<QVariant> values = valuesOf(entry);
    for (int i = 0; i < values.size(); ++i)
        marks << QStringLiteral("?");
    insert.prepare(QStringLiteral("INSERT INTO updates (%1) VALUES (%2)").arg(QLatin1String(kColumns), marks.join(',')));
    for (const QVariant &value : values)
        insert.addBindValue(value);
    if (!insert.exec()) {
        fail(insert.lastError().databaseText());
        return std::nullopt;
    }
    return insert.lastInsertId().toLongLong();
}

bool UpdateHistory::update(qint64 id, const HistoryEntry &entry)
{
    QStringList assignments;
    for (const QString &column : QString::fromLatin1(kColumns).split(','))
        assignments << column.trimmed() + QStringLiteral(" = ?");
    QSqlQuery update(QSqlDatabase::database(m_connection, false));
    update.prepare(QStringLiteral("UPDATE updates SET %1 WHERE id = ?").arg(assignments.join(QStringLiteral(", "))));
    for (const QVariant &value : valuesOf(entry))
        update.addBindValue(value);
    update.addBindValue(id);
    if (!update.exec())
        return fail(update.lastError().databaseText());
    if (update.numRowsAffected() != 1)
        return fail(QStringLiteral("the entry of this update (%1) is gone").arg(id));
    return true;
}

std::optional<QList<HistoryEntry>> UpdateHistory::list(const HistoryFilter &filter)
{
    if (!open())
        return std::nullopt;
    QSqlQuery select(QSqlDatabase::database(m_connection, false));
    select.setForwardOnly(true);
    select.prepare(QStringLiteral("SELECT id, %1 FROM updates %2 ORDER BY started DESC, id DESC")
                       .arg(QLatin1String(kColumns), filter.since.isValid() ? QStringLiteral("WHERE started >= ?") : QString()));
    if (filter.since.isValid())
        select.addBindValue(timeText(filter.since));
    if (!select.exec()) {
        fail(select.lastError().databaseText());
        return std::nullopt;
    }
    QList<HistoryEntry> entries;
    while (select.next()) {
        HistoryEntry entry = entryFrom(select);
        if (filter.target.isEmpty() || matches(entry, filter.target))
            entries << entry;
    }
    if (select.lastError().isValid()) {
        fail(select.lastError().databaseText());
        return std::nullopt;
    }
    return entries;
}
