#include "runnerhost.h"

RunnerHost::RunnerHost(const QString &programDir, QObject *parent)
    : QObject(parent), m_runner(new CxgatewRunner(nullptr, programDir))
{
    m_thread.setObjectName(QStringLiteral("runner"));
    m_runner->moveToThread(&m_thread);
    const auto forward = [this](auto signal, auto mine) {
        connect(m_runner, signal, this, mine, Qt::QueuedConnection);
    };
    forward(&CxgatewRunner::finished, &RunnerHost::finished);
    forward(&CxgatewRunner::thingsChanged, &RunnerHost::thingsChanged);
    forward(&CxgatewRunner::historyTrouble, &RunnerHost::historyTrouble);
    forward(&CxgatewRunner::connectivityChanged, &RunnerHost::connectivityChanged);
    forward(&CxgatewRunner::deviceCreated, &RunnerHost::deviceCreated);
    forward(&CxgatewRunner::cloudError, &RunnerHost::cloudError);
    forward(&CxgatewRunner::backlogChanged, &RunnerHost::backlogChanged);
    forward(&CxgatewRunner::failed, &RunnerHost::failed);
    forward(&CxgatewRunner::settingsUpdated, &RunnerHost::settingsUpdated);
    forward(&CxgatewRunner::namesNeeded, &RunnerHost::namesNeeded);
    forward(&CxgatewRunner::registrationCode, &RunnerHost::registrationCode);
    forward(&CxgatewRunner::registrationEnded, &RunnerHost::registrationEnded);
    // The runner goes with its thread: deleted on the worker once the event loop has ended.
    connect(&m_thread, &QThread::finished, m_runner, &QObject::deleteLater);
}

RunnerHost::~RunnerHost()
{
    stop();
}

void RunnerHost::start()
{
    if (m_runner && !m_thread.isRunning())
        m_thread.start(QThread::InheritPriority);
}

void RunnerHost::stop()
{
    if (!m_runner)
        return;
    m_stopped = true;
    // A host that never started still lets the runner end on its own thread.
    if (!m_thread.isRunning())
        m_thread.start(QThread::InheritPriority);
    m_thread.quit();
    m_thread.wait();
    m_runner = nullptr;
}

void RunnerHost::deliver(const QPointer<QObject> &context, std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        this,
        [this, context, fn = std::move(fn)] {
            if (!m_stopped && context)
                fn();
        },
        Qt::QueuedConnection);
}
