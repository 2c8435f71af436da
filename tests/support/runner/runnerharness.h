#pragma once

#include "cxgatewrunner.h"
#include "thingstate.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QThread>
#include <QVariant>

// A runner on its own worker thread, set up as the main window does it, and observed only through
// its queued signals. Requests are queued slot invocations; the harness records every completion
// and every thing row in arrival order.
//
//   RunnerHarness harness;
//   QVERIFY(harness.request("loadPlugins", CxgatewRunner::Load).toBool());
//   QVERIFY(harness.request("rescan", CxgatewRunner::Rescan).toBool());
//   const ThingStateList rows = harness.things();
class RunnerHarness : public QObject
{
    Q_OBJECT

public:
    using Completion = QPair<int, QVariant>;

    // programDir: where the runner looks for ../plugins and ../lib; empty for the build tree.
    explicit RunnerHarness(const QString &programDir = QString());
    // Ends the worker thread; the runner is deleted on it as the thread finishes.
    ~RunnerHarness() override;

    // Only for reading identities in assertions; never call the runner from the test thread.
    CxgatewRunner *runner() const { return m_runner; }

    // Queues the slot and waits for the completion op (and returns its result); an invalid
    // QVariant when it did not arrive in time.
    template <typename... Args> QVariant request(const char *slot, int op, Args... args)
    {
        const int start = m_finished.size();
        QMetaObject::invokeMethod(m_runner, slot, Qt::QueuedConnection, args...);
        return waitForCompletion(op, start);
    }
    // Queues a slot that sends no completion and waits until the worker processed it.
    template <typename... Args> void post(const char *slot, Args... args)
    {
        QMetaObject::invokeMethod(m_runner, slot, Qt::QueuedConnection, args...);
        sync();
    }
    // Waits until every request queued so far has run on the worker and its signals arrived here.
    void sync();

    QVariant waitForCompletion(int op, int from = 0, int timeoutMs = 15000);
    // Every completion so far, in order.
    const QList<Completion> &completions() const { return m_finished; }
    QList<QVariant> resultsOf(int op) const;
    void clearRecords();

    const QList<ThingState> &rows() const { return m_rows; }
    // Rows for one short id, in arrival order.
    QList<ThingState> rowsOf(const QString &shortid) const;
    // Waits for a row of that short id matching the predicate (from the index on).
    bool waitForRow(const QString &shortid, const std::function<bool(const ThingState &)> &match,
                    int timeoutMs = 15000);

    // Lsthings as the window reads it.
    ThingStateList things();

    QList<bool> connectivity() const { return m_connectivity; }
    int devicesCreated() const { return m_devicesCreated; }

private slots:
    void runner_finished(int op, const QVariant &result);
    void runner_thingChanged(const ThingState &thing);

private:
    QThread m_thread;
    CxgatewRunner *m_runner = nullptr;
    QList<Completion> m_finished;
    QList<ThingState> m_rows;
    QList<bool> m_connectivity;
    int m_devicesCreated = 0;
};
