#include "outbox.h"

#include "qcredentialstore.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <mutex>

namespace {

constexpr char DatabaseName[] = "outbox.db";
// Stored rows read at once as the queue is walked: one query serves a window of reports in flight.
constexpr int AheadBatch = 128;
// Ids are given by the outbox, counting on from the largest ever used in this run, so a late
// acknowledgement cannot hit a newer report even after the table emptied.
constexpr char Schema[] = "CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY, "
                          "tid TEXT NOT NULL, payload BLOB NOT NULL, queued INTEGER NOT NULL)";

bool isBusy(int rc)
{
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

bool isDamage(int rc)
{
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

Outbox::Entry rowEntry(sqlite3_stmt *statement)
{
    Outbox::Entry entry;
    entry.id = sqlite3_column_int64(statement, 0);
    entry.tid = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 1)),
                                  sqlite3_column_bytes(statement, 1));
    entry.payload = QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, 2)),
                               sqlite3_column_bytes(statement, 2));
    entry.queued = sqlite3_column_int64(statement, 3);
    return entry;
}

bool byId(const Outbox::Entry &entry, qint64 id)
{
    return entry.id < id;
}

// The entry of a queue (in id order) with this id, or end.
std::deque<Outbox::Entry>::iterator findId(std::deque<Outbox::Entry> &queue, qint64 id)
{
    const auto it = std::lower_bound(queue.begin(), queue.end(), id, byId);
    return it != queue.end() && it->id == id ? it : queue.end();
}

// The first entry of a queue (in id order) queued after this id, or null.
const Outbox::Entry *firstAfter(const std::deque<Outbox::Entry> &queue, qint64 id)
{
    const auto it = std::lower_bound(queue.begin(), queue.end(), id + 1, byId);
    return it != queue.end() ? &*it : nullptr;
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

Outbox::~Outbox()
{
    commit();
    close();
}

QString Outbox::defaultPath()
{
    // The credential directory is the application's data directory, created private to the user.
    return QCredentialStore::filePath(QLatin1String(DatabaseName));
}

QString Outbox::lastSqlError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
}

bool Outbox::prepare(sqlite3_stmt **statement, const char *sql)
{
    return sqlite3_prepare_v2(m_db, sql, -1, statement, nullptr) == SQLITE_OK;
}

