#include "httpserver.h"

#include "httpconnection.h"

#include <QSslSocket>
#include <QTcpServer>

#include <functional>

namespace {

// Hands the descriptors of accepted connections to its owner, who makes the socket: a plain one
// or a TLS one.
class Listener : public QTcpServer
{
public:
    Listener(std::function<void(qintptr)> accept, QObject *parent)
        : QTcpServer(parent), m_accept(std::move(accept))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_accept(descriptor); }

private:
    std::function<void(qintptr)> m_accept;
};

} // namespace

HttpServer::HttpServer(QObject *parent)
    : QObject(parent), m_server(new Listener([this](qintptr descriptor) { accept(descriptor); }, this))
{
}

void HttpServer::setTlsIdentity(const QSslCertificate &certificate, const QSslKey &key)
{
    m_certificate = certificate;
    m_key = key;
}

bool HttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void HttpServer::close()
{
    m_server->close();
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QString HttpServer::errorString() const
{
    return m_server->errorString();
}

int HttpServer::openConnections() const
{
    return int(std::count_if(m_connections.cbegin(), m_connections.cend(),
                             [](const HttpConnection *c) { return c->isOpen(); }));
}

void HttpServer::closeConnections()
{
    const auto connections = m_connections;
    for (HttpConnection *c : connections)
        c->finish();
}

void HttpServer::accept(qintptr descriptor)
{
    QTcpSocket *socket = isTls() ? new QSslSocket : new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        ssl->setLocalCertificate(m_certificate);
        ssl->setPrivateKey(m_key);
        ssl->startServerEncryption();
    }
    auto *connection = new HttpConnection(socket, this);
    if (m_connections.size() >= MaxConnections) {
        connection->respondError(503, QStringLiteral("Too many connections"));
        return;
    }
    m_connections.append(connection);
    connect(connection, &QObject::destroyed, this,
            [this, connection] { m_connections.removeOne(connection); });
    connect(connection, &HttpConnection::requestReady, this, &HttpServer::requestReady);
    connect(connection, &HttpConnection::closed, this, &HttpServer::connectionClosed);
}
