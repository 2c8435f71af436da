#pragma once

#include <QString>

// tsl-gated --export-history: the CSV of one thing's history between two times, to a file or to
// standard output. Reads history.db only: no window, no device scan, no cloud.
namespace HistoryExportCommand {

struct Request
{
    QString thing;
    QString since; // ISO 8601; empty: from the oldest row
    QString until; // ISO 8601; empty: until now
    QString out;   // empty: standard output
    QString directory;
};

// Writes the export; returns the exit code (CommandLine::Success, or Failure with a message on
// standard error, or Usage for a time that does not parse).
int run(const Request &request);
// An ISO 8601 date and time ("2026-12-08T19:00", with seconds, milliseconds, "Z" or an offset;
// without one it is local time) or a date alone (its midnight); false when it is neither.
bool parseTime(const QString &text, qint64 *ms);

} // namespace HistoryExportCommand
