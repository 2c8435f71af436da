// Latency: a sensor's report handed to the reader, to the state message at a subscriber. The core
// runs in this process (the runner on its worker thread); the floor is a bare publish and receive
// over the same broker.

#include "benchrun.h"
#include "corehost.h"
#include "mosquittobroker.h"
#include "simulatedhidbus.h"

#include "qabstractthing.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <hidapi.h>
#include <thread>

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
    const bool loaded = core.request(&CxgatewRunner::loadPlugins, CxgatewRunner::Load, 30000).toBool();
    const bool scanned = core.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan, 30000).toBool();
    core.request(&CxgatewRunner::connectToCloud, CxgatewRunner::CConnect, 30000, false);
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

QVector<double> BenchRun::deviceDelivery(SimulatedHidDevice *sensor, int samples)
{
    QVector<double> delays;
    const std::wstring serial = sensor->serial().toStdWString();
    hid_device *handle = hid_open(sensor->vendorId(), sensor->productId(), serial.c_str());
    if (!handle)
        return delays;
    std::atomic<qint64> handed{0};
    std::atomic<qint64> received{0};
    std::atomic_bool stop{false};
    std::thread reader([&] {
        unsigned char report[64];
        while (!stop) {
            if (hid_read_timeout(handle, report, sizeof report, 50) > 0)
                received = monotonicNs();
        }
    });
    sensor->setInputDeliveredHook([&handed](const QByteArray &) { handed = monotonicNs(); });
    for (int i = 0; i < samples; ++i) {
        received = 0;
        sensor->injectTemperature(nextValue(sensor->serial()));
        const qint64 deadline = monotonicNs() + 1000000000LL;
        while (received == 0 && monotonicNs() < deadline)
            QThread::usleep(200);
        if (received != 0 && handed != 0)
            delays.append(double(received - handed) / 1e6);
        QThread::msleep(20);
    }
    sensor->setInputDeliveredHook({});
    stop = true;
    reader.join();
    hid_close(handle);
    return delays;
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
    const Summary ours = summarize(m_tracker.latenciesMs());
    m_report.addSummary(QStringLiteral("latency.ours"),
                        QStringLiteral("Latency, ours: report read to message received"), ours,
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
    // What the simulated device itself takes to hand a report to its reader (umockdev answers the
    // read from a thread of this process): part of ours, not of the floor, and not the core's work.
    const Summary device = summarize(deviceDelivery(sensor, m_options.floorSamples));
    m_report.addSummary(QStringLiteral("latency.device"),
                        QStringLiteral("Simulated device: report handed over to a bare hidapi read"), device,
                        QStringLiteral("ms"));
    if (!ours.isEmpty() && !floor.isEmpty()) {
        m_report.addSummary(QStringLiteral("latency.overhead"), QStringLiteral("Overhead: ours minus floor"),
                            difference(ours, floor), QStringLiteral("ms"),
                            QStringLiteral("statistic by statistic"));
    }
    if (!ours.isEmpty() && !floor.isEmpty() && !device.isEmpty()) {
        m_report.addSummary(
            QStringLiteral("latency.processing"),
            QStringLiteral("Processing overhead: ours minus floor minus the simulated device"),
            difference(difference(ours, floor), device), QStringLiteral("ms"),
            QStringLiteral("statistic by statistic"));
        m_report.setTarget(QStringLiteral("latency.processing"), QStringLiteral("<= 0.1 ms at p99"),
                           BenchReport::P99, 0.1);
    }
}
