#pragma once

#include "cxgatewrunner.h"
#include "outbox.h"
#include "thingstate.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QVariant>

#include <functional>
#include <type_traits>
#include <utility>

class RunnerHost;

// One queued operation of the runner, made by RunnerHost::call. It is queued when then() names a
// completion, or when the call object goes out of scope without one.
template <typename R> class RunnerCall
{
public:
    using Work = std::function<R(CxgatewRunner *)>;

    RunnerCall(RunnerHost *host, Work work) : m_host(host), m_work(std::move(work)) {}
    RunnerCall(RunnerCall &&other) noexcept : m_host(other.m_host), m_work(std::move(other.m_work))
    {
        other.m_work = nullptr;
    }
    RunnerCall(const RunnerCall &) = delete;
    RunnerCall &operator=(const RunnerCall &) = delete;
    RunnerCall &operator=(RunnerCall &&) = delete;
    ~RunnerCall();

    // Queues the operation; done(result) (done() for operations without one) runs on the host's
    // thread once the operation has run, unless context is gone or the host has stopped by then.
    template <typename Done> void then(QObject *context, Done &&done);

private:
    RunnerHost *m_host;
    Work m_work;
};

// Owns the worker thread and the runner on it. call() queues one of the runner's operations on the
// worker, so operations run one at a time in the order they were asked for, and hands its typed
// result back on the host's thread; the runner's signals arrive here as this object's own signals.
//
//   RunnerHost host;
//   host.start();
//   host.call(&CxgatewRunner::loadPlugins);
//   host.call(&CxgatewRunner::listThings).then(this, [this](const ThingStateList &rows) { ... });
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
    // dropped, and so are completions that had not been delivered yet. Calling it again does nothing.
    void stop();

    // Queues runner->op(args...) on the worker thread; the arguments are copied as the operation
    // takes them. See RunnerCall::then for its result.
    template <typename R, typename... Params, typename... Args>
    RunnerCall<R> call(R (CxgatewRunner::*op)(Params...), Args &&...args)
    {
        return RunnerCall<R>(this, [op, args = std::make_tuple(std::decay_t<Params>(
                                            std::forward<Args>(args))...)](CxgatewRunner *runner) mutable {
            return std::apply([runner, op](auto &...values) { return (runner->*op)(values...); }, args);
        });
    }

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
    void thingsChanged(const ThingStateList &batch);
    void historyTrouble(const QString &text);
    void connectivityChanged(bool on);
    void deviceCreated(QObject *thui);
    void cloudError(const QString &text);
    void backlogChanged(const OutboxBacklog &backlog);
    void failed(const QString &text);
    void settingsUpdated();
    void namesNeeded(const QStringList &shortids);
    void registrationCode(const QJsonObject &code);
    void registrationEnded(const QJsonObject &result);

private:
    template <typename R> friend class RunnerCall;

    // On the worker: hands fn to the host's thread, where it runs unless context is gone or the host
    // has stopped.
    void deliver(const QPointer<QObject> &context, std::function<void()> fn);

    template <typename R, typename Done>
    void enqueue(typename RunnerCall<R>::Work work, QObject *context, Done &&done)
    {
        if (!context) {
            post([work = std::move(work)](CxgatewRunner *runner) { work(runner); });
            return;
        }
        post([this, work = std::move(work), guard = QPointer<QObject>(context),
              done = std::forward<Done>(done)](CxgatewRunner *runner) {
            if constexpr (std::is_void_v<R>) {
                work(runner);
                runner->flushChanges();
                deliver(guard, [done] { done(); });
            } else {
                R result = work(runner);
                runner->flushChanges();
                deliver(guard, [done, result] { done(result); });
            }
        });
    }

    QThread m_thread;
    CxgatewRunner *m_runner = nullptr;
    bool m_stopped = false;
};

template <typename R> RunnerCall<R>::~RunnerCall()
{
    if (m_work)
        m_host->template enqueue<R>(std::move(m_work), nullptr, [](auto &&...) {});
}

template <typename R> template <typename Done> void RunnerCall<R>::then(QObject *context, Done &&done)
{
    m_host->template enqueue<R>(std::move(m_work), context, std::forward<Done>(done));
    m_work = nullptr;
}
