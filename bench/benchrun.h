#pragma once

#include "benchreport.h"
#include "deliverytracker.h"
#include "devicepool.h"
#include "echotracker.h"
#include "mqttprobe.h"
#include "procstat.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class MosquittoBroker;
class PrivateDisplay;
class QProcess;
class SimulatedHidBus;
class SimulatedHidDevice;

struct BenchOptions
{
    bool quick = false;
    int latencySamples = 1000;
    int floorSamples = 1000;
    int idleSeconds = 60;
    int soakSeconds = 600;
    int hidSensors = 40;
    int hidSeconds = 30;
    int syntheticThings = 1000;
    int syntheticSeconds = 30;
    int reportRepeats = 20;
    int warmupSeconds = 10;
    int outboxSamples = 1000;
    int outboxReports = 100000;
    int pairRounds = 3;
    int pairSeconds = 30;
    int pairWarmupSeconds = 4;
    int windowSoakSeconds = 600;
    QStringList phases; // empty: all
    QString jsonPath = QStringLiteral("bench-results.json");

    void makeQuick();
    bool wants(const QString &phase) const { return phases.isEmpty() || phases.contains(phase); }
};

// What one process did over a measured stretch of time.
struct ProcessMeasurement
{
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    QVector<double> cpuPercentPerWindow; // % of one core in each window
    QVector<double> rssMb;               // once a second
    double rssStartMb = 0;
    double rssEndMb = 0;
    double peakRssMb = 0;
    double clockCpuSeconds = -1; // from the process's CPU-time clock, -1 when it could not be read
    double cpuPercent() const { return seconds > 0 ? 100.0 * cpuSeconds / seconds : 0; }
    // From the CPU-time clock when it could be read, else from /proc's ticks.
    double preciseCpuPercent() const
    {
        return clockCpuSeconds >= 0 && seconds > 0 ? 100.0 * clockCpuSeconds / seconds : cpuPercent();
    }
};

// One side of a pairing in one round: the gateway core or the Python poller, measured alone.
struct PairSide
{
    QString failure; // empty when measured
    double cpuPercent = 0;
    double peakRssMb = 0;
    QVector<double> latenciesMs;
    int changes = 0;
    int keepAlives = 0;
    double machineBusyPercent = -1;
};

// One benchmark run: a TLS broker with a test CA, a simulated HID bus in this process, a registered
// gateway identity, and the phases that measure the core (in this process, as a tsl-gated child or
// as a child of this program) and the do-it-yourself baseline, all into one report.
class BenchRun
{
public:
    // Points HOME and the XDG directories of this process (and so of its children) at a fresh
    // directory, so settings and credentials of the run never touch the user's. Call before the
    // application object exists.
    static void prepareHome();

    explicit BenchRun(const BenchOptions &options);
    ~BenchRun();

    bool setUp();
    void run();
    const BenchReport &report() const { return m_report; }
    QString errorString() const { return m_error; }

    // The child that hosts the core with the synthetic plug-in (--core-synthetic).
    static int syntheticChildMain(const QString &programDir, bool reportChanges, bool recordHistory);

private:
    // Phases.
    void measureLatency();
    void measurePairs();
    void measureIdle();
    void measureHidScale();
    void measureSynthetic();
    void measureSoak();
    void measureWindow();
    void measureOutbox();
    void addMachineLoad();

    // Registration of the gateway and its devices: settings, credentials and the device pool.
    bool registerGateway();
    void writePool(const QList<PoolEntry> &devices);
    static PoolEntry poolEntry(const QString &type, const QString &serial, int regid);

    // Devices and deliveries.
    void watchSensor(SimulatedHidDevice *sensor, const QByteArray &topic);
    double nextValue(const QString &serial);
    // Injects one changed reading at a time and waits for its delivery; returns the deliveries made.
    int deliverOneByOne(SimulatedHidDevice *sensor, int samples, int timeoutMs);
    // Runs the core in this process, connected, and delivers samples readings of the sensor one by
    // one into m_tracker. False when the core did not connect.
    bool coreLatency(SimulatedHidDevice *sensor, int samples);
    // The simulated device's own share of a latency: from the report handed over to a bare hidapi
    // reader having it, in ms. Real hardware has its own figure here; this one is not the core's.
    QVector<double> deviceDelivery(SimulatedHidDevice *sensor, int samples);
    // One measured stretch of the gateway core (ours) or of the Python poller on the sensors and,
    // when given, the watchdog; a change of each sensor's reading every second. topics: the state
    // topic of each sensor on this side.
    PairSide measurePairSide(bool ours, const QList<SimulatedHidDevice *> &sensors,
                             SimulatedHidDevice *watchdog, const QList<QByteArray> &topics);

    // Child processes.
    bool startGated(QProcess &process, const QString &name);
    static bool waitForLogLine(const QString &path, const QByteArray &text, int timeoutMs);
    ProcessMeasurement measureProcess(qint64 pid, int seconds, int windowSeconds,
                                      const std::function<void(int second)> &everySecond);
    void addFootprintRows(const QString &prefix, const QString &what, const ProcessMeasurement &m);
    void stopProcess(QProcess &process);
    // Starts tsl-gate (of the build tree, or of root) on the display; nanoseconds from its start to its main
    // window mapped, or -1.
    qint64 startWindowProgram(QProcess &process, PrivateDisplay &display, const QString &home,
                              const QString &log, const QString &root = QString(), int syntheticThings = 0);
    void measureDashboardLoad(PrivateDisplay &display);
    // The desktop program connected to the broker for windowSoakSeconds, two sensors changing every
    // second, the broker away for a minute halfway.
    void measureWindowSoak(PrivateDisplay &display);
    // Replaces the subscriber by a new one on the broker (after the broker went away).
    bool connectSubscriber();

    QString buildDir() const;
    QString logPath(const QString &name) const;
    MqttProbe::Tls probeTls(const QString &name);

    BenchOptions m_options;
    BenchReport m_report;
    QString m_error;
    std::unique_ptr<MosquittoBroker> m_broker;
    std::unique_ptr<SimulatedHidBus> m_bus;
    std::unique_ptr<MqttProbe> m_subscriber;
    DeliveryTracker m_tracker;
    EchoTracker m_floor;
    QHash<QString, int> m_valueIndex;
    QString m_logDir;
    double m_loadAtStart = -1;
};
