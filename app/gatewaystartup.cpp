#include "gatewaystartup.h"

#include "runnerhost.h"

GatewayStartup::GatewayStartup(RunnerHost *host, QObject *parent) : QObject(parent), m_host(host)
{
    qRegisterMetaType<CxgatewRunner::CloudStatus>();
    // The runner's own word on a failed load or scan ends start-up, whoever asked for it.
    connect(m_host, &RunnerHost::finished, this, [this](int op, const QVariant &result) {
        if (m_running && (op == CxgatewRunner::Load || op == CxgatewRunner::Rescan) && !result.toBool())
            end(false);
    });
}

void GatewayStartup::start()
{
    if (m_running)
        return;
    m_running = true;
    ++m_run;
    step(LoadingPlugins);
}

template <typename F> auto GatewayStartup::onTurn(F &&fn)
{
    return [this, run = m_run, fn = std::forward<F>(fn)](auto &&...result) {
        if (m_running && run == m_run)
            fn(result...);
    };
}

void GatewayStartup::step(Step next)
{
    emit stepStarted(next);
    if (!m_running)
        return;
    switch (next) {
    case LoadingPlugins:
        m_host->call(&CxgatewRunner::loadPlugins).then(this, onTurn([this](bool ok) {
                                                           if (ok)
                                                               step(ListingPlugins);
                                                           else
                                                               end(false);
                                                       }));
        break;
    case ListingPlugins:
        m_host->call(&CxgatewRunner::listPlugins).then(this, onTurn([this](const QJsonObject &plugins) {
                                                           emit pluginsListed(plugins);
                                                           step(Scanning);
                                                       }));
        break;
    case Scanning:
        m_host->call(&CxgatewRunner::rescan).then(this, onTurn([this](bool ok) {
                                                      if (ok)
                                                          step(ListingThings);
                                                      else
                                                          end(false);
                                                  }));
        break;
    case ListingThings:
        m_host->call(&CxgatewRunner::listThings).then(this, onTurn([this](const ThingStateList &things) {
                                                          emit thingsListed(things);
                                                          step(Connecting);
                                                      }));
        break;
    case Connecting:
        m_host->call(&CxgatewRunner::connectToCloud, true).then(this, onTurn([this](bool) {
                                                                    step(RequestingStatus);
                                                                }));
        break;
    case RequestingStatus:
        m_host->call(&CxgatewRunner::cloudStatus)
            .then(this, onTurn([this](const CxgatewRunner::CloudStatus &status) {
                      emit statusReady(status);
                      end(true);
                  }));
        break;
    }
}

void GatewayStartup::end(bool ok)
{
    if (!m_running)
        return;
    m_running = false;
    emit finished(ok);
}
