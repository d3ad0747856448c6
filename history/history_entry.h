#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QString>

#include <optional>

// One update as the history keeps it: written when the update starts, completed when it ends.
struct HistoryEntry {
    static constexpr const char *kUnfinished = "unfinished";

    qint64 id = 0;
    QDateTime started;
    QDateTime ended;           // invalid while the update runs, or when it never ended
    QString surface;           // "page" or "cli"
    QString kind;              // "coupler", "module", "canopen" or "ethercat"
    QString target;            // "coupler 192.168.1.10", "module 3 behind 192.168.1.10", ...
    QString ip;                // the coupler, and the coupler a module sits behind
    int module = 0;
    int listenPort = 0;
    QString serialPort;
    int node = 0;
    QString adapter;
    int slave = 0;             // the EtherCAT slave's position, from 1
    QString firmwareFile;
    QString imageSha256;
    std::optional<quint32> productCode;   // the encrypted file's header
    std::optional<int> hardwareVersion;
    QString outcome = QString::fromLatin1(kUnfinished);   // then "verified", "written", "failed" or "aborted"
    QString title;             // the box's title and texts
    QString text;
    QString informative;
    QString deviceState;
    QJsonArray phases;         // {"name", "milliseconds", "started", "module"} each

    bool unfinished() const { return outcome == QLatin1String(kUnfinished); }
};

// Which entries a listing shows.
struct HistoryFilter {
    QString target;    // empty: every target; else the address, serial port, adapter or target text
    QDateTime since;   // invalid: from the first
};
