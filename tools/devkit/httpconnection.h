#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrlQuery>

class QTcpSocket;
class QTimer;

// One HTTP/1.1 request on one connection (no keep-alive): reads and checks the request within a
// size limit, then lets its handler answer once, either with a whole response or as a stream that
// stays open until the handler closes it (server-sent events, for instance). Every answer carries
// "Connection: close". Deletes itself when the connection ends. The socket may be a QSslSocket.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // Head and body together; larger requests are answered with 413.
    static constexpr int MaxRequestSize = 64 * 1024;
    // A client that has not sent its whole request by then is answered with 408.
    static constexpr int RequestTimeoutMs = 15000;
    // Time the peer gets to take the rest of the answer once it is complete.
    static constexpr int FlushTimeoutMs = 10000;

    HttpConnection(QTcpSocket *socket, QObject *parent);

    QString method() const { return m_method; }
    // The request target exactly as sent, e.g. "/events?doc=ab%3D".
    QByteArray target() const { return m_target; }
    // Decoded path and query of the target.
    QString path() const { return m_path; }
    QUrlQuery query() const { return m_query; }
    // The value of the last header of that name (any case), or a null array.
    QByteArray header(const QByteArray &name) const;
    // All headers in arrival order, names as sent.
    Headers headers() const { return m_headers; }
    QByteArray body() const { return m_body; }
    // Form fields of an application/x-www-form-urlencoded body.
    QUrlQuery formFields() const;

    void respond(int status, const QByteArray &contentType, const QByteArray &body);
    // Plain-text error page with the status's reason.
    void respondError(int status, const QString &message = QString());
    // 200 with this Content-Type and no length: the body is what sendChunk() sends until finish().
    void beginStream(const QByteArray &contentType);
    // A status line with headers of the caller's choice; the body follows with sendChunk().
    void beginResponse(int status, const QByteArray &reason, const Headers &headers);
    void sendChunk(const QByteArray &data);
    // Ends the response, and the connection once everything written is sent.
    void finish();
    bool isOpen() const;
    // True when the peer has closed or reset the connection, even if the event loop has not
    // delivered that yet.
    bool peerHungUp() const;

    static QByteArray reason(int status);

signals:
    // The request is complete and valid; the receiver must answer it.
    void requestReady(HttpConnection *connection);
    // The connection ended (by the peer or by finish()); the object is deleted soon after.
    void closed();

private:
    void readData();
    bool parseHead(const QByteArray &head);
    void fail(int status, const QString &message);
    void writeHead(int status, const QByteArray &contentType, qint64 length);
    void shutdownWrite();
    void abortAfterFlushTimeout();

    QTcpSocket *m_socket;
    QTimer *m_timeout;
    QByteArray m_buffer;
    QString m_method;
    QByteArray m_target;
    QString m_path;
    QUrlQuery m_query;
    Headers m_headers;
    QByteArray m_body;
    qint64 m_bodyLength = -1;
    int m_headLength = -1;
    bool m_answered = false;
    bool m_closed = false;
    bool m_shutDown = false;
};
