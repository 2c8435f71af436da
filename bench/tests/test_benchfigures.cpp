#include "benchreport.h"
#include "benchstats.h"
#include "deliverytracker.h"
#include "echotracker.h"
#include "procstat.h"

#include <QJsonArray>
#include <QTest>

#include <unistd.h>

namespace {

// Sensor input report 0x01 with the temperature in hundredths, little endian.
QByteArray sensorReport(qint16 hundredths)
{
    QByteArray r(3, 0x01);
    r[1] = char(hundredths & 0xFF);
    r[2] = char((hundredths >> 8) & 0xFF);
    return r;
}

constexpr qint64 Ms = 1000000;

} // namespace

class TestBenchFigures : public QObject
{
    Q_OBJECT

private slots:
    void orderStatistics()
    {
        QCOMPARE(summarize({}).count, 0);
        const Summary one = summarize({4.0});
        QCOMPARE(one.min, 4.0);
        QCOMPARE(one.median, 4.0);
        QCOMPARE(one.p99, 4.0);
        // Unsorted input; an even count takes the mean of the middle pair.
        const Summary four = summarize({9, 1, 5, 3});
        QCOMPARE(four.min, 1.0);
        QCOMPARE(four.median, 4.0);
        QCOMPARE(four.max, 9.0);
        QCOMPARE(four.p99, 9.0);
        // Nearest rank: of 1..200 the 198th value, not the maximum; of 1..100 the 99th.
        QVector<double> many;
        for (int i = 200; i >= 1; --i)
            many.append(i);
        QCOMPARE(summarize(many).p99, 198.0);
        QCOMPARE(summarize(many).median, 100.5);
        QVector<double> thousands; // p99.9 of 1..2000: the 1998th
        for (int i = 1; i <= 2000; ++i)
            thousands.append(i);
        QCOMPARE(summarize(thousands).p999, 1998.0);
        QCOMPARE(summarize(many.mid(100)).p99, 99.0);

        const Summary d = difference(summarize({10, 20, 30}), summarize({1, 2, 3, 4}));
        QCOMPARE(d.count, 3);
        QCOMPARE(d.median, 20.0 - 2.5);
        QCOMPARE(d.max, 26.0);
        QVERIFY(difference(summarize({1}), Summary()).isEmpty());

        // Rounds stay paired: one without a baseline, or without a figure of ours, drops out whole.
        QCOMPARE(pairedRatios({1, 2, -1, 3, 5}, {2, 0, 4, 3}), QVector<double>({0.5, 1}));
    }

    void procFiles()
    {
        // A command name with spaces and parentheses must not shift the fields.
        const QByteArray stat =
            "4242 (tsl gated) (x)) S 1 4242 4242 0 -1 4194560 1502 0 0 0 250 75 0 0 20 0 3 0 "
            "1000 200000000 3000 18446744073709551615";
        double cpu = 0;
        QVERIFY(parseStatCpu(stat, 100, &cpu));
        QCOMPARE(cpu, 3.25);
        QVERIFY(!parseStatCpu("4242 (short) S 1 2", 100, &cpu));
        QVERIFY(!parseStatCpu("garbage", 100, &cpu));

        qint64 rss = 0, peak = 0;
        QVERIFY(parseStatusMemory("Name:\ttsl-gated\nVmHWM:\t   15000 kB\nVmRSS:\t   12000 kB\nThreads:\t4\n",
                                  &rss, &peak));
        QCOMPARE(rss, qint64(12000));
        QCOMPARE(peak, qint64(15000));
        // A kernel thread has no memory lines.
        QVERIFY(!parseStatusMemory("Name:\tkworker\nThreads:\t1\n", &rss, &peak));

        // This very process.
        const ProcSample self = sampleProcess(getpid());
        QVERIFY(self.valid);
        QVERIFY(self.rssKb > 0);
        QVERIFY(self.peakRssKb >= self.rssKb);
        QVERIFY(!sampleProcess(-1).valid);
        // The CPU-time clock counts below the 10 ms tick.
        const double cpuBefore = processCpuSeconds(getpid());
        QVERIFY(cpuBefore > 0);
        volatile double sink = 0;
        for (int i = 0; i < 200000; ++i)
            sink = sink + i;
        const double cpuAfter = processCpuSeconds(getpid());
        QVERIFY(cpuAfter > cpuBefore && cpuAfter - cpuBefore < 0.01);
        QCOMPARE(processCpuSeconds(-1), -1.0);

        // The machine: busy is all but idle and iowait (guest is inside user); the "cpuN" lines
        // of single cores are not the sum.
        const MachineCpu from = parseMachineCpu("cpu  100 5 50 800 40 3 2 0 7 0\ncpu0 1 1 1 1 1 1 1 1\n");
        QVERIFY(from.valid);
        QCOMPARE(from.busy, qint64(160));
        QCOMPARE(from.total, qint64(1000));
        const MachineCpu to = parseMachineCpu("cpu  130 5 60 860 40 3 2 0 7 0\n");
        QCOMPARE(busyPercent(from, to), 40.0);
        QCOMPARE(busyPercent(to, from), -1.0);
        QVERIFY(!parseMachineCpu("cpu0 1 2 3 4 5 6 7 8\n").valid);
        QVERIFY(!parseMachineCpu("cpu  1 2 x 4 5 6 7 8\n").valid);
        QCOMPARE(busyPercent(parseMachineCpu("cpu  1 2 3\n"), to), -1.0);
        QCOMPARE(parseLoadAverage("2.41 1.07 0.55 3/412 9120\n"), 2.41);
        QCOMPARE(parseLoadAverage(""), -1.0);
        QVERIFY(sampleMachineCpu().valid && loadAverage() >= 0);
    }

