#include "historycursor.h"

#include "historydatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <functional>

HistoryCursor::HistoryCursor(const HistoryDatabase &db, qint64 from, qint64 to, const QString &thing)
{
    HistoryQuery all = db.prepare("SELECT s.id, t.name, f.name FROM series s JOIN thing t ON t.id = s.thing "
                                  "JOIN field f ON f.id = s.field WHERE ?1 = '' OR t.name = ?1 "
                                  "ORDER BY t.name, f.name, f.numeric");
    all.bind(1, thing.toUtf8());
    while (all.step()) {
        Source source{db.prepare("SELECT time, value FROM sample WHERE series = ?1 AND time >= ?2 AND "
                                 "time < ?3"),
                      all.text(1), all.text(2)};
        source.query.bind(1, all.integer(0)).bind(2, from).bind(3, to);
        m_sources.push_back(std::move(source));
    }
    m_failed = all.code() != SQLITE_DONE;
    for (size_t i = 0; i < m_sources.size(); ++i)
        advance(i);
}

void HistoryCursor::advance(size_t source)
{
    HistoryQuery &query = m_sources[source].query;
    if (query.step()) {
        m_heap.push_back({query.integer(0), source});
        std::push_heap(m_heap.begin(), m_heap.end(), std::greater<Head>());
    } else if (query.code() != SQLITE_DONE) {
        m_failed = true;
    }
}

bool HistoryCursor::next(HistoryRow *row)
{
    if (m_heap.empty() || m_failed)
        return false;
    std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<Head>());
    const Head head = m_heap.back();
    m_heap.pop_back();
    Source &source = m_sources[head.source];
    row->time = head.time;
    row->thing = source.thing;
    row->field = source.field;
    switch (source.query.type(1)) {
    case SQLITE_INTEGER:
        row->value = source.query.integer(1);
        break;
    case SQLITE_FLOAT:
        row->value = source.query.real(1);
        break;
    default:
        row->value = source.query.text(1);
        break;
    }
    advance(head.source);
    return true;
}
