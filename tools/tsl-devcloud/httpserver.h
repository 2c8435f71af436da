#pragma once

#include <QObject>

class HttpConnection;
class QTcpServer;

// Plain HTTP on 127.0.0.1 only. Each accepted connection becomes an HttpConnection; complete
// requests are handed out through requestReady.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    // Connections beyond this are answered with 503 at once.
    static constexpr int MaxConnections = 128;

    explicit HttpServer(QObject *parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const;
    QString errorString() const;

signals:
    void requestReady(HttpConnection *connection);

private:
    void acceptConnections();

    QTcpServer *m_server;
    int m_open = 0;
};
