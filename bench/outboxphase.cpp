// The outbox: what keeping every report on disk until the broker acknowledges it costs. Latency of
// the core with its outbox on disk against the same core with it in memory, the cost of one report
// in the database, the drain after an outage, and the footprint of tsl-gated holding a full outbox.

#include "benchrun.h"
#include "corehost.h"
#include "mosquittobroker.h"
#include "outbox.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"

#include <QDateTime>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

const QString OutboxSensor = QStringLiteral("OBX1");
const int OutboxRegid = 31;
// Where the core keeps its outbox; "memory" keeps it off the disk (see CalvexCloudClient).
constexpr char OutboxVariable[] = "TSL_GATE_OUTBOX";

QString sensorTid()
{
    return QStringLiteral("thx9_100_%1_%2").arg(OutboxSensor).arg(OutboxRegid);
}

// The reports an outage leaves: as many as the outbox takes, in the gateway's own outbox.
void fillOutbox(int reports)
{
    Outbox box;
    box.open(Outbox::defaultPath());
    box.clear();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < reports; ++i)
        box.append(sensorTid(), "{\"t\":" + QByteArray::number(20 + i % 100) + '}', now);
}

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

void BenchRun::measureOutbox()
{
    std::fprintf(stderr, "bench: outbox (%d latency samples, an outage of %d reports)\n",
                 m_options.outboxSamples, m_options.outboxReports);
    SimulatedHidDevice *sensor = m_bus->plugSensor(OutboxSensor);
    writePool({poolEntry(QStringLiteral("thx9"), OutboxSensor, OutboxRegid)});
    const QByteArray topic = "things/" + sensorTid().toUtf8() + "/state";
    watchSensor(sensor, topic);

    // Latency: the same core with its outbox on disk and in memory, in alternating rounds.
    QVector<double> onDisk;
    QVector<double> inMemory;
    const int rounds = 2;
    for (int round = 0; round < rounds; ++round) {
        for (const bool disk : {true, false}) {
            if (disk)
                qunsetenv(OutboxVariable);
            else
                qputenv(OutboxVariable, "memory");
            const bool ran = coreLatency(sensor, qMax(1, m_options.outboxSamples / rounds));
            qunsetenv(OutboxVariable);
            if (!ran) {
                m_report.addMissing(QStringLiteral("outbox.latency"), QStringLiteral("Outbox latency"),
                                    QStringLiteral("the core did not connect"));
                return;
            }
            (disk ? onDisk : inMemory) += m_tracker.latenciesMs();
        }
    }
    const Summary disk = summarize(onDisk);
    const Summary memory = summarize(inMemory);
    m_report.addSummary(QStringLiteral("outbox.latencyDisk"), QStringLiteral("Latency, outbox on disk"), disk,
                        QStringLiteral("ms"));
    m_report.addSummary(QStringLiteral("outbox.latencyMemory"), QStringLiteral("Latency, outbox in memory"),
                        memory, QStringLiteral("ms"));
    m_report.addSummary(QStringLiteral("outbox.latencyOverhead"),
                        QStringLiteral("Outbox on disk: latency over in memory"), difference(disk, memory),
                        QStringLiteral("ms"), QStringLiteral("statistic by statistic"));
    m_report.setTarget(QStringLiteral("outbox.latencyOverhead"), QStringLiteral("<= +0.05 ms at p99"),
                       BenchReport::P99, 0.05);

    // Cost of one report, in batches of 1000: queued, then taken out on its acknowledgement. On
    // disk either written and committed at each step (a report that waits: the most it can cost),
    // or acknowledged before the commit that would have written it (the steady flow).
    struct CostRow
    {
        const char *id;
        const char *what;
        bool onFile;
        bool commitEach;
    };
    const CostRow costRows[] = {
        {"outbox.costDisk", "Outbox cost per report written to disk (queue, commit, acknowledge, commit)",
         true, true},
        {"outbox.costDiskAcknowledged", "Outbox cost per report acknowledged before its commit, on disk",
         true, false},
        {"outbox.costMemory", "Outbox cost per report, in memory", false, false},
    };
    QTemporaryDir scratch;
    for (const CostRow &row : costRows) {
        Outbox box;
        if (row.onFile)
            box.open(scratch.filePath(QLatin1String(row.id) + QStringLiteral(".db")));
        QVector<double> perReportUs;
        const QByteArray payload = "{\"t\":21.5}";
        for (int batch = 0; batch < 20; ++batch) {
            const qint64 start = monotonicNs();
            for (int i = 0; i < 1000; ++i) {
                const qint64 id = box.append(sensorTid(), payload, 0);
                if (row.commitEach)
                    box.commit();
                box.remove(id);
                if (row.commitEach)
                    box.commit();
            }
            perReportUs.append(double(monotonicNs() - start) / 1000.0 / 1000.0);
        }
        m_report.addSummary(QLatin1String(row.id), QLatin1String(row.what), summarize(perReportUs),
                            QStringLiteral("µs"), QStringLiteral("per batch of 1000"));
    }

    // Drain: the core starts with an outage's reports waiting and the broker up.
    const int outage = m_options.outboxReports;
    fillOutbox(outage);
    std::atomic<int> received{0};
    std::atomic<qint64> lastNs{0};
    MqttProbe drainProbe(QStringLiteral("bench-drain"), MqttProbe::Subscriber);
    drainProbe.setMessageHandler([&](const QByteArray &t, const QByteArray &, qint64 ns) {
        if (t == topic) {
            ++received;
            lastNs = ns;
        }
    });
    if (!drainProbe.connectTo(m_broker->host(), m_broker->port(), probeTls(QStringLiteral("bench-drain"))) ||
        !drainProbe.subscribe(QString::fromUtf8(topic))) {
        m_report.addMissing(QStringLiteral("outbox.drain"), QStringLiteral("Outbox drain"),
                            drainProbe.errorString());
        return;
    }
    {
        CoreHost core(buildDir() + QStringLiteral("/bin"));
        core.request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load, 30000);
        core.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan, 30000);
        core.request(&CxgatewRunner::connectToCloud, CxgatewRunner::CConnect, 30000, false);
        const bool connected = core.waitConnected(30000);
        const qint64 start = monotonicNs();
        const qint64 deadline = start + 600 * qint64(1000000000);
        while (connected && received < outage && monotonicNs() < deadline)
            pump(50);
        if (received >= outage) {
            const double seconds = double(lastNs - start) / 1e9;
            m_report.addValue(QStringLiteral("outbox.drainSeconds"),
                              QStringLiteral("Drain of %1 waiting reports after an outage").arg(outage),
                              seconds, QStringLiteral("s"));
            m_report.addValue(QStringLiteral("outbox.drainRate"), QStringLiteral("Drain rate"),
                              outage / seconds, QStringLiteral("reports/s"));
            m_report.setTarget(QStringLiteral("outbox.drainRate"), QStringLiteral(">= 30 000 reports/s"),
                               BenchReport::MedianAtLeast, 30000);
        } else {
            m_report.addMissing(QStringLiteral("outbox.drain"), QStringLiteral("Outbox drain"),
                                QStringLiteral("%1 of %2 reports arrived").arg(int(received)).arg(outage));
        }
    }

    // Footprint: tsl-gated offline with a full outbox.
    fillOutbox(outage);
    const QVariant port = QSettings().value(Key::CloudPort);
    QSettings().setValue(Key::CloudPort, 1); // nothing listens: the gateway stays offline
    QProcess gated;
    gated.setProgram(buildDir() + QStringLiteral("/bin/tsl-gated"));
    gated.setStandardOutputFile(logPath(QStringLiteral("outbox-full")));
    gated.setStandardErrorFile(logPath(QStringLiteral("outbox-full-err")));
    gated.start();
    if (gated.waitForStarted(10000) &&
        waitForLogLine(logPath(QStringLiteral("outbox-full")),
                       "backlog waiting=" + QByteArray::number(outage), 30000)) {
        QThread::sleep(uint(m_options.warmupSeconds));
        const ProcSample sample = sampleProcess(pid_t(gated.processId()));
        if (sample.valid)
            m_report.addValue(
                QStringLiteral("outbox.fullRss"),
                QStringLiteral("tsl-gated offline with %1 reports waiting: peak RSS").arg(outage),
                sample.peakRssKb / 1024.0, QStringLiteral("MiB"));
    } else {
        m_report.addMissing(QStringLiteral("outbox.fullRss"), QStringLiteral("Full outbox footprint"),
                            QStringLiteral("tsl-gated did not show its backlog (see %1)")
                                .arg(logPath(QStringLiteral("outbox-full"))));
    }
    stopProcess(gated);
    QSettings().setValue(Key::CloudPort, port);
    Outbox cleaner;
    cleaner.open(Outbox::defaultPath());
    cleaner.clear();
    m_bus->unplug(OutboxSensor);
}
