#include "sleeplistener.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QPointer>

namespace {
const QString Login1Service = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString Login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString PrepareForSleep = QStringLiteral("PrepareForSleep");
} // namespace

SleepListener::SleepListener(QObject *parent) : QObject(parent) {}

SleepListener::~SleepListener() = default;

// Lives as long as the application object (or for the whole process when there is none).
SleepListener *SleepListener::instance()
{
    static QPointer<SleepListener> listener;
    if (!listener)
        listener = new SleepListener(QCoreApplication::instance());
    return listener;
}

bool SleepListener::install()
{
    if (m_installed)
        return true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    // Bound to the service name: the subscription follows logind across restarts, and holds even
    // when logind is not running yet.
    m_installed = bus.connect(Login1Service, Login1Path, Login1Manager, PrepareForSleep, this,
                              SLOT(login1_prepareForSleep(bool)));
    return m_installed;
}

void SleepListener::login1_prepareForSleep(bool start)
{
    if (start)
        emit aboutToSleep();
    else
        emit didWakeUp();
}
