#include "mosquittobroker.h"

#include "eventwait.h"

#include <QFile>
#include <QProcess>

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
    MosquittoProcess::Config config;
    if (!configure(&config))
        return false;
    const bool ok = m_process.start(config);
    m_error = m_process.errorString();
    return ok;
}

bool MosquittoBroker::restart()
{
    if (m_process.port() == 0)
        return start();
    const bool ok = m_process.restart();
    m_error = m_process.errorString();
    return ok;
}

bool MosquittoBroker::configure(MosquittoProcess::Config *config)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    TestPki &pki = TestPki::instance();
    const TestPki::Identity server = pki.server(m_options.certificate);
    if (!pki.isValid() || server.isNull()) {
        m_error = pki.errorString();
        return false;
    }
    config->directory = m_dir.path();
    config->logPath = logPath();
    config->caPath = pki.caPath();
    config->certPath = server.certPath;
    config->keyPath = server.keyPath;
    if (m_options.requirePassword) {
        config->passwordPath = m_dir.filePath(QStringLiteral("passwords"));
        QProcess tool;
        tool.start(QStringLiteral("mosquitto_passwd"),
                   {QStringLiteral("-c"), QStringLiteral("-b"), config->passwordPath,
                    QStringLiteral("someone"), QStringLiteral("secret")});
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed: ") +
                      QString::fromLocal8Bit(tool.readAllStandardError());
            return false;
        }
    }
    if (!m_options.acl.isEmpty()) {
        config->aclPath = m_dir.filePath(QStringLiteral("acl"));
        QFile acl(config->aclPath);
        const QByteArray text = m_options.acl.toUtf8() + '\n';
        if (!acl.open(QIODevice::WriteOnly | QIODevice::Truncate) || acl.write(text) != text.size()) {
            m_error = QStringLiteral("cannot write the ACL file");
            return false;
        }
    }
    return true;
}

void MosquittoBroker::stop()
{
    m_process.stop();
}

void MosquittoBroker::kill()
{
    m_process.kill();
}

QStringList MosquittoBroker::clientArguments() const
{
    const TestPki::Identity id = TestPki::instance().client(clientName());
    return {QStringLiteral("-h"),       QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"),       QString::number(port()),
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
