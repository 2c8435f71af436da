#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUrlQuery>

class QTcpSocket;
class QTimer;

// One HTTP/1.1 request on one connection (no keep-alive): reads and checks the request within a
// size limit, then lets its handler answer once, either with a whole response or as a stream that
// stays open until the handler closes it. Deletes itself when the connection ends.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    // Head and body together; larger requests are answered with 413.
    static constexpr int MaxRequestSize = 64 * 1024;
    // A client that has not sent its whole request by then is answered with 408.
    static constexpr int RequestTimeoutMs = 15000;
    // Time the peer gets to take the rest of the answer once it is complete.
    static constexpr int FlushTimeoutMs = 10000;

    HttpConnection(QTcpSocket *socket, QObject *parent);

    QString method() const { return m_method; }
    QString path() const { return m_path; }
    QUrlQuery query() const { return m_query; }
    QByteArray header(const QByteArray &lowerCaseName) const { return m_headers.value(lowerCaseName); }
    QByteArray body() const { return m_body; }
    // Form fields of an application/x-www-form-urlencoded body.
    QUrlQuery formFields() const;

    void respond(int status, const QByteArray &contentType, const QByteArray &body);
    // Plain-text error page with the status's reason.
    void respondError(int status, const QString &message = QString());
    void beginStream(const QByteArray &contentType);
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

    QTcpSocket *m_socket;
    QTimer *m_timeout;
    QByteArray m_buffer;
    QString m_method;
    QString m_path;
    QUrlQuery m_query;
    QHash<QByteArray, QByteArray> m_headers;
    QByteArray m_body;
    qint64 m_bodyLength = -1;
    int m_headLength = -1;
    bool m_answered = false;
    bool m_closed = false;
    bool m_shutDown = false;
};
