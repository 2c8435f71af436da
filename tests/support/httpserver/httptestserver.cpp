#include "httptestserver.h"

#include "certificateauthority.h"
#include "httpconnection.h"
#include "httpserver.h"
#include "httptestconnection.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace {

struct Credentials
{
    QSslCertificate certificate;
    QSslKey key;
    QString error;
};

// One certificate per process.
const Credentials &processCredentials()
{
    static const Credentials credentials = [] {
        Credentials c;
        const CertificateAuthority::Credentials made = CertificateAuthority::selfSigned(
            {QStringLiteral("localhost"), CertificateAuthority::Server, CertificateAuthority::Ec,
             QStringLiteral("DNS:localhost,IP:127.0.0.1"), 2},
            &c.error);
        if (made.isNull())
            return c;
        c.key = QSslKey(made.keyPem, QSsl::Ec, QSsl::Pem);
        c.certificate = QSslCertificate(made.certPem, QSsl::Pem);
        if (c.key.isNull() || c.certificate.isNull())
            c.error = QStringLiteral("cannot load the made certificate");
        return c;
    }();
    return credentials;
}

} // namespace

HttpTestServer::HttpTestServer(QObject *parent)
    : QObject(parent), m_fallback(HttpScriptedResponse::text(404, "not found\n")),
      m_http(new HttpServer(this))
{
    connect(m_http, &HttpServer::requestReady, this, &HttpTestServer::answer);
    connect(m_http, &HttpServer::connectionClosed, this, &HttpTestServer::connectionClosed);
}

HttpTestServer::~HttpTestServer() = default;

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
    m_http->setTlsIdentity(m_certificate, m_key);
    return listenLoopback();
}

bool HttpTestServer::listenLoopback()
{
    if (!m_http->listen(0)) {
        m_error = m_http->errorString();
        return false;
    }
    return true;
}

void HttpTestServer::close()
{
    m_http->close();
}

QUrl HttpTestServer::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_http->port())
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

int HttpTestServer::openConnections() const
{
    return m_http->openConnections();
}

void HttpTestServer::closeConnections()
{
    m_http->closeConnections();
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

void HttpTestServer::answer(HttpConnection *connection)
{
    HttpRecordedRequest request;
    request.method = connection->method().toLatin1();
    request.target = connection->target();
    request.path = connection->path();
    request.query = connection->query();
    request.headers = connection->headers();
    request.body = connection->body();
    m_requests.append(request);
    emit requestReceived(request);

    auto *player = new HttpTestConnection(connection, m_responses.value(request.path, m_fallback));
    connect(player, &HttpTestConnection::responseDone, this, &HttpTestServer::responseDone);
    player->start();
}
