#include "mosquittoprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTcpServer>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 5000;
constexpr int PortAttempts = 3;

// mosquitto that follows us when we die, however we die.
class ChildProcess : public QProcess
{
public:
    explicit ChildProcess(QObject *parent) : QProcess(parent), m_parentPid(::getpid()) {}

protected:
    void setupChildProcess() override
    {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone between fork and prctl.
        if (::getppid() != m_parentPid)
            ::_exit(1);
    }

private:
    const pid_t m_parentPid;
};

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit();
}

// Runs the event loop for a moment, so that objects on this thread keep working while we wait.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

MosquittoProcess::MosquittoProcess(QObject *parent) : QObject(parent) {}

MosquittoProcess::~MosquittoProcess()
{
    stop();
}

QString MosquittoProcess::log(qint64 offset) const
{
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return QString();
    return QString::fromUtf8(f.readAll());
}

bool MosquittoProcess::start(const Config &config)
{
    m_config = config;
    for (int attempt = 0; attempt < PortAttempts; ++attempt) {
        m_port = config.port ? config.port : freePort();
        if (m_port == 0) {
            m_error = QStringLiteral("no free port for the broker");
            return false;
        }
        if (launch())
            return true;
        // Someone took the free port between our probe and mosquitto's bind: try another one.
        if (config.port || !m_error.contains(QLatin1String("in use")))
            return false;
    }
    return false;
}

bool MosquittoProcess::restart()
{
    if (m_port == 0)
        return start(m_config);
    return launch();
}

bool MosquittoProcess::writeConfig()
{
    QStringList conf;
    if (!m_config.comment.isEmpty())
        conf << QStringLiteral("# ") + m_config.comment;
    conf << QStringLiteral("persistence false") << QStringLiteral("log_dest stderr")
         << QStringLiteral("log_type error") << QStringLiteral("log_type warning")
         << QStringLiteral("log_type notice") << QStringLiteral("log_type information")
         << QStringLiteral("log_timestamp_format %Y-%m-%dT%H:%M:%S")
         << QStringLiteral("connection_messages true") << QStringLiteral("per_listener_settings false")
         << QStringLiteral("allow_anonymous false");
    if (!m_config.aclPath.isEmpty())
        conf << QStringLiteral("acl_file ") + m_config.aclPath;
    conf << QStringLiteral("listener %1 127.0.0.1").arg(m_port) << QStringLiteral("cafile ") + m_config.caPath
         << QStringLiteral("certfile ") + m_config.certPath << QStringLiteral("keyfile ") + m_config.keyPath
         << QStringLiteral("require_certificate true");
    if (m_config.passwordPath.isEmpty())
        conf << QStringLiteral("use_identity_as_username true");
    else
        conf << QStringLiteral("password_file ") + m_config.passwordPath;
    conf << m_config.extra;
    // As root mosquitto would switch to the "mosquitto" user, which cannot read our files.
    if (::geteuid() == 0)
        conf << QStringLiteral("user root");
    return writeFile(QDir(m_config.directory).filePath(QStringLiteral("mosquitto.conf")),
                     conf.join(QLatin1Char('\n')).toUtf8() + '\n');
}

bool MosquittoProcess::launch()
{
    stop();
    if (m_config.directory.contains(QLatin1Char('\n')) || m_config.logPath.contains(QLatin1Char('\n'))) {
        m_error = QStringLiteral("the broker's file names must not contain a line break");
        return false;
    }
    if (!writeConfig()) {
        m_error = QStringLiteral("cannot write the broker's configuration");
        return false;
    }
    // Every run appends its own block to the log; the end of this run's block is what we wait for.
    const qint64 logStart = QFileInfo(logPath()).size();
    m_process = new ChildProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath(), QIODevice::Append);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->start(
        QStringLiteral("mosquitto"),
        {QStringLiteral("-c"), QDir(m_config.directory).filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("cannot start mosquitto: ") + m_process->errorString();
        stop();
        return false;
    }
    // mosquitto says "... running" once its listeners are open, or exits on a bad configuration.
    QDeadlineTimer deadline(StartTimeoutMs);
    bool running = false;
    while (!running && isRunning() && !deadline.hasExpired()) {
        spin(10);
        running = log(logStart).contains(QLatin1String(" running"));
    }
    if (!running || !isRunning()) {
        const QString text = log(logStart).trimmed();
        m_error = QStringLiteral("mosquitto did not come up on port %1%2")
                      .arg(m_port)
                      .arg(text.isEmpty() ? QString() : QStringLiteral(":\n") + text);
        stop();
        return false;
    }
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) {
                if (m_stopping)
                    return;
                emit died(status == QProcess::CrashExit
                              ? QStringLiteral("mosquitto crashed")
                              : QStringLiteral("mosquitto exited with %1").arg(code));
            });
    return true;
}

bool MosquittoProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool MosquittoProcess::reload()
{
    if (!isRunning()) {
        m_error = QStringLiteral("the broker is not running");
        return false;
    }
    if (::kill(pid_t(m_process->processId()), SIGHUP) != 0) {
        m_error = QStringLiteral("cannot signal the broker");
        return false;
    }
    return true;
}

void MosquittoProcess::stop()
{
    end(false);
}

void MosquittoProcess::kill()
{
    end(true);
}

void MosquittoProcess::end(bool force)
{
    if (!m_process)
        return;
    m_stopping = true;
    if (m_process->state() != QProcess::NotRunning) {
        if (force)
            m_process->kill();
        else
            m_process->terminate();
        if (!m_process->waitForFinished(StopTimeoutMs) && !force) {
            m_process->kill();
            m_process->waitForFinished(StopTimeoutMs);
        }
    }
    delete m_process;
    m_process = nullptr;
    m_stopping = false;
}
