#include "trendchart.h"

#include "trendunits.h"

#include <QDateTime>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace {

// Distinct on light and dark backgrounds alike.
const QColor Colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
                          QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b)};
constexpr int ColourCount = int(sizeof Colours / sizeof Colours[0]);

bool splits(const QVector<HistoryGap> &gaps, qint64 before, qint64 after)
{
    return std::any_of(gaps.cbegin(), gaps.cend(),
                       [&](const HistoryGap &gap) { return gap.start >= before && gap.start < after; });
}

} // namespace

TrendChart::TrendChart(QGraphicsItem *parent)
    : QChart(parent), m_time(new QDateTimeAxis(this)), m_values(new QValueAxis(this))
{
    setAnimationOptions(QChart::NoAnimation);
    legend()->setAlignment(Qt::AlignBottom);
    m_time->setTickCount(7);
    addAxis(m_time, Qt::AlignBottom);
    addAxis(m_values, Qt::AlignLeft);
    setMargins(QMargins(4, 4, 4, 4));
}

void TrendChart::reset(const QString &thing, qint64 span, qint64 bucketWidth)
{
    removeAllSeries();
    m_fields.clear();
    m_hasValues = false;
    m_values->setRange(0, 1);
    m_values->setTitleText(QString());
    m_thing = thing;
    m_span = span;
    m_width = std::max<qint64>(1, bucketWidth);
}

TrendChart::Field &TrendChart::addField(const QString &name)
{
    Field &field = m_fields[name];
    field.colour = (m_fields.size() - 1) % ColourCount;
    field.unit = TrendUnits::unitOf(m_thing, name);
    // The value axis shows the unit when every field shares one.
    QStringList units;
    for (const Field &each : qAsConst(m_fields))
        units << each.unit;
    units.removeDuplicates();
    m_values->setTitleText(units.size() == 1 ? units.constFirst() : QString());
    return field;
}

void TrendChart::draw(const TrendData &data, qint64 bucketWidth)
{
    reset(data.thing, data.to - data.from, bucketWidth);
    for (const TrendField &source : data.fields) {
        Field &field = addField(source.name);
        // Each stretch's points are handed over at once: a series redraws for every change.
        Points points;
        qint64 previous = 0;
        double low = 0;
        double high = 0;
        for (const HistoryBucket &bucket : source.series.buckets) {
            if (!points.line.isEmpty() && splits(data.gaps, previous, bucket.lastTime)) {
                startStretch(source.name, field, points);
                points = Points();
            }
            const double x = double(bucket.lastTime);
            points.line.append({x, bucket.last});
            points.upper.append({x, bucket.max});
            points.lower.append({x, bucket.min});
            low = previous == 0 ? bucket.min : std::min(low, bucket.min);
            high = previous == 0 ? bucket.max : std::max(high, bucket.max);
            previous = bucket.lastTime;
            field.mergeStart = bucket.start;
        }
        startStretch(source.name, field, points);
        if (previous != 0)
            fitValues(low, high);
        // Gone since the last value: the next live value starts a new stretch.
        if (!data.gaps.isEmpty() && data.gaps.constLast().end == 0 && data.gaps.constLast().start >= previous)
            field.broken = true;
    }
    slide(data.to);
}

void TrendChart::startStretch(const QString &name, Field &field, const Points &points)
{
    const bool first = !field.line;
    auto *line = new QLineSeries(this);
    line->setName(TrendUnits::label(name, field.unit));
    line->setObjectName(QLatin1String("trend:") + name);
    field.upper = new QLineSeries(this);
    field.lower = new QLineSeries(this);
    line->replace(points.line);
    field.upper->replace(points.upper);
    field.lower->replace(points.lower);
    auto *band = new QAreaSeries(field.upper, field.lower);
    band->setObjectName(QLatin1String("band:") + name);
    field.upper->setParent(band);
    field.lower->setParent(band);
    field.line = line;
    field.broken = false;
    styleSeries(field, line, band);
    addSeries(band);
    addSeries(line);
    for (QAbstractSeries *series :
         {static_cast<QAbstractSeries *>(band), static_cast<QAbstractSeries *>(line)}) {
        series->attachAxis(m_time);
        series->attachAxis(m_values);
    }
    // One legend entry per field: the first stretch's line.
    for (QLegendMarker *marker : legend()->markers(band))
        marker->setVisible(false);
    if (!first) {
        for (QLegendMarker *marker : legend()->markers(line))
            marker->setVisible(false);
    }
}

