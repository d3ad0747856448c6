#pragma once

// A warning before raw EtherCAT frames go out of an adapter that carries an IPv4 address or the
// default route: on a technician's PC that is the plant or office network far more often than
// the cable to a segment. The run goes on; the warning goes to standard error.
#include "coupler_ecat/adapter_entries.h"

#include <QString>
#include <QVector>

// The warning for `adapter` among `entries`; empty when it carries neither or is not listed.
QString plantAdapterWarning(const QString &adapter, const QVector<AdapterEntry> &entries);

// Lists the adapters and prints the warning for `adapter`, if any.
void warnOfPlantAdapter(const QString &adapter);
