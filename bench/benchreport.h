#pragma once

#include "benchstats.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// The figures of one benchmark run: printed as one Markdown table and written as JSON.
class BenchReport
{
public:
    struct Row
    {
        QString id;     // stable key in the JSON, e.g. "latency.ours"
        QString figure; // what the table shows
        QString unit;
        Summary summary; // a single figure has count 1 and every statistic equal
        QString target;  // empty when there is none
        QString verdict; // "met", "missed" or empty
        QString note;
    };

    void add(const Row &row);
    void addValue(const QString &id, const QString &figure, double value, const QString &unit,
                  const QString &note = QString());
    void addSummary(const QString &id, const QString &figure, const Summary &summary, const QString &unit,
                    const QString &note = QString());
    // Sets the target of the row and judges its figure: at the given statistic, value <= limit;
    // MedianAtLeast: median >= limit (a rate). Several checks are met only together.
    enum Statistic { Median, P99, Max, MedianAtLeast };
    void setTarget(const QString &id, const QString &text, Statistic statistic, double limit);
    void setTarget(const QString &id, const QString &text, const QList<QPair<Statistic, double>> &checks);
    // A row that could not be measured still appears, with the reason.
    void addMissing(const QString &id, const QString &figure, const QString &reason);

    const QList<Row> &rows() const { return m_rows; }
    void setMeta(const QString &key, const QString &value) { m_meta.insert(key, value); }

    QString markdown() const;
    QJsonObject json() const;

private:
    QList<Row> m_rows;
    QJsonObject m_meta;
};

// Series of at least this many samples show their p99.9 too.
constexpr int P999MinimumCount = 1000;

// Numbers as the table prints them: three significant digits, at most three decimals.
QString formatNumber(double value);
