#include "historydatabase.h"

#include <QFile>

#include <sqlite3.h>

namespace {

constexpr const char *Schema[] = {
    "CREATE TABLE IF NOT EXISTS thing(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS field(id INTEGER PRIMARY KEY, name TEXT NOT NULL, numeric INTEGER NOT NULL, "
    "UNIQUE(name, numeric))",
    "CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, thing INTEGER NOT NULL, "
    "field INTEGER NOT NULL, UNIQUE(thing, field))",
    "CREATE TABLE IF NOT EXISTS sample(series INTEGER NOT NULL, time INTEGER NOT NULL, value, "
    "PRIMARY KEY(series, time)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS rollup(series INTEGER NOT NULL, level INTEGER NOT NULL, "
    "start INTEGER NOT NULL, lo REAL NOT NULL, hi REAL NOT NULL, at INTEGER NOT NULL, last REAL NOT NULL, "
    "n INTEGER NOT NULL, PRIMARY KEY(series, level, start)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS gap(thing INTEGER NOT NULL, start INTEGER NOT NULL, end INTEGER, "
    "PRIMARY KEY(thing, start)) WITHOUT ROWID",
};

} // namespace

HistoryDatabase::~HistoryDatabase()
{
    close();
}

void HistoryDatabase::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

HistoryDatabase::Opened HistoryDatabase::fail()
{
    const int code = errorCode();
    m_error = errorString();
    close();
    return isDamage(code) ? Opened::Damaged : Opened::Failed;
}

HistoryDatabase::Opened HistoryDatabase::open(const QString &path, Mode mode)
{
    close();
    m_path = path;
    const int flags = mode == Mode::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        return fail();
    sqlite3_extended_result_codes(m_db, 1);
    // A reader waits a little for the writer's checkpoint rather than failing at once.
    sqlite3_busy_timeout(m_db, mode == Mode::Write ? 2000 : 500);
    if (mode == Mode::Read)
        return exec("PRAGMA schema_version") ? Opened::Yes : fail();

    // Without fsync per commit: a crash of the machine may lose the last batches, never the file.
    // auto_vacuum takes on a new file only, before anything is written to it.
    if (!exec("PRAGMA auto_vacuum=INCREMENTAL") || !exec("PRAGMA journal_mode=WAL") ||
        !exec("PRAGMA synchronous=NORMAL") || !exec("PRAGMA journal_size_limit=8388608"))
        return fail();
    for (const char *statement : Schema) {
        if (!exec(statement))
            return fail();
    }
    HistoryQuery check = prepare("PRAGMA quick_check(1)");
    if (!check.step())
        return fail();
    if (check.text(0) != QLatin1String("ok")) {
        m_error = QStringLiteral("integrity check failed: ") + check.text(0);
        close();
        return Opened::Damaged;
    }
    return Opened::Yes;
}

bool HistoryDatabase::exec(const char *sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 HistoryDatabase::pragma(const char *name)
{
    const QByteArray sql = QByteArray("PRAGMA ") + name;
    HistoryQuery query = prepare(sql.constData());
    return query.step() ? query.integer(0) : -1;
}

bool HistoryDatabase::inTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}

int HistoryDatabase::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

int HistoryDatabase::errorCode() const
{
    return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
}

QString HistoryDatabase::errorString() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : m_error;
}

bool HistoryDatabase::isDamage(int code)
{
    return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
}
