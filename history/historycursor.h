#pragma once

#include "historyquery.h"

#include <QString>
#include <QVariant>

#include <vector>

class HistoryDatabase;

// One value as recorded: a number (qint64 or double) or text.
struct HistoryRow
{
    qint64 time = 0;
    QString thing;
    QString field;
    QVariant value;
};

// The rows of a range in time order (at one time: by thing, then field), read series by series
// along the key and merged, so no sort and no time index is needed. With a thing, only its rows.
class HistoryCursor
{
public:
    HistoryCursor(const HistoryDatabase &db, qint64 from, qint64 to, const QString &thing = QString());

    // The next row; false at the end or on a read error (then failed() is true).
    bool next(HistoryRow *row);
    bool failed() const { return m_failed; }

private:
    struct Source
    {
        HistoryQuery query;
        QString thing;
        QString field;
    };
    struct Head
    {
        qint64 time;
        size_t source;
        bool operator>(const Head &other) const
        {
            return time != other.time ? time > other.time : source > other.source;
        }
    };
    void advance(size_t source);

    std::vector<Source> m_sources;
    std::vector<Head> m_heap; // a min-heap of the sources' current rows
    bool m_failed = false;
};
