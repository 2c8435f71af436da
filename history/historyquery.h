#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// A prepared SQLite statement, finalized with the object. Bindings and the position stay until
// reset(); step() and run() report SQLite's result code through code().
class HistoryQuery
{
public:
    HistoryQuery() = default;
    HistoryQuery(sqlite3 *db, const char *sql);
    ~HistoryQuery();
    HistoryQuery(HistoryQuery &&other) noexcept;
    HistoryQuery &operator=(HistoryQuery &&other) noexcept;
    HistoryQuery(const HistoryQuery &) = delete;
    HistoryQuery &operator=(const HistoryQuery &) = delete;

    bool isValid() const { return m_statement != nullptr; }
    HistoryQuery &bind(int index, qint64 value);
    HistoryQuery &bind(int index, double value);
    // UTF-8 text; the bytes are copied.
    HistoryQuery &bind(int index, const QByteArray &text);
    HistoryQuery &bindNull(int index);

    // The next row: true while there is one.
    bool step();
    // Runs to the end and resets; true when it completed.
    bool run();
    void reset();
    int code() const { return m_code; }

    int type(int column) const; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_NULL, ...
    qint64 integer(int column) const;
    double real(int column) const;
    QString text(int column) const;

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_code = 0;
};
