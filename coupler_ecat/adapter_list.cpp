#include "coupler_ecat/adapter_list.h"

#include <QComboBox>

#include <cstdio>

void fillAdapterComboBox(QComboBox *comboBox, const QVector<AdapterEntry> &entries)
{
    const QString remembered = comboBox->currentText();
    const QString rememberedName = comboBox->currentData().toString();
    comboBox->clear();
    int number = 1;
    bool textFound = false;
    for (const AdapterEntry &entry : entries) {
        std::printf("%d. %s", number++, entry.captureName.toUtf8().constData());
        comboBox->addItem(entry.displayText, entry.captureName);
        if (entry.displayText == remembered) {
            comboBox->setCurrentIndex(comboBox->count() - 1);
            textFound = true;
        }
        if (entry.description.isEmpty())
            std::printf(" (No description available)\n");
        else
            std::printf(" (%s)\n", entry.description.toUtf8().constData());
    }
    // An adapter whose addresses changed since it was chosen keeps its place by its name.
    if (!textFound && !rememberedName.isEmpty() && comboBox->findData(rememberedName) >= 0)
        comboBox->setCurrentIndex(comboBox->findData(rememberedName));
    else if (!textFound)
        comboBox->setCurrentIndex(safeAdapterIndex(entries));
    if (entries.isEmpty())
        std::printf("\nNo interfaces found! Make sure WinPcap is installed.\n");
    std::fflush(stdout);
}
