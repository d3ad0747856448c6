#pragma once

#include "coupler_ecat/adapter_entries.h"

class QComboBox;

// Refills the combo box, printing the numbered list to standard output; the entry whose text
// equals the one shown before becomes current again (the last of several), or else the one of
// the same capture name, or else the safe one (none when there is none).
void fillAdapterComboBox(QComboBox *comboBox, const QVector<AdapterEntry> &entries);
