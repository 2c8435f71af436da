#include "brokerprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTcpServer>

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

} // namespace

BrokerProcess::BrokerProcess(QObject *parent) : QObject(parent) {}

BrokerProcess::~BrokerProcess()
{
    stop();
}

QString BrokerProcess::logPath() const
{
    return QDir(m_config.dataDir).filePath(QStringLiteral("broker.log"));
}

QString BrokerProcess::readLogFrom(qint64 offset) const
{
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QByteArray BrokerProcess::aclText(const QList<FleetStore::Gateway> &gateways)
{
    QByteArray acl = "# Written by tsl-devcloud after every registration; changes here are lost.\n"
                     "user console\n"
                     "topic read things/+/state\n"
                     "topic write things/+/update\n";
    for (const FleetStore::Gateway &gw : gateways) {
        acl += "\nuser " + gw.id.toUtf8() + '\n';
        QStringList ids{gw.id};
        for (const FleetStore::Device &d : gw.devices)
            ids << d.id;
        for (const QString &id : qAsConst(ids)) {
            acl += "topic write things/" + id.toUtf8() + "/state\n";
            acl += "topic read things/" + id.toUtf8() + "/update\n";
        }
    }
    return acl;
}

bool BrokerProcess::start(const Config &config, const QList<FleetStore::Gateway> &gateways)
{
    m_config = config;
    if (m_config.dataDir.contains(QLatin1Char('\n'))) {
        m_error = QStringLiteral("the data directory's name must not contain a line break");
        return false;
    }
    if (!writeFile(QDir(m_config.dataDir).filePath(QStringLiteral("broker.acl")), aclText(gateways))) {
        m_error = QStringLiteral("cannot write the broker's ACL file");
        return false;
    }
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

bool BrokerProcess::writeConfig()
{
    const QDir dir(m_config.dataDir);
    QStringList conf{
        QStringLiteral("# Written by tsl-devcloud at every start; changes here are lost."),
        QStringLiteral("persistence false"),
        QStringLiteral("log_dest stderr"),
        QStringLiteral("log_type error"),
        QStringLiteral("log_type warning"),
        QStringLiteral("log_type notice"),
        QStringLiteral("log_type information"),
        QStringLiteral("log_timestamp_format %Y-%m-%dT%H:%M:%S"),
        QStringLiteral("connection_messages true"),
        QStringLiteral("per_listener_settings false"),
        QStringLiteral("allow_anonymous false"),
        QStringLiteral("acl_file ") + dir.filePath(QStringLiteral("broker.acl")),
        QStringLiteral("listener %1 127.0.0.1").arg(m_port),
        QStringLiteral("cafile ") + m_config.caPath,
        QStringLiteral("certfile ") + m_config.certPath,
        QStringLiteral("keyfile ") + m_config.keyPath,
        QStringLiteral("require_certificate true"),
        QStringLiteral("use_identity_as_username true"),
    };
    // As root mosquitto would switch to the "mosquitto" user, which cannot read the data directory.
    if (::geteuid() == 0)
        conf << QStringLiteral("user root");
    return writeFile(dir.filePath(QStringLiteral("mosquitto.conf")),
                     conf.join(QLatin1Char('\n')).toUtf8() + '\n');
}

bool BrokerProcess::launch()
{
    stop();
    if (!writeConfig()) {
        m_error = QStringLiteral("cannot write the broker's configuration");
        return false;
    }
    const qint64 logStart = QFileInfo(logPath()).size();
    m_process = new ChildProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath(), QIODevice::Append);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->start(
        QStringLiteral("mosquitto"),
        {QStringLiteral("-c"), QDir(m_config.dataDir).filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("cannot start mosquitto: ") + m_process->errorString();
        stop();
        return false;
    }
    // mosquitto says "... running" once its listeners are open, or exits on a bad configuration.
    QElapsedTimer clock;
    clock.start();
    bool running = false;
    while (!running && clock.elapsed() < StartTimeoutMs) {
        if (m_process->waitForFinished(50))
            break;
        running = readLogFrom(logStart).contains(QLatin1String(" running"));
    }
    if (!running) {
        const QString log = readLogFrom(logStart).trimmed();
        m_error = QStringLiteral("mosquitto did not come up on port %1%2")
                      .arg(m_port)
                      .arg(log.isEmpty() ? QString() : QStringLiteral(":\n") + log);
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

bool BrokerProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool BrokerProcess::updateAcl(const QList<FleetStore::Gateway> &gateways)
{
    if (!writeFile(QDir(m_config.dataDir).filePath(QStringLiteral("broker.acl")), aclText(gateways))) {
        m_error = QStringLiteral("cannot write the broker's ACL file");
        return false;
    }
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

void BrokerProcess::stop()
{
    if (!m_process)
        return;
    m_stopping = true;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(StopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(StopTimeoutMs);
        }
    }
    delete m_process;
    m_process = nullptr;
    m_stopping = false;
}
