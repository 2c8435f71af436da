#include "httptestconnection.h"

#include "httpconnection.h"

HttpTestConnection::HttpTestConnection(HttpConnection *connection, const HttpScriptedResponse &response)
    : QObject(connection), m_connection(connection), m_response(response)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpTestConnection::writeNext);
    // A connection ended by either side takes no more chunks.
    connect(m_connection, &HttpConnection::closed, &m_timer, &QTimer::stop);
}

void HttpTestConnection::start()
{
    HttpConnection::Headers headers = m_response.headers;
    if (m_response.chunked)
        headers.prepend(qMakePair(QByteArrayLiteral("Transfer-Encoding"), QByteArrayLiteral("chunked")));
    m_connection->beginResponse(m_response.status, m_response.reason, headers);
    if (m_response.chunks.isEmpty())
        writeNext();
    else
        m_timer.start(m_response.chunks.first().delayMs);
}

void HttpTestConnection::writeNext()
{
    if (m_nextChunk < m_response.chunks.size()) {
        const QByteArray &bytes = m_response.chunks.at(m_nextChunk++).bytes;
        if (!m_response.chunked)
            m_connection->sendChunk(bytes);
        else if (!bytes.isEmpty()) // an empty chunk would end the body
            m_connection->sendChunk(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    }
    if (m_nextChunk < m_response.chunks.size()) {
        m_timer.start(m_response.chunks.at(m_nextChunk).delayMs);
        return;
    }
    if (m_response.chunked && !m_response.keepOpen)
        m_connection->sendChunk("0\r\n\r\n");
    emit responseDone();
    if (!m_response.keepOpen)
        m_connection->finish(); // after what is still buffered
}
