#include "eventstream.h"

#include "eventwait.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

EventStream::EventStream(QNetworkAccessManager *nam, const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_reply = nam->get(request);
    QObject::connect(m_reply, &QNetworkReply::readyRead, [this] { parse(); });
    QObject::connect(m_reply, &QNetworkReply::finished, [this] {
        parse();
        m_ended = true;
    });
}

EventStream::~EventStream()
{
    m_reply->disconnect();
    m_reply->abort();
    delete m_reply;
}

void EventStream::parse()
{
    m_buffer += m_reply->readAll();
    int end;
    while ((end = m_buffer.indexOf("\n\n")) >= 0) {
        const QByteArray block = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        Event e;
        for (const QByteArray &line : block.split('\n')) {
            if (line.startsWith("event:"))
                e.name = QString::fromUtf8(line.mid(6).trimmed());
            else if (line.startsWith("data:"))
                e.data = QJsonDocument::fromJson(line.mid(5).trimmed()).object();
        }
        m_events.append(e);
    }
}

bool EventStream::waitForEvents(int count, int timeoutMs)
{
    return waitUntil([&] { return m_events.size() >= count || m_ended; }, timeoutMs) &&
           m_events.size() >= count;
}

bool EventStream::waitForEnd(int timeoutMs)
{
    return waitUntil([&] { return m_ended; }, timeoutMs);
}

QString EventStream::contentType() const
{
    return m_reply->header(QNetworkRequest::ContentTypeHeader).toString();
}

int EventStream::status() const
{
    return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QStringList EventStream::names() const
{
    QStringList out;
    for (const Event &e : m_events)
        out << e.name;
    return out;
}
