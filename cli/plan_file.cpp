#include "cli/plan_file.h"

#include "cli/target_checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

struct LineParse {
    DeviceJob job;
    QString error;
};

bool parseRange(const QString &field, DeviceJob &job)
{
    const QStringList ends = field.split(QLatin1Char('-'));
    bool firstOk = false;
    bool lastOk = ends.size() == 1;
    job.firstModule = ends[0].trimmed().toInt(&firstOk);
    job.lastModule = ends.size() == 2 ? ends[1].trimmed().toInt(&lastOk) : job.firstModule;
    return ends.size() <= 2 && firstOk && lastOk;
}

// The fields after the kind, as the kind needs them; the firmware path is the last one named.
QString fillJob(const QStringList &fields, DeviceJob &job)
{
    const QString kind = fields[0].toLower();
    const auto expect = [&fields](int minimum, int maximum) { return fields.size() >= minimum && fields.size() <= maximum; };
    if (kind == QLatin1String("coupler") && expect(3, 3)) {
        job.kind = DeviceKind::Coupler;
        job.ip = fields[1];
        job.firmwareFile = fields[2];
    } else if (kind == QLatin1String("module") && expect(4, 5)) {
        job.kind = DeviceKind::Module;
        job.ip = fields[1];
        if (!parseRange(fields[2], job))
            return QStringLiteral("the module range \"%1\" is not N or N-M").arg(fields[2]);
        job.firmwareFile = fields[3];
        if (fields.size() == 5 && fields[4].toLower() != QLatin1String("advance"))
            return QStringLiteral("the fifth field may only be \"advance\"");
        job.advanceMode = fields.size() == 5;
    } else if (kind == QLatin1String("canopen") && expect(4, 4)) {
        job.kind = DeviceKind::Canopen;
        job.serialPort = fields[1];
        bool numeric = false;
        job.node = fields[2].toInt(&numeric);
        if (!numeric)
            return QStringLiteral("the node \"%1\" is not a number").arg(fields[2]);
        job.firmwareFile = fields[3];
    } else if (kind == QLatin1String("ethercat") && expect(3, 3)) {
        job.kind = DeviceKind::Ethercat;
        job.adapter = fields[1];
        job.firmwareFile = fields[2];
    } else {
        return QStringLiteral("expected coupler,IP,FILE or module,IP,FIRST[-LAST],FILE[,advance] or "
                              "canopen,PORT,NODE,FILE or ethercat,ADAPTER,FILE");
    }
    return checkTarget(job);
}

QStringList fieldsOf(const QString &line)
{
    QStringList fields = line.split(QLatin1Char(','));
    for (QString &field : fields)
        field = field.trimmed();
    return fields;
}

}

PlanParse parsePlan(const QString &text, const QString &planPath)
{
    PlanParse plan;
    QStringList errors;
    const QDir planFolder = QFileInfo(planPath).absoluteDir();
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = lines[index].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        DeviceJob job;
        job.planLine = index + 1;
        const QString error = fillJob(fieldsOf(line), job);
        if (!error.isEmpty())
            errors << QStringLiteral("%1 line %2: %3: %4").arg(planPath).arg(job.planLine).arg(error, line);
        job.firmwareFile = QDir::cleanPath(planFolder.absoluteFilePath(job.firmwareFile));
        plan.jobs.append(job);
    }
    if (plan.jobs.isEmpty())
        errors << QStringLiteral("%1: the plan names no device").arg(planPath);
    // Every bad line is named; nothing of a plan with one is kept.
    if (!errors.isEmpty())
        plan.jobs.clear();
    plan.error = errors.join(QLatin1Char('\n'));
    return plan;
}

PlanParse readPlanFile(const QString &planPath)
{
    QFile file(planPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {{}, QStringLiteral("%1: %2").arg(planPath, file.errorString())};
    return parsePlan(QString::fromUtf8(file.readAll()), planPath);
}
