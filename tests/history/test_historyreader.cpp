#include "historyreader.h"
#include "historystore.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A thing recorded once a second for a week, with one spike and two hours away on the third day;
// the gateway, with another field, on the last day only.
const QString Sensor = QStringLiteral("thx9_1_A1B2");
const QString Gateway = QStringLiteral("gateway_1_?");
constexpr qint64 Second = 1000;
constexpr qint64 Day = 86400 * Second;
constexpr qint64 Week = 7 * Day;
constexpr qint64 Spike = 4 * Day + 12345 * Second;
constexpr qint64 AwayFrom = 2 * Day + 3600 * Second;
constexpr qint64 AwayUntil = AwayFrom + 7200 * Second;

qint64 origin()
{
    // The week ends now, so that the day bound (30 by default) keeps all of it; it starts off any
    // whole minute, so that every range has ragged ends.
    static const qint64 start = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000 - Week + 250;
    return start;
}

bool present(qint64 offset)
{
    return offset < AwayFrom || offset >= AwayUntil;
}

double value(qint64 offset)
{
    if (offset == Spike)
        return 99.5;
    return 20 + 5 * std::sin(double(offset) / 3e6) + double((offset / Second * 7919) % 13) / 10;
}

// The buckets the reader must give for [from, to), computed from every value.
HistoryBucket reference(qint64 from, qint64 to)
{
    HistoryBucket bucket;
    bucket.min = 1e9;
    bucket.max = -1e9;
    const qint64 first =
        from <= origin() ? origin() : origin() + (from - origin() + Second - 1) / Second * Second;
    for (qint64 t = first; t < to && t < origin() + Week; t += Second) {
        if (!present(t - origin()))
            continue;
        const double v = value(t - origin());
        bucket.min = qMin(bucket.min, v);
        bucket.max = qMax(bucket.max, v);
        bucket.last = v;
        bucket.lastTime = t;
        ++bucket.count;
    }
    return bucket;
}

} // namespace

class TestHistoryReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    HistoryReader m_reader;

private slots:
    void initTestCase()
    {
        HistoryStore store(m_dir.path());
        store.open();
        QVERIFY(store.isOpen());
        for (qint64 day = 0; day < 7; ++day) {
            HistoryBatch batch;
            batch.reserve(int(Day / Second) + 2);
            for (qint64 offset = day * Day; offset < (day + 1) * Day; offset += Second) {
                const qint64 time = origin() + offset;
                if (offset == AwayFrom)
                    batch.append(HistoryRecord::gone(time, Sensor));
                if (!present(offset))
                    continue;
                QJsonObject state{{QStringLiteral("t"), value(offset)}};
                if (offset % (60 * Second) == 0) {
                    state.insert(QStringLiteral("status"), QStringLiteral("ok"));
                    state.insert(QStringLiteral("alarm"), offset == Spike);
                }
                batch.append({time, Sensor, state});
                if (day == 6 && offset % (10 * Second) == 0)
                    batch.append({time, Gateway, {{QStringLiteral("uptime"), double(offset / Second)}}});
            }
            QVERIFY(store.write(batch));
        }
        store.close();
        QVERIFY(m_reader.open(m_dir.path()));
    }

    // Every bucket holds exactly the values of its stretch: min, max, last and its time, and how
    // many; nothing outside the range, no value lost, at most the buckets asked for.
    void bucketsMatchTheValues_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<int>("count");
        const qint64 o = origin();
        QTest::newRow("week into 1000 (minutes)") << o << o + Week << 1000;
        QTest::newRow("week into 100 (hours)") << o << o + Week << 100;
        QTest::newRow("week into 5 (days)") << o - 3 * Day << o + Week << 5;
        QTest::newRow("two hours into 1000 (samples)") << o + Day + 17 << o + Day + 7200 * Second << 1000;
        QTest::newRow("ragged three days into 333") << o + 2 * Day + 777 << o + 5 * Day - 4321 << 333;
        QTest::newRow("one bucket") << o + 100 * Second << o + 10000 * Second << 1;
    }
    void bucketsMatchTheValues()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(int, count);
        const HistorySeries series = m_reader.series(Sensor, QStringLiteral("t"), from, to, count);
        QVERIFY(series.width > 0);
        QVERIFY(!series.buckets.isEmpty());
        QVERIFY(series.buckets.size() <= count);
        qint64 total = 0;
        qint64 previous = LLONG_MIN;
        for (const HistoryBucket &bucket : series.buckets) {
            QVERIFY(bucket.start >= previous + series.width);
            previous = bucket.start;
            const HistoryBucket expected =
                reference(qMax(from, bucket.start), qMin(to, bucket.start + series.width));
            QCOMPARE(bucket.count, expected.count);
            QCOMPARE(bucket.min, expected.min);
            QCOMPARE(bucket.max, expected.max);
            QCOMPARE(bucket.lastTime, expected.lastTime);
            QCOMPARE(bucket.last, expected.last);
            total += bucket.count;
        }
        QCOMPARE(total, reference(from, to).count);
    }

    // The spike survives the reduction; the time away has no bucket and comes back as a gap; the
    // fields are those with numbers in the range.
    void spikeGapsAndFields()
    {
        const qint64 o = origin();
        const HistorySeries week = m_reader.series(Sensor, QStringLiteral("t"), o, o + Week, 1000);
        int spikes = 0;
        for (const HistoryBucket &bucket : week.buckets) {
            spikes += bucket.max == 99.5 ? 1 : 0;
            QVERIFY(!(bucket.start >= o + AwayFrom && bucket.start + week.width <= o + AwayUntil));
        }
        QCOMPARE(spikes, 1);
        QCOMPARE(week.gaps, QVector<HistoryGap>({{o + AwayFrom, o + AwayUntil}}));
        QVERIFY(m_reader.gaps(Sensor, o + AwayUntil, o + Week).isEmpty());
        QVERIFY(m_reader.series(Sensor, QStringLiteral("status"), o, o + Week, 10).buckets.isEmpty());
        QVERIFY(m_reader.series(Sensor, QStringLiteral("t"), o + AwayFrom + 1, o + AwayUntil, 10)
                    .buckets.isEmpty());

        QCOMPARE(m_reader.things(), QStringList({Gateway, Sensor}));
        QCOMPARE(m_reader.numericFields(Sensor, o, o + Week), QStringList({"alarm", "t"}));
        QCOMPARE(m_reader.numericFields(Gateway, o, o + 5 * Day), QStringList());
        QCOMPARE(m_reader.numericFields(Gateway, o, o + Week), QStringList({"uptime"}));
    }

    // Rows come in time order, then by thing and field, each value with its own type.
    void rowsInTimeOrder()
    {
        const qint64 at = origin() + 6 * Day; // a whole minute into the week: every field
        const std::unique_ptr<HistoryCursor> rows = m_reader.rows(at, at + 2 * Second);
        QStringList seen;
        HistoryRow row;
        while (rows->next(&row))
            seen.append(QStringLiteral("%1 %2 %3 %4")
                            .arg(row.time - at)
                            .arg(row.thing, row.field, QLatin1String(row.value.typeName())));
        QVERIFY(!rows->failed());
        QCOMPARE(seen, QStringList({"0 gateway_1_? uptime qlonglong", "0 thx9_1_A1B2 alarm qlonglong",
                                    "0 thx9_1_A1B2 status QString", "0 thx9_1_A1B2 t double",
                                    "1000 thx9_1_A1B2 t double"}));
    }
};

QTEST_GUILESS_MAIN(TestHistoryReader)
#include "test_historyreader.moc"
