#pragma once

#include "trendquery.h"

#include <QHash>
#include <QJsonObject>
#include <QPalette>
#include <QtCharts/QChart>

namespace QtCharts {
class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// The chart of one thing's numeric fields over a range ending now. Each field is a line of the value
// each bucket ended with over a lighter band from its minimum to its maximum, so a spike shorter than
// a bucket still shows. The line breaks where the thing was gone: every stretch between two gaps is a
// series of its own ("trend:<field>" lines, "band:<field>" bands). States that arrive later are added
// at their time, merged into the last point while they fall within one bucket width, so a chart kept
// open for days holds as many points as it was drawn with.
class TrendChart : public QtCharts::QChart
{
    Q_OBJECT

public:
    explicit TrendChart(QGraphicsItem *parent = nullptr);

    // Draws the query's answer, each field in its unit where known (TrendUnits).
    void draw(const TrendData &data, qint64 bucketWidth);
    // Empties the chart for a thing and a span of time, bucketWidth apart.
    void reset(const QString &thing, qint64 span, qint64 bucketWidth);
    // A state of the thing drawn (an empty one: the thing is gone) at ms since the epoch; a field
    // the chart has no line for yet gets one.
    void append(qint64 time, const QJsonObject &state);
    // Moves the time axis to [to - span, to].
    void slide(qint64 to);
    // Keeps the time at the axis' right end: slides by a step of about a pixel once the time passed
    // it, so a chart kept open lays its axis out again only when that shows.
    void follow(qint64 time);

    // Colours from the palette: dark on a dark palette, light otherwise.
    void applyPalette(const QPalette &palette);

    QStringList fields() const { return m_fields.keys(); }
    // The points of a field's lines, stretch by stretch (for tests).
    QVector<QVector<QPointF>> stretches(const QString &field) const;

private:
    struct Field
    {
        int colour = 0;
        QString unit;
        QtCharts::QLineSeries *line = nullptr; // of the last stretch
        QtCharts::QLineSeries *upper = nullptr;
        QtCharts::QLineSeries *lower = nullptr;
        qint64 mergeStart = 0; // the time the last point's bucket began
        bool broken = true;    // the next value starts a new stretch
    };

    struct Points
    {
        QVector<QPointF> line, upper, lower;
    };
    void startStretch(const QString &name, Field &field, const Points &points);
    void addPoint(const QString &name, Field &field, qint64 time, double last, double min, double max,
                  bool merge);
    Field &addField(const QString &name);
    void fitValues(double min, double max);
    void styleSeries(const Field &field, QtCharts::QLineSeries *line, QtCharts::QAreaSeries *band) const;

    QtCharts::QDateTimeAxis *m_time;
    QtCharts::QValueAxis *m_values;
    QMap<QString, Field> m_fields;
    QString m_thing;
    qint64 m_span = 0;
    qint64 m_axisEnd = 0;
    qint64 m_width = 0;
    double m_min = 0;
    double m_max = 0;
    bool m_hasValues = false;
};
