#include "httptestconnection.h"

#include <QTcpSocket>
#include <QUrl>

namespace {
constexpr int MaxHeadSize = 64 * 1024;
}

HttpTestConnection::HttpTestConnection(QTcpSocket *socket, Responder responder, QObject *parent)
    : QObject(parent), m_socket(socket), m_responder(std::move(responder))
{
    m_socket->setParent(this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpTestConnection::writeNext);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpTestConnection::readRequest);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_timer.stop();
        emit closed();
    });
}

HttpTestConnection::~HttpTestConnection()
{
    m_timer.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
}

void HttpTestConnection::closeNow()
{
    m_timer.stop();
    m_socket->disconnectFromHost();
}

void HttpTestConnection::readRequest()
{
    m_input += m_socket->readAll();
    if (m_answered)
        return; // one request per connection; anything after it is ignored
    if (m_bodyLength < 0) {
        const int end = m_input.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_input.size() > MaxHeadSize)
                m_socket->abort();
            return;
        }
        if (!parseHead(m_input.left(end))) {
            m_socket->abort();
            return;
        }
        m_input.remove(0, end + 4);
    }
    if (m_input.size() < m_bodyLength)
        return;
    m_request.body = m_input.left(m_bodyLength);
    m_input.clear();
    m_answered = true;

    emit requestReceived(m_request);
    m_response = m_responder(m_request);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' + m_response.reason + "\r\n";
    head += "Connection: close\r\n";
    if (m_response.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    for (const auto &h : m_response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    m_socket->write(head);
    m_nextChunk = 0;
    if (m_response.chunks.isEmpty())
        writeNext();
    else
        m_timer.start(m_response.chunks.first().delayMs);
}

bool HttpTestConnection::parseHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    m_request.method = requestLine.at(0);
    m_request.target = requestLine.at(1);
    const QUrl url(QString::fromLatin1(m_request.target), QUrl::StrictMode);
    if (!url.isValid())
        return false;
    m_request.path = url.path(QUrl::FullyDecoded);
    m_request.query = QUrlQuery(url);
    m_bodyLength = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        m_request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            m_bodyLength = value.toInt(&ok);
            if (!ok || m_bodyLength < 0 || m_bodyLength > MaxHeadSize)
                return false;
        }
    }
    return true;
}

void HttpTestConnection::writeNext()
{
    if (m_nextChunk < m_response.chunks.size()) {
        const QByteArray &bytes = m_response.chunks.at(m_nextChunk++).bytes;
        if (!m_response.chunked)
            m_socket->write(bytes);
        else if (!bytes.isEmpty()) // an empty chunk would end the body
            m_socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    }
    if (m_nextChunk < m_response.chunks.size()) {
        m_timer.start(m_response.chunks.at(m_nextChunk).delayMs);
        return;
    }
    if (m_response.chunked && !m_response.keepOpen)
        m_socket->write("0\r\n\r\n");
    emit responseDone();
    if (!m_response.keepOpen)
        m_socket->disconnectFromHost(); // flushes what is still buffered first
}
