#include "servicestatus.h"

#include "servicenotifier.h"
#include "settingskeys.h"

#include <QDateTime>
#include <QSettings>

#include <cstdio>

ServiceStatus::ServiceStatus(ServiceNotifier *notifier, QObject *parent)
    : QObject(parent), m_notifier(notifier)
{
}

QString ServiceStatus::text() const
{
    if (!m_started)
        return QStringLiteral("starting: loading plug-ins, scanning for devices");
    QString text = QStringLiteral("cloud %1, %2 report(s) waiting")
                       .arg(m_connected ? QStringLiteral("connected") : QStringLiteral("disconnected"))
                       .arg(m_backlog.waiting);
    if (!m_backlog.isEmpty()) {
        const qint64 age =
            qMax<qint64>(0, QDateTime::currentMSecsSinceEpoch() - m_backlog.oldestQueued) / 1000;
        text += QStringLiteral(" (oldest %1 s)").arg(age);
    }
    if (m_backlog.dropped > 0)
        text += QStringLiteral(", %1 dropped").arg(m_backlog.dropped);
    if (m_backlog.memoryOnly)
        text += QStringLiteral(", outbox in memory only");
    if (!m_registration.isEmpty())
        text = m_registration + QStringLiteral("; ") + text;
    return text;
}

QString ServiceStatus::registrationLine(const QJsonObject &code, const QString &portal)
{
    return QStringLiteral("registration code %1: enter it at %2 within %3 s")
        .arg(code.value(QLatin1String("value")).toVariant().toString(), portal)
        .arg(code.value(QLatin1String("timeout")).toInt());
}

QString ServiceStatus::portalPage()
{
    const QSettings settings;
    return Key::WebCloud.read(settings).toString() + Key::WebRegPage.read(settings).toString();
}

void ServiceStatus::setStarted(bool ok)
{
    if (m_started || !ok)
        return;
    m_started = true;
    m_notifier->ready(text());
}

void ServiceStatus::setConnected(bool on)
{
    m_connected = on;
    publish();
}

void ServiceStatus::setBacklog(const OutboxBacklog &backlog)
{
    m_backlog = backlog;
    publish();
}

void ServiceStatus::showRegistrationCode(const QJsonObject &code)
{
    m_registration = registrationLine(code, portalPage());
    const QByteArray line = m_registration.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    publish();
}

void ServiceStatus::setRegistrationEnded(bool ok)
{
    Q_UNUSED(ok)
    m_registration.clear();
    publish();
}

void ServiceStatus::publish()
{
    if (m_started)
        m_notifier->setStatus(text());
}
