#include "httptestserver.h"

#include "httptestconnection.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>

namespace {

struct Credentials
{
    QSslCertificate certificate;
    QSslKey key;
    QString error;
};

// One certificate per process: making it costs an openssl run.
const Credentials &processCredentials()
{
    static const Credentials credentials = [] {
        Credentials c;
        QTemporaryDir dir;
        if (!dir.isValid()) {
            c.error = QStringLiteral("no temporary directory");
            return c;
        }
        const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
        const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"), QStringLiteral("-keyout"),
                       keyPath, QStringLiteral("-out"), certPath});
        if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0) {
            c.error = QStringLiteral("openssl failed: %1 %2")
                          .arg(openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
            return c;
        }
        QFile keyFile(keyPath), certFile(certPath);
        if (!keyFile.open(QIODevice::ReadOnly) || !certFile.open(QIODevice::ReadOnly)) {
            c.error = QStringLiteral("cannot read the made certificate");
            return c;
        }
        c.key = QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
        c.certificate = QSslCertificate(certFile.readAll(), QSsl::Pem);
        if (c.key.isNull() || c.certificate.isNull())
            c.error = QStringLiteral("cannot load the made certificate");
        return c;
    }();
    return credentials;
}

} // namespace

HttpTestServer::HttpTestServer(QObject *parent)
    : QTcpServer(parent), m_fallback(HttpScriptedResponse::text(404, "not found\n"))
{
}

HttpTestServer::~HttpTestServer()
{
    close();
    const auto connections = m_connections;
    m_connections.clear();
    qDeleteAll(connections);
}

bool HttpTestServer::start()
{
    m_tls = false;
    return listenLoopback();
}

bool HttpTestServer::startTls()
{
    if (!QSslSocket::supportsSsl()) {
        m_error = QStringLiteral("no TLS support");
        return false;
    }
    const Credentials &c = processCredentials();
    if (!c.error.isEmpty()) {
        m_error = c.error;
        return false;
    }
    m_certificate = c.certificate;
    m_key = c.key;
    m_tls = true;
    return listenLoopback();
}

bool HttpTestServer::listenLoopback()
{
    if (!listen(QHostAddress::LocalHost, 0)) {
        m_error = errorString();
        return false;
    }
    return true;
}

QUrl HttpTestServer::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(serverPort())
                    .arg(pathAndQuery));
}

void HttpTestServer::setResponse(const QString &path, const HttpScriptedResponse &response)
{
    m_responses.insert(path, response);
}

void HttpTestServer::setFallback(const HttpScriptedResponse &response)
{
    m_fallback = response;
}

void HttpTestServer::closeConnections()
{
    const auto connections = m_connections;
    for (HttpTestConnection *c : connections)
        c->closeNow();
}

void HttpTestServer::trustCertificate(const QSslCertificate &certificate)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> cas = config.caCertificates();
    if (cas.contains(certificate))
        return;
    cas.append(certificate);
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);
}

void HttpTestServer::incomingConnection(qintptr handle)
{
    QTcpSocket *socket = nullptr;
    if (m_tls) {
        auto *ssl = new QSslSocket;
        if (!ssl->setSocketDescriptor(handle)) {
            delete ssl;
            return;
        }
        ssl->setLocalCertificate(m_certificate);
        ssl->setPrivateKey(m_key);
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
    }

    auto *connection = new HttpTestConnection(
        socket, [this](const HttpRecordedRequest &r) { return responseFor(r); }, this);
    m_connections.append(connection);
    connect(connection, &HttpTestConnection::requestReceived, this, [this](const HttpRecordedRequest &r) {
        m_requests.append(r);
        emit requestReceived(r);
    });
    connect(connection, &HttpTestConnection::responseDone, this, &HttpTestServer::responseDone);
    connect(connection, &HttpTestConnection::closed, this, [this, connection] {
        m_connections.removeOne(connection);
        connection->deleteLater();
        emit connectionClosed();
    });
}

HttpScriptedResponse HttpTestServer::responseFor(const HttpRecordedRequest &request) const
{
    return m_responses.value(request.path, m_fallback);
}
