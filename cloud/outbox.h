#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <deque>

struct sqlite3;
struct sqlite3_stmt;

// What waits to be sent, as the window and the console show it.
struct OutboxBacklog
{
    int waiting = 0;         // reports the broker has not acknowledged yet
    qint64 oldestQueued = 0; // when the oldest of them was queued, ms since the epoch; 0 when none wait
    qint64 dropped = 0;      // reports given up since start: the oldest when full, ids no longer held
    bool memoryOnly = false; // the database is unusable: what waits is lost if the process ends

    bool isEmpty() const { return waiting == 0; }
    bool operator==(const OutboxBacklog &other) const
    {
        return waiting == other.waiting && oldestQueued == other.oldestQueued && dropped == other.dropped &&
               memoryOnly == other.memoryOnly;
    }
    bool operator!=(const OutboxBacklog &other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(OutboxBacklog)

// The state reports that wait for the broker's acknowledgement, in queue order, in an SQLite
// database (WAL, exclusively locked: one process per database) so they outlive the process. A report
// leaves on its own acknowledgement, whatever the order the acknowledgements come in. Changes
// wait in memory until commit(), which writes them in one transaction: the owner commits a few
// milliseconds after a report was queued, so that a report acknowledged before never touches the
// disk; acknowledgements of stored reports may wait for the next commit too (a crash before it
// sends those reports again, never loses one). Bounded by a number of messages and a number of bytes: when
// full, the oldest report is dropped and counted. When the database cannot be opened, is held by another
// process, or fails while in use (disk full), the outbox keeps its reports in memory instead, bounded the
// same way, and says so once in the log. A damaged database is set aside under a new name and a fresh one
// made.
class Outbox
{
public:
    struct Limits
    {
        int messages = 100000;
        qint64 bytes = 64LL * 1024 * 1024;
    };
    struct Entry
    {
        qint64 id = 0; // increasing in queue order, never reused while the outbox is open
        QString tid;
        QByteArray payload;
        qint64 queued = 0; // ms since the epoch
        qint64 size() const { return payload.size() + tid.toUtf8().size(); }
    };

    Outbox() = default;
    ~Outbox();
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    // "outbox.db" in the application's data directory.
    static QString defaultPath();

    // Opens or creates the database. False when it stays in memory (the reason is in the log).
    // Reports queued in memory before are kept behind the ones of the database.
    bool open(const QString &path);
    bool persistent() const { return m_db != nullptr; }
    QString path() const { return m_path; }

    // Applies at once: a smaller bound drops the oldest reports.
    void setLimits(const Limits &limits);
    Limits limits() const { return m_limits; }

    // Queues a report behind every other one; returns its id. A report larger than the whole byte
    // bound is dropped at once (and counted), returning 0.
    qint64 append(const QString &tid, const QByteArray &payload, qint64 queuedMs);
    // The oldest report, or null when none waits. Valid until the next change.
    const Entry *head() const;
    // The oldest report queued after the one with this id (which need not wait any more), or null
    // when there is none; next(0) is head(). Walks the queue in order without taking anything out, as
    // the reports go out ahead of their acknowledgements. Valid until the next change.
    const Entry *next(qint64 afterId);
    // The broker acknowledged this report: it leaves, whatever its place in the queue. Unknown ids
    // (already dropped) are ignored.
    void remove(qint64 id);
    // Gives up this report and counts it as dropped; unknown ids are ignored.
    void drop(qint64 id);
    // Gives up the oldest report and counts it as dropped.
    void dropHead();
    // Forgets every report (the identity they were sent under is void); nothing is counted.
    void clear();

    // Makes every change so far durable. Closing the outbox commits too.
    void commit();
    // Reports not on disk yet (none without a database), and when the oldest of them was queued.
    int unwritten() const { return m_db ? int(m_memory.size()) : 0; }
    qint64 oldestUnwrittenQueued() const { return unwritten() > 0 ? m_memory.front().queued : 0; }
    // Acknowledgements (or drops) not committed yet.
    bool hasUncommittedChanges() const { return m_inTransaction; }

    int count() const { return m_count; }
    qint64 bytes() const { return m_bytes; }
    qint64 dropped() const { return m_dropped; }
    OutboxBacklog backlog() const;

private:
    enum class Opened { Yes, Busy, Damaged, Failed };
    Opened tryOpen(const QString &path, QString *why);
    void close();
    bool prepare(sqlite3_stmt **statement, const char *sql);
    bool exec(const char *sql);
    // Reads the next stored rows after those in m_ahead; false when the database failed.
    bool loadAhead();
    // Makes sure the oldest stored row is in m_ahead.
    void keepHeadLoaded();
    // Deletes a stored row; *size receives its size, -1 when there was no such row.
    bool deleteRow(qint64 id, qint64 *size);
    bool beginChange();
    void makeRoom(qint64 size);
    void dropOldest();
    // The database failed: carry what it holds over to memory and go on there.
    void fallBack(const char *what);
    QString lastSqlError() const;

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    sqlite3_stmt *m_after = nullptr;
    QString m_path;
    bool m_announcedMemory = false;

    // Every report without a database; with one, those queued since the last commit (newer than
    // every stored row).
    std::deque<Entry> m_memory;
    // The oldest stored rows, in id order: every stored row up to m_aheadThrough, read in batches as
    // the queue is walked (reports in flight and the next ones to send).
    std::deque<Entry> m_ahead;
    qint64 m_aheadThrough = 0;
    int m_stored = 0; // rows in the database
    bool m_inTransaction = false;
    qint64 m_lastId = 0; // the largest id given, in either storage

    Limits m_limits;
    int m_count = 0;
    qint64 m_bytes = 0;
    qint64 m_dropped = 0;
};
