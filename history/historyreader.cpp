#include "historyreader.h"

#include <QDir>

#include <sqlite3.h>

namespace {

qint64 floorTo(qint64 time, qint64 cell)
{
    const qint64 start = time / cell * cell;
    return start > time ? start - cell : start;
}

qint64 ceilTo(qint64 time, qint64 cell)
{
    const qint64 start = floorTo(time, cell);
    return start == time ? time : start + cell;
}

// Folds values and cells, met in time order, into buckets of one width from one origin.
class Buckets
{
public:
    Buckets(qint64 origin, qint64 width, QVector<HistoryBucket> *out)
        : m_origin(origin), m_width(width), m_out(out)
    {
    }

    void add(qint64 time, double lo, double hi, qint64 at, double last, qint64 count)
    {
        const qint64 start = m_origin + (time - m_origin) / m_width * m_width;
        if (m_out->isEmpty() || m_out->last().start != start) {
            m_out->append({start, lo, hi, last, at, count});
            return;
        }
        HistoryBucket &bucket = m_out->last();
        bucket.min = qMin(bucket.min, lo);
        bucket.max = qMax(bucket.max, hi);
        if (at >= bucket.lastTime) {
            bucket.lastTime = at;
            bucket.last = last;
        }
        bucket.count += count;
    }

private:
    qint64 m_origin;
    qint64 m_width;
    QVector<HistoryBucket> *m_out;
};

void addSamples(HistoryQuery &raw, qint64 from, qint64 to, Buckets &buckets)
{
    if (from >= to)
        return;
    raw.bind(2, from).bind(3, to);
    while (raw.step()) {
        const qint64 time = raw.integer(0);
        const double value = raw.real(1);
        buckets.add(time, value, value, time, value, 1);
    }
    raw.reset();
}

} // namespace

bool HistoryReader::open(const QString &directory)
{
    return m_db.open(QDir(directory).filePath(QLatin1String(HistoryDatabase::FileName)),
                     HistoryDatabase::Mode::Read) == HistoryDatabase::Opened::Yes;
}

void HistoryReader::close()
{
    m_db.close();
}

QStringList HistoryReader::things() const
{
    QStringList names;
    HistoryQuery query = m_db.prepare("SELECT name FROM thing ORDER BY name");
    while (query.step())
        names.append(query.text(0));
    return names;
}

QStringList HistoryReader::numericFields(const QString &thing, qint64 from, qint64 to) const
{
    QStringList names;
    HistoryQuery query = m_db.prepare(
        "SELECT f.name FROM series s JOIN thing t ON t.id = s.thing JOIN field f ON f.id = s.field "
        "WHERE t.name = ?1 AND f.numeric = 1 AND "
        "EXISTS (SELECT 1 FROM sample WHERE series = s.id AND time >= ?2 AND time < ?3) ORDER BY f.name");
    query.bind(1, thing.toUtf8()).bind(2, from).bind(3, to);
    while (query.step())
        names.append(query.text(0));
    return names;
}

HistorySeries HistoryReader::series(const QString &thing, const QString &field, qint64 from, qint64 to,
                                    int maxBuckets) const
{
    HistorySeries result;
    if (to <= from || maxBuckets < 1)
        return result;
    result.gaps = gaps(thing, from, to);
    HistoryQuery find = m_db.prepare("SELECT s.id FROM series s JOIN thing t ON t.id = s.thing JOIN field f "
                                     "ON f.id = s.field WHERE t.name = ?1 AND f.name = ?2 AND f.numeric = 1");
    find.bind(1, thing.toUtf8()).bind(2, field.toUtf8());
    if (!find.step())
        return result;
    const qint64 id = find.integer(0);

    // The coarsest rollup whose cells are no wider than a bucket would be; none for short ranges.
    const qint64 idealWidth = (to - from + maxBuckets - 1) / maxBuckets;
    int level = HistoryDatabase::LevelCount - 1;
    while (level >= 0 && HistoryDatabase::Cells[level] > idealWidth)
        --level;
    HistoryQuery raw = m_db.prepare("SELECT time, value FROM sample WHERE series = ?1 AND time >= ?2 AND "
                                    "time < ?3");
    raw.bind(1, id);
    if (level < 0) {
        result.width = qMax<qint64>(1, idealWidth);
        Buckets buckets(from, result.width, &result.buckets);
        addSamples(raw, from, to, buckets);
        return result;
    }

    // Buckets of whole cells from the cell from falls in; whole cells within the range come from
    // the rollup, the parts of cells at either end from the samples.
    const qint64 cell = HistoryDatabase::Cells[level];
    const qint64 origin = floorTo(from, cell);
    result.width = ceilTo((to - origin + maxBuckets - 1) / maxBuckets, cell);
    Buckets buckets(origin, result.width, &result.buckets);
    // Cells from before the oldest value left may hold values pruned since: those come from the samples.
    HistoryQuery oldest = m_db.prepare("SELECT MIN(time) FROM sample WHERE series = ?1");
    oldest.bind(1, id);
    const qint64 kept = oldest.step() && oldest.type(0) != SQLITE_NULL ? oldest.integer(0) : to;
    const qint64 firstWhole = ceilTo(qMax(from, kept), cell);
    const qint64 endWhole = floorTo(to, cell);
    if (firstWhole >= endWhole) {
        addSamples(raw, from, to, buckets);
        return result;
    }
    addSamples(raw, from, firstWhole, buckets);
    HistoryQuery cells = m_db.prepare("SELECT start, lo, hi, at, last, n FROM rollup WHERE series = ?1 AND "
                                      "level = ?2 AND start >= ?3 AND start < ?4");
    cells.bind(1, id).bind(2, qint64(level)).bind(3, firstWhole).bind(4, endWhole);
    while (cells.step())
        buckets.add(cells.integer(0), cells.real(1), cells.real(2), cells.integer(3), cells.real(4),
                    cells.integer(5));
    addSamples(raw, endWhole, to, buckets);
    return result;
}

QVector<HistoryGap> HistoryReader::gaps(const QString &thing, qint64 from, qint64 to) const
{
    QVector<HistoryGap> found;
    HistoryQuery query =
        m_db.prepare("SELECT g.start, IFNULL(g.end, 0) FROM gap g JOIN thing t ON t.id = g.thing "
                     "WHERE t.name = ?1 AND g.start < ?3 AND (g.end IS NULL OR g.end > ?2) "
                     "ORDER BY g.start");
    query.bind(1, thing.toUtf8()).bind(2, from).bind(3, to);
    while (query.step())
        found.append({query.integer(0), query.integer(1)});
    return found;
}

std::unique_ptr<HistoryCursor> HistoryReader::rows(qint64 from, qint64 to, const QString &thing) const
{
    return std::make_unique<HistoryCursor>(m_db, from, to, thing);
}
