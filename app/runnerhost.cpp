#include "runnerhost.h"

RunnerHost::RunnerHost(const QString &programDir, QObject *parent)
    : QObject(parent), m_runner(new CxgatewRunner(nullptr, programDir))
{
    m_thread.setObjectName(QStringLiteral("runner"));
    m_runner->moveToThread(&m_thread);
    connect(m_runner, &CxgatewRunner::finished, this, &RunnerHost::finished, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::thingChanged, this, &RunnerHost::thingChanged, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::connectivityChanged, this, &RunnerHost::connectivityChanged,
            Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::deviceCreated, this, &RunnerHost::deviceCreated, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::cloudError, this, &RunnerHost::cloudError, Qt::QueuedConnection);
    connect(m_runner, &CxgatewRunner::backlogChanged, this, &RunnerHost::backlogChanged,
            Qt::QueuedConnection);
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
    // A host that never started still lets the runner end on its own thread.
    if (!m_thread.isRunning())
        m_thread.start(QThread::InheritPriority);
    m_thread.quit();
    m_thread.wait();
    m_runner = nullptr;
}

void RunnerHost::loadPlugins()
{
    queue(&CxgatewRunner::loadPlugins);
}

void RunnerHost::rescan()
{
    queue(&CxgatewRunner::rescan);
}

void RunnerHost::updatePool()
{
    queue(&CxgatewRunner::updatePool);
}

void RunnerHost::applyDeviceSettings()
{
    queue(&CxgatewRunner::applyDeviceSettings);
}

void RunnerHost::generateDoc()
{
    queue(&CxgatewRunner::generateDoc);
}

void RunnerHost::listPlugins()
{
    queue(&CxgatewRunner::listPlugins);
}

void RunnerHost::listThings()
{
    queue(&CxgatewRunner::listThings);
}

void RunnerHost::connectToCloud(bool firstrun)
{
    queue(&CxgatewRunner::connectToCloud, firstrun);
}

void RunnerHost::reconnectCloud()
{
    queue(&CxgatewRunner::reconnectCloud);
}

void RunnerHost::renameThing(const QString &sid, const QString &alias)
{
    queue(&CxgatewRunner::renameThing, sid, alias);
}

void RunnerHost::cloudStatus()
{
    queue(&CxgatewRunner::cloudStatus);
}

void RunnerHost::resetGateway()
{
    queue(&CxgatewRunner::resetGateway);
}

void RunnerHost::resetDevPool()
{
    queue(&CxgatewRunner::resetDevPool);
}

void RunnerHost::releaseThings()
{
    queue(&CxgatewRunner::releaseThings);
}

void RunnerHost::registrationState()
{
    queue(&CxgatewRunner::registrationState);
}

void RunnerHost::exportSettings(const QString &file)
{
    queue(&CxgatewRunner::exportSettings, file);
}

void RunnerHost::importSettings(const QString &file)
{
    queue(&CxgatewRunner::importSettings, file);
}
