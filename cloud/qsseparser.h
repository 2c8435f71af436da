#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class QTextDecoder;

// Incremental parser of a text/event-stream body. Blocks of bytes go in as they arrive from the
// network; complete events come out. Holds everything a stream accumulates between blocks: the
// decoder state (a UTF-8 sequence split between blocks survives), the unfinished line, the event
// being assembled, the last event id and the retry value.
class QSSEParser
{
public:
    struct Event
    {
        QString event;
        QString data;
        QString id;
    };

    // A line longer than this many characters is dropped up to its line end, so a server that
    // never ends a line cannot make the buffer grow without bound.
    static constexpr int MaxLineLength = 1024 * 1024;
    // An event whose data grows beyond this many characters before its blank line is dropped
    // whole, for the same reason.
    static constexpr int MaxDataLength = 8 * 1024 * 1024;
    static constexpr int DefaultRetry = 3000;

    // Other limits than the defaults serve tests and fuzzing, which would otherwise need megabytes
    // of input to reach them.
    explicit QSSEParser(int maxLineLength = MaxLineLength, int maxDataLength = MaxDataLength);
    ~QSSEParser();
    QSSEParser(const QSSEParser &) = delete;
    QSSEParser &operator=(const QSSEParser &) = delete;

    // Forgets everything of the previous stream.
    void reset();
    // Decodes one block (up to its first NUL byte) and returns the events it completed, in order.
    QVector<Event> feed(const QByteArray &block);

    QString lastEventId() const { return m_lastEventId; }
    int retry() const { return m_retry; }
    int maxLineLength() const { return m_maxLineLength; }
    int maxDataLength() const { return m_maxDataLength; }
    // Characters held for the line not yet ended.
    int pendingLength() const { return m_line.size(); }

private:
    void appendToLine(const QChar *text, int length);
    void endLine(QVector<Event> &events);
    void processLine(const QString &line, QVector<Event> &events);
    void dispatch(QVector<Event> &events);

    const int m_maxLineLength;
    const int m_maxDataLength;
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_line;
    QString m_event;
    QString m_data;
    QString m_lastEventId;
    int m_retry = DefaultRetry;
    bool m_afterCarriageReturn =
        false;                      // a line just ended at CR; a leading LF of the next block belongs to it
    bool m_discardingLine = false;  // the current line went over the line limit
    bool m_discardingEvent = false; // the current event's data went over the data limit
};
