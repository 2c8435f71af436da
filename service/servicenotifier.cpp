#include "servicenotifier.h"

#include "logcategories.h"

#include <QPointer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Status texts are single lines: a newline would start another assignment.
QByteArray statusAssignment(const QString &status)
{
    QByteArray text = status.toUtf8();
    text.replace('\n', ' ');
    return QByteArrayLiteral("STATUS=") + text;
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent) : QObject(parent)
{
    m_address = qgetenv("NOTIFY_SOCKET");
    const bool abstract = m_address.startsWith('@');
    if (m_address.isEmpty() || (!abstract && !m_address.startsWith('/')) ||
        size_t(m_address.size()) >= sizeof(sockaddr_un::sun_path)) {
        if (!m_address.isEmpty())
            qCWarning(lcService, "NOTIFY_SOCKET=%s is no socket address: the service manager hears nothing",
                      m_address.constData());
        m_address.clear();
        return;
    }
    if (abstract)
        m_address[0] = '\0';
    m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        qCWarning(lcService, "cannot open a socket to the service manager: %s", std::strerror(errno));
        return;
    }

    bool ok = false;
    const qint64 usec = qEnvironmentVariable("WATCHDOG_USEC").toLongLong(&ok);
    const QString pid = qEnvironmentVariable("WATCHDOG_PID");
    if (ok && usec > 0 && (pid.isEmpty() || pid.toLongLong() == ::getpid()))
        m_watchdogMs = int(qBound<qint64>(2, usec / 1000, 3600 * 1000));
    m_watchdog.setInterval(qMax(1, m_watchdogMs / 2));
    connect(&m_watchdog, &QTimer::timeout, this, &ServiceNotifier::beat);
}

ServiceNotifier::~ServiceNotifier()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool ServiceNotifier::notify(const QByteArray &assignments)
{
    if (m_socket < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_address.constData(), size_t(m_address.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(m_address.size()));
    ssize_t sent;
    do
        sent = ::sendto(m_socket, assignments.constData(), size_t(assignments.size()), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr *>(&address), length);
    while (sent < 0 && errno == EINTR);
    return sent == assignments.size();
}

void ServiceNotifier::ready(const QString &status)
{
    m_status = status;
    notify(QByteArrayLiteral("READY=1\n") + statusAssignment(status));
}

void ServiceNotifier::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    notify(statusAssignment(status));
}

void ServiceNotifier::stopping()
{
    m_watchdog.stop();
    notify(QByteArrayLiteral("STOPPING=1"));
}

void ServiceNotifier::startWatchdog(Probe probe)
{
    if (m_watchdogMs <= 0 || m_socket < 0)
        return;
    m_probe = std::move(probe);
    m_watchdog.start();
    beat();
}

void ServiceNotifier::beat()
{
    if (!m_probe) {
        notify(QByteArrayLiteral("WATCHDOG=1"));
        return;
    }
    // One probe at a time: one that never answers stops the beats, and the manager steps in.
    if (m_probing)
        return;
    m_probing = true;
    m_probe([self = QPointer<ServiceNotifier>(this)] {
        if (!self)
            return;
        self->m_probing = false;
        self->notify(QByteArrayLiteral("WATCHDOG=1"));
    });
}