void TrendChart::styleSeries(const Field &field, QLineSeries *line, QAreaSeries *band) const
{
    const QColor colour = Colours[field.colour];
    QPen pen(colour);
    pen.setWidthF(2);
    line->setPen(pen);
    QColor fill = colour;
    fill.setAlpha(70);
    band->setBrush(fill);
    band->setPen(Qt::NoPen);
}

void TrendChart::addPoint(const QString &name, Field &field, qint64 time, double last, double min, double max,
                          bool merge)
{
    if (field.broken)
        startStretch(name, field, Points());
    const double x = double(time);
    if (merge && field.line->count() > 0) {
        const int at = field.line->count() - 1;
        field.line->replace(at, x, last);
        field.upper->replace(at, x, std::max(field.upper->at(at).y(), max));
        field.lower->replace(at, x, std::min(field.lower->at(at).y(), min));
    } else {
        field.line->append(x, last);
        field.upper->append(x, max);
        field.lower->append(x, min);
    }
    fitValues(min, max);
}

void TrendChart::append(qint64 time, const QJsonObject &state)
{
    if (state.isEmpty()) {
        for (Field &field : m_fields)
            field.broken = true;
        return;
    }
    for (auto it = state.constBegin(); it != state.constEnd(); ++it) {
        const QJsonValue value = it.value();
        if (!value.isDouble() && !value.isBool())
            continue;
        const double number = value.isBool() ? (value.toBool() ? 1 : 0) : value.toDouble();
        auto field = m_fields.find(it.key());
        if (field == m_fields.end()) {
            addField(it.key());
            field = m_fields.find(it.key());
        }
        const bool merge = !field->broken && time - field->mergeStart < m_width;
        if (!merge)
            field->mergeStart = time;
        addPoint(field.key(), *field, time, number, number, number, merge);
    }
}

void TrendChart::follow(qint64 time)
{
    if (time < m_axisEnd)
        return;
    slide(time + std::max<qint64>(m_span / 500, 1000));
}

void TrendChart::slide(qint64 to)
{
    m_axisEnd = to;
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(to - m_span), QDateTime::fromMSecsSinceEpoch(to));
    if (m_span <= 24 * 3600 * 1000LL)
        m_time->setFormat(QStringLiteral("HH:mm"));
    else
        m_time->setFormat(QStringLiteral("dd.MM HH:mm"));
}

void TrendChart::fitValues(double min, double max)
{
    if (!m_hasValues) {
        m_min = min;
        m_max = max;
        m_hasValues = true;
    } else if (min >= m_min && max <= m_max) {
        return;
    }
    m_min = std::min(m_min, min);
    m_max = std::max(m_max, max);
    const double pad = std::max((m_max - m_min) * 0.08, 0.5);
    m_values->setRange(std::floor(m_min - pad), std::ceil(m_max + pad));
    m_values->applyNiceNumbers();
}

void TrendChart::applyPalette(const QPalette &palette)
{
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    const QColor text = palette.color(QPalette::WindowText);
    QColor grid = palette.color(QPalette::Mid);
    if (dark)
        grid = grid.darker(130);
    setBackgroundBrush(palette.color(QPalette::Base));
    setBackgroundPen(Qt::NoPen);
    setTitleBrush(text);
    legend()->setLabelColor(text);
    for (QAbstractAxis *axis :
         {static_cast<QAbstractAxis *>(m_time), static_cast<QAbstractAxis *>(m_values)}) {
        axis->setLabelsColor(text);
        axis->setTitleBrush(text);
        axis->setLinePenColor(grid);
        axis->setGridLineColor(grid);
    }
}

QVector<QVector<QPointF>> TrendChart::stretches(const QString &field) const
{
    QVector<QVector<QPointF>> found;
    const QString name = QLatin1String("trend:") + field;
    for (QAbstractSeries *series : series()) {
        if (series->objectName() == name)
            found.append(static_cast<QLineSeries *>(series)->pointsVector());
    }
    return found;
}
