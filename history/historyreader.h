#pragma once

#include "historycursor.h"
#include "historydatabase.h"

#include <QStringList>
#include <QVector>

#include <memory>

// The values of one field in one stretch of a chart: min and max keep spikes, last (with its time)
// is the value the stretch ended with.
struct HistoryBucket
{
    qint64 start = 0; // ms since the epoch; the bucket spans [start, start + width)
    double min = 0;
    double max = 0;
    double last = 0;
    qint64 lastTime = 0;
    qint64 count = 0; // values in the bucket
};

// The thing was gone from start until end; end is 0 while it still is.
struct HistoryGap
{
    qint64 start = 0;
    qint64 end = 0;
    bool operator==(const HistoryGap &other) const { return start == other.start && end == other.end; }
};

struct HistorySeries
{
    qint64 width = 0;               // of every bucket, ms
    QVector<HistoryBucket> buckets; // in time order; a stretch without values has no bucket
    QVector<HistoryGap> gaps;       // of the thing, overlapping the range, in time order
};

// Queries on the history file over a read-only connection of its own, so readers never wait for
// the writer (HistoryStore) nor it for them. One reader per thread: every member is called on the
// thread that opened it. Ranges are [from, to) in ms since the epoch. A reader sees the file it
// opened: after HistoryStore::fileSetAside, open it again.
class HistoryReader
{
public:
    // False when there is no history yet (or it cannot be read); the queries then answer nothing.
    bool open(const QString &directory);
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    QString errorString() const { return m_db.errorString(); }

    // Every thing ever recorded (and not pruned with its last row), by id.
    QStringList things() const;
    // The numeric fields of the thing with a value in the range, by name.
    QStringList numericFields(const QString &thing, qint64 from, qint64 to) const;
    // The values of one numeric field reduced to at most maxBuckets buckets of equal width. Long
    // ranges are answered from the rollups of whole minutes, hours or days, so the width is then a
    // multiple of that cell and the first bucket may start before from; values outside the range
    // are never counted. Answers about as fast for a year as for a day (at the pruned end of the
    // history up to a day is read value by value).
    HistorySeries series(const QString &thing, const QString &field, qint64 from, qint64 to,
                         int maxBuckets) const;
    QVector<HistoryGap> gaps(const QString &thing, qint64 from, qint64 to) const;
    // Every value in the range in time order (of one thing, or of all for an empty id), for export.
    // Valid while the reader is open.
    std::unique_ptr<HistoryCursor> rows(qint64 from, qint64 to, const QString &thing = QString()) const;

private:
    HistoryDatabase m_db;
};