bool Outbox::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void Outbox::close()
{
    m_inTransaction = false; // closing rolls back what was not committed
    for (sqlite3_stmt **statement : {&m_insert, &m_delete, &m_after}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

Outbox::Opened Outbox::tryOpen(const QString &path, QString *why)
{
    // No allocation statistics: they take a global lock on every allocation SQLite makes. Only
    // possible before SQLite starts; later it is refused, harmlessly.
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    const QByteArray name = QFile::encodeName(path);
    const int rc = sqlite3_open_v2(name.constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto failed = [this, why]() {
        const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_NOMEM;
        *why = lastSqlError();
        close();
        return isBusy(code) ? Opened::Busy : isDamage(code) ? Opened::Damaged : Opened::Failed;
    };
    if (rc != SQLITE_OK)
        return failed();
    // One process per database: the exclusive lock taken by the first write is kept until close
    // (and dropped by the kernel when the process dies). WAL without fsync per report: a report
    // survives the end of the process, whatever the end; an operating system crash may lose the last.
    // SQLite's own checkpoint (every 1000 pages, with one fsync) keeps the log small.
    // Small pages for a new database: a report is a few hundred bytes at most, and each commit
    // writes (and checksums) the whole pages it touched.
    if (!exec("PRAGMA page_size=1024") || !exec("PRAGMA locking_mode=EXCLUSIVE") ||
        !exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA journal_size_limit=4194304") || !exec("BEGIN EXCLUSIVE"))
        return failed();
    if (!exec(Schema) || !exec("COMMIT"))
        return failed();

    sqlite3_stmt *check = nullptr;
    if (!prepare(&check, "PRAGMA quick_check(1)"))
        return failed();
    const bool healthy = sqlite3_step(check) == SQLITE_ROW &&
                         qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok") == 0;
    sqlite3_finalize(check);
    if (!healthy) {
        *why = QStringLiteral("integrity check failed");
        close();
        return Opened::Damaged;
    }

    sqlite3_stmt *totals = nullptr;
    if (!prepare(&totals, "SELECT COUNT(*), TOTAL(LENGTH(payload) + LENGTH(CAST(tid AS BLOB))), "
                          "IFNULL(MAX(id), 0) FROM outbox"))
        return failed();
    const bool counted = sqlite3_step(totals) == SQLITE_ROW;
    const int count = counted ? sqlite3_column_int(totals, 0) : 0;
    const qint64 bytes = counted ? qint64(sqlite3_column_double(totals, 1)) : 0;
    const qint64 lastId = counted ? sqlite3_column_int64(totals, 2) : 0;
    sqlite3_finalize(totals);
    if (!counted || !prepare(&m_insert, "INSERT INTO outbox(id, tid, payload, queued) VALUES(?, ?, ?, ?)") ||
        !prepare(&m_delete, "DELETE FROM outbox WHERE id = ?") ||
        !prepare(&m_after, "SELECT id, tid, payload, queued FROM outbox WHERE id > ? ORDER BY id LIMIT ?"))
        return failed();
    m_stored = count;
    m_count = count;
    m_bytes = bytes;
    m_lastId = qMax(m_lastId, lastId);
    m_ahead.clear();
    m_aheadThrough = 0;
    if (m_stored > 0 && !loadAhead())
        return failed();
    return Opened::Yes;
}

bool Outbox::open(const QString &path)
{
    commit();
    close();
    m_path = path;
    // Reports queued in memory before go behind the stored ones, which are older.
    std::deque<Entry> early;
    early.swap(m_memory);
    m_count = 0;
    m_bytes = 0;
    m_ahead.clear();
    m_aheadThrough = 0;

    QString why;
    Opened result = tryOpen(path, &why);
    if (result == Opened::Damaged) {
        const QString aside = path + QStringLiteral(".damaged-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        QFile::rename(path, aside);
        QFile::rename(path + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        qCritical("The outbox database %s is damaged (%s): set aside as %s, starting a new one",
                  qUtf8Printable(path), qUtf8Printable(why), qUtf8Printable(aside));
        result = tryOpen(path, &why);
    }
    if (result != Opened::Yes) {
        m_stored = 0;
        m_count = 0;
        m_bytes = 0;
        m_announcedMemory = true;
        if (result == Opened::Busy)
            qCritical("The outbox database %s is in use by another process: reports waiting for the "
                      "cloud are kept in memory only",
                      qUtf8Printable(path));
        else
            qCritical("Cannot open the outbox database %s (%s): reports waiting for the cloud are kept "
                      "in memory only",
                      qUtf8Printable(path), qUtf8Printable(why));
    }
    for (const Entry &entry : early)
        append(entry.tid, entry.payload, entry.queued);
    setLimits(m_limits);
    commit();
    return result == Opened::Yes;
}

void Outbox::setLimits(const Limits &limits)
{
    m_limits.messages = qMax(1, limits.messages);
    m_limits.bytes = qMax<qint64>(1, limits.bytes);
    while (m_count > 0 && (m_count > m_limits.messages || m_bytes > m_limits.bytes))
        dropOldest();
}

bool Outbox::loadAhead()
{
    sqlite3_bind_int64(m_after, 1, m_aheadThrough);
    sqlite3_bind_int(m_after, 2, AheadBatch);
    int rc;
    int read = 0;
    while ((rc = sqlite3_step(m_after)) == SQLITE_ROW) {
        m_ahead.push_back(rowEntry(m_after));
        ++read;
    }
    sqlite3_reset(m_after);
    if (read > 0)
        m_aheadThrough = m_ahead.back().id;
    // No row where one should be: the database is not what it was.
    return rc == SQLITE_DONE && read > 0;
}

void Outbox::keepHeadLoaded()
{
    if (m_db && m_stored > 0 && m_ahead.empty() && !loadAhead())
        fallBack("read the next report");
}

const Outbox::Entry *Outbox::head() const
{
    if (m_count == 0)
        return nullptr;
    if (m_db && m_stored > 0)
        return m_ahead.empty() ? nullptr : &m_ahead.front();
    return m_memory.empty() ? nullptr : &m_memory.front();
}

const Outbox::Entry *Outbox::next(qint64 afterId)
{
    if (m_db && m_stored > 0) {
        // Stored rows first: those read already, else the next batch while rows are left unread.
        while (true) {
            if (const Entry *entry = firstAfter(m_ahead, afterId))
                return entry;
            if (int(m_ahead.size()) >= m_stored)
                break;
            if (!loadAhead()) {
                fallBack("read the next report");
                return firstAfter(m_memory, afterId);
            }
        }
    }
    return firstAfter(m_memory, afterId);
}

bool Outbox::beginChange()
{
    if (m_inTransaction)
        return true;
    m_inTransaction = exec("BEGIN");
    return m_inTransaction;
}

void Outbox::commit()
{
    if (!m_db || (m_memory.empty() && !m_inTransaction))
        return;
    if (!beginChange()) {
        fallBack("store a report");
        return;
    }
    for (const Entry &entry : m_memory) {
        const QByteArray tid = entry.tid.toUtf8();
        sqlite3_bind_int64(m_insert, 1, entry.id);
        sqlite3_bind_text(m_insert, 2, tid.constData(), tid.size(), SQLITE_STATIC);
        sqlite3_bind_blob(m_insert, 3, entry.payload.constData(), entry.payload.size(), SQLITE_STATIC);
        sqlite3_bind_int64(m_insert, 4, entry.queued);
        const int rc = sqlite3_step(m_insert);
        sqlite3_reset(m_insert);
        sqlite3_clear_bindings(m_insert);
        if (rc != SQLITE_DONE) {
            fallBack("store a report");
            return;
        }
    }
    if (!exec("COMMIT")) {
        fallBack("store a report");
        return;
    }
    m_inTransaction = false;
    // With every stored row read already, the rows just written join them at no cost.
    if (int(m_ahead.size()) == m_stored && !m_memory.empty()) {
        m_ahead.insert(m_ahead.end(), m_memory.begin(), m_memory.end());
        m_aheadThrough = m_memory.back().id;
    }
    m_stored += int(m_memory.size());
    m_memory.clear();
}

bool Outbox::deleteRow(qint64 id, qint64 *size)
{
    *size = -1;
    if (!beginChange())
        return false;
    if (id > m_aheadThrough) {
        // A row not read yet: its size comes from the database.
        sqlite3_stmt *measure = nullptr;
        if (!prepare(&measure, "SELECT LENGTH(payload) + LENGTH(CAST(tid AS BLOB)) FROM outbox WHERE id = ?"))
            return false;
        sqlite3_bind_int64(measure, 1, id);
        const int rc = sqlite3_step(measure);
        if (rc == SQLITE_ROW)
            *size = sqlite3_column_int64(measure, 0);
        sqlite3_finalize(measure);
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE;
    }
    sqlite3_bind_int64(m_delete, 1, id);
    const int rc = sqlite3_step(m_delete);
    sqlite3_reset(m_delete);
    return rc == SQLITE_DONE;
}

qint64 Outbox::append(const QString &tid, const QByteArray &payload, qint64 queuedMs)
{
    Entry entry;
    entry.tid = tid;
    entry.payload = payload;
    entry.queued = queuedMs;
    const QByteArray tidUtf8 = tid.toUtf8();
    const qint64 size = payload.size() + tidUtf8.size();
    if (size > m_limits.bytes) {
        ++m_dropped;
        return 0;
    }
    while (m_count > 0 && (m_count >= m_limits.messages || m_bytes + size > m_limits.bytes))
        dropOldest();

    entry.id = ++m_lastId;
    m_memory.push_back(entry); // written with the next commit
    ++m_count;
    m_bytes += size;
    return entry.id;
}

void Outbox::dropOldest()
{
    if (const Entry *oldest = head())
        drop(oldest->id);
}

void Outbox::dropHead()
{
    dropOldest();
}

void Outbox::drop(qint64 id)
{
    const int before = m_count;
    remove(id);
    if (m_count < before)
        ++m_dropped;
}

void Outbox::remove(qint64 id)
{
    if (m_count == 0 || id <= 0)
        return;
    // Stored rows are older than every report not written yet.
    if (m_db && m_stored > 0 && (m_memory.empty() || id < m_memory.front().id)) {
        const auto it = findId(m_ahead, id);
        if (it == m_ahead.end() && id <= m_aheadThrough)
            return; // gone already
        qint64 size = -1;
        if (!deleteRow(id, &size)) {
            fallBack("remove a sent report");
        } else {
            if (it != m_ahead.end()) {
                size = it->size();
                m_ahead.erase(it);
            }
            if (size >= 0) {
                --m_stored;
                --m_count;
                m_bytes -= size;
            }
            keepHeadLoaded();
            return;
        }
    }
    // Not written yet (an acknowledgement that beat the commit costs no disk at all), or in memory.
    const auto it = findId(m_memory, id);
    if (it != m_memory.end()) {
        m_bytes -= it->size();
        m_memory.erase(it);
        --m_count;
    }
}

void Outbox::clear()
{
    if (m_db && !(beginChange() && exec("DELETE FROM outbox")))
        fallBack("empty the outbox");
    m_memory.clear();
    m_ahead.clear();
    m_aheadThrough = m_lastId;
    m_stored = 0;
    m_count = 0;
    m_bytes = 0;
}

void Outbox::fallBack(const char *what)
{
    const QString why = lastSqlError();
    // Whatever the database still gives moves to memory; the files go, so that a restart does not
    // send those reports a second time.
    std::deque<Entry> rows;
    sqlite3_stmt *all = nullptr;
    if (prepare(&all, "SELECT id, tid, payload, queued FROM outbox ORDER BY id")) {
        while (sqlite3_step(all) == SQLITE_ROW)
            rows.push_back(rowEntry(all));
    }
    sqlite3_finalize(all);
    // A failed statement may have rolled the open transaction back. What waits up to m_aheadThrough
    // is known anyway: the rows read ahead (the others left already). Rows after them come from the
    // database; the reports not written yet come after every row read (or were written by the
    // transaction that survived).
    const qint64 through = m_aheadThrough;
    rows.erase(rows.begin(),
               std::find_if(rows.begin(), rows.end(), [through](const Entry &e) { return e.id > through; }));
    rows.insert(rows.begin(), m_ahead.begin(), m_ahead.end());
    const qint64 lastRead = rows.empty() ? 0 : rows.back().id;
    for (const Entry &entry : m_memory) {
        if (entry.id > lastRead)
            rows.push_back(entry);
    }
    close();
    removeDatabaseFiles(m_path);

    m_memory.swap(rows);
    m_ahead.clear();
    m_stored = 0;
    m_count = int(m_memory.size());
    m_bytes = 0;
    for (const Entry &entry : m_memory)
        m_bytes += entry.size();
    if (!m_announcedMemory) {
        m_announcedMemory = true;
        qCritical("The outbox database %s failed to %s (%s): reports waiting for the cloud are kept in "
                  "memory only until the program starts again",
                  qUtf8Printable(m_path), what, qUtf8Printable(why));
    }
}

OutboxBacklog Outbox::backlog() const
{
    OutboxBacklog backlog;
    backlog.waiting = m_count;
    const Entry *oldest = head();
    backlog.oldestQueued = oldest ? oldest->queued : 0;
    backlog.dropped = m_dropped;
    backlog.memoryOnly = m_announcedMemory && !m_db;
    return backlog;
}
