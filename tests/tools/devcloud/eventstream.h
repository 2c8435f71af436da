#pragma once

#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

class QNetworkReply;

// A GET whose answer is read as an event stream: the events "event: X" / "data: {...}" in the
// order they arrived, and whether the server ended the stream.
class EventStream
{
public:
    struct Event
    {
        QString name;
        QJsonObject data;
    };

    EventStream(QNetworkAccessManager *nam, const QUrl &url);
    ~EventStream();

    // Run the event loop until there are count events or the stream ended.
    bool waitForEvents(int count, int timeoutMs = 10000);
    bool waitForEnd(int timeoutMs = 10000);

    QList<Event> events() const { return m_events; }
    Event event(int i) const { return m_events.value(i); }
    bool ended() const { return m_ended; }
    QString contentType() const;
    int status() const;
    // Names of the events, for readable comparisons.
    QStringList names() const;

    EventStream(const EventStream &) = delete;
    EventStream &operator=(const EventStream &) = delete;

private:
    void parse();

    QNetworkReply *m_reply;
    QByteArray m_buffer;
    QList<Event> m_events;
    bool m_ended = false;
};
