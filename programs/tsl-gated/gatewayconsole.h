#pragma once

#include "gatewaystartup.h"
#include "runnerhost.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

class QTextStream;

// The gateway core without a window: the runner on its worker thread, started as the window starts
// it (GatewayStartup), then rescanning periodically and, when asked, registering; with every
// completion and every thing row printed as one line on standard output.
class GatewayConsole : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int rescanSeconds = 60;
        bool registerGateway = false;
        bool reportChanges = false;
    };

    explicit GatewayConsole(const Options &options, QObject *parent = nullptr);
    // Stops the worker; the runner saves the pool and releases everything as the thread ends.
    ~GatewayConsole() override;

    void start();

    // The runner's host, for probes that must pass through the worker (the service's watchdog).
    RunnerHost &host() { return m_host; }

signals:
    void registrationEnded(bool ok);
    // The start-up chain has loaded the plug-ins and finished its first scan.
    void started(bool ok);
    void connectivityChanged(bool on);
    void backlogChanged(const OutboxBacklog &backlog);
    // The registrar's code for the user: {"value": 123456, "timeout": <seconds>}.
    void registrationCode(const QJsonObject &code);

private slots:
    void runner_finished(int op, const QVariant &result);
    void runner_thingChanged(const ThingState &thing);
    void runner_connectivityChanged(bool on);
    void runner_cloudError(const QString &text);
    void runner_backlogChanged(const OutboxBacklog &backlog);

private:
    void nameUnnamedThings(const QStringList &shortids);
    void print(const QString &line);

    Options m_options;
    RunnerHost m_host;
    GatewayStartup m_startup;
    QTimer m_rescanTimer;
    bool m_registrationStarted = false;
    bool m_started = false;
};
