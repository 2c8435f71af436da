// The desktop program on an X server of its own: time from its start to the main window shown, with
// few and with many devices; its idle footprint; the dashboard under a flood of thing changes; and
// the program left open with a broker outage (windowsoakphase.cpp).

#include "benchrun.h"
#include "privatedisplay.h"
#include "simulatedhidbus.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

namespace {

const QString WindowTitle = QStringLiteral("Tessel Gateway");

// A port on 127.0.0.1 that nothing listens on now.
quint16 unusedLocalPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : quint16(9);
}

// A home of its own for tsl-gate: no update check, and every cloud address a dead local port, so the
// program never reaches beyond this machine.
QString prepareWindowHome(const QString &dir)
{
    for (const char *sub : {"/.config/tessel.pro", "/.local/share", "/.cache", "/run"})
        QDir().mkpath(dir + QLatin1String(sub));
    QFile::setPermissions(dir + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray nowhere = "http://127.0.0.1:" + QByteArray::number(unusedLocalPort());
    QFile conf(dir + QStringLiteral("/.config/tessel.pro/TSL-Gate.conf"));
    if (conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        conf.write("[Updates]\nAuto=false\n\n[Cloud]\nHost=127.0.0.1\nPort=" +
                   QByteArray::number(unusedLocalPort()) + "\n\n[Web]\nCloud=" + nowhere +
                   "\nRegEndpoint=" + nowhere + "/reg\nUpdateURL=" + nowhere + "/feed\n");
    }
    return dir;
}

// A program root of tsl-gate beside the one of the build tree, whose plug-ins add the synthetic
// things to the real ones: umockdev serves a client only some dozens of open device nodes.
bool prepareSyntheticRoot(const QString &root, const QString &buildDir, const QString &syntheticPlugins)
{
    QDir().mkpath(root + QStringLiteral("/bin"));
    QDir().mkpath(root + QStringLiteral("/plugins"));
    QFile::remove(root + QStringLiteral("/bin/tsl-gate"));
    bool ok = QFile::copy(buildDir + QStringLiteral("/bin/tsl-gate"), root + QStringLiteral("/bin/tsl-gate"));
    QFile::link(buildDir + QStringLiteral("/lib"), root + QStringLiteral("/lib"));
    for (const QString &plugin : {buildDir + QStringLiteral("/plugins/libthing_thx9.so"),
                                  buildDir + QStringLiteral("/plugins/libthing_vgl5.so"),
                                  syntheticPlugins + QStringLiteral("/libthing_synthetic.so")})
        QFile::link(plugin, root + QStringLiteral("/plugins/") + QFileInfo(plugin).fileName());
    return ok && QFileInfo(root + QStringLiteral("/lib")).isDir();
}

QProcessEnvironment windowEnvironment(const PrivateDisplay &display, const QString &home)
{
    QProcessEnvironment env = display.environment(QProcessEnvironment::systemEnvironment());
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    // No session bus: nothing of the user's desktop is reached.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + home + QStringLiteral("/run/no-bus"));
    return env;
}

QVector<double> numbers(const QJsonValue &array)
{
    QVector<double> out;
    for (const QJsonValue &v : array.toArray())
        out.append(v.toDouble());
    return out;
}

} // namespace

