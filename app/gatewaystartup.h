#pragma once

#include "cxgatewrunner.h"
#include "thingstate.h"

#include <QJsonObject>
#include <QObject>

class RunnerHost;

// The start-up chain both programs run on the runner, one step after the other: the plug-ins, their
// list, a first scan (which restores the pool), the dashboard rows, the cloud connection and its
// status. Each step starts when the one before has answered; the results go out as signals.
//
//   GatewayStartup startup(&host);
//   connect(&startup, &GatewayStartup::finished, this, [](bool ok) { ... });
//   startup.start();
class GatewayStartup : public QObject
{
    Q_OBJECT

public:
    enum Step { LoadingPlugins, ListingPlugins, Scanning, ListingThings, Connecting, RequestingStatus };
    Q_ENUM(Step)

    explicit GatewayStartup(RunnerHost *host, QObject *parent = nullptr);

    // Starts the chain on a started (or starting) host; does nothing while it runs.
    void start();
    bool isRunning() const { return m_running; }

signals:
    void stepStarted(GatewayStartup::Step step);
    void pluginsListed(const QJsonObject &plugins);
    void thingsListed(const ThingStateList &things);
    void statusReady(const CxgatewRunner::CloudStatus &status);
    // The chain ended: ok is false when loading the plug-ins or the first scan failed.
    void finished(bool ok);

private:
    void step(Step next);
    void end(bool ok);
    // A completion of this run of the chain, dropped when the chain has ended meanwhile.
    template <typename F> auto onTurn(F &&fn);

    RunnerHost *m_host;
    bool m_running = false;
    int m_run = 0;
};

Q_DECLARE_METATYPE(CxgatewRunner::CloudStatus)
