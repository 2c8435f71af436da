// The gateway core against the Python poller, side by side: in each pairing both see the same
// simulated devices, the same change of each sensor's reading every second and the same broker,
// for the same time, one after the other. Rounds alternate which side goes first, so a drift of
// the machine's load hits both; every ratio comes from the two sides of one round.

#include "benchrun.h"
#include "mosquittobroker.h"
#include "simulatedhidbus.h"

#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

struct Pairing
{
    QString key;      // in the figure ids
    QString name;     // in the figure names
    QString sensor;   // the serial, or with several sensors the serials' stem
    QString watchdog; // empty: no watchdog
    int regid;        // of the first sensor; then the watchdog's, or the next sensor's
    int sensors = 1;

    QString serial(int i) const
    {
        return sensors == 1 ? sensor : sensor + QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    }
};

// One side over all rounds.
struct SideSeries
{
    QVector<double> cpu;
    QVector<double> peakRss;
    QVector<double> latencyMedian;
    QVector<double> latencies;
    QVector<double> keepAlives;
    int changes = 0;

    void add(const PairSide &side)
    {
        cpu.append(side.cpuPercent);
        peakRss.append(side.peakRssMb);
        latencyMedian.append(side.latenciesMs.isEmpty() ? -1 : summarize(side.latenciesMs).median);
        latencies += side.latenciesMs;
        keepAlives.append(side.keepAlives);
        changes += side.changes;
    }
};

QByteArray stateTopic(const QString &type, const QString &serial, int regid)
{
    return "things/" + type.toUtf8() + "_100_" + serial.toUtf8() + '_' + QByteArray::number(regid) + "/state";
}

} // namespace

PairSide BenchRun::measurePairSide(bool ours, const QList<SimulatedHidDevice *> &sensors,
                                   SimulatedHidDevice *watchdog, const QList<QByteArray> &topics)
{
    PairSide side;
    const QString name =
        (ours ? QStringLiteral("pair-ours-") : QStringLiteral("pair-baseline-")) + sensors.first()->serial();
    QProcess process;
    if (ours) {
        if (!startGated(process, name)) {
            side.failure = m_error;
            m_error.clear();
            stopProcess(process);
            return side;
        }
    } else {
        const MqttProbe::Tls tls = probeTls(QStringLiteral("bench-baseline"));
        QStringList args{QStringLiteral(TSL_BENCH_SOURCE_DIR "/bench/baseline/poll_publish.py"),
                         QStringLiteral("--host"),
                         m_broker->host(),
                         QStringLiteral("--port"),
                         QString::number(m_broker->port()),
                         QStringLiteral("--cafile"),
                         tls.caFile,
                         QStringLiteral("--cert"),
                         tls.certFile,
                         QStringLiteral("--key"),
                         tls.keyFile};
        for (int i = 0; i < sensors.size(); ++i)
            args << QStringLiteral("--serial") << sensors.at(i)->serial() << QStringLiteral("--topic")
                 << QString::fromUtf8(topics.value(i));
        if (watchdog)
            args << QStringLiteral("--watchdog") << watchdog->serial() << QStringLiteral("--watchdog-topic")
                 << QStringLiteral("baseline/%1/state").arg(watchdog->serial());
        process.setStandardErrorFile(logPath(name + QStringLiteral("-err")));
        process.start(QStringLiteral("/usr/bin/python3"), args);
        bool ready = process.waitForStarted(10000);
        const qint64 deadline = monotonicNs() + 20000000000LL;
        while (ready && !process.canReadLine() && monotonicNs() < deadline)
            process.waitForReadyRead(200);
        if (!ready || process.readLine().trimmed() != "ready") {
            side.failure = QStringLiteral("the poller did not start (see %1)")
                               .arg(logPath(name + QStringLiteral("-err")));
            stopProcess(process);
            return side;
        }
    }

    auto change = [this, &sensors](int) {
        for (SimulatedHidDevice *sensor : sensors)
            sensor->injectTemperature(nextValue(sensor->serial()));
    };
    // The readings injected last have been read (by the next poll, within a second) and published.
    auto settle = [&sensors] {
        const qint64 deadline = monotonicNs() + 3000000000LL;
        auto pending = [&sensors] {
            return std::any_of(sensors.cbegin(), sensors.cend(),
                               [](SimulatedHidDevice *sensor) { return sensor->pendingInputCount() > 0; });
        };
        while (pending() && monotonicNs() < deadline)
            QThread::msleep(10);
        QThread::msleep(100);
    };
    // Warm up in the same regime as measured: a change every second.
    for (int s = 0; s < m_options.pairWarmupSeconds; ++s) {
        change(s);
        QThread::sleep(1);
    }
    // Deliveries counted are those of the changes made while measuring, no more, no fewer.
    settle();
    m_tracker.reset();
    if (watchdog)
        watchdog->takeOutputs();
    const MachineCpu machineBefore = sampleMachineCpu();
    const ProcessMeasurement m =
        measureProcess(process.processId(), m_options.pairSeconds, m_options.pairSeconds, change);
    side.machineBusyPercent = busyPercent(machineBefore, sampleMachineCpu());
    settle();
    stopProcess(process);
    if (!m.ok) {
        side.failure = ours ? QStringLiteral("tsl-gated died") : QStringLiteral("the poller died");
        return side;
    }
    side.cpuPercent = m.preciseCpuPercent();
    side.peakRssMb = m.peakRssMb;
    side.latenciesMs = m_tracker.latenciesMs();
    side.changes = m_options.pairSeconds * sensors.size();
    if (watchdog) {
        const QList<QByteArray> outputs = watchdog->takeOutputs();
        side.keepAlives = int(std::count(outputs.cbegin(), outputs.cend(), QByteArray("\x01\x01", 2)));
    }
    return side;
}

