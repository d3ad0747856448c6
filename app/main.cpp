#include "core/application_identity.h"
#include "app/tarnlow_etn.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ApplicationIdentity::apply();
    TarnlowETN window;
    window.show();
    return application.exec();
}
