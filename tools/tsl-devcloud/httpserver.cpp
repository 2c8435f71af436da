#include "httpserver.h"

#include "httpconnection.h"

#include <QTcpServer>
#include <QTcpSocket>

HttpServer::HttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
}

bool HttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QString HttpServer::errorString() const
{
    return m_server->errorString();
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *connection = new HttpConnection(socket, this);
        if (m_open >= MaxConnections) {
            connection->respondError(503, QStringLiteral("Too many connections"));
            continue;
        }
        ++m_open;
        connect(connection, &QObject::destroyed, this, [this] { --m_open; });
        connect(connection, &HttpConnection::requestReady, this, &HttpServer::requestReady);
    }
}
