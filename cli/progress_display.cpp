#include "cli/progress_display.h"

#include "core/hex_text.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

constexpr int kRedrawIntervalMs = 100;
constexpr qint64 kKiB = 1024;

QString timeText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}

class ProgressDisplay::Tracker : public DeviceProgress
{
public:
    Tracker(ProgressDisplay &display, int index) : m_display(display), m_index(index) {}
    void phaseStarted(const QString &phase) override { m_display.phaseStarted(m_index, phase); }
    void bytesDone(qint64 done, qint64 total) override { m_display.bytesDone(m_index, done, total); }
    void waiting(qint64 millisecondsLeft) override { m_display.waiting(m_index, millisecondsLeft); }
    bool stopRequested() const override { return m_display.m_stopRequested(); }

private:
    ProgressDisplay &m_display;
    int m_index;
};

ProgressDisplay::ProgressDisplay(Mode mode, QTextStream &out, std::function<bool()> stopRequested, int columns)
    : m_mode(mode), m_out(out), m_columns(columns), m_stopRequested(std::move(stopRequested))
{
    m_sinceRedraw.start();
}

ProgressDisplay::~ProgressDisplay() = default;

std::unique_ptr<DeviceProgress> ProgressDisplay::track(int index, const DeviceJob &job)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceLine &line = m_running[index];
    line.target = job.target();
    return std::make_unique<Tracker>(*this, index);
}

void ProgressDisplay::phaseStarted(int index, const QString &phase)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceLine &line = m_running[index];
    line.phase = phase;
    line.lastTenth = -1;
    if (m_mode == Mode::Lines)
        printLine(QStringLiteral("%1: %2").arg(line.target, phase));
    else if (m_mode == Mode::Terminal)
        redraw();
}

void ProgressDisplay::bytesDone(int index, qint64 done, qint64 total)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceLine &line = m_running[index];
    if (!line.clock.isValid()) {
        line.clock.start();
        line.bytesAtClock = done;
    }
    line.done = done;
    line.total = total;
    if (m_mode == Mode::Lines) {
        const int tenth = total > 0 ? int(10 * done / total) : 0;
        if (tenth != line.lastTenth) {
            line.lastTenth = tenth;
            printLine(statusText(line));
        }
    } else if (m_mode == Mode::Terminal && m_sinceRedraw.elapsed() >= kRedrawIntervalMs) {
        redraw();
    }
}

void ProgressDisplay::waiting(int index, qint64 millisecondsLeft)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running[index].waitLeftMs = millisecondsLeft;
    if (m_mode == Mode::Terminal)
        redraw();
}

QString ProgressDisplay::statusText(const DeviceLine &line) const
{
    QString text = QStringLiteral("%1: %2").arg(line.target, line.phase);
    // The wait counts down in whole seconds, rounded up.
    if (line.waitLeftMs > 0)
        text += QStringLiteral("  wait %1").arg(timeText((line.waitLeftMs + 999) / 1000));
    if (line.total <= 0)
        return text;
    text += QStringLiteral("  %1/%2 KiB %3%").arg(line.done / kKiB).arg(line.total / kKiB).arg(100 * line.done / line.total);
    const qint64 elapsedMs = line.clock.isValid() ? line.clock.elapsed() : 0;
    const qint64 moved = line.done - line.bytesAtClock;
    if (elapsedMs > 0 && moved > 0) {
        const double bytesPerSecond = 1000.0 * double(moved) / double(elapsedMs);
        text += QStringLiteral("  %1 KiB/s").arg(bytesPerSecond / kKiB, 0, 'f', 1);
        text += QStringLiteral("  %1 left").arg(timeText(qint64(double(line.total - line.done) / bytesPerSecond)));
    }
    return text;
}

void ProgressDisplay::finished(int index, const DeviceRecord &record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running.remove(index);
    printLine(outcomeLine(record));
    if (m_mode == Mode::Terminal)
        redraw();
}

