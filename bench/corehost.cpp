#include "corehost.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSemaphore>
#include <QTimer>

namespace {

// Runs this thread's event loop for ms without spinning.
void pumpEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

CoreHost::CoreHost(const QString &programDir, QObject *parent) : QObject(parent), m_host(programDir)
{
    connect(&m_host, &RunnerHost::finished, this, &CoreHost::runner_finished);
    connect(&m_host, &RunnerHost::thingsChanged, this, [this](const ThingStateList &batch) {
        for (const ThingState &thing : batch)
            runner_thingChanged(thing);
    });
    connect(&m_host, &RunnerHost::connectivityChanged, this, [this](bool on) { m_connected = on; });
    m_host.start();
}

CoreHost::~CoreHost()
{
    m_host.stop();
}

void CoreHost::onWorker(const std::function<void(CxgatewRunner *)> &fn)
{
    QSemaphore done;
    m_host.post([&fn, &done](CxgatewRunner *runner) {
        fn(runner);
        done.release();
    });
    done.acquire();
}

bool CoreHost::waitConnected(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_connected && !deadline.hasExpired())
        pumpEvents(20);
    return m_connected;
}

QVariant CoreHost::waitForCompletion(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_done && !deadline.hasExpired())
        pumpEvents(20);
    m_waitingFor = -1;
    return m_done ? m_result : QVariant();
}

void CoreHost::runner_finished(int op, const QVariant &result)
{
    if (op == m_waitingFor && !m_done) {
        m_result = result;
        m_done = true;
    }
}

void CoreHost::runner_thingChanged(const ThingState &thing)
{
    if (thing.gone)
        m_rows.remove(thing.shortid);
    else
        m_rows.insert(thing.shortid, thing);
}
