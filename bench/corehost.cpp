#include "corehost.h"

#include <QDeadlineTimer>
#include <QEventLoop>
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

CoreHost::CoreHost(const QString &programDir, QObject *parent) : QObject(parent)
{
    ThingState::registerMetaTypes();
    m_runner = new CxgatewRunner(nullptr, programDir);
    m_runner->moveToThread(&m_thread);
    connect(m_runner, &CxgatewRunner::finished, this, &CoreHost::runner_finished, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::thingChanged, this, &CoreHost::runner_thingChanged,
            Qt::QueuedConnection);
    connect(
        m_runner, &CxgatewRunner::connectivityChanged, this, [this](bool on) { m_connected = on; },
        Qt::QueuedConnection);
    connect(&m_thread, &QThread::finished, m_runner, &QObject::deleteLater);
    m_thread.start(QThread::InheritPriority);
}

CoreHost::~CoreHost()
{
    m_thread.quit();
    m_thread.wait();
}

void CoreHost::onWorker(const std::function<void(CxgatewRunner *)> &fn)
{
    CxgatewRunner *runner = m_runner;
    QMetaObject::invokeMethod(
        m_runner, [&fn, runner] { fn(runner); }, Qt::BlockingQueuedConnection);
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
