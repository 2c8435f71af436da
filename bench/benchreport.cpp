#include "benchreport.h"

#include <QJsonArray>

#include <cmath>

QString formatNumber(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("-");
    const double magnitude = std::fabs(value);
    int decimals = 0;
    if (magnitude < 1)
        decimals = 3;
    else if (magnitude < 10)
        decimals = 2;
    else if (magnitude < 100)
        decimals = 1;
    return QString::number(value, 'f', decimals);
}

void BenchReport::add(const Row &row)
{
    for (Row &existing : m_rows) {
        if (existing.id == row.id) {
            existing = row;
            return;
        }
    }
    m_rows.append(row);
}

void BenchReport::addValue(const QString &id, const QString &figure, double value, const QString &unit,
                           const QString &note)
{
    Summary s;
    s.count = 1;
    s.min = s.median = s.p99 = s.p999 = s.max = value;
    add({id, figure, unit, s, QString(), QString(), note});
}

void BenchReport::addSummary(const QString &id, const QString &figure, const Summary &summary,
                             const QString &unit, const QString &note)
{
    add({id, figure, unit, summary, QString(), QString(), note});
}

void BenchReport::addMissing(const QString &id, const QString &figure, const QString &reason)
{
    add({id, figure, QString(), Summary(), QString(), QString(), reason});
}

void BenchReport::setTarget(const QString &id, const QString &text, Statistic statistic, double limit)
{
    setTarget(id, text, {{statistic, limit}});
}

void BenchReport::setTarget(const QString &id, const QString &text,
                            const QList<QPair<Statistic, double>> &checks)
{
    for (Row &row : m_rows) {
        if (row.id != id)
            continue;
        row.target = text;
        if (row.summary.isEmpty()) {
            row.verdict = QString();
            return;
        }
        bool met = true;
        for (const auto &check : checks) {
            const Summary &s = row.summary;
            switch (check.first) {
            case Median:
                met = met && s.median <= check.second;
                break;
            case P99:
                met = met && s.p99 <= check.second;
                break;
            case Max:
                met = met && s.max <= check.second;
                break;
            case MedianAtLeast:
                met = met && s.median >= check.second;
                break;
            }
        }
        row.verdict = met ? QStringLiteral("met") : QStringLiteral("missed");
        return;
    }
}

QString BenchReport::markdown() const
{
    QStringList lines;
    lines << QStringLiteral("| Figure | Unit | n | min | median | p99 | max | Target | |");
    lines << QStringLiteral("| --- | --- | ---: | ---: | ---: | ---: | ---: | --- | --- |");
    for (const Row &row : m_rows) {
        const Summary &s = row.summary;
        QString figure = row.figure;
        QString note = row.note;
        if (s.count >= P999MinimumCount)
            note += (note.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("p99.9 ") +
                    formatNumber(s.p999);
        if (!note.isEmpty())
            figure += QStringLiteral(" (%1)").arg(note);
        if (s.isEmpty()) {
            lines << QStringLiteral("| %1 | %2 | 0 | - | - | - | - | %3 | %4 |")
                         .arg(figure, row.unit, row.target, row.verdict);
            continue;
        }
        if (s.count == 1) {
            lines << QStringLiteral("| %1 | %2 | 1 | | %3 | | | %4 | %5 |")
                         .arg(figure, row.unit, formatNumber(s.median), row.target, row.verdict);
            continue;
        }
        lines << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
                     .arg(figure, row.unit, QString::number(s.count), formatNumber(s.min),
                          formatNumber(s.median), formatNumber(s.p99), formatNumber(s.max), row.target,
                          row.verdict);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QJsonObject BenchReport::json() const
{
    QJsonArray rows;
    for (const Row &row : m_rows) {
        QJsonObject o{{QStringLiteral("id"), row.id},
                      {QStringLiteral("figure"), row.figure},
                      {QStringLiteral("unit"), row.unit},
                      {QStringLiteral("count"), row.summary.count}};
        if (!row.summary.isEmpty()) {
            o.insert(QStringLiteral("min"), row.summary.min);
            o.insert(QStringLiteral("median"), row.summary.median);
            o.insert(QStringLiteral("p99"), row.summary.p99);
            o.insert(QStringLiteral("p999"), row.summary.p999);
            o.insert(QStringLiteral("max"), row.summary.max);
        }
        if (!row.target.isEmpty())
            o.insert(QStringLiteral("target"), row.target);
        if (!row.verdict.isEmpty())
            o.insert(QStringLiteral("verdict"), row.verdict);
        if (!row.note.isEmpty())
            o.insert(QStringLiteral("note"), row.note);
        rows.append(o);
    }
    QJsonObject doc = m_meta;
    doc.insert(QStringLiteral("rows"), rows);
    return doc;
}