qint64 BenchRun::startWindowProgram(QProcess &process, PrivateDisplay &display, const QString &home,
                                    const QString &log, const QString &root, int syntheticThings)
{
    process.setProgram((root.isEmpty() ? buildDir() : root) + QStringLiteral("/bin/tsl-gate"));
    QProcessEnvironment env = windowEnvironment(display, home);
    env.insert(QStringLiteral("TSL_BENCH_SYNTHETIC_THINGS"), QString::number(syntheticThings));
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(logPath(log), QIODevice::Append);
    process.setStandardErrorFile(logPath(log), QIODevice::Append);
    display.drainEvents();
    const qint64 start = monotonicNs();
    process.start();
    const qint64 shown =
        display.waitForWindow(WindowTitle, 60000, [&process] { return !process.waitForFinished(0); });
    if (shown >= 0)
        return shown - start;
    if (process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        m_error = QStringLiteral("tsl-gate ended at once: another tsl-gate of this user runs");
    else
        m_error = QStringLiteral("no \"%1\" window (see %2)").arg(WindowTitle, logPath(log));
    return -1;
}

void BenchRun::measureWindow()
{
    const int runs = m_options.quick ? 2 : 5;
    std::fprintf(stderr, "bench: desktop window under Xvfb (%d starts each, idle %d s)\n", runs,
                 m_options.idleSeconds);
    PrivateDisplay display;
    if (!display.start(m_logDir)) {
        m_report.addMissing(QStringLiteral("window.start2"), QStringLiteral("Desktop window"),
                            display.errorString());
        return;
    }

    // Many devices: 40 on the HID bus, half sensors, half watchdogs, and 160 synthetic things.
    const QString syntheticRoot = QDir::cleanPath(m_logDir + QStringLiteral("/../window-root"));
    const bool haveRoot =
        prepareSyntheticRoot(syntheticRoot, buildDir(), QStringLiteral(TSL_BENCH_SYNTHETIC_ROOT "/plugins"));
    for (int devices : {2, 200}) {
        const int hid = qMin(devices, 40);
        const QString root = devices > hid ? syntheticRoot : QString();
        if (!root.isEmpty() && !haveRoot) {
            m_report.addMissing(QStringLiteral("window.start%1").arg(devices),
                                QStringLiteral("Desktop window"),
                                QStringLiteral("cannot prepare ") + syntheticRoot);
            continue;
        }
        QStringList serials;
        for (int i = 0; i < hid; ++i) {
            const QString serial = QStringLiteral("W%1").arg(i, 3, 10, QLatin1Char('0'));
            if (i % 2 == 0)
                m_bus->plugSensor(serial)->injectTemperature(21.5);
            else
                m_bus->plugWatchdog(serial);
            serials.append(serial);
        }
        const QString home = prepareWindowHome(m_logDir + QStringLiteral("/window-home-%1").arg(devices));
        const QString id = QStringLiteral("window.start%1").arg(devices);
        const QString what =
            QStringLiteral("Desktop program: start to main window shown, %1 devices").arg(devices);
        // The first start makes the device pool and warms the caches; the others are measured.
        QVector<double> startMs;
        for (int i = 0; i <= runs && m_error.isEmpty(); ++i) {
            QProcess gate;
            const qint64 ns = startWindowProgram(gate, display, home, id, root, devices - hid);
            if (ns >= 0 && i > 0)
                startMs.append(double(ns) / 1e6);
            stopProcess(gate);
        }
        if (m_error.isEmpty())
            m_report.addSummary(id, what, summarize(startMs), QStringLiteral("ms"),
                                devices > hid
                                    ? QStringLiteral("%1 on the HID bus, %2 synthetic; after a warm-up start")
                                          .arg(hid)
                                          .arg(devices - hid)
                                    : QStringLiteral("after a warm-up start"));
        else
            m_report.addMissing(id, what, m_error);
        m_error.clear();

        if (devices == 2) {
            QProcess gate;
            const QString idle = QStringLiteral("Desktop program under Xvfb, idle, 2 devices");
            ProcessMeasurement m;
            if (startWindowProgram(gate, display, home, QStringLiteral("window-idle")) >= 0) {
                QThread::sleep(uint(m_options.warmupSeconds));
                SimulatedHidDevice *sensor = m_bus->device(serials.first());
                m = measureProcess(gate.processId(), m_options.idleSeconds,
                                   qMax(1, m_options.idleSeconds / 3),
                                   [sensor](int) { sensor->injectTemperature(21.5); });
            } else if (m_error.isEmpty()) {
                m_error = QStringLiteral("tsl-gate died");
            }
            if (m.ok) {
                addFootprintRows(QStringLiteral("window.idle"), idle, m);
                m_report.setTarget(QStringLiteral("window.idle.cpu"), QStringLiteral("<= 0.2 %"),
                                   BenchReport::Median, 0.2);
                m_report.setTarget(QStringLiteral("window.idle.peakRss"), QStringLiteral("<= 60 MB"),
                                   BenchReport::Max, 60e6 / (1024 * 1024));
            } else {
                m_report.addMissing(QStringLiteral("window.idle.cpu"), idle,
                                    m_error.isEmpty() ? QStringLiteral("tsl-gate died") : m_error);
            }
            m_error.clear();
            stopProcess(gate);
        }
        for (const QString &serial : qAsConst(serials))
            m_bus->unplug(serial);
    }
    measureDashboardLoad(display);
    measureWindowSoak(display);
}

void BenchRun::measureDashboardLoad(PrivateDisplay &display)
{
    const int rows = 200, rate = 1000, seconds = m_options.quick ? 3 : 10;
    const QString what = QStringLiteral("Dashboard, %1 rows, %2 changes/s").arg(rows).arg(rate);
    std::fprintf(stderr, "bench: %s (%d s)\n", qPrintable(what), seconds);
    QProcess load;
    load.setProgram(buildDir() + QStringLiteral("/bin/tsl-bench-dashboard"));
    load.setArguments({QStringLiteral("--rows"), QString::number(rows), QStringLiteral("--rate"),
                       QString::number(rate), QStringLiteral("--seconds"), QString::number(seconds)});
    load.setProcessEnvironment(
        windowEnvironment(display, prepareWindowHome(m_logDir + QStringLiteral("/window-home-load"))));
    load.setStandardErrorFile(logPath(QStringLiteral("dashboard-err")));
    load.start();
    load.waitForFinished((seconds + 60) * 1000);
    const QJsonObject r = QJsonDocument::fromJson(load.readAllStandardOutput().trimmed()).object();
    if (load.exitStatus() != QProcess::NormalExit || load.exitCode() != 0 || r.isEmpty()) {
        m_report.addMissing(
            QStringLiteral("window.dashboard.cpu"), what,
            QStringLiteral("the load program failed (see %1)").arg(logPath(QStringLiteral("dashboard-err"))));
        stopProcess(load);
        return;
    }
    m_report.addValue(QStringLiteral("window.dashboard.cpu"), what + QStringLiteral(": CPU, GUI process"),
                      r.value(QStringLiteral("cpuPercent")).toDouble(), QStringLiteral("% of one core"),
                      QStringLiteral("%1 changes applied in %2 s")
                          .arg(r.value(QStringLiteral("applied")).toInt())
                          .arg(r.value(QStringLiteral("seconds")).toDouble(), 0, 'f', 1));
    m_report.addSummary(QStringLiteral("window.dashboard.lateness"),
                        what + QStringLiteral(": lateness of a 10 ms timer"),
                        summarize(numbers(r.value(QStringLiteral("latenessMs")))), QStringLiteral("ms"));
    m_report.addSummary(QStringLiteral("window.dashboard.latenessQuiet"),
                        QStringLiteral("Dashboard, no changes: lateness of a 10 ms timer"),
                        summarize(numbers(r.value(QStringLiteral("quietLatenessMs")))), QStringLiteral("ms"));
}
