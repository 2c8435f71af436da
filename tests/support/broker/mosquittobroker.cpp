#include "mosquittobroker.h"

#include "eventwait.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

MosquittoBroker::MosquittoBroker() : MosquittoBroker(Options()) {}

MosquittoBroker::MosquittoBroker(const Options &options) : m_options(options) {}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

QString MosquittoBroker::logPath() const
{
    return m_dir.filePath(QStringLiteral("mosquitto.log"));
}

QString MosquittoBroker::log() const
{
    QFile f(logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool MosquittoBroker::start()
{
    m_port = freePort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free port");
        return false;
    }
    return launch();
}

bool MosquittoBroker::restart()
{
    if (m_port == 0)
        return start();
    return launch();
}

bool MosquittoBroker::writeConfig()
{
    TestPki &pki = TestPki::instance();
    const TestPki::Identity server = pki.server(m_options.certificate);
    if (!pki.isValid() || server.isNull()) {
        m_error = pki.errorString();
        return false;
    }
    QStringList conf{
        QStringLiteral("persistence false"),
        QStringLiteral("log_dest stderr"),
        QStringLiteral("log_type error"),
        QStringLiteral("log_type warning"),
        QStringLiteral("log_type notice"),
        QStringLiteral("log_type information"),
        QStringLiteral("connection_messages true"),
        QStringLiteral("allow_anonymous false"),
        QStringLiteral("listener %1 127.0.0.1").arg(m_port),
        QStringLiteral("cafile ") + pki.caPath(),
        QStringLiteral("certfile ") + server.certPath,
        QStringLiteral("keyfile ") + server.keyPath,
        QStringLiteral("require_certificate true"),
    };
    // As root mosquitto would switch to the "mosquitto" user, which cannot read our files.
    if (geteuid() == 0)
        conf << QStringLiteral("user root");
    if (m_options.requirePassword) {
        const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
        QProcess tool;
        tool.start(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-c"), QStringLiteral("-b"), passwords,
                                                        QStringLiteral("someone"), QStringLiteral("secret")});
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed: ") +
                      QString::fromLocal8Bit(tool.readAllStandardError());
            return false;
        }
        conf << QStringLiteral("password_file ") + passwords;
    } else {
        conf << QStringLiteral("use_identity_as_username true");
    }
    if (!m_options.acl.isEmpty()) {
        const QString acl = m_dir.filePath(QStringLiteral("acl"));
        if (!writeFile(acl, m_options.acl.toUtf8() + '\n')) {
            m_error = QStringLiteral("cannot write the ACL file");
            return false;
        }
        conf << QStringLiteral("acl_file ") + acl;
    }
    if (!writeFile(m_dir.filePath(QStringLiteral("mosquitto.conf")),
                   conf.join(QLatin1Char('\n')).toUtf8() + '\n')) {
        m_error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

bool MosquittoBroker::launch()
{
    stop();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    if (!writeConfig())
        return false;
    // Every run appends its own block to the log; the end of this run's block is what we wait for.
    const int logStart = log().size();
    m_process = new QProcess;
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath(), QIODevice::Append);
    m_process->start(QStringLiteral("mosquitto"),
                     {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start mosquitto: ") + m_process->errorString();
        stop();
        return false;
    }
    const bool ready = waitUntil(
        [&] { return !isRunning() || log().mid(logStart).contains(QLatin1String(" running")); }, 10000);
    if (!ready || !isRunning()) {
        m_error =
            QStringLiteral("mosquitto did not come up on port %1:\n%2").arg(m_port).arg(log().mid(logStart));
        stop();
        return false;
    }
    return true;
}

bool MosquittoBroker::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void MosquittoBroker::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    delete m_process;
    m_process = nullptr;
}

void MosquittoBroker::kill()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    delete m_process;
    m_process = nullptr;
}

QStringList MosquittoBroker::clientArguments() const
{
    const TestPki::Identity id = TestPki::instance().client(clientName());
    return {QStringLiteral("-h"),       QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"),       QString::number(m_port),
            QStringLiteral("--cafile"), TestPki::instance().caPath(),
            QStringLiteral("--cert"),   id.certPath,
            QStringLiteral("--key"),    id.keyPath};
}

bool MosquittoBroker::publish(const QString &topic, const QByteArray &payload)
{
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"), clientArguments()
                                                   << QStringLiteral("-q") << QStringLiteral("0")
                                                   << QStringLiteral("-t") << topic << QStringLiteral("-s"));
    if (!pub.waitForStarted(5000))
        return false;
    pub.write(payload);
    pub.closeWriteChannel();
    // Keep this thread's event loop going: the client under test may be talking to the broker.
    const bool done = waitUntil([&] { return pub.state() == QProcess::NotRunning; }, 10000);
    if (!done) {
        pub.kill();
        pub.waitForFinished(1000);
        return false;
    }
    return pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}
