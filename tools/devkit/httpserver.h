#pragma once

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>

class HttpConnection;
class QTcpServer;

// HTTP on 127.0.0.1 only, or HTTPS once it has a certificate and key. Each accepted connection
// becomes an HttpConnection; complete requests are handed out through requestReady.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    // Connections beyond this are answered with 503 at once.
    static constexpr int MaxConnections = 128;

    explicit HttpServer(QObject *parent = nullptr);

    // Connections accepted from now on speak TLS with this identity.
    void setTlsIdentity(const QSslCertificate &certificate, const QSslKey &key);
    bool isTls() const { return !m_certificate.isNull(); }

    // 0: any free port.
    bool listen(quint16 port);
    // Stops listening; open connections go on.
    void close();
    quint16 port() const;
    QString errorString() const;

    // Connections accepted and not yet closed by either side.
    int openConnections() const;
    // Ends every open connection after what was written to it, e.g. streams that stay open.
    void closeConnections();

signals:
    void requestReady(HttpConnection *connection);
    // A connection was closed, by the peer or by its answer's end.
    void connectionClosed();

private:
    void accept(qintptr descriptor);

    QTcpServer *m_server;
    QSslCertificate m_certificate;
    QSslKey m_key;
    // Until they are deleted, which may be a while after they closed.
    QList<HttpConnection *> m_connections;
};
