#include "historyquery.h"

#include <sqlite3.h>

#include <utility>

HistoryQuery::HistoryQuery(sqlite3 *db, const char *sql)
{
    m_code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    if (m_code != SQLITE_OK) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

HistoryQuery::~HistoryQuery()
{
    sqlite3_finalize(m_statement);
}

HistoryQuery::HistoryQuery(HistoryQuery &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)), m_code(other.m_code)
{
}

HistoryQuery &HistoryQuery::operator=(HistoryQuery &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_code = other.m_code;
    }
    return *this;
}

HistoryQuery &HistoryQuery::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

HistoryQuery &HistoryQuery::bind(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
    return *this;
}

HistoryQuery &HistoryQuery::bind(int index, const QByteArray &text)
{
    sqlite3_bind_text(m_statement, index, text.constData(), text.size(), SQLITE_TRANSIENT);
    return *this;
}

HistoryQuery &HistoryQuery::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
    return *this;
}

bool HistoryQuery::step()
{
    if (!m_statement)
        return false;
    m_code = sqlite3_step(m_statement);
    return m_code == SQLITE_ROW;
}

bool HistoryQuery::run()
{
    while (step()) {
    }
    const bool done = m_code == SQLITE_DONE;
    reset();
    return done;
}

void HistoryQuery::reset()
{
    sqlite3_reset(m_statement);
}

int HistoryQuery::type(int column) const
{
    return sqlite3_column_type(m_statement, column);
}

qint64 HistoryQuery::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double HistoryQuery::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

QString HistoryQuery::text(int column) const
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
                             sqlite3_column_bytes(m_statement, column));
}
