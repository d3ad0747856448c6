#pragma once

// A plan: one device per line of a CSV file, fields separated by commas, blank lines and lines
// starting with '#' ignored:
//   coupler,  IP, FIRMWARE
//   module,   IP, FIRST[-LAST], FIRMWARE[, advance]
//   canopen,  PORT, NODE, FIRMWARE
//   ethercat, ADAPTER, FIRMWARE
// A relative firmware path is taken from the plan's folder.
#include "cli/device_job.h"

#include <QList>
#include <QString>

struct PlanParse {
    QList<DeviceJob> jobs;
    QString error;   // "plan.csv line 4: ..." for every bad line, empty when every line was understood
};

PlanParse parsePlan(const QString &text, const QString &planPath);
PlanParse readPlanFile(const QString &planPath);
