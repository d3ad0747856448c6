#include "core/application_identity.h"

#include <QCoreApplication>

void ApplicationIdentity::apply()
{
    QCoreApplication::setOrganizationName(QString::fromLatin1(organisationName));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(organisationDomain));
    QCoreApplication::setApplicationName(QString::fromLatin1(applicationName));
}
