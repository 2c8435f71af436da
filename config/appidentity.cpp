#include "appidentity.h"

#include "deployment.h"

#include <QCoreApplication>

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QLatin1String(Deployment::Organization));
    QCoreApplication::setApplicationName(QLatin1String(Deployment::Application));
    QCoreApplication::setApplicationVersion(QLatin1String(Deployment::Version));
}