void ProgressDisplay::note(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mode == Mode::Quiet)
        return;
    printLine(text);
    if (m_mode == Mode::Terminal)
        redraw();
}

namespace {

// The file header's product code beside what the device says it is, where the run asked it.
QString productCodesText(const DeviceRecord &record)
{
    if (!record.device.productCode)
        return QString();
    QString device = QStringLiteral("the device's %1").arg(hexText(*record.device.productCode, 8));
    if (!record.device.name.isEmpty())
        device += QStringLiteral(" \"%1\"").arg(record.device.name);
    if (!record.productCode)
        return QStringLiteral("(product code: %1)").arg(device);
    return QStringLiteral("(product code: the file's %1, %2)").arg(hexText(*record.productCode, 4), device);
}

}

QString ProgressDisplay::outcomeLine(const DeviceRecord &record)
{
    // A failure stands out among the verified lines.
    const QString word = record.outcome.kind == UpdateOutcome::Kind::Failed ? outcomeName(record).toUpper()
                                                                             : outcomeName(record);
    QString text = QStringLiteral("%1: %2: ").arg(record.job.target(), word);
    // The box's own title often names the failure ("Read timeout", "Port binding failed").
    if (!record.outcome.title.isEmpty() && record.outcome.title != QCoreApplication::applicationName())
        text += record.outcome.title + QStringLiteral(": ");
    QStringList parts = {record.outcome.text};
    if (!record.outcome.informative.isEmpty())
        parts << QStringLiteral("(%1)").arg(record.outcome.informative);
    if (record.outcome.kind == UpdateOutcome::Kind::Verified && !record.readBack)
        parts << QStringLiteral("(no read-back: the boot loader acknowledged every packet)");
    if (record.outcome.kind == UpdateOutcome::Kind::Aborted && !record.stoppedIn.isEmpty())
        parts << QStringLiteral("Stopped while \"%1\".").arg(record.stoppedIn);
    parts << productCodesText(record) << record.outcome.deviceState;
    parts.removeAll(QString());
    return (text + parts.join(QLatin1Char(' '))).trimmed();
}

QString ProgressDisplay::summaryLine(const QList<DeviceRecord> &records, qint64 milliseconds)
{
    const QStringList names = {QStringLiteral("verified"), QStringLiteral("written"), QStringLiteral("failed"),
                               QStringLiteral("aborted"), QStringLiteral("not started")};
    QVector<int> counts(names.size(), 0);
    for (const DeviceRecord &record : records)
        ++counts[record.started.isValid() ? names.indexOf(outcomeName(record)) : names.size() - 1];
    QStringList parts;
    for (int i = 0; i < names.size(); ++i)
        parts << QStringLiteral("%1 %2").arg(counts[i]).arg(names[i]);
    return QStringLiteral("%1 device(s): %2 in %3 s").arg(records.size()).arg(parts.join(QStringLiteral(", ")))
        .arg(double(milliseconds) / 1000.0, 0, 'f', 1);
}

// A finished line goes above the redrawn block; in line mode it carries the time.
void ProgressDisplay::printLine(const QString &text)
{
    if (m_mode == Mode::Terminal) {
        eraseDrawn();
        m_out << text << '\n';
    } else if (m_mode == Mode::Lines) {
        m_out << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << text << '\n';
    } else {
        m_out << text << '\n';
    }
    m_out.flush();
}

void ProgressDisplay::eraseDrawn()
{
    for (; m_drawnLines > 0; --m_drawnLines)
        m_out << "\x1b[1A\x1b[2K";   // up one line, clear it
    m_out << '\r';
}

void ProgressDisplay::redraw()
{
    eraseDrawn();
    for (const DeviceLine &line : qAsConst(m_running)) {
        const QString text = statusText(line);
        m_out << (m_columns > 1 ? text.left(m_columns - 1) : text) << '\n';
        ++m_drawnLines;
    }
    m_out.flush();
    m_sinceRedraw.restart();
}
