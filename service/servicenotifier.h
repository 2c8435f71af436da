#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>

// Tells the service manager how the service is doing, with the datagrams of its notify protocol:
// "READY=1" once the service works, "STATUS=<text>" for `systemctl status`, "WATCHDOG=1" as the
// proof of life that WatchdogSec= asks for, "STOPPING=1" on the way out. The socket's address comes
// from $NOTIFY_SOCKET (a path, or an abstract name written with a leading '@'); without it the
// notifier is inactive and sends nothing. The watchdog is on when $WATCHDOG_USEC is set and
// $WATCHDOG_PID, if set, names this process.
class ServiceNotifier : public QObject
{
    Q_OBJECT

public:
    // Calls the given function once the part it checks has shown that it is alive.
    using Probe = std::function<void(std::function<void()> alive)>;

    explicit ServiceNotifier(QObject *parent = nullptr);
    ~ServiceNotifier() override;

    bool isActive() const { return m_socket >= 0; }
    // The manager's watchdog timeout in milliseconds; 0 when it watches nothing.
    int watchdogTimeoutMs() const { return m_watchdogMs; }

    // Sends newline-separated assignments in one datagram; false when inactive or refused.
    bool notify(const QByteArray &assignments);
    void ready(const QString &status);
    void setStatus(const QString &status);
    void stopping();

    // Sends WATCHDOG=1 at half the timeout from the thread this object lives on. With a probe, a
    // beat goes out only after the probe answered: a probe that travels through another thread's
    // event loop proves that loop alive too. Nothing happens when the watchdog is off.
    void startWatchdog(Probe probe = Probe());

    ServiceNotifier(const ServiceNotifier &) = delete;
    ServiceNotifier &operator=(const ServiceNotifier &) = delete;

private:
    void beat();

    int m_socket = -1;
    QByteArray m_address;
    int m_watchdogMs = 0;
    QTimer m_watchdog;
    Probe m_probe;
    bool m_probing = false;
    QString m_status;
};
