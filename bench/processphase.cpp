// Footprint of the core as its own process: tsl-gated with the devices of this process's bus,
// connected to the broker, every thing reporting its changes at once.

#include "benchrun.h"
#include "simulatedhidbus.h"

#include <QProcess>
#include <QThread>

#include <algorithm>

namespace {

QByteArray stateTopic(const QString &type, const QString &serial, int regid)
{
    return "things/" + type.toUtf8() + "_100_" + serial.toUtf8() + '_' + QByteArray::number(regid) + "/state";
}

} // namespace

void BenchRun::measureIdle()
{
    std::fprintf(stderr, "bench: idle footprint, sensor and watchdog (%d s)\n", m_options.idleSeconds);
    SimulatedHidDevice *sensor = m_bus->plugSensor(QStringLiteral("IDL1"));
    m_bus->plugWatchdog(QStringLiteral("IDW1"));
    writePool({poolEntry(QStringLiteral("thx9"), QStringLiteral("IDL1"), 21),
               poolEntry(QStringLiteral("watchdog"), QStringLiteral("IDW1"), 22)});
    sensor->injectTemperature(21.5);
    QProcess gated;
    if (startGated(gated, QStringLiteral("idle"))) {
        QThread::sleep(uint(m_options.warmupSeconds));
        // A real sensor reports once a second; the reading stays, so nothing is published.
        const ProcessMeasurement m =
            // Windows of a third of the time: /proc counts CPU time in 10 ms ticks.
            measureProcess(gated.processId(), m_options.idleSeconds, qMax(1, m_options.idleSeconds / 3),
                           [sensor](int) { sensor->injectTemperature(21.5); });
        if (m.ok) {
            addFootprintRows(QStringLiteral("idle"), QStringLiteral("Idle core, 2 devices"), m);
            m_report.setTarget(QStringLiteral("idle.cpu"), QStringLiteral("<= 0.2 %"), BenchReport::Median,
                               0.2);
            m_report.setTarget(QStringLiteral("idle.peakRss"), QStringLiteral("<= 15 MB"), BenchReport::Max,
                               15e6 / (1024 * 1024));
        } else {
            m_report.addMissing(QStringLiteral("idle.cpu"), QStringLiteral("Idle core"),
                                QStringLiteral("tsl-gated died"));
        }
    } else {
        m_report.addMissing(QStringLiteral("idle.cpu"), QStringLiteral("Idle core"), m_error);
        m_error.clear();
    }
    stopProcess(gated);
    m_bus->unplug(QStringLiteral("IDL1"));
    m_bus->unplug(QStringLiteral("IDW1"));
}

void BenchRun::measureHidScale()
{
    const int count = m_options.hidSensors;
    // A full run takes at least 1000 readings, so that the p99.9 means something.
    const int seconds =
        m_options.quick ? m_options.hidSeconds : qMax(m_options.hidSeconds, (999 + count) / count);
    std::fprintf(stderr, "bench: %d simulated sensors in one core (%d s)\n", count, seconds);
    QList<SimulatedHidDevice *> sensors;
    QList<PoolEntry> pool;
    m_tracker.reset();
    for (int i = 0; i < count; ++i) {
        const QString serial = QStringLiteral("H%1").arg(i, 3, 10, QLatin1Char('0'));
        SimulatedHidDevice *sensor = m_bus->plugSensor(serial);
        sensor->injectTemperature(nextValue(serial));
        sensors.append(sensor);
        pool.append(poolEntry(QStringLiteral("thx9"), serial, 100 + i));
        watchSensor(sensor, stateTopic(QStringLiteral("thx9"), serial, 100 + i));
    }
    writePool(pool);
    QProcess gated;
    if (startGated(gated, QStringLiteral("hid-scale"))) {
        QThread::sleep(uint(m_options.warmupSeconds));
        m_tracker.reset();
        // Every sensor reports a changed reading every second.
        const ProcessMeasurement m =
            measureProcess(gated.processId(), seconds, qMin(5, seconds), [this, &sensors](int) {
                for (SimulatedHidDevice *s : qAsConst(sensors))
                    s->injectTemperature(nextValue(s->serial()));
            });
        const QString what = QStringLiteral("%1 sensors, a change each per second").arg(count);
        if (m.ok) {
            addFootprintRows(QStringLiteral("hid"), what, m);
            // The distribution's shape beside its order statistics: the share within each bound.
            const QVector<double> latencies = m_tracker.latenciesMs();
            QStringList shares;
            for (double bound : {0.5, 1.0, 2.5, 5.0, 10.0}) {
                const auto within = std::count_if(latencies.cbegin(), latencies.cend(),
                                                  [bound](double ms) { return ms <= bound; });
                shares << QStringLiteral("%1 % <= %2 ms")
                              .arg(latencies.isEmpty() ? 0.0 : 100.0 * double(within) / latencies.size(), 0,
                                   'f', 1)
                              .arg(bound);
            }
            m_report.addSummary(
                QStringLiteral("hid.latency"), what + QStringLiteral(": latency"), summarize(latencies),
                QStringLiteral("ms"),
                QStringLiteral("%1 unmatched; %2").arg(m_tracker.unmatched()).arg(shares.join(", ")));
            m_report.setTarget(QStringLiteral("hid.latency"),
                               QStringLiteral("median <= 1.0 ms, p99 <= 2.5 ms"),
                               {{BenchReport::Median, 1.0}, {BenchReport::P99, 2.5}});
        } else {
            m_report.addMissing(QStringLiteral("hid.cpu"), what, QStringLiteral("tsl-gated died"));
        }
    } else {
        m_report.addMissing(QStringLiteral("hid.cpu"), QStringLiteral("HID scale"), m_error);
        m_error.clear();
    }
    stopProcess(gated);
    for (SimulatedHidDevice *s : qAsConst(sensors)) {
        s->setInputDeliveredHook({});
        m_bus->unplug(s->serial());
    }
}