    void deliveriesPairReadsWithMessages()
    {
        DeliveryTracker tracker;
        tracker.watch("things/thx9_100_A_1/state", "A");
        tracker.watch("things/thx9_100_B_2/state", "B");

        tracker.reportRead("A", sensorReport(2000), 100 * Ms);
        tracker.reportRead("B", sensorReport(2000), 101 * Ms);
        tracker.reportRead("A", sensorReport(-550), 102 * Ms);
        // Same value, other sensor: keyed by source, not only by value.
        tracker.messageReceived("things/thx9_100_B_2/state", "{\"t\":20}", 104 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":20}", 105 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":-5.5}", 110 * Ms);
        QCOMPARE(tracker.latenciesMs(), QVector<double>({3, 5, 8}));

        // A message for a value with no pending read (its read was already used) is unmatched; one
        // from an unwatched topic or without a temperature is ignored.
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":20}", 120 * Ms);
        tracker.messageReceived("things/other/state", "{\"t\":20}", 120 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"count\":1}", 120 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "not json", 120 * Ms);
        QCOMPARE(tracker.unmatched(), 1);
        QCOMPARE(tracker.count(), 3);

        // A read whose message never came is not paired with a much later message of that value.
        tracker.reportRead("A", sensorReport(2100), 200 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":21}",
                                200 * Ms + DeliveryTracker::StaleNs + Ms);
        QCOMPARE(tracker.count(), 3);
        QCOMPARE(tracker.unmatched(), 2);

        // Reports other than 0x01, or cut short, are no readings.
        tracker.reportRead("A", QByteArray("\x02\x10\x27", 3), 300 * Ms);
        tracker.reportRead("A", QByteArray("\x01\x10", 2), 300 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":100}", 301 * Ms);
        QCOMPARE(tracker.count(), 3);

        tracker.reset();
        QCOMPARE(tracker.count(), 0);
        QCOMPARE(tracker.unmatched(), 0);
        // Watched topics survive the reset.
        tracker.reportRead("A", sensorReport(1000), 400 * Ms);
        tracker.messageReceived("things/thx9_100_A_1/state", "{\"t\":10}", 401 * Ms);
        QCOMPARE(tracker.latenciesMs(), QVector<double>({1}));
    }

    void echoes()
    {
        EchoTracker echo;
        echo.sent(1, 10 * Ms);
        echo.sent(2, 11 * Ms);
        QVERIFY(!echo.hasArrived(1));
        echo.received("2", 15 * Ms);
        echo.received("1", 16 * Ms);
        echo.received("1", 17 * Ms); // a duplicate counts once
        echo.received("x", 17 * Ms);
        echo.received("3", 17 * Ms); // never sent
        QVERIFY(echo.hasArrived(1) && echo.hasArrived(2) && !echo.hasArrived(3));
        QCOMPARE(echo.latenciesMs(), QVector<double>({4, 6}));
    }

    void reportTableAndJson()
    {
        BenchReport report;
        report.setMeta("date", "2026-12-07");
        report.addSummary("latency.overhead", "Overhead", summarize({0.5, 1.0, 3.0}), "ms");
        report.setTarget("latency.overhead", "<= 2 ms at p99", BenchReport::P99, 2.0);
        report.addValue("idle.peakRss", "Peak RSS", 12.5, "MiB", "tsl-gated");
        report.setTarget("idle.peakRss", "<= 20 MB", BenchReport::Max, 19.07);
        report.addMissing("soak.rssGrowth", "Soak", "tsl-gated died");
        report.setTarget("soak.rssGrowth", "<= 1 MB", BenchReport::Max, 0.95);
        // Adding a row again replaces it in place.
        report.addValue("idle.peakRss", "Peak RSS", 25.0, "MiB");
        report.setTarget("idle.peakRss", "<= 20 MB", BenchReport::Max, 19.07);
        QCOMPARE(report.rows().size(), 3);

        const QStringList lines = report.markdown().trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(2).startsWith(
            "| Overhead | ms | 3 | 0.500 | 1.00 | 3.00 | 3.00 | <= 2 ms at p99 | missed |"));
        QVERIFY(lines.at(3).contains("| 25.0 |"));
        QVERIFY(lines.at(3).endsWith("| missed |"));
        QVERIFY(lines.at(4).contains("Soak (tsl-gated died)"));
        QVERIFY(lines.at(4).endsWith("| <= 1 MB |  |")); // nothing measured: no verdict

        const QJsonObject json = report.json();
        QCOMPARE(json.value("date").toString(), QStringLiteral("2026-12-07"));
        const QJsonArray rows = json.value("rows").toArray();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0).toObject().value("p99").toDouble(), 3.0);
        QCOMPARE(rows.at(0).toObject().value("verdict").toString(), QStringLiteral("missed"));
        QVERIFY(!rows.at(2).toObject().contains("median"));

        QCOMPARE(formatNumber(0.1234), QStringLiteral("0.123"));
        QCOMPARE(formatNumber(-1.5), QStringLiteral("-1.50"));
        QCOMPARE(formatNumber(1234.4), QStringLiteral("1234"));
    }
};

QTEST_APPLESS_MAIN(TestBenchFigures)
#include "test_benchfigures.moc"