void BenchRun::measurePairs()
{
    const QList<Pairing> pairings{
        {QStringLiteral("sensor"), QStringLiteral("Sensor only"), QStringLiteral("PRS1"), QString(), 41},
        {QStringLiteral("sensorWatchdog"), QStringLiteral("Sensor and watchdog"), QStringLiteral("PRS2"),
         QStringLiteral("PRW2"), 43},
        {QStringLiteral("sensors40"), QStringLiteral("40 sensors"), QStringLiteral("PRM"), QString(), 300,
         40}};
    const int rounds = m_options.pairRounds;
    for (const Pairing &pairing : pairings) {
        std::fprintf(stderr, "bench: %s, tsl-gated against the Python poller (%d rounds of 2 x %d s)\n",
                     qPrintable(pairing.name), rounds, m_options.pairSeconds);
        QList<SimulatedHidDevice *> sensors;
        QList<QByteArray> oursTopics, baselineTopics;
        QList<PoolEntry> pool;
        for (int i = 0; i < pairing.sensors; ++i) {
            const QString serial = pairing.serial(i);
            SimulatedHidDevice *sensor = m_bus->plugSensor(serial);
            sensors.append(sensor);
            pool.append(poolEntry(QStringLiteral("thx9"), serial, pairing.regid + i));
            oursTopics.append(stateTopic(QStringLiteral("thx9"), serial, pairing.regid + i));
            baselineTopics.append("baseline/" + serial.toUtf8() + "/state");
            watchSensor(sensor, oursTopics.last());
            watchSensor(sensor, baselineTopics.last());
            sensor->injectTemperature(nextValue(serial));
        }
        SimulatedHidDevice *watchdog = nullptr;
        if (!pairing.watchdog.isEmpty()) {
            watchdog = m_bus->plugWatchdog(pairing.watchdog);
            pool.append(poolEntry(QStringLiteral("watchdog"), pairing.watchdog, pairing.regid + 1));
        }
        writePool(pool);

        SideSeries ours, baseline;
        QVector<double> busy;
        QString failure;
        for (int round = 0; round < rounds; ++round) {
            PairSide sides[2]; // ours, baseline
            for (int i = 0; i < 2; ++i) {
                const bool oursNow = (i == 0) == (round % 2 == 0);
                sides[oursNow ? 0 : 1] =
                    measurePairSide(oursNow, sensors, watchdog, oursNow ? oursTopics : baselineTopics);
            }
            for (const PairSide &side : sides) {
                if (!side.failure.isEmpty())
                    failure = side.failure;
                if (side.machineBusyPercent >= 0)
                    busy.append(side.machineBusyPercent);
            }
            // A round counts only with both of its sides.
            if (sides[0].failure.isEmpty() && sides[1].failure.isEmpty()) {
                ours.add(sides[0]);
                baseline.add(sides[1]);
            }
        }
        for (SimulatedHidDevice *sensor : qAsConst(sensors)) {
            sensor->setInputDeliveredHook({});
            m_bus->unplug(sensor->serial());
        }
        if (watchdog)
            m_bus->unplug(pairing.watchdog);
        writePool({});

        const QString id = QStringLiteral("pairs.") + pairing.key + QLatin1Char('.');
        const QString name = pairing.name + QStringLiteral(": ");
        if (ours.cpu.isEmpty()) {
            m_report.addMissing(id + QStringLiteral("ratio.cpu"),
                                name + QStringLiteral("CPU, ours / baseline"), failure);
            continue;
        }
        const QString roundsNote = QStringLiteral("%1 of %2 rounds of %3 s")
                                       .arg(ours.cpu.size())
                                       .arg(rounds)
                                       .arg(m_options.pairSeconds);
        auto sideRows = [&](const QString &side, const QString &label, const SideSeries &s) {
            QString note = roundsNote;
            if (watchdog)
                note += QStringLiteral(", %1 keep-alives a round").arg(summarize(s.keepAlives).median);
            m_report.addSummary(id + QStringLiteral("cpu.") + side, name + QStringLiteral("CPU, ") + label,
                                summarize(s.cpu), QStringLiteral("% of one core"), note);
            m_report.addSummary(id + QStringLiteral("peakRss.") + side,
                                name + QStringLiteral("peak RSS, ") + label, summarize(s.peakRss),
                                QStringLiteral("MiB"));
            m_report.addSummary(
                id + QStringLiteral("latency.") + side, name + QStringLiteral("latency, ") + label,
                summarize(s.latencies), QStringLiteral("ms"),
                QStringLiteral("%1 of %2 changes delivered").arg(s.latencies.size()).arg(s.changes));
        };
        sideRows(QStringLiteral("ours"), QStringLiteral("ours (tsl-gated)"), ours);
        sideRows(QStringLiteral("baseline"), QStringLiteral("baseline (Python poller)"), baseline);
        const QString ratioNote = QStringLiteral("per round");
        m_report.addSummary(id + QStringLiteral("ratio.cpu"), name + QStringLiteral("CPU, ours / baseline"),
                            summarize(pairedRatios(ours.cpu, baseline.cpu)), QStringLiteral("ratio"),
                            ratioNote);
        m_report.setTarget(id + QStringLiteral("ratio.cpu"), QStringLiteral("<= 0.5"), BenchReport::Median,
                           0.5);
        m_report.addSummary(
            id + QStringLiteral("ratio.peakRss"), name + QStringLiteral("peak RSS, ours / baseline"),
            summarize(pairedRatios(ours.peakRss, baseline.peakRss)), QStringLiteral("ratio"), ratioNote);
        m_report.setTarget(id + QStringLiteral("ratio.peakRss"), QStringLiteral("<= 0.7"),
                           BenchReport::Median, 0.7);
        m_report.addSummary(id + QStringLiteral("ratio.latencyMedian"),
                            name + QStringLiteral("latency median, ours / baseline"),
                            summarize(pairedRatios(ours.latencyMedian, baseline.latencyMedian)),
                            QStringLiteral("ratio"), ratioNote);
        m_report.addSummary(id + QStringLiteral("machineBusy"), name + QStringLiteral("machine busy"),
                            summarize(busy), QStringLiteral("% of all cores"),
                            QStringLiteral("each measured stretch"));
    }
}
