#pragma once

#include "historyreader.h"

#include <QString>
#include <QVector>

// What the trend pane draws for one thing and range: every numeric field's buckets and the thing's
// gaps. Made off the main thread by queryTrend; copied back as a value.
struct TrendField
{
    QString name;
    HistorySeries series;
};

struct TrendData
{
    quint64 request = 0; // the pane's number of the query, to drop answers it no longer waits for
    QString thing;
    qint64 from = 0;
    qint64 to = 0;
    QVector<TrendField> fields; // by name
    QVector<HistoryGap> gaps;
    QString error; // empty when the query ran (also when there is no history yet)
    qint64 elapsedMs = 0;
};

// Opens its own reader on the folder's history.db, so it runs on any thread (one query per call).
TrendData queryTrend(const QString &directory, const QString &thing, qint64 from, qint64 to, int maxBuckets);
