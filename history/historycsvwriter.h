#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

class HistoryReader;
class QIODevice;

// Writes the history of a range as CSV (RFC 4180): the header "time,thing,field,value", then one
// line per value in time order, lines ended by CRLF; a field with a comma, a quote, CR or LF is
// quoted, its quotes doubled. Times are local with their offset and milliseconds, as in
// 2026-12-08T19:06:13.250+01:00. An empty range writes the header alone. "Gone" marks are not
// values and are not written.
//
// write() runs on the reader's thread (the window runs it off its own, behind a progress dialog);
// cancel() may be called from any thread.
class HistoryCsvWriter
{
public:
    enum Result { Written, Cancelled, Failed };
    // The share of the range written so far, 0 to 1; called after every chunk and at the end.
    using Progress = std::function<void(double done)>;
    static constexpr int ChunkBytes = 64 * 1024;

    explicit HistoryCsvWriter(const HistoryReader &reader) : m_reader(reader) {}

    void setProgress(const Progress &progress) { m_progress = progress; }
    // Only the values of this thing (short id); empty for every thing, as at first.
    void setThing(const QString &thing) { m_thing = thing; }
    // Stops a write() in progress at its next chunk (and any later one at once).
    void cancel() { m_cancelled = true; }

    // [from, to) in ms since the epoch. What was written before a cancellation or failure stays.
    Result write(QIODevice *out, qint64 from, qint64 to);
    qint64 rowsWritten() const { return m_rows; }
    QString errorString() const { return m_error; }

    // One field as CSV writes it.
    static QByteArray escaped(const QString &field);

private:
    // Local time of the instant; the offset is looked up once per quarter of an hour.
    QByteArray timeText(qint64 ms);
    bool writeChunk(QIODevice *out, QByteArray &chunk);

    const HistoryReader &m_reader;
    Progress m_progress;
    QString m_thing;
    std::atomic<bool> m_cancelled{false};
    qint64 m_rows = 0;
    QString m_error;
    qint64 m_offsetBlock = -1;
    int m_offsetSeconds = 0;
};
