#pragma once

#include "cxgatewrunner.h"
#include "runnerhost.h"
#include "thingstate.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QVariant>

// A runner on its own worker thread, hosted as the main window hosts it, and observed only through
// the host's signals. Requests are the host's request methods; the harness records every completion
// and every thing row in arrival order.
//
//   RunnerHarness harness;
//   QVERIFY(harness.request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load).toBool());
//   QVERIFY(harness.request(&CxgatewRunner::renameThing, CxgatewRunner::TRename, sid, alias).toBool());
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

    // For requests whose completion the test waits for itself, and for RunnerHost::post.
    RunnerHost &host() { return m_host; }

    // Sends the request and waits for the completion op (and returns its result); an invalid
    // QVariant when it did not arrive in time.
    template <typename R, typename... Params, typename... Args>
    QVariant request(R (CxgatewRunner::*method)(Params...), int op, Args &&...args)
    {
        const int start = m_finished.size();
        m_host.call(method, std::forward<Args>(args)...);
        return waitForCompletion(op, start);
    }
    // Sends a request that has no completion and waits until the worker processed it.
    template <typename R, typename... Params, typename... Args>
    void post(R (CxgatewRunner::*method)(Params...), Args &&...args)
    {
        m_host.call(method, std::forward<Args>(args)...);
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
    RunnerHost m_host;
    QList<Completion> m_finished;
    QList<ThingState> m_rows;
    QList<bool> m_connectivity;
    int m_devicesCreated = 0;
};
