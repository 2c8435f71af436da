#pragma once

#include "historyquery.h"

#include <QString>

struct sqlite3;

// One connection to the history file, and the schema all of them share:
//
//   thing(id, name)                 the short ids of the things, each once
//   field(id, name, numeric)        field names, once per kind: "t" numeric and "t" text are two
//   series(id, thing, field)        one per field of a thing
//   sample(series, time, value)     every value, keyed (series, time): WITHOUT ROWID, so the key is
//                                   the table and a range of one series is one contiguous read
//   rollup(series, level, start, lo, hi, at, last, n)
//                                   min, max and the last value (and its time) of the numeric samples
//                                   of one series in one cell of Cells[level]: whole minutes, hours
//                                   and days since the epoch. Long ranges are answered from these.
//   gap(thing, start, end)          the thing was gone from start until end (NULL: still gone)
//
// Times are ms since the epoch, UTC. One writer connection (HistoryStore) and any number of
// read-only ones (HistoryReader), side by side thanks to the write-ahead log.
class HistoryDatabase
{
public:
    enum class Mode { Write, Read };
    enum class Opened { Yes, Damaged, Failed };

    static constexpr int LevelCount = 3;
    static constexpr qint64 Cells[LevelCount] = {60LL * 1000, 3600LL * 1000, 86400LL * 1000};
    static constexpr char FileName[] = "history.db";

    HistoryDatabase() = default;
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase &) = delete;
    HistoryDatabase &operator=(const HistoryDatabase &) = delete;

    // Writing creates the file and the schema and checks the file (quick_check); reading needs an
    // existing file. Damaged: not a database, or it failed the check.
    Opened open(const QString &path, Mode mode);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    QString path() const { return m_path; }

    HistoryQuery prepare(const char *sql) const { return HistoryQuery(m_db, sql); }
    bool exec(const char *sql);
    // The integer a pragma answers, -1 when it fails.
    qint64 pragma(const char *name);
    bool inTransaction() const;
    // Rows the last INSERT, UPDATE or DELETE changed.
    int changes() const;

    // Of the last failed call: SQLite's extended code and message.
    int errorCode() const;
    QString errorString() const;
    static bool isDamage(int code);

private:
    Opened fail();

    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_error;
};
