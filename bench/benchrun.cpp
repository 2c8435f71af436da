#include "benchrun.h"

#include "calvexcloudclient.h"
#include "devicepool.h"
#include "mosquittobroker.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"
#include "testpki.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const QString GatewaySerial = QStringLiteral("5521");
const int GatewayRegid = 9;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString machineMemory()
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/meminfo")).split('\n')) {
        if (line.startsWith("MemTotal:"))
            return QString::number(line.mid(9).trimmed().split(' ').value(0).toDouble() / (1024 * 1024), 'f',
                                   1) +
                   QStringLiteral(" GiB");
    }
    return QString();
}

} // namespace

void BenchOptions::makeQuick()
{
    quick = true;
    latencySamples = 8;
    floorSamples = 30;
    idleSeconds = 10;
    soakSeconds = 20;
    hidSeconds = 10;
    syntheticSeconds = 10;
    reportRepeats = 5;
    warmupSeconds = 3;
    outboxSamples = 20;
    outboxReports = 10000;
    pairRounds = 1;
    pairSeconds = 8;
    pairWarmupSeconds = 2;
    windowSoakSeconds = 20;
}

void BenchRun::prepareHome()
{
    const QByteArray home = QDir::tempPath().toLocal8Bit() + "/tsl-bench-" + QByteArray::number(getpid());
    for (const char *sub : {"", "/config", "/data", "/cache", "/run", "/logs"})
        QDir().mkpath(QString::fromLocal8Bit(home + sub));
    QFile::setPermissions(QString::fromLocal8Bit(home + "/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_DATA_HOME", home + "/data");
    qputenv("XDG_CACHE_HOME", home + "/cache");
    qputenv("XDG_RUNTIME_DIR", home + "/run");
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

BenchRun::BenchRun(const BenchOptions &options) : m_options(options)
{
    m_logDir = qEnvironmentVariable("HOME") + QStringLiteral("/logs");
}

BenchRun::~BenchRun()
{
    m_subscriber.reset();
    m_bus.reset();
    m_broker.reset();
    // The run's home holds only what the run made; its logs are worth keeping when something failed.
    const bool complete = std::none_of(m_report.rows().cbegin(), m_report.rows().cend(),
                                       [](const BenchReport::Row &row) { return row.summary.isEmpty(); });
    if (m_error.isEmpty() && complete)
        QDir(qEnvironmentVariable("HOME")).removeRecursively();
    else
        std::fprintf(stderr, "tsl-bench: logs kept in %s\n", qPrintable(m_logDir));
}

QString BenchRun::buildDir() const
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

QString BenchRun::logPath(const QString &name) const
{
    return m_logDir + QLatin1Char('/') + name + QStringLiteral(".log");
}

MqttProbe::Tls BenchRun::probeTls(const QString &name)
{
    TestPki &pki = TestPki::instance();
    const TestPki::Identity id = pki.client(name);
    return {pki.caPath(), id.certPath, id.keyPath};
}

bool BenchRun::setUp()
{
    TestPki &pki = TestPki::instance();
    if (!pki.isValid()) {
        m_error = QStringLiteral("test CA: ") + pki.errorString();
        return false;
    }
    qputenv("TSL_GATE_CA_BUNDLE", pki.caPath().toUtf8());
    // Every identity is made now: openssl must not run under the device simulation.
    for (const QString &name :
         {QStringLiteral("bench-probe"), QStringLiteral("bench-floor"), QStringLiteral("bench-baseline")})
        pki.client(name);
    // The broker starts before the bus exists, so it runs outside the simulated /sys and /dev.
    m_broker = std::make_unique<MosquittoBroker>();
    if (!m_broker->start()) {
        m_error = QStringLiteral("broker: ") + m_broker->errorString();
        return false;
    }
    if (!registerGateway())
        return false;

    m_bus = std::make_unique<SimulatedHidBus>();
    if (!m_bus->isActive()) {
        m_error = QStringLiteral("the umockdev preload is not active");
        return false;
    }
    if (!connectSubscriber())
        return false;

    m_loadAtStart = loadAverage();
    m_report.setMeta(QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    m_report.setMeta(QStringLiteral("cores"), QString::number(QThread::idealThreadCount()));
    m_report.setMeta(QStringLiteral("memory"), machineMemory());
    m_report.setMeta(QStringLiteral("kernel"), QSysInfo::kernelVersion());
    m_report.setMeta(QStringLiteral("mode"),
                     m_options.quick ? QStringLiteral("quick") : QStringLiteral("full"));
    return true;
}

bool BenchRun::connectSubscriber()
{
    m_subscriber.reset();
    m_subscriber = std::make_unique<MqttProbe>(QStringLiteral("bench-subscriber"), MqttProbe::Subscriber);
    m_subscriber->setMessageHandler([this](const QByteArray &topic, const QByteArray &payload, qint64 ns) {
        if (topic == "bench/floor")
            m_floor.received(payload, ns);
        else
            m_tracker.messageReceived(topic, payload, ns);
    });
    if (!m_subscriber->connectTo(m_broker->host(), m_broker->port(),
                                 probeTls(QStringLiteral("bench-probe"))) ||
        !m_subscriber->subscribe(QStringLiteral("bench/floor"))) {
        m_error = QStringLiteral("subscriber: ") + m_subscriber->errorString();
        return false;
    }
    return true;
}

bool BenchRun::registerGateway()
{
    const TestPki::Identity gateway =
        TestPki::instance().client(QStringLiteral("gateway_200_%1_%2").arg(GatewaySerial).arg(GatewayRegid));
    if (gateway.isNull()) {
        m_error = QStringLiteral("gateway certificate: ") + TestPki::instance().errorString();
        return false;
    }
    {
        QSettings settings;
        settings.setValue(Key::CloudSerial, GatewaySerial);
        settings.setValue(Key::CloudHost, m_broker->host());
        settings.setValue(Key::CloudPort, m_broker->port());
    }
    if (!CalvexCloudClient().storeCredentials(readFile(gateway.certPath), readFile(gateway.keyPath))) {
        m_error = QStringLiteral("the gateway's credentials were refused");
        return false;
    }
    writePool({});
    return true;
}

PoolEntry BenchRun::poolEntry(const QString &type, const QString &serial, int regid)
{
    const QString version = type == QLatin1String("gateway") ? QStringLiteral("200") : QStringLiteral("100");
    return {type, version, serial, serial, QString::number(regid)};
}

void BenchRun::writePool(const QList<PoolEntry> &devices)
{
    DevicePool::store(QList<PoolEntry>(devices)
                      << poolEntry(QStringLiteral("gateway"), GatewaySerial, GatewayRegid));
}

void BenchRun::watchSensor(SimulatedHidDevice *sensor, const QByteArray &topic)
{
    const QString serial = sensor->serial();
    m_tracker.watch(topic, serial);
    m_subscriber->subscribe(QString::fromUtf8(topic));
    sensor->setInputDeliveredHook([this, serial](const QByteArray &report) {
        const qint64 now = monotonicNs();
        m_tracker.reportRead(serial, report, now);
    });
}

double BenchRun::nextValue(const QString &serial)
{
    // 10.0 to 209.0 degrees in whole steps: each value a change, and a value comes back only after
    // 200 readings, long after its delivery.
    int &index = m_valueIndex[serial];
    const double value = 10.0 + index % 200;
    ++index;
    return value;
}

bool BenchRun::waitForLogLine(const QString &path, const QByteArray &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (readFile(path).contains(text))
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool BenchRun::startGated(QProcess &process, const QString &name)
{
    process.setProgram(buildDir() + QStringLiteral("/bin/tsl-gated"));
    process.setArguments({QStringLiteral("--report-changes")});
    process.setStandardOutputFile(logPath(name));
    process.setStandardErrorFile(logPath(name + QStringLiteral("-err")));
    process.start();
    if (!process.waitForStarted(10000)) {
        m_error = QStringLiteral("tsl-gated did not start: ") + process.errorString();
        return false;
    }
    if (!waitForLogLine(logPath(name), "cloud connected", 30000)) {
        m_error = QStringLiteral("tsl-gated did not connect (see %1)").arg(logPath(name));
        return false;
    }
    return true;
}

void BenchRun::stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

ProcessMeasurement BenchRun::measureProcess(qint64 pid, int seconds, int windowSeconds,
                                            const std::function<void(int)> &everySecond)
{
    ProcessMeasurement m;
    ProcSample first = sampleProcess(pid_t(pid));
    if (!first.valid)
        return m;
    const double clockFirst = processCpuSeconds(pid_t(pid));
    ProcSample windowStart = first;
    ProcSample last = first;
    m.rssStartMb = first.rssKb / 1024.0;
    const qint64 start = monotonicNs();
    qint64 windowStartNs = start;
    for (int s = 0; s < seconds; ++s) {
        if (everySecond)
            everySecond(s);
        const qint64 until = start + qint64(s + 1) * 1000000000;
        while (monotonicNs() < until)
            QThread::usleep(quint64(qMax<qint64>(1, (until - monotonicNs()) / 1000)));
        const ProcSample now = sampleProcess(pid_t(pid));
        if (!now.valid)
            return m; // the process died
        m.rssMb.append(now.rssKb / 1024.0);
        last = now;
        if ((s + 1) % windowSeconds == 0) {
            const double elapsed = double(monotonicNs() - windowStartNs) / 1e9;
            m.cpuPercentPerWindow.append(100.0 * (now.cpuSeconds - windowStart.cpuSeconds) / elapsed);
            windowStart = now;
            windowStartNs = monotonicNs();
        }
    }
    m.seconds = double(monotonicNs() - start) / 1e9;
    m.cpuSeconds = last.cpuSeconds - first.cpuSeconds;
    const double clockLast = processCpuSeconds(pid_t(pid));
    if (clockFirst >= 0 && clockLast >= clockFirst)
        m.clockCpuSeconds = clockLast - clockFirst;
    m.rssEndMb = last.rssKb / 1024.0;
    m.peakRssMb = last.peakRssKb / 1024.0;
    m.ok = true;
    return m;
}

void BenchRun::addFootprintRows(const QString &prefix, const QString &what, const ProcessMeasurement &m)
{
    m_report.addSummary(prefix + QStringLiteral(".cpu"), what + QStringLiteral(": CPU"),
                        summarize(m.cpuPercentPerWindow), QStringLiteral("% of one core"),
                        QStringLiteral("per window, %1 s in all").arg(qRound(m.seconds)));
    m_report.addValue(prefix + QStringLiteral(".cpuPerMinute"), what + QStringLiteral(": CPU time"),
                      m.seconds > 0 ? 60.0 * m.cpuSeconds / m.seconds : 0, QStringLiteral("s per minute"));
    m_report.addSummary(prefix + QStringLiteral(".rss"), what + QStringLiteral(": RSS"), summarize(m.rssMb),
                        QStringLiteral("MiB"), QStringLiteral("sampled every second"));
    m_report.addValue(prefix + QStringLiteral(".peakRss"), what + QStringLiteral(": peak RSS"), m.peakRssMb,
                      QStringLiteral("MiB"));
}

void BenchRun::run()
{
    if (m_options.wants(QStringLiteral("latency")))
        measureLatency();
    if (m_options.wants(QStringLiteral("outbox")))
        measureOutbox();
    if (m_options.wants(QStringLiteral("pairs")))
        measurePairs();
    if (m_options.wants(QStringLiteral("idle")))
        measureIdle();
    if (m_options.wants(QStringLiteral("hid")))
        measureHidScale();
    if (m_options.wants(QStringLiteral("synthetic")))
        measureSynthetic();
    if (m_options.wants(QStringLiteral("soak")))
        measureSoak();
    if (m_options.wants(QStringLiteral("window")))
        measureWindow();
    addMachineLoad();
}

void BenchRun::addMachineLoad()
{
    // Other work on the machine shows in every figure: the load says how quiet the run was.
    const QString unit = QStringLiteral("runnable tasks");
    if (m_loadAtStart >= 0)
        m_report.addValue(QStringLiteral("machine.loadStart"),
                          QStringLiteral("Machine: load average (1 min) at the start of the run"),
                          m_loadAtStart, unit, QStringLiteral("%1 cores").arg(QThread::idealThreadCount()));
    const double end = loadAverage();
    if (end >= 0)
        m_report.addValue(QStringLiteral("machine.loadEnd"),
                          QStringLiteral("Machine: load average (1 min) at the end of the run"), end, unit);
}
