// The desktop program left open as a user leaves it: connected to the broker with the run's gateway
// identity, two sensors changing every second, the broker gone for a minute halfway. Shows whether
// memory or open files creep and whether the reports kept through the outage went out.

#include "benchrun.h"
#include "mosquittobroker.h"
#include "outbox.h"
#include "privatedisplay.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QThread>

#include <dirent.h>

namespace {

int openFileCount(qint64 pid)
{
    DIR *dir = ::opendir(QByteArray("/proc/" + QByteArray::number(pid) + "/fd").constData());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count;
}

QByteArray stateTopic(const QString &serial, int regid)
{
    return "things/thx9_100_" + serial.toUtf8() + '_' + QByteArray::number(regid) + "/state";
}

// Reports still in the outbox at this path; -1 when it cannot be read.
int waitingReports(const QString &path)
{
    if (!QFile::exists(path))
        return 0;
    Outbox outbox;
    if (!outbox.open(path))
        return -1;
    int count = 0;
    for (const Outbox::Entry *entry = outbox.next(0); entry; entry = outbox.next(entry->id))
        ++count;
    return count;
}

} // namespace

void BenchRun::measureWindowSoak(PrivateDisplay &display)
{
    const int seconds = m_options.windowSoakSeconds;
    if (seconds <= 0)
        return;
    const int outage = qMin(60, seconds / 4);
    const int outageStart = (seconds - outage) / 2;
    const QString what =
        QStringLiteral("Window soak, %1 s, 2 sensors changing every second, broker away %2 s")
            .arg(seconds)
            .arg(outage);
    std::fprintf(stderr, "bench: %s\n", qPrintable(what));

    const QList<QPair<QString, int>> sensors{{QStringLiteral("WSK1"), 51}, {QStringLiteral("WSK2"), 52}};
    QList<SimulatedHidDevice *> devices;
    QList<PoolEntry> pool;
    for (const auto &sensor : sensors) {
        SimulatedHidDevice *device = m_bus->plugSensor(sensor.first);
        device->injectTemperature(nextValue(sensor.first));
        devices.append(device);
        pool.append(poolEntry(QStringLiteral("thx9"), sensor.first, sensor.second));
        watchSensor(device, stateTopic(sensor.first, sensor.second));
    }
    writePool(pool);
    // The run's own settings and credentials (the gateway's identity, the broker), with the update
    // check off and the web addresses a dead port of this machine; a full report every minute, the
    // shortest interval there is, so that the outage holds one back.
    {
        QTcpServer probe;
        const QString nowhere = QStringLiteral("http://127.0.0.1:%1")
                                    .arg(probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 9);
        QSettings settings;
        settings.setValue(Key::UpdatesAuto, false);
        settings.setValue(Key::CloudInterval, Key::CloudInterval.minimum());
        settings.setValue(Key::WebCloud, nowhere);
        settings.setValue(Key::WebRegEndpoint, nowhere + QStringLiteral("/reg"));
        settings.setValue(Key::WebUpdateUrl, nowhere + QStringLiteral("/feed"));
    }
    const QString run = qEnvironmentVariable("HOME");
    const QString home = m_logDir + QStringLiteral("/../window-home-soak");
    QDir().mkpath(home + QStringLiteral("/.local"));
    for (const auto &link : {qMakePair(QStringLiteral("/config"), QStringLiteral("/.config")),
                             qMakePair(QStringLiteral("/data"), QStringLiteral("/.local/share")),
                             qMakePair(QStringLiteral("/cache"), QStringLiteral("/.cache")),
                             qMakePair(QStringLiteral("/run"), QStringLiteral("/run"))})
        QFile::link(run + link.first, home + link.second);

    QProcess gate;
    ProcessMeasurement m;
    int filesStart = -1, filesEnd = -1, afterOutage = 0;
    bool brokerBack = true;
    if (startWindowProgram(gate, display, home, QStringLiteral("window-soak")) >= 0) {
        QThread::sleep(uint(m_options.warmupSeconds));
        m_tracker.reset();
        filesStart = openFileCount(gate.processId());
        int beforeReturn = 0;
        m = measureProcess(gate.processId(), seconds, qMin(60, seconds), [&](int s) {
            for (SimulatedHidDevice *device : qAsConst(devices))
                device->injectTemperature(nextValue(device->serial()));
            if (s == outageStart) {
                m_broker->stop();
            } else if (s == outageStart + outage) {
                // Subscribed again before the program's next attempt (every 10 s) can deliver.
                brokerBack = m_broker->restart() && connectSubscriber();
                for (const auto &sensor : sensors)
                    brokerBack =
                        brokerBack && m_subscriber->subscribe(stateTopic(sensor.first, sensor.second));
                beforeReturn = m_tracker.count() + m_tracker.unmatched();
            } else if (s == qMin(seconds - 1, outageStart + 2 * outage)) {
                afterOutage = m_tracker.count() + m_tracker.unmatched() - beforeReturn;
            }
        });
        filesEnd = openFileCount(gate.processId());
    } else {
        m_report.addMissing(QStringLiteral("window.soak.rssGrowth"), what, m_error);
        m_error.clear();
    }
    stopProcess(gate);
    if (!m_broker->isRunning() && (!m_broker->restart() || !connectSubscriber()))
        brokerBack = false;
    if (m.ok) {
        m_report.addValue(
            QStringLiteral("window.soak.rssGrowth"), what + QStringLiteral(": RSS growth"),
            m.rssEndMb - m.rssStartMb, QStringLiteral("MiB"),
            QStringLiteral("%1 to %2 MiB").arg(m.rssStartMb, 0, 'f', 1).arg(m.rssEndMb, 0, 'f', 1));
        m_report.setTarget(QStringLiteral("window.soak.rssGrowth"), QStringLiteral("<= 1 MB"),
                           BenchReport::Max, 1e6 / (1024 * 1024));
        m_report.addValue(QStringLiteral("window.soak.openFilesGrowth"),
                          what + QStringLiteral(": open files growth"), filesEnd - filesStart,
                          QStringLiteral("files"), QStringLiteral("%1 to %2").arg(filesStart).arg(filesEnd));
        m_report.setTarget(QStringLiteral("window.soak.openFilesGrowth"), QStringLiteral("none"),
                           BenchReport::Max, 0);
        m_report.addValue(QStringLiteral("window.soak.cpu"), what + QStringLiteral(": CPU"),
                          m.preciseCpuPercent(), QStringLiteral("% of one core"));
        m_report.addValue(
            QStringLiteral("window.soak.afterOutage"),
            what + QStringLiteral(": states received in the %1 s after the broker came back").arg(outage),
            afterOutage, QStringLiteral("messages"),
            brokerBack ? QString() : QStringLiteral("the broker did not come back"));
        const int waiting = waitingReports(Outbox::defaultPath());
        const QString backlog = what + QStringLiteral(": reports left in the outbox at the end");
        if (waiting >= 0) {
            m_report.addValue(QStringLiteral("window.soak.backlog"), backlog, waiting,
                              QStringLiteral("reports"));
            m_report.setTarget(QStringLiteral("window.soak.backlog"), QStringLiteral("0 (drained)"),
                               BenchReport::Max, 0);
        } else {
            m_report.addMissing(QStringLiteral("window.soak.backlog"), backlog,
                                QStringLiteral("the outbox could not be read"));
        }
        Outbox cleaner;
        cleaner.open(Outbox::defaultPath());
        cleaner.clear();
    } else if (filesStart >= 0) {
        m_report.addMissing(QStringLiteral("window.soak.rssGrowth"), what, QStringLiteral("tsl-gate died"));
    }
    for (SimulatedHidDevice *device : qAsConst(devices)) {
        device->setInputDeliveredHook({});
        m_bus->unplug(device->serial());
    }
    QSettings().remove(Key::CloudInterval);
    writePool({});
}