void BenchRun::measureSoak()
{
    std::fprintf(stderr, "bench: soak, sensor and watchdog, a change every second (%d s)\n",
                 m_options.soakSeconds);
    SimulatedHidDevice *sensor = m_bus->plugSensor(QStringLiteral("SOK1"));
    m_bus->plugWatchdog(QStringLiteral("SOW1"));
    writePool({poolEntry(QStringLiteral("thx9"), QStringLiteral("SOK1"), 31),
               poolEntry(QStringLiteral("watchdog"), QStringLiteral("SOW1"), 32)});
    watchSensor(sensor, stateTopic(QStringLiteral("thx9"), QStringLiteral("SOK1"), 31));
    sensor->injectTemperature(nextValue(QStringLiteral("SOK1")));
    QProcess gated;
    if (startGated(gated, QStringLiteral("soak"))) {
        QThread::sleep(uint(m_options.warmupSeconds));
        m_tracker.reset();
        const ProcessMeasurement soak =
            measureProcess(gated.processId(), m_options.soakSeconds, qMin(60, m_options.soakSeconds),
                           [this, sensor](int) { sensor->injectTemperature(nextValue(sensor->serial())); });
        if (soak.ok) {
            const QString what = QStringLiteral("Soak, 2 devices, a change every second");
            addFootprintRows(QStringLiteral("soak"), what, soak);
            m_report.addValue(QStringLiteral("soak.rssStart"), what + QStringLiteral(": RSS at start"),
                              soak.rssStartMb, QStringLiteral("MiB"));
            m_report.addValue(QStringLiteral("soak.rssEnd"), what + QStringLiteral(": RSS at end"),
                              soak.rssEndMb, QStringLiteral("MiB"));
            m_report.addValue(QStringLiteral("soak.rssGrowth"), what + QStringLiteral(": RSS growth"),
                              soak.rssEndMb - soak.rssStartMb, QStringLiteral("MiB"));
            m_report.setTarget(QStringLiteral("soak.rssGrowth"), QStringLiteral("<= 1 MB"), BenchReport::Max,
                               1e6 / (1024 * 1024));
            m_report.addSummary(QStringLiteral("soak.latency"),
                                what + QStringLiteral(": latency, tsl-gated process"),
                                summarize(m_tracker.latenciesMs()), QStringLiteral("ms"),
                                QStringLiteral("%1 unmatched").arg(m_tracker.unmatched()));
        } else {
            m_report.addMissing(QStringLiteral("soak.rssGrowth"), QStringLiteral("Soak"),
                                QStringLiteral("tsl-gated died"));
        }
    } else {
        m_report.addMissing(QStringLiteral("soak.rssGrowth"), QStringLiteral("Soak"), m_error);
        m_error.clear();
    }
    stopProcess(gated);
    sensor->setInputDeliveredHook({});
    m_bus->unplug(QStringLiteral("SOK1"));
    m_bus->unplug(QStringLiteral("SOW1"));
}
