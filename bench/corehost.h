#pragma once

#include "cxgatewrunner.h"
#include "thingstate.h"

#include <QHash>
#include <QObject>
#include <QThread>
#include <QVariant>

#include <functional>

// The gateway core as the main window runs it: the runner on its own worker thread, asked for work
// by queued slot invocations and observed through its queued signals. Thing rows are kept one per
// short id, updated in place, as the dashboard model does.
class CoreHost : public QObject
{
    Q_OBJECT

public:
    // programDir: where the runner looks for ../plugins and ../lib.
    explicit CoreHost(const QString &programDir, QObject *parent = nullptr);
    // Ends the worker; the runner is deleted on it as the thread finishes.
    ~CoreHost() override;

    // Queues the slot and runs this thread's event loop until its completion op arrives; an invalid
    // QVariant after timeoutMs.
    template <typename... Args> QVariant request(const char *slot, int op, int timeoutMs, Args... args)
    {
        m_waitingFor = op;
        m_result = QVariant();
        m_done = false;
        QMetaObject::invokeMethod(m_runner, slot, Qt::QueuedConnection, args...);
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

    QThread m_thread;
    CxgatewRunner *m_runner = nullptr;
    QHash<QString, ThingState> m_rows;
    bool m_connected = false;
    int m_waitingFor = -1;
    bool m_done = false;
    QVariant m_result;
};
