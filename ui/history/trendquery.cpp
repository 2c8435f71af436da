#include "trendquery.h"

#include <QElapsedTimer>
#include <QFileInfo>

TrendData queryTrend(const QString &directory, const QString &thing, qint64 from, qint64 to, int maxBuckets)
{
    QElapsedTimer clock;
    clock.start();
    TrendData data;
    data.thing = thing;
    data.from = from;
    data.to = to;
    HistoryReader reader;
    if (!reader.open(directory)) {
        // No file yet is no error: the chart is empty until the first state is recorded.
        if (QFileInfo::exists(directory + QLatin1String("/history.db")))
            data.error = reader.errorString();
        data.elapsedMs = clock.elapsed();
        return data;
    }
    const QStringList fields = reader.numericFields(thing, from, to);
    for (const QString &field : fields)
        data.fields.append({field, reader.series(thing, field, from, to, maxBuckets)});
    data.gaps = reader.gaps(thing, from, to);
    data.elapsedMs = clock.elapsed();
    return data;
}
