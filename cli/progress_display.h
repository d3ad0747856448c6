#pragma once

#include "cli/device_progress.h"
#include "cli/device_record.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTextStream>

#include <functional>
#include <memory>
#include <mutex>

// How the runs show themselves. On a terminal one line per running device (phase, bytes done of
// the total, rate, time left) is redrawn in place; otherwise each phase and every tenth of the
// bytes is one timestamped line; quiet prints only the outcomes.
class ProgressDisplay
{
public:
    enum class Mode { Terminal, Lines, Quiet };

    // `columns`: the terminal's width; a redrawn line is cut to fit it, since a line that wraps
    // would no longer be erased by the next redraw (0: not cut).
    ProgressDisplay(Mode mode, QTextStream &out, std::function<bool()> stopRequested, int columns = 0);
    ~ProgressDisplay();

    // The progress of device number `index`, for its run's thread.
    std::unique_ptr<DeviceProgress> track(int index, const DeviceJob &job);
    // The device's outcome line, printed in every mode.
    void finished(int index, const DeviceRecord &record);
    // A line of its own, such as the notice that Ctrl-C was seen.
    void note(const QString &text);

    static QString outcomeLine(const DeviceRecord &record);
    // The closing line: how many devices ended how, and the run's time.
    static QString summaryLine(const QList<DeviceRecord> &records, qint64 milliseconds);

private:
    class Tracker;
    struct DeviceLine {
        QString target;
        QString phase;
        qint64 done = 0;
        qint64 total = 0;
        int lastTenth = -1;
        QElapsedTimer clock;   // since the device's bytes began to move, through its phases and waits
        qint64 bytesAtClock = 0;
        qint64 waitLeftMs = 0;   // of a fixed wait that runs
    };

    void phaseStarted(int index, const QString &phase);
    void bytesDone(int index, qint64 done, qint64 total);
    void waiting(int index, qint64 millisecondsLeft);
    void printLine(const QString &text);
    void redraw();
    void eraseDrawn();
    QString statusText(const DeviceLine &line) const;

    Mode m_mode;
    QTextStream &m_out;
    int m_columns;
    std::function<bool()> m_stopRequested;
    std::mutex m_mutex;
    QMap<int, DeviceLine> m_running;
    int m_drawnLines = 0;
    QElapsedTimer m_sinceRedraw;
};
