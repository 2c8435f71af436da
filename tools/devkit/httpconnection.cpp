#include "httpconnection.h"

#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <sys/socket.h>

HttpConnection::HttpConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent), m_socket(socket), m_timeout(new QTimer(this))
{
    m_socket->setParent(this);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        if (!m_answered)
            fail(408, QStringLiteral("The request took too long"));
    });
    m_timeout->start(RequestTimeoutMs);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readData);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_closed) {
            m_closed = true;
            emit closed();
        }
        deleteLater();
    });
}

QByteArray HttpConnection::reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

bool HttpConnection::isOpen() const
{
    return !m_closed && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool HttpConnection::peerHungUp() const
{
    if (!isOpen())
        return true;
    // The event loop may not have seen the end of the connection yet; the kernel has.
    char c;
    const ssize_t n = ::recv(int(m_socket->socketDescriptor()), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void HttpConnection::readData()
{
    if (m_answered || m_closed) {
        // Nothing more is expected on this connection; do not let it pile up.
        m_socket->readAll();
        return;
    }
    m_buffer += m_socket->read(MaxRequestSize + 1 - m_buffer.size());
    if (m_headLength < 0) {
        int end = m_buffer.indexOf("\r\n\r\n");
        int sep = 4;
        const int bare = m_buffer.indexOf("\n\n");
        if (bare >= 0 && (end < 0 || bare < end)) {
            end = bare;
            sep = 2;
        }
        if (end < 0) {
            if (m_buffer.size() > MaxRequestSize)
                fail(413, QStringLiteral("The request is too large"));
            return;
        }
        if (!parseHead(m_buffer.left(end)))
            return;
        m_headLength = end + sep;
    }
    // Compared without adding: a Content-Length near the top of qint64 would overflow the sum.
    if (m_bodyLength > MaxRequestSize - m_headLength) {
        fail(413, QStringLiteral("The request is too large"));
        return;
    }
    if (m_buffer.size() < m_headLength + m_bodyLength) {
        if (m_buffer.size() > MaxRequestSize)
            fail(413, QStringLiteral("The request is too large"));
        return;
    }
    m_body = m_buffer.mid(m_headLength, int(m_bodyLength));
    m_buffer.clear();
    m_timeout->stop();
    m_answered = true;
    emit requestReady(this);
}

bool HttpConnection::parseHead(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> requestLine = lines.value(0).split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty()) {
        fail(400, QStringLiteral("Malformed request line"));
        return false;
    }
    if (!requestLine[2].startsWith("HTTP/1.")) {
        fail(505, QStringLiteral("Only HTTP/1.x is spoken here"));
        return false;
    }
    for (const char c : requestLine[0]) {
        if (c < 'A' || c > 'Z') {
            fail(400, QStringLiteral("Malformed method"));
            return false;
        }
    }
    m_method = QString::fromLatin1(requestLine[0]);
    m_target = requestLine[1];
    const QUrl url = QUrl::fromEncoded(requestLine[1], QUrl::StrictMode);
    if (!url.isValid() || !requestLine[1].startsWith('/')) {
        fail(400, QStringLiteral("Malformed request target"));
        return false;
    }
    m_path = url.path();
    m_query = QUrlQuery(url);

    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon <= 0) {
            fail(400, QStringLiteral("Malformed header line"));
            return false;
        }
        m_headers.append(qMakePair(lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()));
    }
    if (!header("transfer-encoding").isNull()) {
        fail(501, QStringLiteral("Chunked request bodies are not supported"));
        return false;
    }
    m_bodyLength = 0;
    const QByteArray value = header("content-length");
    if (!value.isNull()) {
        bool ok = false;
        m_bodyLength = value.toLongLong(&ok);
        if (!ok || m_bodyLength < 0 || value.startsWith('+')) {
            fail(400, QStringLiteral("Malformed Content-Length"));
            return false;
        }
    }
    return true;
}

QByteArray HttpConnection::header(const QByteArray &name) const
{
    for (auto it = m_headers.crbegin(); it != m_headers.crend(); ++it) {
        if (it->first.compare(name, Qt::CaseInsensitive) == 0)
            return it->second;
    }
    return {};
}

QUrlQuery HttpConnection::formFields() const
{
    QByteArray text = m_body;
    // In a form body "+" stands for a space; QUrlQuery only knows "%20".
    text.replace('+', "%20");
    return QUrlQuery(QString::fromUtf8(text));
}

void HttpConnection::writeHead(int status, const QByteArray &contentType, qint64 length)
{
    Headers headers{{"Content-Type", contentType}};
    if (length >= 0)
        headers.append(qMakePair(QByteArrayLiteral("Content-Length"), QByteArray::number(length)));
    headers.append(qMakePair(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache")));
    beginResponse(status, reason(status), headers);
}

void HttpConnection::beginResponse(int status, const QByteArray &reason, const Headers &headers)
{
    m_answered = true;
    if (m_closed)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    for (const auto &h : headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_socket->write(head);
}

void HttpConnection::respond(int status, const QByteArray &contentType, const QByteArray &body)
{
    m_answered = true;
    if (m_closed)
        return;
    writeHead(status, contentType, body.size());
    m_socket->write(body);
    finish();
}

void HttpConnection::respondError(int status, const QString &message)
{
    const QByteArray text = QByteArray::number(status) + ' ' + reason(status) +
                            (message.isEmpty() ? QByteArray() : ": " + message.toUtf8()) + '\n';
    respond(status, "text/plain; charset=utf-8", text);
}

void HttpConnection::fail(int status, const QString &message)
{
    m_timeout->stop();
    m_socket->readAll();
    respondError(status, message);
}

void HttpConnection::beginStream(const QByteArray &contentType)
{
    m_answered = true;
    if (m_closed)
        return;
    writeHead(200, contentType, -1);
}

void HttpConnection::sendChunk(const QByteArray &data)
{
    if (isOpen())
        m_socket->write(data);
}

void HttpConnection::finish()
{
    if (m_closed)
        return;
    m_closed = true;
    m_timeout->stop();
    emit closed();
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        deleteLater();
        return;
    }
    if (qobject_cast<QSslSocket *>(m_socket)) {
        // TLS ends with its own close_notify after the rest is encrypted and sent; the descriptor
        // must not be shut down below it.
        m_socket->disconnectFromHost();
        abortAfterFlushTimeout();
        return;
    }
    // A lingering close: send the rest, then end our direction only and discard whatever the
    // peer still sends until it closes too. Closing outright with unread input would reset the
    // connection and could destroy the answer before the peer has read it (a refused oversized
    // request, for instance). A peer that never closes is cut off after a while.
    if (m_socket->bytesToWrite() == 0)
        shutdownWrite();
    else
        connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_socket->bytesToWrite() == 0)
                shutdownWrite();
        });
    abortAfterFlushTimeout();
}

void HttpConnection::abortAfterFlushTimeout()
{
    // A timer of our own goes with us: a connection that ends sooner leaves nothing behind, where
    // a single shot would stay registered for the whole timeout after every connection.
    auto *flush = new QTimer(this);
    flush->setSingleShot(true);
    connect(flush, &QTimer::timeout, this, [this] {
        m_socket->abort();
        deleteLater();
    });
    flush->start(FlushTimeoutMs);
}

void HttpConnection::shutdownWrite()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
}
