#pragma once

#include "cxgatewrunner.h"
#include "thingstate.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QVariant>

#include <utility>

// Owns the worker thread and the runner on it. Every request method queues the runner's operation on
// the worker, so operations run one at a time in the order they were asked for; the runner's signals
// arrive here as this object's own signals, on the thread this host lives on.
//
//   RunnerHost host;
//   connect(&host, &RunnerHost::finished, this, &Window::runner_finished);
//   host.start();
//   host.loadPlugins();
//   host.rescan();
class RunnerHost : public QObject
{
    Q_OBJECT

public:
    // programDir: where the runner looks for ../plugins and ../lib; empty for the running program's
    // own directory.
    explicit RunnerHost(const QString &programDir = QString(), QObject *parent = nullptr);
    // Stops the worker: the runner is deleted on it, saving the device pool and releasing the things.
    ~RunnerHost() override;

    // Starts the worker thread; requests queued before run once it is up.
    void start();
    // Ends the worker thread and waits for it; the runner is deleted on it. Later requests are
    // dropped. Calling it again does nothing.
    void stop();

    void loadPlugins();
    void rescan();
    void updatePool();
    void applyDeviceSettings();
    void generateDoc();
    void listPlugins();
    void listThings();
    void connectToCloud(bool firstrun = false);
    void reconnectCloud();
    void renameThing(const QString &sid, const QString &alias);
    void cloudStatus();
    void resetGateway();
    void resetDevPool();
    void releaseThings();
    void registrationState();
    void exportSettings(const QString &file);
    void importSettings(const QString &file);

    // Queues fn(CxgatewRunner *) on the worker thread, in order with the requests: for tools and
    // tests that need the runner's things or gateway, which only the worker may touch.
    template <typename F> void post(F &&fn)
    {
        if (!m_runner)
            return;
        QMetaObject::invokeMethod(
            m_runner, [runner = m_runner, fn = std::forward<F>(fn)]() mutable { fn(runner); },
            Qt::QueuedConnection);
    }

    // The runner, living on the worker thread: only for post() and for connections; null once stopped.
    CxgatewRunner *runner() const { return m_runner; }

signals:
    void finished(int op, const QVariant &result);
    void thingChanged(const ThingState &thing);
    void connectivityChanged(bool on);
    void deviceCreated(QObject *thui);
    void cloudError(const QString &text);
    void backlogChanged(const OutboxBacklog &backlog);

private:
    template <typename... Params, typename... Args>
    void queue(void (CxgatewRunner::*operation)(Params...), Args... args)
    {
        post([operation, args...](CxgatewRunner *runner) { (runner->*operation)(args...); });
    }

    QThread m_thread;
    CxgatewRunner *m_runner = nullptr;
};
