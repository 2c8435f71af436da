#pragma once

#include "cxgatewrunner.h"
#include "runnerhost.h"
#include "thingstate.h"

#include <QHash>
#include <QObject>
#include <QVariant>

#include <functional>

// The gateway core as the main window runs it: the runner on its own worker thread, asked for work
// through its host and observed through the host's signals. Thing rows are kept one per
// short id, updated in place, as the dashboard model does.
class CoreHost : public QObject
{
    Q_OBJECT

public:
    // programDir: where the runner looks for ../plugins and ../lib.
    explicit CoreHost(const QString &programDir, QObject *parent = nullptr);
    // Ends the worker; the runner is deleted on it as the thread finishes.
    ~CoreHost() override;

    // Sends the request and runs this thread's event loop until its completion op arrives; an
    // invalid QVariant after timeoutMs.
    template <typename R, typename... Params, typename... Args>
    QVariant request(R (CxgatewRunner::*method)(Params...), int op, int timeoutMs, Args &&...args)
    {
        m_waitingFor = op;
        m_result = QVariant();
        m_done = false;
        m_host.call(method, std::forward<Args>(args)...);
        return waitForCompletion(timeoutMs);
    }
    // Runs fn on the worker thread and waits for it.
    void onWorker(const std::function<void(CxgatewRunner *)> &fn);
    bool waitConnected(int timeoutMs);
    bool isConnected() const { return m_connected; }
    int rowCount() const { return m_rows.size(); }

private slots:
    void runner_finished(int op, const QVariant &result);
    void runner_thingChanged(const ThingState &thing);

private:
    QVariant waitForCompletion(int timeoutMs);

    RunnerHost m_host;
    QHash<QString, ThingState> m_rows;
    bool m_connected = false;
    int m_waitingFor = -1;
    bool m_done = false;
    QVariant m_result;
};
