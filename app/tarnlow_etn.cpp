#include "app/tarnlow_etn.h"
#include "ui_tarnlowetn.h"

#include "core/application_identity.h"

TarnlowETN::TarnlowETN(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::TarnlowETN)
{
    ui->setupUi(this);
    ui->version_text->setText(tr("Tarnlow Version ")
                              + QString::fromLatin1(ApplicationIdentity::version));
}

TarnlowETN::~TarnlowETN()
{
    delete ui;
}
