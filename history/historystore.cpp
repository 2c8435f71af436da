#include "historystore.h"

#include "settingskeys.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QSettings>

#include <sqlite3.h>

#include <csignal>

namespace {

constexpr qint64 DayMs = 86400LL * 1000;
constexpr qint64 MiB = 1024LL * 1024;

// One field of a state as it is stored.
struct Value
{
    enum Kind { Skip, Integer, Real, Text } kind = Skip;
    qint64 integer = 0;
    double real = 0;
    QByteArray text;
    bool numeric() const { return kind == Integer || kind == Real; }
    double number() const { return kind == Integer ? double(integer) : real; }
};

Value valueOf(const QJsonValue &json)
{
    Value value;
    switch (json.type()) {
    case QJsonValue::Bool:
        value.kind = Value::Integer;
        value.integer = json.toBool() ? 1 : 0;
        break;
    case QJsonValue::Double: {
        // Whole numbers as integers: smaller on disk, and exact in the export.
        const double number = json.toDouble();
        const bool whole = number == double(qint64(number)) && qAbs(number) < 9007199254740992.0;
        value.kind = whole ? Value::Integer : Value::Real;
        value.integer = whole ? qint64(number) : 0;
        value.real = number;
        break;
    }
    case QJsonValue::String:
        value.kind = Value::Text;
        value.text = json.toString().toUtf8();
        break;
    case QJsonValue::Array:
        value.kind = Value::Text;
        value.text = QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact);
        break;
    case QJsonValue::Object:
        value.kind = Value::Text;
        value.text = QJsonDocument(json.toObject()).toJson(QJsonDocument::Compact);
        break;
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return value;
}

qint64 cellStart(qint64 time, qint64 cell)
{
    const qint64 start = time / cell * cell;
    return start > time ? start - cell : start; // times before the epoch round down too
}

// The id an INSERT ... RETURNING id gave, 0 when it failed.
qint64 inserted(HistoryQuery &insert)
{
    if (!insert.step()) {
        insert.reset();
        return 0;
    }
    const qint64 id = insert.integer(0);
    return insert.run() ? id : 0;
}

void ignoreFileSizeSignal()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

HistoryStore::HistoryStore(const QString &directory, QObject *parent)
    : QObject(parent), m_path(QDir(directory).filePath(QLatin1String(HistoryDatabase::FileName)))
{
    m_timer.setParent(this); // moves to the store's thread with it
    m_timer.setInterval(FlushIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &HistoryStore::flush);
}

HistoryStore::~HistoryStore()
{
    m_timer.setParent(nullptr);
    forgetIds();
    m_db.close();
}

HistoryStore::Limits HistoryStore::configuredLimits()
{
    const QSettings settings;
    return {Key::HistoryDays.read(settings).toInt(), Key::HistoryMB.read(settings).toInt()};
}

void HistoryStore::record(const HistoryBatch &batch)
{
    QMutexLocker lock(&m_waitingLock);
    if (m_waiting.size() + batch.size() > MaxWaiting) {
        m_dropped += batch.size();
        return;
    }
    m_waiting += batch;
}

qint64 HistoryStore::droppedRecords() const
{
    QMutexLocker lock(&m_waitingLock);
    return m_dropped;
}

void HistoryStore::open()
{
    ignoreFileSizeSignal();
    if (ensureOpen())
        prune();
    else
        failed(m_db.errorString());
    m_timer.start();
}

void HistoryStore::flush()
{
    HistoryBatch batch;
    {
        QMutexLocker lock(&m_waitingLock);
        batch.swap(m_waiting);
    }
    write(batch);
    if (QDateTime::currentMSecsSinceEpoch() - m_lastPrune >= PruneIntervalMs)
        prune();
}

void HistoryStore::close()
{
    flush();
    m_timer.stop();
    forgetIds();
    m_db.close();
}

bool HistoryStore::ensureOpen()
{
    if (m_db.isOpen())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    HistoryDatabase::Opened opened = m_db.open(m_path, HistoryDatabase::Mode::Write);
    if (opened == HistoryDatabase::Opened::Damaged) {
        setAside(m_db.errorString());
        opened = m_db.open(m_path, HistoryDatabase::Mode::Write);
    }
    if (opened != HistoryDatabase::Opened::Yes)
        return false;
    prepareStatements();
    if (!loadOpenGaps()) {
        forgetIds();
        m_db.close();
        return false;
    }
    return true;
}

void HistoryStore::setAside(const QString &why)
{
    forgetIds();
    m_db.close();
    const QString aside = m_path + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QFile::remove(aside);
    QFile::remove(aside + QStringLiteral("-wal"));
    const bool moved = QFile::rename(m_path, aside);
    QFile::rename(m_path + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-shm"));
    if (!moved)
        QFile::remove(m_path);
    emit fileSetAside(moved ? tr("The history file %1 was damaged (%2). It was set aside as %3 and a new "
                                 "history was started.")
                                  .arg(QDir::toNativeSeparators(m_path), why, QDir::toNativeSeparators(aside))
                            : tr("The history file %1 was damaged (%2) and could not be set aside: it was "
                                 "removed and a new history was started.")
                                  .arg(QDir::toNativeSeparators(m_path), why));
}

void HistoryStore::prepareStatements()
{
    m_findThing = m_db.prepare("SELECT id FROM thing WHERE name = ?1");
    m_insertThing = m_db.prepare("INSERT INTO thing(name) VALUES(?1) RETURNING id");
    m_findField = m_db.prepare("SELECT id FROM field WHERE name = ?1 AND numeric = ?2");
    m_insertField = m_db.prepare("INSERT INTO field(name, numeric) VALUES(?1, ?2) RETURNING id");
    m_findSeries = m_db.prepare("SELECT id FROM series WHERE thing = ?1 AND field = ?2");
    m_insertSeries = m_db.prepare("INSERT INTO series(thing, field) VALUES(?1, ?2) RETURNING id");
    // The first value of a series at one millisecond stays; later ones at the same time are ignored.
    m_insertSample = m_db.prepare("INSERT OR IGNORE INTO sample(series, time, value) VALUES(?1, ?2, ?3)");
    m_upsertCell = m_db.prepare(
        "INSERT INTO rollup(series, level, start, lo, hi, at, last, n) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, "
        "?8) "
        "ON CONFLICT(series, level, start) DO UPDATE SET lo = MIN(lo, excluded.lo), hi = MAX(hi, "
        "excluded.hi), "
        "last = CASE WHEN excluded.at >= at THEN excluded.last ELSE last END, at = MAX(at, excluded.at), "
        "n = n + excluded.n");
    m_openGap = m_db.prepare("INSERT OR IGNORE INTO gap(thing, start, end) VALUES(?1, ?2, NULL)");
    m_closeGap = m_db.prepare("UPDATE gap SET end = ?1 WHERE thing = ?2 AND start = ?3");
}

void HistoryStore::forgetIds()
{
    for (HistoryQuery *query : {&m_findThing, &m_insertThing, &m_findField, &m_insertField, &m_findSeries,
                                &m_insertSeries, &m_insertSample, &m_upsertCell, &m_openGap, &m_closeGap})
        *query = HistoryQuery();
    m_things.clear();
    m_openGaps.clear();
    m_fieldIds[0].clear();
    m_fieldIds[1].clear();
}

bool HistoryStore::loadOpenGaps()
{
    HistoryQuery open = m_db.prepare("SELECT thing, start FROM gap WHERE end IS NULL");
    while (open.step())
        m_openGaps.insert(open.integer(0), open.integer(1));
    return open.code() == SQLITE_DONE;
}

bool HistoryStore::write(const HistoryBatch &batch)
{
    if (batch.isEmpty())
        return true;
    if (!ensureOpen()) {
        failed(m_db.errorString());
        return false;
    }
    if (writeRecords(batch)) {
        m_failing = false;
        enforceSize();
        return true;
    }
    const int code = m_db.errorCode();
    const QString why = m_db.errorString();
    m_db.exec("ROLLBACK");
    // Ids handed out by the failed transaction are void.
    const bool stuck = m_db.inTransaction();
    forgetIds();
    if (HistoryDatabase::isDamage(code)) {
        setAside(why);
        return false;
    }
    if (stuck)
        m_db.close();
    else
        prepareStatements();
    failed(why);
    return false;
}

bool HistoryStore::writeRecords(const HistoryBatch &batch)
{
    if (!m_db.exec("BEGIN IMMEDIATE"))
        return false;
    std::map<CellKey, Cell> cells;
    for (const HistoryRecord &record : batch) {
        if (!writeRecord(record, cells))
            return false;
    }
    for (const auto &[key, cell] : cells) {
        m_upsertCell.bind(1, std::get<0>(key)).bind(2, qint64(std::get<1>(key))).bind(3, std::get<2>(key));
        m_upsertCell.bind(4, cell.lo)
            .bind(5, cell.hi)
            .bind(6, cell.at)
            .bind(7, cell.last)
            .bind(8, cell.count);
        if (!m_upsertCell.run())
            return false;
    }
    return m_db.exec("COMMIT");
}

bool HistoryStore::writeRecord(const HistoryRecord &record, std::map<CellKey, Cell> &cells)
{
    Thing *owner = thing(record.thing);
    if (!owner)
        return false;
    const auto gone = m_openGaps.find(owner->id);
    if (record.isGone()) {
        if (gone != m_openGaps.end())
            return true; // gone already
        if (!m_openGap.bind(1, owner->id).bind(2, record.time).run())
            return false;
        m_openGaps.insert(owner->id, record.time);
        return true;
    }
    if (gone != m_openGaps.end() && record.time >= gone.value()) {
        if (!m_closeGap.bind(1, record.time).bind(2, owner->id).bind(3, gone.value()).run())
            return false;
        m_openGaps.erase(gone);
    }
    for (auto field = record.state.begin(); field != record.state.end(); ++field) {
        const Value value = valueOf(field.value());
        if (value.kind == Value::Skip)
            continue;
        const qint64 id = series(owner, field.key(), value.numeric());
        if (id == 0)
            return false;
        m_insertSample.bind(1, id).bind(2, record.time);
        if (value.kind == Value::Integer)
            m_insertSample.bind(3, value.integer);
        else if (value.kind == Value::Real)
            m_insertSample.bind(3, value.real);
        else
            m_insertSample.bind(3, value.text);
        if (!m_insertSample.run())
            return false;
        if (!value.numeric() || m_db.changes() != 1)
            continue;
        const double number = value.number();
        for (int level = 0; level < HistoryDatabase::LevelCount; ++level) {
            const CellKey key{id, level, cellStart(record.time, HistoryDatabase::Cells[level])};
            const auto found = cells.find(key);
            if (found == cells.end()) {
                cells.emplace(key, Cell{number, number, record.time, number, 1});
                continue;
            }
            Cell &cell = found->second;
            cell.lo = qMin(cell.lo, number);
            cell.hi = qMax(cell.hi, number);
            if (record.time >= cell.at) {
                cell.at = record.time;
                cell.last = number;
            }
            ++cell.count;
        }
    }
    return true;
}

qint64 HistoryStore::idOf(HistoryQuery &find, HistoryQuery &insert, const QByteArray &name, qint64 number)
{
    find.bind(1, name).bind(2, number);
    qint64 id = find.step() ? find.integer(0) : 0;
    const bool searched = find.code() == SQLITE_ROW || find.code() == SQLITE_DONE;
    find.reset();
    if (id != 0 || !searched)
        return id;
    return inserted(insert.bind(1, name).bind(2, number));
}

HistoryStore::Thing *HistoryStore::thing(const QString &name)
{
    const auto known = m_things.find(name);
    if (known != m_things.end())
        return &known.value();
    const qint64 id = idOf(m_findThing, m_insertThing, name.toUtf8(), 0);
    if (id == 0)
        return nullptr;
    Thing &added = m_things[name];
    added.id = id;
    return &added;
}

qint64 HistoryStore::series(Thing *owner, const QString &field, bool numeric)
{
    QHash<QString, qint64> &known = numeric ? owner->numeric : owner->text;
    const auto found = known.constFind(field);
    if (found != known.constEnd())
        return found.value();
    QHash<QString, qint64> &fieldIds = m_fieldIds[numeric ? 1 : 0];
    qint64 fieldId = fieldIds.value(field);
    if (fieldId == 0) {
        fieldId = idOf(m_findField, m_insertField, field.toUtf8(), numeric ? 1 : 0);
        if (fieldId == 0)
            return 0;
        fieldIds.insert(field, fieldId);
    }
    m_findSeries.bind(1, owner->id).bind(2, fieldId);
    qint64 id = m_findSeries.step() ? m_findSeries.integer(0) : 0;
    m_findSeries.reset();
    if (id == 0)
        id = inserted(m_insertSeries.bind(1, owner->id).bind(2, fieldId));
    if (id != 0)
        known.insert(field, id);
    return id;
}

void HistoryStore::failed(const QString &what)
{
    if (m_failing)
        return;
    m_failing = true;
    emit writeFailed(tr("The history cannot be written to %1 (%2). States are not recorded until it works "
                        "again.")
                         .arg(QDir::toNativeSeparators(m_path), what));
}

void HistoryStore::prune()
{
    m_limits = configuredLimits();
    m_lastPrune = QDateTime::currentMSecsSinceEpoch();
    if (!m_db.isOpen())
        return;
    pruneBefore(m_lastPrune - m_limits.days * DayMs);
    enforceSize();
}

void HistoryStore::pruneBefore(qint64 cutoff)
{
    // Each series is a range of the key: the deletes walk the oldest end of every series.
    HistoryQuery samples =
        m_db.prepare("DELETE FROM sample WHERE series IN (SELECT id FROM series) AND time < ?1");
    HistoryQuery cells = m_db.prepare(
        "DELETE FROM rollup WHERE series IN (SELECT id FROM series) AND level = ?1 AND start <= ?2");
    HistoryQuery gaps = m_db.prepare("DELETE FROM gap WHERE end IS NOT NULL AND end < ?1");
    bool ok = m_db.exec("BEGIN IMMEDIATE") && samples.bind(1, cutoff).run() && gaps.bind(1, cutoff).run();
    for (int level = 0; ok && level < HistoryDatabase::LevelCount; ++level)
        ok = cells.bind(1, qint64(level)).bind(2, cutoff - HistoryDatabase::Cells[level]).run();
    if (ok && m_db.exec("COMMIT"))
        return;
    const QString why = m_db.errorString();
    m_db.exec("ROLLBACK");
    failed(why);
}

qint64 HistoryStore::usedBytes()
{
    const qint64 pages = m_db.pragma("page_count");
    const qint64 free = m_db.pragma("freelist_count");
    const qint64 pageSize = m_db.pragma("page_size");
    return pages < 0 || free < 0 || pageSize < 0 ? -1 : (pages - free) * pageSize;
}

void HistoryStore::enforceSize()
{
    const qint64 limit = m_limits.megabytes * MiB;
    qint64 used = usedBytes();
    if (used > limit) {
        // Down to nine tenths of the bound, so that the next prune is some batches away. Each round
        // takes the oldest share of the time covered that matches the share to go.
        const qint64 target = limit / 10 * 9;
        HistoryQuery span =
            m_db.prepare("SELECT MIN((SELECT MIN(time) FROM sample WHERE series = s.id)), "
                         "MAX((SELECT MAX(time) FROM sample WHERE series = s.id)) FROM series s");
        for (int round = 0; round < 64 && used > target; ++round) {
            if (!span.step() || span.type(0) == SQLITE_NULL) {
                span.reset();
                break;
            }
            const qint64 oldest = span.integer(0);
            const qint64 covered = span.integer(1) - oldest + 1;
            span.reset();
            const double share = qBound(0.01, double(used - target) / double(used), 1.0);
            pruneBefore(oldest + qMax<qint64>(HistoryDatabase::Cells[0], qint64(covered * share)));
            used = usedBytes();
        }
    }
    // Free pages are reused by the next batches; only a file larger than the bound (the bound was
    // lowered) gives the rest back.
    const qint64 pageSize = m_db.pragma("page_size");
    const qint64 pages = m_db.pragma("page_count");
    if (pageSize > 0 && pages * pageSize > limit) {
        const QByteArray vacuum =
            "PRAGMA incremental_vacuum(" + QByteArray::number(pages - limit / pageSize) + ')';
        m_db.exec(vacuum.constData());
    }
}
