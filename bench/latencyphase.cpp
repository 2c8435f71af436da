// Latency: a sensor's report handed to the reader, to the state message at a subscriber. The core
// runs in this process (the runner on its worker thread); the floor is a bare publish and receive
// over the same broker; the baseline is the user's own script on the same sensor.

#include "benchrun.h"
#include "corehost.h"
#include "mosquittobroker.h"
#include "simulatedhidbus.h"
#include "testpki.h"

#include "qabstractthing.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <csignal>

namespace {

const QString LatencySensor = QStringLiteral("LAT1");
const int LatencyRegid = 11;

void pumpEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int BenchRun::deliverOneByOne(SimulatedHidDevice *sensor, int samples, int timeoutMs)
{
    int delivered = 0;
    for (int i = 0; i < samples; ++i) {
        const int before = m_tracker.count();
        sensor->injectTemperature(nextValue(sensor->serial()));
        const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
        while (m_tracker.count() == before && monotonicNs() < deadline)
            pumpEvents(5);
        if (m_tracker.count() > before)
            ++delivered;
        // Let the reader drain what is left of this sample before the next one.
        pumpEvents(20);
    }
    return delivered;
}

bool BenchRun::coreLatency(SimulatedHidDevice *sensor, int samples)
{
    m_tracker.reset();
    CoreHost core(buildDir() + QStringLiteral("/bin"));
    const bool loaded = core.request(&RunnerHost::loadPlugins, CxgatewRunner::Load, 30000).toBool();
    const bool scanned = core.request(&RunnerHost::rescan, CxgatewRunner::Rescan, 30000).toBool();
    core.request(&RunnerHost::connectToCloud, CxgatewRunner::CConnect, 30000, false);
    if (!loaded || !scanned || !core.waitConnected(30000))
        return false;
    core.onWorker([](CxgatewRunner *runner) {
        for (QAbstractThing *thing : runner->things())
            thing->setReportChanges(true);
    });
    // The first reading after the scan only settles the sensor's state.
    pumpEvents(1500);
    m_tracker.reset();
    deliverOneByOne(sensor, samples, 3000);
    return true;
}

void BenchRun::measureLatency()
{
    std::fprintf(stderr, "bench: latency (core in this process, %d samples)\n", m_options.latencySamples);
    SimulatedHidDevice *sensor = m_bus->plugSensor(LatencySensor);
    writePool({poolEntry(QStringLiteral("thx9"), LatencySensor, LatencyRegid)});
    const QByteArray topic =
        "things/thx9_100_" + LatencySensor.toUtf8() + '_' + QByteArray::number(LatencyRegid) + "/state";
    watchSensor(sensor, topic);
    if (!coreLatency(sensor, m_options.latencySamples)) {
        m_report.addMissing(QStringLiteral("latency.ours"), QStringLiteral("Latency, ours"),
                            QStringLiteral("the core did not connect"));
        return;
    }
    m_oursLatency = summarize(m_tracker.latenciesMs());
    m_report.addSummary(QStringLiteral("latency.ours"),
                        QStringLiteral("Latency, ours: report read to message received"), m_oursLatency,
                        QStringLiteral("ms"));

    // The floor: the same broker, the same subscriber, a publisher that writes at once.
    MqttProbe publisher(QStringLiteral("bench-floor"), MqttProbe::Publisher);
    if (!publisher.connectTo(m_broker->host(), m_broker->port(), probeTls(QStringLiteral("bench-floor")))) {
        m_report.addMissing(QStringLiteral("latency.floor"), QStringLiteral("Latency, floor"),
                            publisher.errorString());
        return;
    }
    for (int i = 0; i < m_options.floorSamples; ++i) {
        m_floor.sent(i, monotonicNs());
        publisher.publish("bench/floor", QByteArray::number(i));
        const qint64 deadline = monotonicNs() + 2000000000LL;
        while (!m_floor.hasArrived(i) && monotonicNs() < deadline)
            publisher.service(1);
        // Spaced beyond the peer's delayed acknowledgement, as the sensor's readings are: the
        // floor is one message at a time, not a burst.
        publisher.service(100);
    }
    const Summary floor = summarize(m_floor.latenciesMs());
    m_report.addSummary(QStringLiteral("latency.floor"),
                        QStringLiteral("Latency, floor: bare libmosquitto publish to receive"), floor,
                        QStringLiteral("ms"));
    if (!m_oursLatency.isEmpty() && !floor.isEmpty()) {
        m_report.addSummary(
            QStringLiteral("latency.overhead"), QStringLiteral("Processing overhead: ours minus floor"),
            difference(m_oursLatency, floor), QStringLiteral("ms"), QStringLiteral("statistic by statistic"));
        m_report.setTarget(QStringLiteral("latency.overhead"), QStringLiteral("<= 2 ms at p99"),
                           BenchReport::P99, 2.0);
    }
}

void BenchRun::measureBaseline()
{
    std::fprintf(stderr, "bench: baseline script (%d samples)\n", m_options.baselineSamples);
    SimulatedHidDevice *sensor = m_bus->device(LatencySensor);
    if (!sensor)
        sensor = m_bus->plugSensor(LatencySensor);
    const QByteArray topic = "baseline/" + LatencySensor.toUtf8() + "/state";
    watchSensor(sensor, topic);

    const MqttProbe::Tls tls = probeTls(QStringLiteral("bench-baseline"));
    const QString script = QStringLiteral(TSL_BENCH_SOURCE_DIR "/bench/baseline/poll_publish.py");
    QProcess python;
    python.setProgram(QStringLiteral("/usr/bin/python3"));
    python.setArguments({script, QStringLiteral("--host"), m_broker->host(), QStringLiteral("--port"),
                         QString::number(m_broker->port()), QStringLiteral("--cafile"), tls.caFile,
                         QStringLiteral("--cert"), tls.certFile, QStringLiteral("--key"), tls.keyFile,
                         QStringLiteral("--serial"), LatencySensor, QStringLiteral("--topic"),
                         QString::fromUtf8(topic)});
    python.setStandardErrorFile(logPath(QStringLiteral("baseline-err")));
    python.start();
    bool ready = python.waitForStarted(10000);
    const qint64 deadline = monotonicNs() + 20000000000LL;
    while (ready && !python.canReadLine() && monotonicNs() < deadline)
        python.waitForReadyRead(200);
    ready = ready && python.readLine().trimmed() == "ready";
    if (!ready) {
        m_report.addMissing(
            QStringLiteral("baseline.latency"), QStringLiteral("Latency, baseline script"),
            QStringLiteral("the script did not start (see %1)").arg(logPath(QStringLiteral("baseline-err"))));
        stopProcess(python);
        return;
    }
    // Settle the script's first reading, then measure its footprint while it delivers readings.
    sensor->injectTemperature(nextValue(LatencySensor));
    QThread::sleep(2);
    m_tracker.reset();
    const qint64 pid = python.processId();
    const ProcSample before = sampleProcess(pid_t(pid));
    const qint64 start = monotonicNs();
    deliverOneByOne(sensor, m_options.baselineSamples, 3000);
    const ProcSample after = sampleProcess(pid_t(pid));
    stopProcess(python);

    m_baselineLatency = summarize(m_tracker.latenciesMs());
    m_report.addSummary(QStringLiteral("baseline.latency"), QStringLiteral("Latency, baseline script"),
                        m_baselineLatency, QStringLiteral("ms"));
    if (before.valid && after.valid) {
        m_baselineProcess.ok = true;
        m_baselineProcess.seconds = double(monotonicNs() - start) / 1e9;
        m_baselineProcess.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
        m_baselineProcess.peakRssMb = after.peakRssKb / 1024.0;
        m_report.addValue(QStringLiteral("baseline.cpu"),
                          QStringLiteral("Baseline script: CPU with a change every second"),
                          m_baselineProcess.cpuPercent(), QStringLiteral("% of one core"));
        m_report.addValue(QStringLiteral("baseline.peakRss"), QStringLiteral("Baseline script: peak RSS"),
                          m_baselineProcess.peakRssMb, QStringLiteral("MiB"));
    }
}
