#include "devcloudprocess.h"

#include "eventwait.h"

#include <QProcess>

DevCloudProcess::~DevCloudProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    delete m_process;
}

QString DevCloudProcess::program()
{
    return qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin/tsl-devcloud");
}

bool DevCloudProcess::start(const QString &dataDir, const QStringList &extraArgs, int timeoutMs)
{
    delete m_process;
    m_settings.clear();
    m_stderr.clear();
    m_process = new QProcess;
    m_process->start(program(), QStringList{QStringLiteral("--data"), dataDir} << extraArgs);
    if (!m_process->waitForStarted(10000))
        return false;
    bool ready = false;
    QByteArray pending;
    waitUntil(
        [&] {
            pending += m_process->readAllStandardOutput();
            int end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending.left(end));
                pending.remove(0, end + 1);
                if (line == QLatin1String("READY"))
                    ready = true;
                const int eq = line.indexOf(QLatin1Char('='));
                if (eq > 0)
                    m_settings.insert(line.left(eq), line.mid(eq + 1));
            }
            return ready || m_process->state() == QProcess::NotRunning;
        },
        timeoutMs);
    return ready;
}

bool DevCloudProcess::stop(int timeoutMs)
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return false;
    m_process->terminate();
    if (!m_process->waitForFinished(timeoutMs)) {
        m_process->kill();
        m_process->waitForFinished(5000);
        return false;
    }
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

void DevCloudProcess::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
}

int DevCloudProcess::waitForExit(int timeoutMs)
{
    if (!m_process || !m_process->waitForFinished(timeoutMs) || m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

qint64 DevCloudProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

bool DevCloudProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString DevCloudProcess::diagnostics() const
{
    if (m_process)
        m_stderr += QString::fromLocal8Bit(m_process->readAllStandardError());
    return m_stderr;
}
